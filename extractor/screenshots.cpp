// SPDX-License-Identifier: LGPL-2.1-or-later
// Takes the README's screenshots of the main dialog and the About box from a
// real X server (run under xvfb-run): shows each window, grabs the screen
// with ImageMagick's `import -window root`, and crops it to the window.
//   mailsift-screenshots [--profile] OUTPUT_DIR
// Over the store the environment names, the main dialog as mailsift.png and
// the About box as mailsift-about.png; with --profile, over a Thunderbird
// profile of the tests' making, as mailsift-profile.png alone. With
// QT_FONT_DPI other than 96 each name ends in "-<dpi>dpi".
#include <stdlib.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "extractor/about_dlg.h"
#include "extractor/mailsift_dlg.h"
#include "platform/store/testing/thunderbird_fixture.h"

namespace {

// Grabs `window`'s frame, and with `also` the part of the screen `also` adds.
bool Grab(QWidget* window, const QString& file, QWidget* also = nullptr) {
  QRect frame = window->frameGeometry();
  if (also && also->isVisible()) frame |= also->frameGeometry();
  // Above 96 dpi Qt scales windows up: the screen is grabbed in its pixels.
  const qreal scale = window->devicePixelRatioF();
  frame = QRect(qRound(frame.x() * scale), qRound(frame.y() * scale), qRound(frame.width() * scale),
                qRound(frame.height() * scale));
  const QString crop = QStringLiteral("%1x%2+%3+%4")
                           .arg(frame.width())
                           .arg(frame.height())
                           .arg(frame.x())
                           .arg(frame.y());
  return QProcess::execute(QStringLiteral("import"),
                           {QStringLiteral("-window"), QStringLiteral("root"),
                            QStringLiteral("-crop"), crop, QStringLiteral("+repage"), file}) == 0;
}

// "-144dpi" when the fonts are set for other than 96 dots an inch.
QString DpiSuffix() {
  const QByteArray dpi = qgetenv("QT_FONT_DPI");
  return dpi.isEmpty() || dpi == "96" ? QString() : QStringLiteral("-%1dpi").arg(dpi);
}

}  // namespace

int main(int argc, char** argv) {
  const bool profile = argc == 3 && std::strcmp(argv[1], "--profile") == 0;
  if (argc != 2 && !profile) {
    std::fprintf(stderr, "usage: mailsift-screenshots [--profile] OUTPUT_DIR\n");
    return 2;
  }
  // The profile's home stands in for the user's; the store finds it there.
  std::unique_ptr<store::testing::ThunderbirdFixture> fixture;
  if (profile) {
    fixture = std::make_unique<store::testing::ThunderbirdFixture>();
    setenv("HOME", fixture->home().c_str(), 1);
    unsetenv("MAILDIR");
  }
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[argc - 1]) + QStringLiteral("/mailsift");
  const QString suffix = DpiSuffix() + QStringLiteral(".png");
  ui::QtUserPrompts prompts;
  mailsift::CMailsiftDlg dialog(mailsift::SystemServices(&prompts));
  QString error;
  if (!dialog.OnInitDialog(&error)) {
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return 1;
  }
  dialog.move(40, 40);
  dialog.show();
  mailsift::CAboutDlg about;
  int status = 0;
  QTimer::singleShot(1500, [&] {
    if (profile) {
      // The profile's tree is the point: the drop-down is shown open.
      auto* folders = static_cast<QComboBox*>(dialog.Item(mailsift::kIdFolder));
      folders->showPopup();
      QTimer::singleShot(1000, [&, folders] {
        QWidget* list = folders->view()->window();
        if (!Grab(&dialog, out + QStringLiteral("-profile") + suffix, list)) status = 1;
        app.quit();
      });
      return;
    }
    if (!Grab(&dialog, out + suffix)) status = 1;
    about.move(80, 120);
    about.show();
    QTimer::singleShot(1500, [&] {
      if (!Grab(&about, out + QStringLiteral("-about") + suffix)) status = 1;
      app.quit();
    });
  });
  app.exec();
  return status;
}
