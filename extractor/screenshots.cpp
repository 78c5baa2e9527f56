// Takes the README's screenshots of the main dialog and the About box from a
// real X server (run under xvfb-run): shows each window, grabs the screen
// with ImageMagick's `import -window root`, and crops it to the window.
//   mailsift-screenshots OUTPUT_DIR
#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <cstdio>

#include "extractor/about_dlg.h"
#include "extractor/mailsift_dlg.h"

namespace {

bool Grab(QWidget* window, const QString& file) {
  const QRect frame = window->frameGeometry();
  const QString crop = QStringLiteral("%1x%2+%3+%4")
                           .arg(frame.width())
                           .arg(frame.height())
                           .arg(frame.x())
                           .arg(frame.y());
  return QProcess::execute(QStringLiteral("import"),
                           {QStringLiteral("-window"), QStringLiteral("root"),
                            QStringLiteral("-crop"), crop, QStringLiteral("+repage"), file}) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mailsift-screenshots OUTPUT_DIR\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
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
    if (!Grab(&dialog, out + QStringLiteral("/mailsift.png"))) status = 1;
    about.move(80, 120);
    about.show();
    QTimer::singleShot(1500, [&] {
      if (!Grab(&about, out + QStringLiteral("/mailsift-about.png"))) status = 1;
      app.quit();
    });
  });
  app.exec();
  return status;
}
