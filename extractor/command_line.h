// SPDX-License-Identifier: LGPL-2.1-or-later
// Mailsift on the command line: one export, or the folder list, without a
// window, through the same export commands as the dialog's buttons. Needs no
// display and no Qt application object: the control is hosted headless.
#pragma once

namespace mailsift {

// Exit statuses.
enum CliStatus {
  kCliDone = 0,          // everything written
  kCliSomeFailed = 1,    // some files could not be written (or the export failed)
  kCliUsage = 2,         // wrong usage, unknown folder
  kCliNoControl = 3,     // the control could not be created, the store not opened
  kCliInterrupted = 130  // stopped by SIGINT or SIGTERM
};

// Runs the command that `argv` names; answers the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace mailsift
