#pragma once

#include <QFont>

namespace tagsnip::ui {

// SimSun at a character height of 12 pixels, or the Song/Ming face a fresh Debian installs
// (AR PL UMing), so that the Chinese texts render and the designed layout holds.
QFont uiFont();

}  // namespace tagsnip::ui
