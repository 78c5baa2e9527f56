// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/about_dlg.h"

#include "extractor/program_icon.h"
#include "platform/ui/dialog_template.h"

namespace mailsift {
namespace {

using ui::ItemKind;

const ui::DialogTemplate& AboutTemplate() {
  static const ui::DialogTemplate tmpl{
      QStringLiteral("About Mailsift"),
      QStringLiteral("MS Sans Serif"),
      8,
      235,
      55,
      {
          {ui::kNoId, ItemKind::kIcon, {}, ui::kNoStyle, 11, 17, 20, 20},
          {ui::kNoId, ItemKind::kStatic, QStringLiteral("Mailsift Version 1.0"), ui::kNoStyle, 40,
           10, 119, 8},
          {ui::kNoId, ItemKind::kStatic,
           QStringLiteral("Copyright (C) 2026 the Mailsift developers"), ui::kNoStyle, 40, 25, 135,
           8},
          {1, ItemKind::kDefaultPushButton, QStringLiteral("OK"), ui::kTabStop | ui::kGroup, 178, 7,
           50, 14},
      },
  };
  return tmpl;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  setModal(true);
  setWindowIcon(ProgramIcon());
  auto items = ui::BuildDialog(AboutTemplate(), this);
  connect(static_cast<QPushButton*>(items.at(1)), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace mailsift
