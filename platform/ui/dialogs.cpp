// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>

namespace ui {

bool GuiAvailable() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const char* forced = std::getenv("MQ_HEADLESS");
  return !(forced && *forced && std::string_view(forced) != "0");
}

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics fm(font);
  // The average width of the Latin letters, as dialog templates assume.
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  cx_ = (fm.horizontalAdvance(kLetters) / 26 + 1) / 2;
  cy_ = fm.height();
  if (cx_ <= 0) cx_ = 1;
  if (cy_ <= 0) cy_ = 1;
}

std::unique_ptr<QDialog> MakeAboutBox(const AboutBoxContent& content, QWidget* parent) {
  auto dialog = std::make_unique<QDialog>(parent);
  dialog->setObjectName(QStringLiteral("aboutBox"));
  dialog->setWindowTitle(content.caption);
  dialog->setModal(true);
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  DialogUnits du(dialog->font());
  dialog->setFixedSize(du.X(content.widthDlu), du.Y(content.heightDlu));

  auto* icon = new QLabel(dialog.get());
  icon->setObjectName(QStringLiteral("icon"));
  QIcon given = content.makeIcon ? content.makeIcon() : content.icon;
  QIcon image =
      given.isNull() ? dialog->style()->standardIcon(QStyle::SP_MessageBoxInformation) : given;
  icon->setPixmap(image.pixmap(32, 32));
  icon->setGeometry(du.X(10), du.Y(10), 32, 32);

  // Text at 40 units from the left, 15 units apart, up to the OK button.
  const int buttonWidth = 50;
  const int textWidth = content.widthDlu - 40 - buttonWidth - 14;
  for (int i = 0; i < content.lines.size(); ++i) {
    auto* label = new QLabel(content.lines[i], dialog.get());
    label->setObjectName(QStringLiteral("line%1").arg(i));
    label->setGeometry(du.ToPixels(40, 10 + 15 * i, textWidth, 8 + 2));
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), dialog.get());
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  ok->setGeometry(du.ToPixels(content.widthDlu - buttonWidth - 7, 7, buttonWidth, 14));
  QObject::connect(ok, &QPushButton::clicked, dialog.get(), &QDialog::accept);
  return dialog;
}

QImage RenderAboutBox(const AboutBoxContent& content) {
  auto dialog = MakeAboutBox(content);
  return RenderWidget(dialog.get());
}

void ShowAboutBox(const AboutBoxContent& content, QWidget* parent) {
  if (!GuiAvailable()) return;
  auto dialog = MakeAboutBox(content, parent);
  dialog->exec();
}

PropertyPageWidget::PropertyPageWidget(const QString& caption, const QString& text, int widthDlu,
                                       int heightDlu, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("propertyPage"));
  setWindowTitle(caption);
  DialogUnits du(font());
  setFixedSize(du.X(widthDlu), du.Y(heightDlu));
  auto* label = new QLabel(text, this);
  label->setObjectName(QStringLiteral("placeholder"));
  label->setWordWrap(true);
  // The placeholder fills the page inside a margin of 7 units.
  label->setGeometry(du.ToPixels(7, 7, widthDlu - 14, heightDlu - 14));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ShowPropertySheet(const QString& caption, std::vector<QWidget*> pages, QWidget* parent) {
  std::vector<std::unique_ptr<QWidget>> owned;
  for (QWidget* page : pages) owned.emplace_back(page);
  if (!GuiAvailable() || owned.empty()) return;

  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("propertySheet"));
  dialog.setWindowTitle(caption);
  auto* layout = new QVBoxLayout(&dialog);
  auto* tabs = new QTabWidget(&dialog);
  for (auto& page : owned) {
    QString title = page->windowTitle();
    tabs->addTab(page.release(), title);
  }
  layout->addWidget(tabs);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.exec();
}

QImage RenderWidget(QWidget* widget) {
  if (!widget) return {};
  widget->ensurePolished();
  return widget->grab().toImage();
}

namespace testing {

void HandleNextModal(std::function<void(QDialog*)> inspect) {
  auto poll = std::make_shared<std::function<void()>>();
  auto tries = std::make_shared<int>(0);
  *poll = [poll, tries, inspect = std::move(inspect)]() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      // Give up after about ten seconds rather than leave a test hanging on
      // a dialog that never opened.
      if (++*tries < 1000) QTimer::singleShot(10, *poll);
      return;
    }
    QPointer<QDialog> guard(dialog);
    if (inspect) inspect(dialog);
    if (guard && guard->isVisible()) guard->reject();
    *poll = nullptr;  // breaks the self-reference
  };
  QTimer::singleShot(0, *poll);
}

}  // namespace testing

}  // namespace ui
