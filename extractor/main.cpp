// SPDX-License-Identifier: LGPL-2.1-or-later
// Mailsift: the export dialog over the Mailquarry control; with arguments, one
// export on the command line, without a window.
#include <QApplication>

#include "extractor/command_line.h"
#include "extractor/mailsift_app.h"

int main(int argc, char** argv) {
  // The command line needs no display: no Qt application object is made, so
  // no platform plugin is loaded.
  if (argc > 1) return mailsift::RunCommandLine(argc, argv);
  if (!mailsift::EnsureDisplay()) return 2;
  QApplication app(argc, argv);
  mailsift::DisplayReady();
  QApplication::setApplicationName(QStringLiteral("Mailsift"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
  QApplication::setDesktopFileName(QStringLiteral("mailsift"));
  ui::QtUserPrompts prompts;
  return mailsift::CMailsiftApp().Run(prompts);
}
