// SPDX-License-Identifier: LGPL-2.1-or-later
// The options dialog: the export options of the dialog's three message
// exports, built from a template table like the program's other dialogs.
// The choices live as long as the program (nothing is saved between runs);
// "Reset" turns every one off.
#pragma once

#include <QDialog>
#include <map>

#include "extractor/export_options.h"
#include "platform/ui/prompts.h"

namespace mailsift {

// What the dialog holds: the options, and whether a report is written into
// the target (the dialog asks for no file name of its own).
struct DialogOptions {
  ExportOptions options;
  bool report = false;
  bool AnyOn() const { return report || options.AnyOn(); }
};

// The report's name in the chosen directory.
constexpr char kDialogReportName[] = "mailsift-report.csv";

enum OptionsDialogId {
  kIdOptionsOk = 1,
  kIdOptionsCancel = 2,
  kIdScopeOne = 2001,
  kIdScopeSubtree = 2002,
  kIdScopeAll = 2003,
  kIdFlat = 2004,
  kIdIncludeJunk = 2005,
  kIdSince = 2010,
  kIdUntil = 2011,
  kIdFrom = 2012,
  kIdSubject = 2013,
  kIdWithAttachments = 2014,
  kIdNewOnly = 2015,
  kIdUnique = 2016,
  kIdTypes = 2020,
  kIdMinSize = 2021,
  kIdMaxSize = 2022,
  kIdSkipEmbedded = 2023,
  kIdSkipDuplicates = 2024,
  kIdSetTimes = 2025,
  kIdReport = 2026,
  kIdUnpackWinmail = 2027,
  kIdNested = 2028,
  kIdOptionsReset = 2030,
};

class COptionsDlg : public QDialog {
 public:
  COptionsDlg(const DialogOptions& current, ui::UserPrompts* prompts, QWidget* parent = nullptr);

  QWidget* Item(int id) const { return items_.at(id); }
  // The choices as the controls show them; false (and `error` says which
  // value) when a text is not a date, size or type list.
  bool Read(DialogOptions* out, QString* error) const;
  const DialogOptions& Result() const { return result_; }

  void OnOk();
  void OnReset();

 private:
  void Show(const DialogOptions& shown);

  std::map<int, QWidget*> items_;
  ui::UserPrompts* prompts_;
  DialogOptions result_;
};

}  // namespace mailsift
