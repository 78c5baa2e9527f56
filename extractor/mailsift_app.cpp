// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/mailsift_app.h"

#include <unistd.h>

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "extractor/mailsift_dlg.h"

namespace mailsift {
namespace {

const char kNoDisplay[] =
    "Mailsift: no display to show its window on (DISPLAY and WAYLAND_DISPLAY are unset or "
    "unreachable); without one, export on the command line: mailsift --help.\n";

QtMessageHandler previousHandler = nullptr;
bool starting = true;
// The platform layer's warnings while the application starts: kept back, and
// shown only when the start fails, as the reason behind our one line.
QStringList platformWarnings;

// Qt ends a program it cannot connect to a display with a fatal message and
// an abort, after warnings of its platform layer; while the application is
// starting we say it in our one line instead, followed by what Qt said.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (starting && type == QtFatalMsg) {
    std::fputs(kNoDisplay, stderr);
    platformWarnings.append(text);
    for (const QString& line : platformWarnings)
      std::fprintf(stderr, "  %s\n", line.toLocal8Bit().constData());
    _exit(2);
  }
  if (starting && context.category && std::string_view(context.category).starts_with("qt.qpa")) {
    platformWarnings.append(text);
    return;
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

void DisplayReady() {
  starting = false;
  platformWarnings.clear();
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
