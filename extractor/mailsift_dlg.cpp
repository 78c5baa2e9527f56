// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/mailsift_dlg.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>

#include "extractor/about_dlg.h"
#include "extractor/control_advice.h"
#include "extractor/missing_mail.h"
#include "extractor/program_icon.h"
#include "extractor/progress_dialog.h"
#include "extractor/store_folders.h"
#include "platform/com/hresult.h"
#include "platform/shell/shell.h"
#include "platform/ui/dialog_template.h"

namespace mailsift {
namespace {

using ui::ItemKind;
using ui::kGroup;
using ui::kNoId;
using ui::kNoStyle;
using ui::kTabStop;

const char* const kAboutMenuText = "&About Mailsift...";

const ui::DialogTemplate& MainTemplate() {
  static const ui::DialogTemplate tmpl{
      QStringLiteral("Mailsift"),
      QStringLiteral("Arial"),
      7,
      286,
      174,
      {
          {kIdExit, ItemKind::kDefaultPushButton, QStringLiteral("Exit"), kTabStop, 216, 109, 50,
           14},
          {kNoId, ItemKind::kStatic, QStringLiteral("Select Folder"), kGroup, 13, 22, 62, 18},
          {kIdFolder, ItemKind::kDropDownList, {}, kTabStop, 76, 16, 184, 104},
          {kIdControl, ItemKind::kControl, {}, kTabStop, 197, 135, 14, 14},
          {kIdExportAttachments, ItemKind::kPushButton, QStringLiteral("Export Attachments"),
           kTabStop, 13, 46, 81, 21},
          {kIdExportEml, ItemKind::kPushButton, QStringLiteral("Export to eml"), kTabStop, 97, 46,
           82, 22},
          {kIdExportEmailText, ItemKind::kPushButton, QStringLiteral("Export email to text file"),
           kTabStop, 185, 46, 85, 22},
          {kIdExportAddressBook, ItemKind::kPushButton,
           QStringLiteral("Export address book email to text file"), kTabStop, 13, 105, 179, 19},
          {kNoId, ItemKind::kGroupBox, {}, kNoStyle, 7, 7, 267, 83},
          {kIdWebLink, ItemKind::kPushButton,
           QStringLiteral("Read more about Mailsift and Mailquarry"), kTabStop, 13, 130, 179, 18},
          {kNoId, ItemKind::kGroupBox, {}, kNoStyle, 7, 93, 267, 59},
          {kIdAllMessages, ItemKind::kRadioButton, QStringLiteral("All Messages"),
           kTabStop | kGroup, 23, 76, 58, 10},
          {kIdFirst500, ItemKind::kRadioButton, QStringLiteral("First 500 Messages"), kNoStyle, 94,
           77, 78, 8},
          {kIdFirst1000, ItemKind::kRadioButton, QStringLiteral("First 1000 Messages"), kNoStyle,
           186, 77, 82, 8},
          {kIdOptions, ItemKind::kPushButton, QStringLiteral("&Options..."), kTabStop, 216, 130, 50,
           14},
      },
  };
  return tmpl;
}

// Shows the wait cursor for as long as it lives.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

DialogServices SystemServices(ui::UserPrompts* prompts) {
  DialogServices services;
  services.prompts = prompts;
  services.makeProgress = [](QWidget* parent, const QString& title) {
    return std::make_unique<ProgressDialog>(parent, title);
  };
  services.open = [](const std::string& location) {
    // Long enough for xdg-open to say that it found no viewer.
    constexpr int kViewerStartMs = 3000;
    return shell::OpenDocument(location, kViewerStartMs);
  };
  services.showAbout = [](QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
  };
  services.runOptions = [](COptionsDlg& dialog) { return dialog.exec() == QDialog::Accepted; };
  return services;
}

CMailsiftDlg::CMailsiftDlg(DialogServices services, QWidget* parent)
    : QDialog(parent), services_(std::move(services)) {
  setObjectName(QStringLiteral("mailsift"));
  setWindowIcon(ProgramIcon());
  // The font of the dialog's own message boxes, so that the dialog reads as
  // they do; its sizes stay the template's dialog units.
  items_ = ui::BuildDialog(MainTemplate(), this, QApplication::font("QMessageBox"));
  folders_ = static_cast<QComboBox*>(items_.at(kIdFolder));
  // A drop-down list is as tall as one line; the template's height is its list's.
  QRect box = folders_->geometry();
  folders_->setGeometry(box.x(), box.y(), box.width(), folders_->sizeHint().height());
  static_cast<QRadioButton*>(items_.at(kIdAllMessages))->setChecked(true);

  auto button = [this](int id) { return static_cast<QPushButton*>(items_.at(id)); };
  connect(button(kIdExit), &QPushButton::clicked, this, &QDialog::accept);
  connect(button(kIdExportAttachments), &QPushButton::clicked, this,
          &CMailsiftDlg::OnExportAttachments);
  connect(button(kIdExportEml), &QPushButton::clicked, this, &CMailsiftDlg::OnExportEml);
  connect(button(kIdExportEmailText), &QPushButton::clicked, this,
          &CMailsiftDlg::OnExportEmailText);
  connect(button(kIdExportAddressBook), &QPushButton::clicked, this,
          &CMailsiftDlg::OnExportAddressBook);
  connect(button(kIdWebLink), &QPushButton::clicked, this, &CMailsiftDlg::OnWebLink);
  connect(button(kIdOptions), &QPushButton::clicked, this, &CMailsiftDlg::OnOptions);

  // A window manager's menu takes no items of ours: the About box is on the
  // dialog's context menu and on F1.
  auto* about = new QAction(QString::fromUtf8(kAboutMenuText), this);
  about->setObjectName(QStringLiteral("aboutAction"));
  about->setShortcut(QKeySequence(Qt::Key_F1));
  connect(about, &QAction::triggered, this, &CMailsiftDlg::OnAbout);
  addAction(about);
}

CMailsiftDlg::~CMailsiftDlg() {
  mq_.Close();
}

bool CMailsiftDlg::OnInitDialog(QString* error) {
  QWidget* site = items_.at(kIdControl);
  HRESULT hr = mq_.Create(site, ui::Rect::FromSize(0, 0, site->width(), site->height()));
  if (FAILED(hr)) {
    *error = QString::fromStdString(ControlNotCreatedText(hr));
    return false;
  }
  try {
    FillFolderList();
  } catch (const AutomationError& e) {
    *error = QStringLiteral("The folder list could not be read: %1").arg(e.what());
    return false;
  }
  if (folders_->count() > 0) folders_->setCurrentIndex(0);
  return true;
}

void CMailsiftDlg::FillFolderList() {
  // The control tells its clients names only; the tree's depths and counts
  // come from the store, used when both lists name the same folders. The
  // counts are as the folders are now (an mbox file not yet read is read).
  std::vector<StoreFolder> tree;
  const HRESULT hr = ReadStoreFolders(&tree, /*exactCounts=*/true);
  const int count = mq_.Folders().Count();
  bool same = SUCCEEDED(hr) && static_cast<int>(tree.size()) == count;
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back(mq_.Folders().FindFolderName(i));
    same = same && names.back() == tree[i].name;
  }
  if (same) tree_ = std::move(tree);
  for (int i = 0; i < count; ++i)
    folders_->addItem(QString::fromStdString(same ? FolderChoiceText(tree_[i]) : names[i]),
                      QString::fromStdString(same ? tree_[i].path : names[i]));
  if (FAILED(hr))
    services_.prompts->ShowMessage(this, windowTitle(),
                                   QString::fromStdString(StoreNotOpenedText(hr)),
                                   ui::UserPrompts::Icon::kWarning);
}

void CMailsiftDlg::RunCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const AutomationError& e) {
    services_.prompts->ShowMessage(this, windowTitle(), QString::fromUtf8(e.what()),
                                   ui::UserPrompts::Icon::kError);
  } catch (const FileError& e) {
    services_.prompts->ShowMessage(this, windowTitle(), QString::fromUtf8(e.what()),
                                   ui::UserPrompts::Icon::kError);
  }
}

long CMailsiftDlg::Prologue() {
  int range = kAllMessages;
  if (static_cast<QRadioButton*>(items_.at(kIdFirst500))->isChecked()) range = kFirst500;
  if (static_cast<QRadioButton*>(items_.at(kIdFirst1000))->isChecked()) range = kFirst1000;
  return SelectFolder(mq_, folders_->currentIndex(), range);
}

namespace {

// The user's directory of `kind` when there is one, else home.
QString StandardDirectory(QStandardPaths::StandardLocation kind) {
  const QString dir = QStandardPaths::writableLocation(kind);
  return QFileInfo(dir).isDir() ? dir : QDir::homePath();
}

}  // namespace

QString CMailsiftDlg::BrowseOutputDirectory() {
  // Where the user last chose, else the desktop, where the user can pick at once.
  const QString start = !lastDirectory_.isEmpty()
                            ? lastDirectory_
                            : StandardDirectory(QStandardPaths::DesktopLocation);
  const QString chosen = services_.prompts->BrowseForDirectory(
      this, QStringLiteral("Please select an output directory"), start);
  if (!chosen.isEmpty()) lastDirectory_ = chosen;
  return chosen;
}

QString CMailsiftDlg::AskTextFile() {
  // Never the current directory, which may be a source tree: where the user
  // last chose a file, else the documents directory.
  const QString start = !lastFileDirectory_.isEmpty()
                            ? lastFileDirectory_
                            : StandardDirectory(QStandardPaths::DocumentsLocation);
  const QString chosen =
      services_.prompts->SaveFileName(this, QStringLiteral("Save As"), start,
                                      QStringLiteral(".txt"), QStringLiteral("Text File (*.txt)"));
  if (!chosen.isEmpty()) lastFileDirectory_ = QFileInfo(chosen).absolutePath();
  return chosen;
}

void CMailsiftDlg::RunExport(const ExportKind& kind, const std::function<long()>& count,
                             const std::function<QString()>& ask, const ExportFunction& command) {
  RunCommand([&] {
    const long n = count();
    const QString place = ask();
    if (place.isEmpty()) return;
    WaitCursor wait;
    auto progress = services_.makeProgress(this, QString::fromUtf8(kind.title));
    ExportOutcome outcome = command(mq_, n, place.toStdString(), *progress);
    progress.reset();
    // The store tells what the control's folder lacks, when both lists agree.
    const int folder = folders_->currentIndex();
    if (&kind != &kContactsExport && folder >= 0 && folder < static_cast<int>(tree_.size()))
      TellWhatIsMissing(mq_, tree_[folder], &outcome);
    services_.prompts->ShowMessage(
        this, windowTitle(),
        QString::fromStdString(CompletionText(kind, outcome, place.toStdString())),
        outcome.failed > 0 || !outcome.notices.empty() ? ui::UserPrompts::Icon::kWarning
                                                       : ui::UserPrompts::Icon::kInformation);
  });
}

void CMailsiftDlg::RunOptionsExport(const ExportKind& exportKind, MessageExport kind,
                                    const std::function<QString()>& ask) {
  RunCommand([&] {
    OptionsExportRequest request;
    request.kind = kind;
    request.folder = folders_->currentIndex();
    if (static_cast<QRadioButton*>(items_.at(kIdFirst500))->isChecked()) request.first = 500;
    if (static_cast<QRadioButton*>(items_.at(kIdFirst1000))->isChecked()) request.first = 1000;
    request.options = options_.options;
    const QString place = ask();
    if (place.isEmpty()) return;
    request.target = place.toStdString();
    request.options.report.clear();
    if (options_.report && kind != MessageExport::kReturnAddresses)
      request.options.report = request.target + "/" + kDialogReportName;
    WaitCursor wait;
    auto progress = services_.makeProgress(this, QString::fromUtf8(exportKind.title));
    ExportOutcome outcome = ExportWithOptions(mq_, request, *progress);
    progress.reset();
    const std::string text = CompletionText(exportKind, outcome, request.target);
    services_.prompts->ShowMessage(this, windowTitle(), QString::fromStdString(text),
                                   outcome.failed > 0 || !outcome.notices.empty()
                                       ? ui::UserPrompts::Icon::kWarning
                                       : ui::UserPrompts::Icon::kInformation);
  });
}

void CMailsiftDlg::OnExportAttachments() {
  if (options_.AnyOn())
    return RunOptionsExport(kAttachmentsExport, MessageExport::kAttachments,
                            [this] { return BrowseOutputDirectory(); });
  RunExport(
      kAttachmentsExport, [this] { return Prologue(); }, [this] { return BrowseOutputDirectory(); },
      ExportAttachments);
}

void CMailsiftDlg::OnExportEml() {
  if (options_.AnyOn())
    return RunOptionsExport(kEmlExport, MessageExport::kEml,
                            [this] { return BrowseOutputDirectory(); });
  RunExport(
      kEmlExport, [this] { return Prologue(); }, [this] { return BrowseOutputDirectory(); },
      ExportEml);
}

void CMailsiftDlg::OnOptions() {
  COptionsDlg dialog(options_, services_.prompts, this);
  if (!services_.runOptions(dialog)) return;
  options_ = dialog.Result();
  ShowOptionsState();
}

void CMailsiftDlg::ShowOptionsState() {
  // Nobody should be surprised by a filtered export: the button says so.
  auto* button = static_cast<QPushButton*>(items_.at(kIdOptions));
  const bool on = options_.AnyOn();
  button->setText(on ? QStringLiteral("&Options (on)...") : QStringLiteral("&Options..."));
  std::string described = options_.options.Described();
  if (options_.report) described += std::string(described.empty() ? "" : " ") + "--report";
  button->setToolTip(QString::fromStdString(described));
}

void CMailsiftDlg::OnExportEmailText() {
  if (options_.AnyOn())
    return RunOptionsExport(kReturnAddressesExport, MessageExport::kReturnAddresses,
                            [this] { return AskTextFile(); });
  RunExport(
      kReturnAddressesExport, [this] { return Prologue(); }, [this] { return AskTextFile(); },
      ExportReturnEmails);
}

void CMailsiftDlg::OnExportAddressBook() {
  // This export reads the contact count before asking, and touches neither
  // the folder nor the range.
  RunExport(
      kContactsExport, [this] { return mq_.Contacts().Count(); }, [this] { return AskTextFile(); },
      ExportContactEmails);
}

std::string CMailsiftDlg::ProjectPage() {
  // The README installed beside the program, else the one of the source tree
  // the program was built from.
  const QString installed =
      QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/mailsift/README.md");
  if (QFileInfo::exists(installed)) return QFileInfo(installed).canonicalFilePath().toStdString();
  return MQ_SOURCE_README;
}

void CMailsiftDlg::OnWebLink() {
  const std::string readme = ProjectPage();
  const HRESULT hr = services_.open(readme);
  if (SUCCEEDED(hr)) return;
  const std::string why = hr == shell::kNoViewer
                              ? "no program to show it is set up (xdg-open found none)"
                              : "xdg-open could not be started";
  services_.prompts->ShowMessage(this, windowTitle(),
                                 QString::fromStdString("The README could not be opened: " + why +
                                                        ". Read it in any text "
                                                        "viewer: " +
                                                        readme + " (" + HResultHex(hr) + ")"),
                                 ui::UserPrompts::Icon::kWarning);
}

void CMailsiftDlg::OnAbout() {
  services_.showAbout(this);
}

void CMailsiftDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addActions(actions());
  menu.exec(event->globalPos());
}

}  // namespace mailsift
