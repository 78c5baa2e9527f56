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
#include "extractor/program_icon.h"
#include "extractor/progress_dialog.h"
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
          {kIdControl, ItemKind::kControl, {}, kTabStop, 217, 135, 14, 14},
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
  services.open = [](const std::string& location) { shell::OpenDocument(location); };
  services.showAbout = [](QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
  };
  return services;
}

CMailsiftDlg::CMailsiftDlg(DialogServices services, QWidget* parent)
    : QDialog(parent), services_(std::move(services)) {
  setObjectName(QStringLiteral("mailsift"));
  setWindowIcon(ProgramIcon());
  items_ = ui::BuildDialog(MainTemplate(), this);
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
    const int count = mq_.Folders().Count();
    for (int i = 0; i < count; ++i)
      folders_->addItem(QString::fromStdString(mq_.Folders().FindFolderName(i)));
  } catch (const AutomationError& e) {
    *error = QStringLiteral("The Mailquarry control failed: %1").arg(e.what());
    return false;
  }
  if (folders_->count() > 0) folders_->setCurrentIndex(0);
  return true;
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

QString CMailsiftDlg::BrowseOutputDirectory() {
  // The desktop, where the user can pick at once; home when there is none.
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  const QString start = QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
  return services_.prompts->BrowseForDirectory(
      this, QStringLiteral("Please select an output directory"), start);
}

QString CMailsiftDlg::AskTextFile() {
  return services_.prompts->SaveFileName(this, QStringLiteral("Save As"), QStringLiteral(".txt"),
                                         QStringLiteral("Text File (*.txt)"));
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
    services_.prompts->ShowMessage(
        this, windowTitle(),
        QString::fromStdString(CompletionText(kind, outcome, place.toStdString())),
        outcome.failed > 0 ? ui::UserPrompts::Icon::kWarning : ui::UserPrompts::Icon::kInformation);
  });
}

void CMailsiftDlg::OnExportAttachments() {
  RunExport(
      kAttachmentsExport, [this] { return Prologue(); }, [this] { return BrowseOutputDirectory(); },
      ExportAttachments);
}

void CMailsiftDlg::OnExportEml() {
  RunExport(
      kEmlExport, [this] { return Prologue(); }, [this] { return BrowseOutputDirectory(); },
      ExportEml);
}

void CMailsiftDlg::OnExportEmailText() {
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
  services_.open(ProjectPage());
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
