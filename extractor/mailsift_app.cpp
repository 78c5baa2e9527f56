#include "extractor/mailsift_app.h"

#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "extractor/mailsift_dlg.h"

namespace mailsift {
namespace {

const char kNoDisplay[] =
    "Mailsift: no display to show its window on (DISPLAY and WAYLAND_DISPLAY are unset or "
    "unreachable); without one, export with the Python client (see README.md, \"Python\").\n";

QtMessageHandler previousHandler = nullptr;

// Qt ends a program it cannot connect to a display with a fatal message and
// an abort; we say it in our one line instead.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg && !QCoreApplication::instance()) {
    std::fputs(kNoDisplay, stderr);
    _exit(2);
  }
  if (previousHandler) previousHandler(type, context, text);
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

bool EnsureDisplay() {
  previousHandler = qInstallMessageHandler(OnQtMessage);
  if (Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM")) return true;
  std::fputs(kNoDisplay, stderr);
  return false;
}

int CMailsiftApp::Run(ui::UserPrompts& prompts) {
  CMailsiftDlg dialog(SystemServices(&prompts));
  QString error;
  if (!dialog.OnInitDialog(&error)) {
    std::fprintf(stderr, "Mailsift: %s\n", error.toLocal8Bit().constData());
    prompts.ShowMessage(nullptr, QStringLiteral("Mailsift"), error, ui::UserPrompts::Icon::kError);
    return 1;
  }
  dialog.exec();
  return 0;
}

}  // namespace mailsift
