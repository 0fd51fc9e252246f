#pragma once

#include "main_window.h"
#include "message_boxes.h"

namespace tagsnip::ui {

class UiServices;

// Whether a window system can be reached; without one Qt would abort before a word to the user.
bool displayAvailable();
// Says so on standard error, pointing to tagsnip-cli; gives the exit status.
int reportNoDisplay();

// Application title, style and font, once the QApplication exists.
void setUpApplication();
// The program's own directory and its arguments.
FormStartup startupOf(int argc, char** argv);
// Shows a text in an error box; for the settings store, which exists before the window.
MessageCallback errorBoxCallback(UiServices& services);

}  // namespace tagsnip::ui
