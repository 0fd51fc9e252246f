#pragma once

#include <QIcon>

namespace tagsnip::ui {

// The window's icon: a blue tile with a white note and a red cut across it, as in tagsnip.svg.
QIcon tagsnipIcon();
// The 16 x 16 open folder of the browse button; Qt greys it when the button is disabled.
QIcon openFolderIcon();

}  // namespace tagsnip::ui
