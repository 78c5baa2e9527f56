// SPDX-License-Identifier: LGPL-2.1-or-later
// A Takeout archive: one mbox file whose messages carry Gmail labels shows
// each label as a folder beside the file's; the labels header read alone.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <map>

#include "platform/store/mbox/layout.h"
#include "platform/store/takeout/gmail_labels.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

using Strings = std::vector<std::string>;

std::string TakeoutMessage(const std::string& labels, const std::string& subject) {
  return "From 1545668983435175434@xxx Fri Sep 16 22:26:51 +0000 2016\n"
         "X-GM-THRID: 1545668983435175434\nX-Gmail-Labels: " +
         labels +
         "\nFrom: Nora Quill <nora@example.org>\nTo: jane@example.com\nSubject: " + subject +
         "\nDate: Fri, 16 Sep 2016 22:26:51 +0000\n\nBody of " + subject + ".\n\n";
}

class TakeoutStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteFile(file_,
                       TakeoutMessage("Inbox,Important,Opened,Work/Projects", "Plans") +
                           TakeoutMessage("Sent,Opened", "My reply") +
                           TakeoutMessage("\"Work, old\",Unread,Category Social", "Old news") +
                           TakeoutMessage("Chat,Opened,Archived", "Chat with Nora") +
                           TakeoutMessage("Inbox,\r\n Work,Receipts", "Invoice"));
  }

  // Subject -> id in the folder named `name`.
  static std::map<std::string, MESSAGEID> Ids(IStoreNamespace* ns, const std::string& name) {
    std::map<std::string, MESSAGEID> ids;
    auto folder = OpenByName(ns, name);
    for (const auto& m : Messages(folder.Get())) ids[m.subject] = m.id;
    return ids;
  }

  mqtest::TempDir dir_;
  const std::string base_ = dir_.path(), file_ = base_ + "/All mail Including Spam and Trash.mbox";
  mqtest::ScopedEnv maildir_{"MAILDIR", file_}, cache_{"XDG_CACHE_HOME", base_ + "/cache"};
};

// The file is All Mail and its labels stand beside it, Gmail's Inbox first;
// ids last through reopening, appending and a removal.
TEST_F(TakeoutStoreTest, EachLabelIsAFolderOfItsMessagesInFileOrderWithLastingIds) {
  const std::vector<std::string> expected = {
      "Inbox [inbox] | Plans | Invoice",
      "All Mail | Plans | My reply | *Old news | Chat with Nora | Invoice",
      "Archived | Chat with Nora",
      "Categories",
      "  Social | *Old news",
      "Chat | Chat with Nora",
      "Important | Plans",
      "Opened | Plans | My reply | Chat with Nora",
      "Receipts | Invoice",
      "Sent | My reply",
      "Unread | *Old news",
      "Work | Invoice",
      "  Projects | Plans",
      "Work, old | *Old news",
  };
  std::map<std::string, MESSAGEID> opened, projects;
  // Folder ids by name (each name once here).
  auto folderIds = [](IStoreNamespace* ns) {
    std::map<std::string, STOREFOLDERID> ids;
    for (const auto& f : FolderTree(ns)) ids[f.name] = f.id;
    return ids;
  };
  std::map<std::string, STOREFOLDERID> folders;
  {
    auto ns = OpenStore();
    EXPECT_EQ(Listing(ns.Get(), true), expected);
    folders = folderIds(ns.Get());
    opened = Ids(ns.Get(), "Opened");
    projects = Ids(ns.Get(), "Projects");
  }
  // An index of an earlier version named a label folder "<file>\x1f<label>"
  // (the file here is the root: ""): its folders keep their ids.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(mbox::IndexPathFor(file_).c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "UPDATE folders SET path = char(31) || path WHERE path != ''", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), static_cast<int>(folders.size()) - 1);  // all but All Mail
  sqlite3_close(db);
  EXPECT_EQ(folderIds(OpenStore().Get()), folders);
  std::ofstream(file_, std::ios::app) << TakeoutMessage("Opened,Travel", "Tickets");
  auto ns = OpenStore();
  auto now = Ids(ns.Get(), "Opened");
  EXPECT_EQ(now.size(), 4u);
  for (const auto& [subject, id] : opened) EXPECT_EQ(now[subject], id) << subject;
  EXPECT_EQ(Ids(ns.Get(), "Projects"), projects);
  EXPECT_EQ(Ids(ns.Get(), "Travel").size(), 1u);  // a label that came with the new message

  // Another program removes a message in the middle: the file is read again,
  // every other message keeps its id and its read state.
  std::string text = mqtest::ReadFile(file_);
  std::string removed = TakeoutMessage("Sent,Opened", "My reply");
  text.erase(text.find(removed), removed.size());
  testing::WriteFile(file_, text);
  auto opened2 = OpenByName(ns.Get(), "Opened");
  std::vector<std::string> rows;
  for (const auto& m : Messages(opened2.Get()))
    rows.push_back((m.flags & MSG_FLAG_READ ? "" : "*") + m.subject + " " +
                   (m.id == now[m.subject] ? "same id" : "new id"));
  EXPECT_EQ(rows, (std::vector<std::string>{"Plans same id", "Chat with Nora same id",
                                            "Tickets same id"}));
}

TEST_F(TakeoutStoreTest, InADirectoryTheLabelsAreBelowTheArchivesFolder) {
  testing::WriteFile(base_ + "/Inbox", TakeoutMessage("Inbox", "Plain mbox, labels or not"));
  setenv("MAILDIR", base_.c_str(), 1);
  auto ns = OpenStore();
  std::vector<std::string> rows;
  for (const auto& f : FolderTree(ns.Get()))
    if (f.depth < 2) rows.push_back(std::string(2 * f.depth, ' ') + f.name);
  // The file named Inbox is the Inbox, and its one label a folder below it.
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "Inbox", "  Inbox", "All mail Including Spam and Trash.mbox", "  Archived",
                      "  Categories", "  Chat", "  Important", "  Inbox", "  Opened", "  Receipts",
                      "  Sent", "  Unread", "  Work", "  Work, old"}));
}

// An archive without Gmail's Inbox label has no Inbox, and starts on All
// Mail; a file without labels is one Inbox, as any mbox file.
TEST_F(TakeoutStoreTest, AnArchiveWithoutTheInboxLabelHasNoInbox) {
  testing::WriteFile(file_, TakeoutMessage("Work,Opened,Accounts", "Plans"));
  EXPECT_EQ(Listing(OpenStore().Get(), true),
            (Strings{"All Mail | Plans", "Accounts | Plans", "Opened | Plans", "Work | Plans"}));
}

// The folders a raw labels header files its message under. Plain,
// quoted-comma and folded values are also in the archive above.
TEST(GmailLabels, FoldersOfARawHeader) {
  struct Case {
    const char* raw;
    Strings folders;
  } cases[] = {
      {" Inbox , Sent ", {"Inbox", "Sent"}},
      {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
      {"a,,b,", {"a", "b"}},
      {"a,a,A", {"a", "A"}},  // once each
      {"category updates,INBOX,Inbox", {"Categories/Updates", "Inbox"}},
      {"\"unclosed, still", {"unclosed, still"}},
      {"", {}},
      {"=?UTF-8?Q?Archived,Category_Personal,B=C3=BCro?=",
       {"Archived", "Categories/Personal", "Büro"}},
      {"Inbox,=?UTF-8?B?UmVpc2Vu?=", {"Inbox", "Reisen"}},
      {"Inbox,Caf\xE9", {"Inbox", "Caf\xC3\xA9"}},  // undeclared 8-bit text: Latin-1
      {"Draft", {"Drafts"}},
      {"/Work//Projects/", {"Work/Projects"}},
      {"Tab\there", {"Tab here"}},
      {"///,\x01", {"_"}},
      {"a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r",
       {"a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p\xE2\x88\x95q\xE2\x88\x95r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    bool unread = true;
    EXPECT_EQ(gmail::LabelFolderPaths(c.raw, &unread), c.folders);
    EXPECT_FALSE(unread);
  }
  bool unread = false;
  EXPECT_EQ(gmail::LabelFolderPaths("Inbox,unread", &unread), (Strings{"Inbox", "Unread"}));
  EXPECT_TRUE(unread);
}

}  // namespace
}  // namespace store
