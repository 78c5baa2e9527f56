// The main dialog driven as a user drives it, hosting the real control (and
// store) registered into a temporary registry, over Maildir fixtures. The
// system dialogs are answered through the prompts; a wrapper between the
// program and the control counts calls, fails one on request, and lets the
// tests read the collections' reference counts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "control/dispids.h"
#include "extractor/about_dlg.h"
#include "extractor/mailsift_dlg.h"
#include "extractor/progress_dialog.h"
#include "extractor/testing/mailsift_fixture.h"
#include "platform/ui/click_testing.h"
#include "platform/ui/dialogs.h"

namespace mailsift {
namespace {

using mqtest::ScopedEnv;

namespace fs = std::filesystem;
using store::testing::MaildirFixture;
using ::testing::IsEmpty;
using testing::MailWithAttachment;

// Stands between the program and an object of the control: counts Invoke
// calls by DISPID, fails the `failAt`-th call of `failId`, and wraps the
// collections handed out the same way.
struct CallLog {
  std::map<DISPID, int> calls;
  std::vector<SHORT> folderWrites;
  VARTYPE folderWriteType = VT_EMPTY;
  std::map<DISPID, std::vector<VARTYPE>> argTypes;  // of the last call, in natural order
  DISPID failId = 0;
  int failAt = -1;
};

class Interposer : public com::Object<IDispatch> {
 public:
  Interposer(com::ComPtr<IDispatch> inner, CallLog* log) : inner_(std::move(inner)), log_(log) {}
  HRESULT GetTypeInfoCount(UINT* n) override { return inner_->GetTypeInfoCount(n); }
  HRESULT GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
    return inner_->GetTypeInfo(i, l, t);
  }
  HRESULT GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
    return inner_->GetIDsOfNames(r, n, c, l, d);
  }
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* info, UINT* argErr) override {
    int n = ++log_->calls[id];
    std::vector<VARTYPE>& types = log_->argTypes[id];
    types.clear();
    for (UINT i = params->cArgs; i > 0; --i) types.push_back(params->rgvarg[i - 1].vt);
    if (flags & DISPATCH_PROPERTYPUT) {
      log_->folderWrites.push_back(params->rgvarg[0].iVal);
      log_->folderWriteType = params->rgvarg[0].vt;
    }
    if (id == log_->failId && n == log_->failAt) return E_FAIL;
    HRESULT hr = inner_->Invoke(id, riid, lcid, flags, params, result, info, argErr);
    if (SUCCEEDED(hr) && result && result->vt == VT_DISPATCH && result->pdispVal) {
      auto wrapped =
          com::MakeObject<Interposer>(com::ComPtr<IDispatch>::Attach(result->pdispVal), log_);
      result->pdispVal = wrapped.Detach();
    }
    return hr;
  }

 private:
  com::ComPtr<IDispatch> inner_;
  CallLog* log_;
};

// References the control's collection object holds right now.
ULONG References(IDispatch* collection) {
  collection->AddRef();
  return collection->Release();
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Answers "cancel" before item `at`.
class CancelAt : public Progress {
 public:
  explicit CancelAt(long at) : at_(at) {}
  bool Continue(long done, long) override { return done < at_; }

 private:
  long at_;
};

class MailsiftTest : public testing::MailsiftFixture {
 protected:
  void TearDown() override {
    dialog_.reset();
    MailsiftFixture::TearDown();
  }

  // A fresh directory for one export, inside the test's own.
  std::string NewDir(const std::string& name) {
    std::string dir = out_ + "/" + name;
    fs::create_directory(dir);
    return dir;
  }

  // The dialog over the store as it is now, every call through the log.
  CMailsiftDlg& Open() {
    DialogServices services;
    services.prompts = &prompts_;
    services.makeProgress = [this](QWidget* parent,
                                   const QString& title) -> std::unique_ptr<Progress> {
      progressTitles_.push_back(title);
      if (cancelAt_ >= 0) return std::make_unique<CancelAt>(cancelAt_);
      if (realProgress_) return std::make_unique<ProgressDialog>(parent, title, 0);
      return std::make_unique<NoProgress>();
    };
    services.open = [this](const std::string& location) { opened_.push_back(location); };
    services.showAbout = [this](QWidget*) { ++aboutShown_; };
    dialog_ = std::make_unique<CMailsiftDlg>(std::move(services));
    QString error;
    EXPECT_TRUE(dialog_->OnInitDialog(&error)) << error.toStdString();
    dialog_->Control().Interpose([this](com::ComPtr<IDispatch> control) {
      control_ = control;
      return com::ComPtr<IDispatch>(com::MakeObject<Interposer>(control, &log_));
    });
    return *dialog_;
  }

  QComboBox* Folders() { return static_cast<QComboBox*>(dialog_->Item(kIdFolder)); }
  void Choose(const std::string& folder, int rangeId = kIdAllMessages) {
    Folders()->setCurrentIndex(Folders()->findText(QString::fromStdString(folder)));
    static_cast<QRadioButton*>(dialog_->Item(rangeId))->setChecked(true);
  }
  std::string LastMessage() {
    return prompts_.messages.empty() ? "" : prompts_.messages.back().text.toStdString();
  }
  // The control's message collection, read past the log.
  com::ComPtr<IDispatch> MessagesCollection() {
    VARIANT v;
    VariantInit(&v);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    control_->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
    return com::ComPtr<IDispatch>::Attach(v.pdispVal);
  }

  ui::ScriptedUserPrompts prompts_;
  CallLog log_;
  com::ComPtr<IDispatch> control_;
  std::unique_ptr<CMailsiftDlg> dialog_;
  std::vector<QString> progressTitles_;
  std::vector<std::string> opened_;
  int aboutShown_ = 0;
  long cancelAt_ = -1;
  bool realProgress_ = false;
};

constexpr DISPID kExtract = mq::dispid::messages::kExtractAttachment;
constexpr DISPID kSave = mq::dispid::messages::kSave2eml;

TEST_F(MailsiftTest, DropDownListsFoldersInControlOrderWithAllMessagesSelected) {
  fixture_.AddFolder({"Work"});
  fixture_.AddFolder({"Archive"});
  fixture_.AddFolder({"Work", "Old"});
  CMailsiftDlg& dialog = Open();
  QStringList names;
  for (int i = 0; i < Folders()->count(); ++i) names << Folders()->itemText(i);
  EXPECT_EQ(names, QStringList({"Inbox", "Archive", "Work", "Old"}));
  EXPECT_EQ(Folders()->currentIndex(), 0);
  EXPECT_TRUE(static_cast<QRadioButton*>(dialog.Item(kIdAllMessages))->isChecked());
  EXPECT_EQ(dialog.windowTitle(), "Mailsift");
  EXPECT_EQ(static_cast<QPushButton*>(dialog.Item(kIdExit))->text(), "Exit");
  EXPECT_TRUE(static_cast<QPushButton*>(dialog.Item(kIdExit))->isDefault());
  // Placed in dialog units of Arial 7 pt, which resolves to a face of the same metrics.
  EXPECT_EQ(QFontInfo(dialog.font()).family(), "Liberation Sans");
  const ui::DialogUnits du(dialog.font());
  EXPECT_EQ(dialog.size(), QSize(du.X(286), du.Y(174)));
  EXPECT_EQ(dialog.Item(kIdExit)->geometry(), du.ToPixels(216, 109, 50, 14));
  EXPECT_EQ(dialog.Item(kIdFirst1000)->geometry(), du.ToPixels(186, 77, 82, 8));
}

TEST_F(MailsiftTest, RangesDecideHowManyPositionsEachExportVisits) {
  std::vector<std::string> mails;
  for (int i = 0; i < 20; ++i)
    mails.push_back(
        MailWithAttachment("Mail " + std::to_string(i), "a" + std::to_string(i) + ".bin", "x"));
  Add({"F"}, mails);
  Open();
  struct Case {
    int rangeId;
    int extractCalls;
  } cases[] = {{kIdAllMessages, 20}, {kIdFirst500, 500}, {kIdFirst1000, 1000}};
  for (const Case& c : cases) {
    Choose("F", c.rangeId);
    log_ = {};
    const std::string attachments = NewDir("att" + std::to_string(c.rangeId));
    prompts_.directories.push_back(QString::fromStdString(attachments));
    dialog_->OnExportAttachments();
    EXPECT_EQ(log_.calls[kExtract], c.extractCalls);
    EXPECT_EQ(Entries(attachments).size(), 20u);
    EXPECT_EQ(LastMessage(), "Export Attachments completed");

    const std::string eml = NewDir("eml" + std::to_string(c.rangeId));
    prompts_.directories.push_back(QString::fromStdString(eml));
    dialog_->OnExportEml();
    EXPECT_EQ(Entries(eml).size(), 20u);
    EXPECT_EQ(LastMessage(), "Export to eml completed");

    const std::string text = out_ + "/lines" + std::to_string(c.rangeId) + ".txt";
    prompts_.saveNames.push_back(QString::fromStdString(text));
    dialog_->OnExportEmailText();
    const std::string lines = mqtest::ReadFile(text);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 20);
    EXPECT_EQ(LastMessage(), "Export email to text file completed");
  }
  EXPECT_EQ(prompts_.questions[0], "Please select an output directory");
  // The argument types of the type library: 16-bit folder index, 32-bit
  // message positions.
  using Types = std::vector<VARTYPE>;
  EXPECT_EQ(log_.folderWriteType, VT_I2);
  EXPECT_EQ(log_.argTypes[2], Types{VT_I4});  // FindReturnEmail
  EXPECT_EQ(log_.argTypes[16], Types{VT_I4});
  EXPECT_EQ(log_.argTypes[17], (Types{VT_I4, VT_BSTR}));
  EXPECT_EQ(log_.argTypes[20], (Types{VT_I4, VT_BSTR}));
  EXPECT_EQ(mqtest::ReadFile(out_ + "/eml1007/Mail 3.eml"), mails[3]);
  EXPECT_EQ(mqtest::ReadFile(out_ + "/att1007/a3.bin"), "x");
}

TEST_F(MailsiftTest, CancelledChoicesWriteNothingAndSayNothing) {
  Add({}, {MailWithAttachment("S", "a.bin", "x")});
  Open();
  dialog_->OnExportAttachments();
  dialog_->OnExportEml();
  dialog_->OnExportEmailText();
  dialog_->OnExportAddressBook();
  EXPECT_EQ(prompts_.questions.size(), 4u);
  EXPECT_TRUE(prompts_.messages.empty());
  EXPECT_EQ(log_.calls[kExtract] + log_.calls[kSave], 0);
  EXPECT_EQ(Entries(out_), std::set<std::string>{"book"});
}

TEST_F(MailsiftTest, TextExportsAppendCrLfLinesAndKeepLongAddressesWhole) {
  const std::string longAddress = std::string(588, 'l') + "@example.org";
  Add({}, {"Return-Path: <one@example.org>\r\nSubject: 1\r\n\r\n.\r\n",
           "Return-Path: <>\r\nSubject: none\r\n\r\n.\r\n",
           "Return-Path: <" + longAddress + ">\r\nSubject: 3\r\n\r\n.\r\n"});
  Open();
  const std::string file = out_ + "/addresses.txt";
  std::ofstream(file, std::ios::binary) << "kept\r\n";
  for (int run = 0; run < 2; ++run) {
    prompts_.saveNames.push_back(QString::fromStdString(file));
    dialog_->OnExportEmailText();
  }
  const std::string lines = "one@example.org\r\n" + longAddress + "\r\n";
  EXPECT_EQ(mqtest::ReadFile(file), "kept\r\n" + lines + lines);

  // The address book (empty until contacts exist) still creates its file.
  const std::string contacts = out_ + "/contacts.txt";
  prompts_.saveNames.push_back(QString::fromStdString(contacts));
  dialog_->OnExportAddressBook();
  EXPECT_TRUE(fs::exists(contacts));
  EXPECT_EQ(mqtest::ReadFile(contacts), "");
  EXPECT_EQ(LastMessage(), "Export address book email to text file completed");

  // A file that cannot be opened ends the command, naming it and why.
  prompts_.saveNames.push_back(QString::fromStdString(out_ + "/missing/dir/x.txt"));
  dialog_->OnExportEmailText();
  EXPECT_EQ(LastMessage(), "Cannot open \"" + out_ +
                               "/missing/dir/x.txt\" for appending: No such file or directory");
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kError);
}

TEST_F(MailsiftTest, SameNamesInOneCommandAreKeptAndARunAgainReplacesThem) {
  Add({}, {MailWithAttachment("Weekly report", "invoice.pdf", "1"),
           MailWithAttachment("Weekly report", "invoice.pdf", "2"),
           MailWithAttachment("", "invoice.pdf", "3")});
  Open();
  const std::string att = NewDir("att");
  const std::string eml = NewDir("eml");
  for (int run = 0; run < 2; ++run) {
    prompts_.directories.push_back(QString::fromStdString(att));
    dialog_->OnExportAttachments();
    prompts_.directories.push_back(QString::fromStdString(eml));
    dialog_->OnExportEml();
  }
  EXPECT_EQ(Entries(att),
            (std::set<std::string>{"invoice.pdf", "invoice (2).pdf", "invoice (3).pdf"}));
  EXPECT_EQ(mqtest::ReadFile(att + "/invoice (3).pdf"), "3");
  EXPECT_EQ(Entries(eml),
            (std::set<std::string>{"Weekly report.eml", "Weekly report (2).eml", ".eml"}));
  EXPECT_NE(mqtest::ReadFile(eml + "/Weekly report (2).eml").find("\r\n2\r\n"), std::string::npos);
}

TEST_F(MailsiftTest, SubjectsNamingOtherPlacesFailAloneAndAreCounted) {
  Add({}, {MaildirFixture::Message("a@x", "b@x", "a/b"),
           MaildirFixture::Message("a@x", "b@x", "../escape"),
           MaildirFixture::Message("a@x", "b@x", "fine")});
  Open();
  const std::string eml = NewDir("eml");
  fs::create_directory(eml + "/a");
  prompts_.directories.push_back(QString::fromStdString(eml));
  dialog_->OnExportEml();
  EXPECT_EQ(Entries(eml), (std::set<std::string>{"a", "fine.eml"}));
  EXPECT_TRUE(fs::is_empty(eml + "/a"));
  EXPECT_EQ(Entries(out_), (std::set<std::string>{"book", "eml"}));
  EXPECT_EQ(LastMessage(), "Export to eml completed\n2 .eml files could not be written.");
}

TEST_F(MailsiftTest, AttachmentsStayInsideADirectoryWhoseNameHoldsAParenthesis) {
  Add({}, {MailWithAttachment("S", "report (final).txt", "r")});
  Open();
  const std::string dir = NewDir("Export (old)");
  prompts_.directories.push_back(QString::fromStdString(dir));
  dialog_->OnExportAttachments();
  // Names are used whole, and a '(' in the directory moves nothing out of it.
  EXPECT_EQ(Entries(dir), std::set<std::string>{"report (final).txt"});
  EXPECT_EQ(Entries(out_), (std::set<std::string>{"book", "Export (old)"}));
}

TEST_F(MailsiftTest, NoCollectionReferenceOutlivesACommandNotEvenAFailedOne) {
  std::vector<std::string> mails;
  for (int i = 0; i < 5; ++i)
    mails.push_back(MailWithAttachment("M" + std::to_string(i), "f", "x"));
  Add({}, mails);
  Open();
  auto messages = MessagesCollection();
  const ULONG before = References(messages.Get());
  const std::string dir = NewDir("out");
  for (auto command : {&CMailsiftDlg::OnExportAttachments, &CMailsiftDlg::OnExportEml,
                       &CMailsiftDlg::OnExportEmailText}) {
    if (command == &CMailsiftDlg::OnExportEmailText)
      prompts_.saveNames.push_back(QString::fromStdString(dir + "/r.txt"));
    else
      prompts_.directories.push_back(QString::fromStdString(dir));
    (dialog_.get()->*command)();
    EXPECT_EQ(References(messages.Get()), before);
  }
  // A call failing in the middle of the loop ends the command with a message.
  log_ = {};
  log_.failId = kSave;
  log_.failAt = 3;
  const std::string failing = NewDir("failing");
  prompts_.directories.push_back(QString::fromStdString(failing));
  dialog_->OnExportEml();
  EXPECT_EQ(References(messages.Get()), before);
  EXPECT_EQ(log_.calls[kSave], 3);
  EXPECT_EQ(Entries(failing).size(), 2u);
  EXPECT_NE(LastMessage().find("member 20 failed with 0x80004005"), std::string::npos);
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kError);

  log_ = {};
  log_.failId = kExtract;
  log_.failAt = 2;
  prompts_.directories.push_back(QString::fromStdString(failing));
  dialog_->OnExportAttachments();
  EXPECT_EQ(References(messages.Get()), before);
  EXPECT_EQ(Entries(failing).size(), 3u);  // no private directory is left behind
}

TEST_F(MailsiftTest, AnEmptyStoreGivesAnEmptyListAndStillCompletes) {
  setenv("MAILDIR", (out_ + "/no-such-store").c_str(), 1);
  Open();
  EXPECT_EQ(Folders()->count(), 0);
  EXPECT_EQ(Folders()->currentIndex(), -1);
  prompts_.directories.push_back(QString::fromStdString(NewDir("e")));
  dialog_->OnExportEml();
  EXPECT_EQ(log_.folderWrites, std::vector<SHORT>{-1});
  EXPECT_EQ(LastMessage(), "Export to eml completed");
}

TEST_F(MailsiftTest, CancelStopsAfterTheCurrentMessageAndSaysWhere) {
  std::vector<std::string> mails;
  for (int i = 0; i < 20; ++i)
    mails.push_back(MaildirFixture::Message("a@x", "b@x", "M" + std::to_string(i)));
  Add({}, mails);
  cancelAt_ = 3;
  Open();
  const std::string dir = NewDir("eml");
  prompts_.directories.push_back(QString::fromStdString(dir));
  dialog_->OnExportEml();
  EXPECT_EQ(Entries(dir).size(), 3u);
  EXPECT_EQ(LastMessage(), "Export to eml cancelled after 3 of 20 messages");

  // The real progress dialog's Cancel button.
  cancelAt_ = -1;
  realProgress_ = true;
  const std::string second = NewDir("eml2");
  prompts_.directories.push_back(QString::fromStdString(second));
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* progress = qobject_cast<QProgressDialog*>(w)) progress->cancel();
  });
  dialog_->OnExportEml();
  EXPECT_LT(Entries(second).size(), 20u);
  EXPECT_NE(LastMessage().find("Export to eml cancelled after"), std::string::npos);
}

TEST_F(MailsiftTest, EnterOnTheListOrARadioButtonEndsTheDialogLikeExit) {
  for (int id : {int(kIdFolder), int(kIdFirst500)}) {
    Open();
    dialog_->show();
    dialog_->Item(id)->setFocus();
    QTest::keyClick(dialog_->Item(id), Qt::Key_Return);
    EXPECT_EQ(dialog_->result(), QDialog::Accepted) << id;
    EXPECT_FALSE(dialog_->isVisible());
  }
}

TEST_F(MailsiftTest, AboutBoxWebLinkAndAMissingControl) {
  Open();
  auto* about = dialog_->findChild<QAction*>("aboutAction");
  ASSERT_TRUE(about);
  EXPECT_EQ(about->text(), "&About Mailsift...");
  EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));
  about->trigger();
  EXPECT_EQ(aboutShown_, 1);
  dialog_->OnWebLink();
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_TRUE(fs::exists(opened_[0])) << opened_[0];

  CAboutDlg box;
  EXPECT_EQ(box.windowTitle(), "About Mailsift");
  EXPECT_EQ(box.findChild<QPushButton*>("id1")->text(), "OK");
  EXPECT_FALSE(box.windowIcon().pixmap(16, 16).isNull());
  EXPECT_FALSE(box.windowIcon().pixmap(32, 32).isNull());

  registry_->Regsvr("Mailquarry.ocx", /*unregister=*/true);
  CMailsiftDlg orphan(SystemServices(&prompts_));
  QString error;
  EXPECT_FALSE(orphan.OnInitDialog(&error));
  EXPECT_TRUE(error.contains("could not be created")) << error.toStdString();
  EXPECT_TRUE(error.contains("scripts/run"));
  EXPECT_TRUE(registry_->Regsvr("Mailquarry.ocx"));
}

// Each click goes to the dialog's window at the child's place, so it lands
// where a person's click lands.
TEST_F(MailsiftTest, AClickOnEachChildDoesItsWork) {
  Add({}, {MailWithAttachment("Clicked", "a.bin", "x")});
  Open();
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  EXPECT_THAT(ui::testing::CoveredChildren(dialog_.get()), IsEmpty());

  const std::string eml = NewDir("eml");
  prompts_.directories.push_back(QString::fromStdString(eml));
  auto asked = [this](const char* question) {
    return [this, question] { return prompts_.questions == std::vector<QString>{question}; };
  };
  auto checked = [this](int id) {
    return [this, id] { return static_cast<QRadioButton*>(dialog_->Item(id))->isChecked(); };
  };
  const char* const directory = "Please select an output directory";
  const struct {
    int id;
    std::function<bool()> done;
  } clicks[] = {
      {kIdFolder,
       [this] {
         const bool open = Folders()->view()->isVisible();
         Folders()->hidePopup();
         return open;
       }},
      {kIdFirst500, checked(kIdFirst500)},
      {kIdFirst1000, checked(kIdFirst1000)},
      {kIdAllMessages, checked(kIdAllMessages)},
      {kIdExportEml,
       [&] { return asked(directory)() && Entries(eml) == std::set<std::string>{"Clicked.eml"}; }},
      {kIdExportAttachments, asked(directory)},
      {kIdExportEmailText, asked("Save As")},
      {kIdExportAddressBook, asked("Save As")},
      {kIdWebLink, [this] { return opened_.size() == 1; }},
      {kIdExit, [this] { return dialog_->result() == QDialog::Accepted && !dialog_->isVisible(); }},
  };
  for (const auto& click : clicks) {
    prompts_.questions.clear();
    QWidget* child = dialog_->Item(click.id);
    // A radio button is clicked on its circle, as a person clicks it.
    const bool radio = qobject_cast<QRadioButton*>(child) != nullptr;
    ui::testing::ClickAt(child,
                         radio ? QPoint(4, child->height() / 2) : ui::testing::Centre(child));
    EXPECT_TRUE(click.done()) << "child " << click.id;
  }

  // A button looks pressed while the mouse button is held on it.
  dialog_->show();
  auto* exit = static_cast<QPushButton*>(dialog_->Item(kIdExit));
  ui::testing::PressAt(exit, ui::testing::Centre(exit));
  EXPECT_TRUE(exit->isDown());
  ui::testing::ReleaseAt(exit, ui::testing::Centre(exit));
}

TEST_F(MailsiftTest, TheAboutBoxAndTheProgressDialogTakeClicksWhereTheyShow) {
  CAboutDlg about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_THAT(ui::testing::CoveredChildren(&about), IsEmpty());
  ui::testing::Click(about.findChild<QPushButton*>("id1"));
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());

  ProgressDialog progress(nullptr, QStringLiteral("Export to eml"), 0);
  EXPECT_TRUE(progress.Continue(1, 10));
  QProgressDialog* shown = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) shown = p;
  ASSERT_NE(shown, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
  EXPECT_THAT(ui::testing::CoveredChildren(shown), IsEmpty());
  ui::testing::Click(shown->findChild<QPushButton*>());
  EXPECT_FALSE(progress.Continue(2, 10));
}

// The browser opens where a person can pick a directory at once.
TEST_F(MailsiftTest, TheFolderBrowserStartsOnTheDesktopElseAtHome) {
  const std::string home = NewDir("home");
  ScopedEnv homeEnv("HOME", home);
  ScopedEnv configEnv("XDG_CONFIG_HOME", home + "/.config");
  Open();
  dialog_->OnExportEml();
  fs::create_directory(home + "/Desktop");
  dialog_->OnExportAttachments();
  std::vector<std::string> starts;
  for (const QString& dir : prompts_.startDirs) starts.push_back(dir.toStdString());
  EXPECT_EQ(starts, (std::vector<std::string>{home, home + "/Desktop"}));
}

TEST_F(MailsiftTest, FortyThousandMessagesAreExportedWhole) {
  const std::string cur = fixture_.AddFolder({"Big"}) + "/cur/";
  for (int i = 0; i < 40000; ++i)
    std::ofstream(cur + "1167707045.M" + std::to_string(i) + "P1.big:2,S", std::ios::binary)
        << "Subject: s\r\n\r\n.\r\n";
  Open();
  Choose("Big");
  const std::string dir = NewDir("eml");
  prompts_.directories.push_back(QString::fromStdString(dir));
  dialog_->OnExportEml();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 40000);
  EXPECT_TRUE(fs::exists(dir + "/s (40000).eml"));
  EXPECT_EQ(LastMessage(), "Export to eml completed");
}

}  // namespace
}  // namespace mailsift

// The application lives in main, so it is gone before the process's exit
// handlers run.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
