// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/dialog_template.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace ui {
namespace {

QFont TemplateFont(const DialogTemplate& tmpl) {
  QFont font(tmpl.fontFamily);
  font.setPointSize(tmpl.pointSize);
  return font;
}

QWidget* MakeItem(const DialogItem& item, QDialog* dialog, QButtonGroup** radioGroup) {
  switch (item.kind) {
    case ItemKind::kPushButton:
    case ItemKind::kDefaultPushButton: {
      auto* button = new QPushButton(item.caption, dialog);
      button->setDefault(item.kind == ItemKind::kDefaultPushButton);
      // Only the default button answers Enter; the others take Space, as
      // buttons of a dialog template do.
      button->setAutoDefault(item.kind == ItemKind::kDefaultPushButton);
      return button;
    }
    case ItemKind::kStatic: {
      auto* label = new QLabel(item.caption, dialog);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ItemKind::kGroupBox:
      return new QGroupBox(item.caption, dialog);
    case ItemKind::kDropDownList: {
      auto* combo = new QComboBox(dialog);
      combo->setEditable(false);
      return combo;
    }
    case ItemKind::kRadioButton: {
      auto* radio = new QRadioButton(item.caption, dialog);
      if ((item.style & kGroup) || !*radioGroup) *radioGroup = new QButtonGroup(dialog);
      (*radioGroup)->addButton(radio);
      return radio;
    }
    case ItemKind::kIcon: {
      auto* label = new QLabel(dialog);
      label->setPixmap(dialog->windowIcon().pixmap(32, 32));
      return label;
    }
    case ItemKind::kControl:
      return new QWidget(dialog);
    case ItemKind::kCheckBox:
      return new QCheckBox(item.caption, dialog);
    case ItemKind::kEdit:
      return new QLineEdit(item.caption, dialog);
  }
  return nullptr;
}

// Frames, texts and icons of a template take no clicks, as on the platform the
// templates come from: a click on one reaches whatever lies beneath it, so a
// control that a template lists earlier is never hidden by them.
bool LetsTheMouseThrough(ItemKind kind) {
  return kind == ItemKind::kGroupBox || kind == ItemKind::kStatic || kind == ItemKind::kIcon;
}

}  // namespace

QString ItemName(int id) {
  return QStringLiteral("id%1").arg(id);
}

DialogUnits TemplateUnits(const DialogTemplate& tmpl) {
  return DialogUnits(TemplateFont(tmpl));
}

std::map<int, QWidget*> BuildDialog(const DialogTemplate& tmpl, QDialog* dialog) {
  return BuildDialog(tmpl, dialog, TemplateFont(tmpl));
}

std::map<int, QWidget*> BuildDialog(const DialogTemplate& tmpl, QDialog* dialog,
                                    const QFont& font) {
  dialog->setWindowTitle(tmpl.caption);
  dialog->setFont(font);
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  const DialogUnits du(font);
  dialog->setFixedSize(du.X(tmpl.width), du.Y(tmpl.height));

  std::map<int, QWidget*> byId;
  QButtonGroup* radioGroup = nullptr;
  QWidget* previous = nullptr;
  for (const DialogItem& item : tmpl.items) {
    QWidget* widget = MakeItem(item, dialog, &radioGroup);
    if (item.kind != ItemKind::kRadioButton) radioGroup = nullptr;
    if (item.kind == ItemKind::kIcon)
      widget->setGeometry(du.X(item.x), du.Y(item.y), 32, 32);
    else
      widget->setGeometry(du.ToPixels(item.x, item.y, item.width, item.height));
    widget->setFocusPolicy((item.style & kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
    if (item.id != kNoId) {
      widget->setObjectName(ItemName(item.id));
      byId[item.id] = widget;
    }
    if (item.style & kTabStop) {
      if (previous) QWidget::setTabOrder(previous, widget);
      previous = widget;
    }
    if (LetsTheMouseThrough(item.kind)) widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Qt stacks a later sibling above an earlier one: a frame goes beneath
    // every control, whatever its place in the template.
    if (item.kind == ItemKind::kGroupBox) widget->lower();
  }
  return byId;
}

}  // namespace ui
