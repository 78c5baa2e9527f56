// Mailsift: the export dialog over the Mailquarry control.
#include <QApplication>

#include "extractor/mailsift_app.h"

int main(int argc, char** argv) {
  if (!mailsift::EnsureDisplay()) return 2;
  QApplication app(argc, argv);
  mailsift::DisplayReady();
  QApplication::setApplicationName(QStringLiteral("Mailsift"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
  QApplication::setDesktopFileName(QStringLiteral("mailsift"));
  ui::QtUserPrompts prompts;
  return mailsift::CMailsiftApp().Run(prompts);
}
