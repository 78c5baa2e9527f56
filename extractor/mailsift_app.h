// SPDX-License-Identifier: LGPL-2.1-or-later
// The application object: builds the main dialog and runs it; the program
// ends when the dialog closes.
#pragma once

#include "platform/ui/prompts.h"

namespace mailsift {

class CMailsiftApp {
 public:
  // Runs the dialog; the process's exit status: 0 when the dialog ran, 1 when
  // the control could not be created (after saying so).
  int Run(ui::UserPrompts& prompts);
};

// Whether a display is there to show a window on; when not, prints one line
// that says so to stderr. Also makes a display that cannot be reached end
// the program with that line instead of an abort.
bool EnsureDisplay();
// The application is up: Qt's messages reach the terminal as usual again.
void DisplayReady();

}  // namespace mailsift
