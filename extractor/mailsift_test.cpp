// SPDX-License-Identifier: LGPL-2.1-or-later
// The main dialog driven as a user drives it, hosting the real control (and
// store) registered into a temporary registry, over Maildir fixtures (see
// testing/mailsift_fixture.h).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <cstdlib>
#include <fstream>

#include "control/dispids.h"
#include "extractor/about_dlg.h"
#include "extractor/testing/mailsift_fixture.h"
#include "platform/shell/shell.h"
#include "platform/store/testing/thunderbird_fixture.h"
#include "platform/ui/click_testing.h"

namespace mailsift {
namespace {

namespace fs = std::filesystem;
using D = CMailsiftDlg;
using mqtest::ScopedEnv;
using testing::Entries;
using ::testing::IsEmpty;
using testing::MailsiftTest;
using testing::MailWithAttachment;

constexpr DISPID kExtract = mq::dispid::messages::kExtractAttachment;
constexpr DISPID kSave = mq::dispid::messages::kSave2eml;

// The folders in the control's order, indented below their parents, with
// their counts; a profile's accounts read as accounts, without counts.
TEST_F(MailsiftTest, TheDropDownShowsFoldersIndentedAndAccountsWithoutCounts) {
  ScopedEnv cache("XDG_CACHE_HOME", out_ + "/cache");
  store::testing::ThunderbirdFixture profile;
  ScopedEnv maildir("MAILDIR", ""), home("HOME", profile.home());
  Open();
  QStringList shown;
  for (int i = 0; i < Folders()->count(); ++i) shown << Folders()->itemText(i);
  EXPECT_EQ(
      shown.join(" | ").toStdString(),
      QStringList({"Inbox (2)", "jane@example.com", "    Sent (1)", "Local Folders",
                   "    Archives (1)", "        2025 (1)", "    Projects (0)", "        Alpha (1)",
                   "    Trash (1)", "    Unsent Messages (0)", "Work \"B\u00fcro\"",
                   "    Inbox (2)", "        Receipts (1)", "    Trash (0)"})
          .join(" | ")
          .toStdString());
}

// An empty store gives an empty list, and an export over it still completes.
TEST_F(MailsiftTest, AnEmptyStoreListsNoFolderAndStillCompletes) {
  setenv("MAILDIR", (out_ + "/no-such-store").c_str(), 1);
  Open();
  EXPECT_EQ(Folders()->count(), 0);
  EXPECT_NE(LastMessage().find("/no-such-store ($MAILDIR) could not be opened"), std::string::npos);
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kWarning);
  Run(&D::OnExportEml, NewDir("e"));
  EXPECT_EQ(LastMessage(), "Export to eml completed\n0 .eml files written into " + out_ + "/e.");
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kInformation);
}

// A call failing in the middle of the loop ends the command with a message,
// keeping the files written and no private directory; so does a file that
// cannot be opened, named with why; a cancel stops after the current message
// and says where. (A reference to the control's collections kept past a
// command is a leak LeakSanitizer reports.)
TEST_F(MailsiftTest, AFailedCallOrACancelStopsTheCommandAndSaysWhere) {
  std::vector<std::string> mails;
  for (int i = 0; i < 5; ++i)
    mails.push_back(MailWithAttachment("M" + std::to_string(i), "f", "x"));
  Add({}, mails);
  Open();
  fail_ = {kSave, 3};
  const std::string failing = NewDir("failing");
  Run(&D::OnExportEml, failing);
  EXPECT_EQ(Entries(failing).size(), 2u);
  EXPECT_EQ(LastMessage(),
            "Mailquarry failed a call (member 20); the command stopped there, and "
            "the files it wrote are kept (0x80004005)");
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kError);

  fail_ = {kExtract, 2};
  Run(&D::OnExportAttachments, failing);
  EXPECT_EQ(Entries(failing).size(), 3u);
  Run(&D::OnExportEmailText, out_ + "/missing/dir/x.txt", true);
  EXPECT_EQ(LastMessage(), "Cannot open \"" + out_ +
                               "/missing/dir/x.txt\" for appending: no such file or directory");
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kError);

  fail_ = {};
  cancelAt_ = 3;
  Run(&D::OnExportEml, NewDir("cancelled"));
  EXPECT_EQ(Entries(out_ + "/cancelled").size(), 3u);
  EXPECT_EQ(LastMessage(),
            "Export to eml cancelled after 3 of 5 messages\n3 .eml files written into " + out_ +
                "/cancelled.");
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

TEST_F(MailsiftTest, AboutBoxProgressDialogAndAMissingControl) {
  Open();
  auto* about = dialog_->findChild<QAction*>("aboutAction");
  ASSERT_TRUE(about);
  EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));
  about->trigger();
  EXPECT_EQ(aboutShown_, 1);
  // "Read more" that finds no viewer says where the README is.
  openResult_ = shell::kNoViewer;
  dialog_->OnWebLink();
  EXPECT_EQ(LastMessage(),
            "The README could not be opened: no program to show it is set up "
            "(xdg-open found none). Read it in any text viewer: " +
                CMailsiftDlg::ProjectPage() + " (0x80070483)");

  // Both take clicks where they show.
  CAboutDlg box;
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  EXPECT_THAT(ui::testing::CoveredChildren(&box), IsEmpty());
  ui::testing::Click(box.findChild<QPushButton*>("id1"));
  EXPECT_EQ(box.result(), QDialog::Accepted);
  EXPECT_FALSE(box.isVisible());
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
  QTest::qWait(60);  // the next update, shown, asks again
  EXPECT_FALSE(progress.Continue(3, 10));

  registry_->Regsvr("Mailquarry.ocx", /*unregister=*/true);
  CMailsiftDlg orphan(SystemServices(&prompts_));
  QString error;
  EXPECT_FALSE(orphan.OnInitDialog(&error));
  EXPECT_TRUE(error.startsWith("Mailquarry is not registered")) << error.toStdString();
  EXPECT_TRUE(registry_->Regsvr("Mailquarry.ocx"));
}

// The dialog starts on the first folder and all messages, Exit the default,
// no text cut. Each click goes to the dialog's window at the child's place,
// so it lands where a person's click lands.
TEST_F(MailsiftTest, StartsOnTheFirstFolderAndAClickOnEachChildDoesItsWork) {
  Add({}, {MailWithAttachment("Clicked", "a.bin", "x")});
  Open();
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  EXPECT_THAT(ui::testing::CoveredChildren(dialog_.get()), IsEmpty());
  EXPECT_EQ(Folders()->currentIndex(), 0);
  EXPECT_TRUE(Radio(kIdAllMessages)->isChecked());
  EXPECT_TRUE(static_cast<QPushButton*>(dialog_->Item(kIdExit))->isDefault());
  // A button's text keeps clear of its frame.
  for (auto* button : dialog_->findChildren<QAbstractButton*>()) {
    const int text = button->fontMetrics().horizontalAdvance(button->text());
    if (auto* radio = qobject_cast<QRadioButton*>(button)) {
      QStyleOptionButton option;
      option.initFrom(radio);
      EXPECT_LE(
          text,
          radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio).width())
          << radio->text().toStdString();
    } else {
      EXPECT_LE(text + 6, button->width()) << button->text().toStdString();
    }
  }

  const std::string eml = NewDir("eml");
  prompts_.directories.push_back(QString::fromStdString(eml));
  auto asked = [this](const char* question) {
    return [this, question] { return prompts_.questions == std::vector<QString>{question}; };
  };
  auto checked = [this](int id) { return [this, id] { return Radio(id)->isChecked(); }; };
  const char* const directory = "Please select an output directory";
  const std::pair<int, std::function<bool()>> clicks[] = {
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
      {kIdWebLink, [this] { return opened_.size() == 1 && fs::exists(opened_[0]); }},
      {kIdExit, [this] { return dialog_->result() == QDialog::Accepted && !dialog_->isVisible(); }},
  };
  for (const auto& [id, done] : clicks) {
    prompts_.questions.clear();
    QWidget* child = dialog_->Item(id);
    // A radio button is clicked on its circle, as a person clicks it.
    const bool radio = qobject_cast<QRadioButton*>(child) != nullptr;
    ui::testing::ClickAt(child,
                         radio ? QPoint(4, child->height() / 2) : ui::testing::Centre(child));
    EXPECT_TRUE(done()) << "child " << id;
  }
  // The commands not given a place (all but the first) wrote and said nothing.
  EXPECT_EQ(prompts_.messages.size(), 1u);
  EXPECT_EQ(Entries(out_), (std::set<std::string>{"book", "eml"}));
}

// The browser opens on the desktop and Save As in the documents directory
// (home when there is none, never the current directory); then each opens
// where the user last chose, for as long as the dialog lives.
TEST_F(MailsiftTest, BrowserAndSaveAsStartInTheUsersPlacesThenWhereTheUserLastChose) {
  const std::string home = NewDir("home");
  ScopedEnv homeEnv("HOME", home);
  ScopedEnv configEnv("XDG_CONFIG_HOME", home + "/.config");
  Open();
  dialog_->OnExportEml();
  dialog_->OnExportEmailText();
  fs::create_directory(home + "/Desktop");
  fs::create_directory(home + "/Documents");
  dialog_->OnExportAttachments();
  dialog_->OnExportAddressBook();
  const std::string picked = NewDir("picked"), saved = NewDir("saved");
  Run(&D::OnExportEml, picked);
  Run(&D::OnExportEmailText, saved + "/senders.txt", true);
  dialog_->OnExportAttachments();  // cancelled
  dialog_->OnExportAddressBook();
  Open();  // a new run remembers nothing
  dialog_->OnExportEml();
  dialog_->OnExportEmailText();
  const QString h = QString::fromStdString(home), desktop = h + "/Desktop",
                documents = h + "/Documents";
  EXPECT_EQ(prompts_.startDirs,
            (std::vector<QString>{h, desktop, desktop, QString::fromStdString(picked), desktop}));
  EXPECT_EQ(prompts_.saveStarts, (std::vector<QString>{h, documents, documents,
                                                       QString::fromStdString(saved), documents}));
}

TEST_F(MailsiftTest, FortyThousandMessagesAreExportedWhole) {
  const std::string cur = fixture_.AddFolder({"Big"}) + "/cur/";
  for (int i = 0; i < 40000; ++i)
    std::ofstream(cur + "1167707045.M" + std::to_string(i) + "P1.big:2,S", std::ios::binary)
        << "Subject: s\r\n\r\n.\r\n";
  Open();
  Choose("Big");
  const std::string dir = NewDir("eml");
  Run(&D::OnExportEml, dir);
  EXPECT_EQ(Entries(dir).size(), 40000u);
  EXPECT_TRUE(fs::exists(dir + "/s (40000).eml"));
  EXPECT_EQ(LastMessage(), "Export to eml completed\n40000 .eml files written into " + dir + ".");
  // The first 500 and 1000 of a larger folder are that many.
  for (auto [range, count] : {std::pair{kIdFirst500, 500u}, {kIdFirst1000, 1000u}}) {
    Choose("Big", range);
    const std::string first = NewDir("first" + std::to_string(count));
    Run(&D::OnExportEml, first);
    EXPECT_EQ(Entries(first).size(), count);
  }
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
