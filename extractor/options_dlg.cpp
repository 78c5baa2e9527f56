// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/options_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "platform/ui/dialog_template.h"

namespace mailsift {
namespace {

using ui::ItemKind;
using ui::kGroup;
using ui::kNoId;
using ui::kNoStyle;
using ui::kTabStop;

const ui::DialogTemplate& OptionsTemplate() {
  static const ui::DialogTemplate tmpl{
      QStringLiteral("Export Options"),
      QStringLiteral("Arial"),
      7,
      300,
      250,
      {
          {kNoId, ItemKind::kGroupBox, QStringLiteral("Folders"), kNoStyle, 7, 5, 286, 52},
          {kIdScopeOne, ItemKind::kRadioButton, QStringLiteral("&Only the chosen folder"),
           kTabStop | kGroup, 14, 16, 130, 10},
          {kIdScopeSubtree, ItemKind::kRadioButton,
           QStringLiteral("The folder and its &subfolders"), kNoStyle, 14, 28, 130, 10},
          {kIdScopeAll, ItemKind::kRadioButton, QStringLiteral("The &whole store"), kNoStyle, 14,
           40, 130, 10},
          {kIdFlat, ItemKind::kCheckBox, QStringLiteral("All files in one &directory"), kTabStop,
           150, 16, 138, 10},
          {kIdIncludeJunk, ItemKind::kCheckBox, QStringLiteral("Include &junk and deleted mail"),
           kTabStop, 150, 28, 138, 10},

          {kNoId, ItemKind::kGroupBox, QStringLiteral("Messages"), kNoStyle, 7, 60, 286, 76},
          {kNoId, ItemKind::kStatic, QStringLiteral("Sent on or a&fter:"), kNoStyle, 14, 73, 62, 8},
          {kIdSince, ItemKind::kEdit, {}, kTabStop, 78, 71, 64, 12},
          {kNoId, ItemKind::kStatic, QStringLiteral("Sent &before:"), kNoStyle, 150, 73, 56, 8},
          {kIdUntil, ItemKind::kEdit, {}, kTabStop, 210, 71, 76, 12},
          {kNoId, ItemKind::kStatic, QStringLiteral("Se&nder holds:"), kNoStyle, 14, 89, 62, 8},
          {kIdFrom, ItemKind::kEdit, {}, kTabStop, 78, 87, 64, 12},
          {kNoId, ItemKind::kStatic, QStringLiteral("Subject &holds:"), kNoStyle, 150, 89, 56, 8},
          {kIdSubject, ItemKind::kEdit, {}, kTabStop, 210, 87, 76, 12},
          {kIdWithAttachments, ItemKind::kCheckBox,
           QStringLiteral("Only messages with &attachments"), kTabStop, 14, 104, 132, 10},
          {kIdNewOnly, ItemKind::kCheckBox, QStringLiteral("Only messages not e&xported before"),
           kTabStop, 150, 104, 138, 10},
          {kIdUnique, ItemKind::kCheckBox, QStringLiteral("Each return address on&ce"), kTabStop,
           14, 118, 132, 10},

          {kNoId, ItemKind::kGroupBox, QStringLiteral("Attachments and files"), kNoStyle, 7, 139,
           286, 86},
          {kNoId, ItemKind::kStatic, QStringLiteral("&Types:"), kNoStyle, 14, 152, 30, 8},
          {kIdTypes, ItemKind::kEdit, {}, kTabStop, 46, 150, 96, 12},
          {kNoId, ItemKind::kStatic, QStringLiteral("Size at &least:"), kNoStyle, 150, 152, 50, 8},
          {kIdMinSize, ItemKind::kEdit, {}, kTabStop, 200, 150, 30, 12},
          {kNoId, ItemKind::kStatic, QStringLiteral("at &most:"), kNoStyle, 234, 152, 30, 8},
          {kIdMaxSize, ItemKind::kEdit, {}, kTabStop, 262, 150, 26, 12},
          {kIdSkipEmbedded, ItemKind::kCheckBox, QStringLiteral("Leave out &embedded images"),
           kTabStop, 14, 167, 132, 10},
          {kIdSkipDuplicates, ItemKind::kCheckBox, QStringLiteral("Leave out d&uplicates"),
           kTabStop, 150, 167, 138, 10},
          {kIdSetTimes, ItemKind::kCheckBox, QStringLiteral("Date files by their messa&ge"),
           kTabStop, 14, 181, 132, 10},
          {kIdReport, ItemKind::kCheckBox, QStringLiteral("Write a re&port (CSV)"), kTabStop, 150,
           181, 138, 10},
          {kIdUnpackWinmail, ItemKind::kCheckBox, QStringLiteral("Unpac&k winmail.dat"), kTabStop,
           14, 195, 132, 10},
          {kIdNested, ItemKind::kCheckBox, QStringLiteral("F&iles inside attached messages"),
           kTabStop, 150, 195, 138, 10},
          {kNoId, ItemKind::kStatic,
           QStringLiteral("Types: pdf,docx or documents, spreadsheets, images, archives, ..."),
           kNoStyle, 14, 210, 274, 8},

          {kIdOptionsReset, ItemKind::kPushButton, QStringLiteral("&Reset"), kTabStop, 7, 230, 50,
           14},
          {kIdOptionsOk, ItemKind::kDefaultPushButton, QStringLiteral("OK"), kTabStop, 187, 230, 50,
           14},
          {kIdOptionsCancel, ItemKind::kPushButton, QStringLiteral("Cancel"), kTabStop, 243, 230,
           50, 14},
      },
  };
  return tmpl;
}

}  // namespace

COptionsDlg::COptionsDlg(const DialogOptions& current, ui::UserPrompts* prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), result_(current) {
  setObjectName(QStringLiteral("exportOptions"));
  items_ = ui::BuildDialog(OptionsTemplate(), this);
  // Each text's mnemonic (Alt+F for "Sent on or after:") reaches the field
  // the template places after it.
  QLabel* label = nullptr;
  for (QObject* child : children()) {
    if (auto* text = qobject_cast<QLabel*>(child)) label = text;
    if (auto* edit = qobject_cast<QLineEdit*>(child); edit && label) {
      label->setBuddy(edit);
      label = nullptr;
    }
  }
  Show(current);
  auto button = [this](int id) { return static_cast<QPushButton*>(items_.at(id)); };
  connect(button(kIdOptionsOk), &QPushButton::clicked, this, &COptionsDlg::OnOk);
  connect(button(kIdOptionsCancel), &QPushButton::clicked, this, &QDialog::reject);
  connect(button(kIdOptionsReset), &QPushButton::clicked, this, &COptionsDlg::OnReset);
}

void COptionsDlg::Show(const DialogOptions& shown) {
  const ExportOptions& o = shown.options;
  auto check = [this](int id, bool on) {
    static_cast<QAbstractButton*>(items_.at(id))->setChecked(on);
  };
  auto text = [this](int id, const std::string& value) {
    static_cast<QLineEdit*>(items_.at(id))->setText(QString::fromStdString(value));
  };
  check(kIdScopeOne, o.scope == FolderScope::kOne);
  check(kIdScopeSubtree, o.scope == FolderScope::kSubtree);
  check(kIdScopeAll, o.scope == FolderScope::kAll);
  check(kIdFlat, o.flat);
  check(kIdIncludeJunk, o.includeJunk);
  text(kIdSince, o.sinceText);
  text(kIdUntil, o.untilText);
  text(kIdFrom, o.from);
  text(kIdSubject, o.subject);
  check(kIdWithAttachments, o.withAttachments);
  check(kIdNewOnly, o.newOnly);
  check(kIdUnique, o.unique);
  text(kIdTypes, o.typesText);
  text(kIdMinSize, o.minSizeText);
  text(kIdMaxSize, o.maxSizeText);
  check(kIdSkipEmbedded, o.skipEmbedded);
  check(kIdSkipDuplicates, o.skipDuplicates);
  check(kIdUnpackWinmail, o.unpackWinmail);
  check(kIdNested, o.nested);
  check(kIdSetTimes, o.setTimes);
  check(kIdReport, shown.report);
}

bool COptionsDlg::Read(DialogOptions* out, QString* error) const {
  auto checked = [this](int id) {
    return static_cast<QAbstractButton*>(items_.at(id))->isChecked();
  };
  auto text = [this](int id) {
    return static_cast<QLineEdit*>(items_.at(id))->text().trimmed().toStdString();
  };
  DialogOptions read;
  ExportOptions& o = read.options;
  o.scope = checked(kIdScopeAll)       ? FolderScope::kAll
            : checked(kIdScopeSubtree) ? FolderScope::kSubtree
                                       : FolderScope::kOne;
  o.flat = checked(kIdFlat);
  o.includeJunk = checked(kIdIncludeJunk);
  o.from = text(kIdFrom);
  o.subject = text(kIdSubject);
  o.withAttachments = checked(kIdWithAttachments);
  o.newOnly = checked(kIdNewOnly);
  o.unique = checked(kIdUnique);
  o.skipEmbedded = checked(kIdSkipEmbedded);
  o.skipDuplicates = checked(kIdSkipDuplicates);
  o.unpackWinmail = checked(kIdUnpackWinmail);
  o.nested = checked(kIdNested);
  o.setTimes = checked(kIdSetTimes);
  read.report = checked(kIdReport);
  // The texts go through the command line's own options, so that both
  // accept and refuse the same values.
  const std::pair<int, const char*> valued[] = {{kIdSince, "--since"},
                                                {kIdUntil, "--until"},
                                                {kIdTypes, "--type"},
                                                {kIdMinSize, "--min-size"},
                                                {kIdMaxSize, "--max-size"}};
  for (const auto& [id, flag] : valued) {
    const std::string value = text(id);
    if (value.empty()) continue;
    if (std::string why = FindExportOption(flag)->apply(o, value); !why.empty()) {
      *error = QString::fromStdString(why);
      static_cast<QLineEdit*>(items_.at(id))->setFocus();
      return false;
    }
  }
  *out = read;
  return true;
}

void COptionsDlg::OnOk() {
  QString error;
  if (!Read(&result_, &error)) {
    prompts_->ShowMessage(this, windowTitle(), error, ui::UserPrompts::Icon::kError);
    return;
  }
  accept();
}

void COptionsDlg::OnReset() {
  Show(DialogOptions{});
}

}  // namespace mailsift
