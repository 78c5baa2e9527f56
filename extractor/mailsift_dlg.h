// SPDX-License-Identifier: LGPL-2.1-or-later
// Mailsift's main dialog (dialog 102): the folder drop-down, the message
// range, the four export buttons, the web link and "Exit", with the control
// hosted at child 1001. The handlers pick what the user wants through the
// prompts and run the commands of export_commands.h.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QRadioButton>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "extractor/export_commands.h"
#include "extractor/options_dlg.h"
#include "extractor/options_export.h"
#include "extractor/proxies.h"
#include "extractor/store_folders.h"
#include "platform/com/hresult.h"
#include "platform/ui/prompts.h"

namespace mailsift {

// Ids of the dialog's children.
enum DialogId {
  kIdExit = 1,
  kIdFolder = 1000,
  kIdControl = 1001,
  kIdExportAttachments = 1002,
  kIdExportEml = 1003,
  kIdExportEmailText = 1004,
  kIdExportAddressBook = 1005,
  kIdWebLink = 1006,
  kIdAllMessages = 1007,
  kIdFirst500 = 1008,
  kIdFirst1000 = 1009,
  kIdOptions = 1010,
};

// What the dialog asks of the system, replaceable by tests.
struct DialogServices {
  ui::UserPrompts* prompts = nullptr;
  // The progress of one command titled `title`.
  std::function<std::unique_ptr<Progress>(QWidget* parent, const QString& title)> makeProgress;
  // Opens a document or page in the user's viewer; a failed HRESULT when
  // there is no viewer for it.
  std::function<HRESULT(const std::string& location)> open;
  // Shows the About box.
  std::function<void(QWidget* parent)> showAbout;
  // Runs the options dialog; true when the user accepted it.
  std::function<bool(COptionsDlg& dialog)> runOptions;
};

// The real services: Qt dialogs, the shell's "open", the About box.
DialogServices SystemServices(ui::UserPrompts* prompts);

class CMailsiftDlg : public QDialog {
 public:
  explicit CMailsiftDlg(DialogServices services, QWidget* parent = nullptr);
  ~CMailsiftDlg() override;

  // Creates the control and fills the drop-down with the folder tree. False
  // when the control cannot be created; `error` then says why and how to
  // register it. A store that cannot be opened is said in a message, and the
  // dialog opens with an empty list.
  bool OnInitDialog(QString* error);

  CMailquarry& Control() { return mq_; }
  QWidget* Item(int id) const { return items_.at(id); }

  void OnExportAttachments();
  void OnExportEml();
  void OnExportEmailText();
  void OnExportAddressBook();
  void OnWebLink();
  void OnAbout();
  void OnOptions();
  const DialogOptions& Options() const { return options_; }

  // The page the web-link button opens.
  static std::string ProjectPage();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  using ExportFunction = ExportOutcome (*)(const CMailquarry&, long, const std::string&, Progress&);
  // Runs a command; an automation or file error ends it with a message.
  void RunCommand(const std::function<void()>& command);
  // One export: the number of items, then the user's choice of directory or
  // file (none: the command ends silently), then the export under the wait
  // cursor with its progress, then the completion message: information
  // when everything was written, a warning when something was not.
  void RunExport(const ExportKind& kind, const std::function<long()>& count,
                 const std::function<QString()>& ask, const ExportFunction& command);
  long Prologue();
  // The message exports with the options on: the folder and range as the
  // dialog shows them, the options as set.
  void RunOptionsExport(const ExportKind& exportKind, MessageExport kind,
                        const std::function<QString()>& ask);
  void ShowOptionsState();
  QString BrowseOutputDirectory();
  QString AskTextFile();
  void FillFolderList();

  // Where the user last chose, within this run: the folder browser's
  // directory, and the directory of the text exports' file.
  QString lastDirectory_;
  QString lastFileDirectory_;

  DialogServices services_;
  std::map<int, QWidget*> items_;
  QComboBox* folders_ = nullptr;
  // The store's tree behind the drop-down, when it lists the control's
  // folders (position i is item i); else empty.
  std::vector<StoreFolder> tree_;
  CMailquarry mq_;
  DialogOptions options_;  // as long as the program runs; never saved
};

}  // namespace mailsift
