// SPDX-License-Identifier: LGPL-2.1-or-later
// What every store answers through IStoreNamespace and IStoreFolder, whatever
// its layout and format: the same three messages of a folder "Work" (and one
// in the Inbox) written as each layout keeps them, read back alike. Writable
// stores change; read-only ones answer writes with a refusal or a probe and
// leave every byte of their tree as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/store/testing/evolution_fixture.h"
#include "platform/store/testing/home_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"
#include "platform/testing/scratch.h"

namespace store {
namespace {

using com::ComPtr;

// The text of a message as stored, with `extra` header lines.
std::string Text(const std::string& subject, int second, const std::string& extra = "") {
  return "From: Ann <ann@example.org>\nTo: bob@example.org\nSubject: " + subject +
         "\nDate: Sat, 01 Jan 2000 00:00:0" + std::to_string(second) + " +0000\nMessage-ID: <" +
         subject + "@example.org>\n" + extra +
         "\nHello.\nFrom here on, a line an mbox writer quotes.\n";
}

const std::vector<std::string> kSubjects = {"one", "two", "three"};

struct Shape {
  const char* name;
  bool writable;
  // Writes the store below the directory given and returns its root.
  std::function<std::string(const std::string&)> make;
};

// One read, two unread: as a Maildir's S flag, an mbox Status header, or
// Gmail's labels. The Inbox's message and Work's three as Maildir files:
std::string FillMaildirs(const std::string& root, const std::string& inbox,
                         const std::string& work) {
  testing::WriteFile(inbox + "/cur/1000000000.M1P1.host:2,", Text("in", 0));
  for (int i = 1; i <= 3; ++i)
    testing::WriteFile(
        work + "/cur/100000000" + std::to_string(i) + ".M1P1.host:2," + (i == 1 ? "S" : ""),
        Text(kSubjects[i - 1], i));
  return root;
}

// And as an MH folder's numbered files.
std::string FillNumbered(const std::string& root, const std::string& inbox,
                         const std::string& work) {
  testing::MakeDirs(inbox);
  testing::MakeDirs(work);
  testing::WriteFile(inbox + "/1", Text("in", 0));
  for (int i = 1; i <= 3; ++i)
    testing::WriteFile(work + "/" + std::to_string(i), Text(kSubjects[i - 1], i));
  return root;
}

std::string MakeMaildirPlusPlus(const std::string& base) {
  std::string root = testing::AddNestedFolder(base, "mail");
  testing::WriteFile(testing::AddNestedFolder(root, ".Work") + "/maildirfolder", "");
  return FillMaildirs(root, root, root + "/.Work");
}

// With a stray numbered file and sequence file, still a Maildir tree.
std::string MakeNested(const std::string& base) {
  std::string root = base + "/mail";
  testing::WriteFile(testing::AddNestedFolder(root, "Work") + "/1", Text("stray", 9));
  testing::WriteFile(root + "/Work/.mh_sequences", "unseen: 1\n");
  return FillMaildirs(root, testing::AddNestedFolder(root, "INBOX"), root + "/Work");
}

// The Inbox's and Work's mbox files at `inbox` and `work` below `root`.
std::string MboxFiles(const std::string& root, const std::string& inbox, const std::string& work) {
  const std::vector<std::string> texts[] = {
      {Text("in", 0)}, {Text("one", 1, "Status: RO\n"), Text("two", 2), Text("three", 3)}};
  for (int i = 0; i < 2; ++i) {
    const std::string path = root + "/" + (i == 0 ? inbox : work);
    testing::MakeDirs(path.substr(0, path.rfind('/')));
    testing::WriteFile(path, testing::MboxText(texts[i]));
  }
  return root;
}

std::string MakeMboxDirectory(const std::string& base) {
  return MboxFiles(base + "/mail", "Inbox", "Work");
}

std::string MakeProfile(const std::string& base) {
  std::string root =
      MboxFiles(base + "/profile", "Mail/Local Folders/Inbox", "Mail/Local Folders/Work");
  testing::WriteFile(root + "/prefs.js", testing::kLocalFoldersPrefs);
  return root;
}

// A Takeout archive: every message in one file, the folders its labels.
std::string MakeTakeout(const std::string& base) {
  std::string file = base + "/All mail Including Spam and Trash.mbox";
  testing::WriteFile(file, testing::MboxText({Text("in", 0, "X-Gmail-Labels: Inbox,Unread\n"),
                                              Text("one", 1, "X-Gmail-Labels: Work,Opened\n"),
                                              Text("two", 2, "X-Gmail-Labels: Work,Unread\n"),
                                              Text("three", 3, "X-Gmail-Labels: Work,Unread\n")}));
  return file;
}

// Claws Mail's MH mailbox: numbered files, the state in .claws_mark (read:
// flags 0; new and unread: 3; a message it does not list (3) is new; one
// marked deleted (8) is waiting to be removed and not shown).
std::string MakeClawsMh(const std::string& base) {
  std::string root = FillNumbered(base + "/Mail", base + "/Mail/inbox", base + "/Mail/Work");
  testing::WriteFile(root + "/inbox/.claws_cache", "cache");
  testing::WriteFile(root + "/Work/4", Text("gone", 4));
  testing::WriteFile(root + "/Work/.claws_mark", testing::ClawsMarks({{1, 0}, {2, 3}, {4, 8}}));
  return root;
}

// nmh's folders: the unread messages in the "unseen" sequence.
std::string MakeNmh(const std::string& base) {
  std::string root = FillNumbered(base + "/Mail", base + "/Mail/inbox", base + "/Mail/Work");
  testing::WriteFile(root + "/inbox/.mh_sequences", "unseen: 1\n");
  testing::WriteFile(root + "/Work/.mh_sequences", "cur: 1\nunseen: 2-3\n");
  testing::WriteFile(root + "/context", "Current-Folder: inbox\n");
  return root;
}

// Evolution's local folders: Maildir++ with its marker and summary files.
std::string MakeEvolutionLocal(const std::string& base) {
  std::string root = MakeMaildirPlusPlus(base);
  testing::WriteFile(root + "/..maildir++", "");
  testing::WriteFile(root + "/folders.db", "");
  testing::AddNestedFolder(root, ".a_2Eb.c");
  return root;
}

// KMail's local folders: subfolders of X in ".X.directory".
std::string MakeKMail(const std::string& base) {
  std::string root = base + "/local-mail";
  testing::AddNestedFolder(root, "lists");
  testing::AddNestedFolder(root, ".lists.directory/dev");
  return FillMaildirs(root, testing::AddNestedFolder(root, "inbox"),
                      testing::AddNestedFolder(root, "Work"));
}

// Apple Mail's own store: one .emlx file a message (its length, the
// message, a property list whose flags hold read (1) and deleted (2)),
// spread over numbered directories; and mailboxes exported from it.
std::string Emlx(const std::string& text, int flags) {
  return std::to_string(text.size()) + "\n" + text +
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "\t<key>flags</key>\n\t<integer>" +
         std::to_string(flags) + "</integer>\n</dict>\n</plist>\n";
}

std::string MakeAppleMail(const std::string& base) {
  std::string root = base + "/V10";
  std::string inbox = root + "/INBOX.mbox/1F2E/Data/Messages";
  std::string work = root + "/Work.mbox/1F2F/Data/1/Messages";
  testing::MakeDirs(inbox);
  testing::MakeDirs(work);
  testing::WriteFile(inbox + "/7.emlx", Emlx(Text("in", 0), 0));
  for (int i = 0; i < 3; ++i)
    testing::WriteFile(work + "/" + std::to_string(i + 8) + ".emlx",
                       Emlx(Text(kSubjects[i], i + 1), i == 0 ? 0x80000001 : 0x80000000));
  testing::WriteFile(work + "/11.emlx", Emlx(Text("gone", 4), 2));
  testing::WriteFile(root + "/Work.mbox/1F2F/Info.plist", "<plist/>");
  return root;
}

std::string MakeAppleExport(const std::string& base) {
  std::string root = MboxFiles(base + "/Exported", "Inbox.mbox/mbox", "Work.mbox/mbox");
  testing::WriteFile(root + "/Inbox.mbox/Info.plist", "<plist/>");
  return root;
}

// Geary's database: folders, messages as header and body texts, their
// places and IMAP flags; a message marked for removal, one whose text is
// not fetched yet, one flagged deleted and a folder without a name are not
// shown.
std::string MakeGeary(const std::string& base) {
  std::string root = base + "/geary/jane@example.com";
  testing::MakeDirs(root);
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open((root + "/geary.db").c_str(), &db), SQLITE_OK);
  std::string sql =
      std::string(testing::kGearyTables) +
      "INSERT INTO FolderTable VALUES (1, 'INBOX', NULL), (2, 'Work', NULL), (3, NULL, 2);";
  using testing::GearyMessageSql;
  sql += GearyMessageSql(50, 1, 50, Text("in", 0), "") +
         GearyMessageSql(9, 2, 91, Text("one", 1), "\\Seen \\Flagged") +
         GearyMessageSql(8, 2, 92, Text("two", 2), "\\Answered") +
         GearyMessageSql(7, 2, 93, Text("three", 3), "") +
         GearyMessageSql(6, 2, 94, Text("removed", 4), "", true) +
         GearyMessageSql(5, 2, 95, Text("deleted", 5), "\\Deleted \\Seen");
  sql +=
      "INSERT INTO MessageTable(id, header) VALUES (4, 'Subject: not fetched\n\n');"
      "INSERT INTO MessageLocationTable(message_id, folder_id, ordering) VALUES (4, 2, 0);";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  return root;
}

// Evolution's offline copy of an IMAP account: cur/<bucket>/<uid> files,
// the read state in folders.db, of either generation; a uid it does not
// list is unread, one marked deleted is not shown.
std::string MakeEvolutionImap(const std::string& base, testing::EvolutionSchema schema) {
  std::string root = base + "/cache/1a2b3c";
  testing::MakeDirs(root + "/folders/INBOX/cur/5e");
  testing::MakeDirs(root + "/folders/Work/cur/0c");
  testing::MakeDirs(root + "/folders/Work/cur/d4");
  testing::WriteFile(root + "/folders/INBOX/cur/5e/7", Text("in", 0));
  for (int i = 0; i < 3; ++i)
    testing::WriteFile(
        root + "/folders/Work/cur/" + (i == 1 ? "d4/" : "0c/") + std::to_string(i + 8),
        Text(kSubjects[i], i + 1));
  testing::WriteFile(root + "/folders/Work/cur/0c/11", Text("gone", 4));
  EXPECT_TRUE(testing::WriteEvolutionFoldersDb(
      root + "/folders.db", schema,
      {{"INBOX", {{"7"}}}, {"Work", {{"8", true}, {"9"}, {"11", true, true}}}}));
  return root;
}

void PrintTo(const Shape& shape, std::ostream* out) {
  *out << shape.name;
}

const Shape kShapes[] = {
    {"MaildirPlusPlus", true, MakeMaildirPlusPlus},
    {"Nested", true, MakeNested},
    {"MboxDirectory", false, MakeMboxDirectory},
    {"ThunderbirdProfile", false, MakeProfile},
    {"TakeoutLabels", false, MakeTakeout},
    {"ClawsMh", false, MakeClawsMh},
    {"Nmh", false, MakeNmh},
    {"EvolutionLocal", false, MakeEvolutionLocal},
    {"KMail", false, MakeKMail},
    {"AppleMail", false, MakeAppleMail},
    {"AppleMailExport", false, MakeAppleExport},
    {"Geary", false, MakeGeary},
    {"EvolutionImap", false,
     [](const std::string& base) {
       return MakeEvolutionImap(base, testing::EvolutionSchema::kFolderTables);
     }},
    {"EvolutionImap358", false,
     [](const std::string& base) {
       return MakeEvolutionImap(base, testing::EvolutionSchema::kIdTables);
     }},
};

class StoreContract : public ::testing::TestWithParam<Shape> {
 protected:
  void SetUp() override {
    root_ = GetParam().make(dir_.path());
    env_.emplace("MAILDIR", root_);
    unopened_ = Snapshot();
    ns_ = OpenStore();
    work_ = OpenByName(ns_.Get(), "Work");
    ASSERT_TRUE(work_);
    messages_ = Messages(work_.Get());
    ASSERT_EQ(messages_.size(), 3u);
  }
  // Everything the store's files are kept in (the index of a read-only
  // store lives in the cache, elsewhere).
  std::map<std::string, std::string> Snapshot() const { return TreeSnapshot(dir_.path(), true); }

  mqtest::TempDir dir_, cacheDir_;
  mqtest::ScopedEnv cache_{"XDG_CACHE_HOME", cacheDir_.path()};
  std::optional<mqtest::ScopedEnv> env_;
  std::string root_;
  std::map<std::string, std::string> unopened_;
  ComPtr<IStoreNamespace> ns_;
  ComPtr<IStoreFolder> work_;
  std::vector<Msg> messages_;
};

TEST_P(StoreContract, TheTreeAndAFoldersMessagesReadAlike) {
  auto tree = FolderTree(ns_.Get());
  ASSERT_FALSE(tree.empty());
  EXPECT_EQ(tree[0].name, "Inbox");
  EXPECT_EQ(tree[0].sfType, FOLDER_INBOX);
  std::set<STOREFOLDERID> ids;
  for (const auto& f : tree) ids.insert(f.id);
  EXPECT_EQ(ids.size(), tree.size());
  EXPECT_FALSE(ids.count(FOLDERID_ROOT));

  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  ASSERT_EQ(work_->GetFolderProps(0, &props), S_OK);
  EXPECT_STREQ(props.szName, "Work");
  EXPECT_EQ(props.cMessage, 3u);
  EXPECT_EQ(props.cUnread, 2u);

  for (std::size_t i = 0; i < 3; ++i) {
    const Msg& m = messages_[i];
    EXPECT_EQ(m.subject, kSubjects[i]);
    EXPECT_EQ(m.from, "Ann");
    EXPECT_TRUE(m.hasMessageId);
    EXPECT_EQ((m.flags & MSG_FLAG_READ) != 0, i == 0) << m.subject;
    EXPECT_EQ(m.sent, 125911584000000000 + 10000000 * static_cast<std::int64_t>(i + 1));
  }
  EXPECT_LT(messages_[0].id, messages_[1].id);
  EXPECT_LT(messages_[1].id, messages_[2].id);
}

// The bytes as stored (an mbox message without its envelope, its quoting
// taken off), the parsed message, and refusals of what is not there.
TEST_P(StoreContract, MessagesOpenAsStoredOrParsed) {
  const MESSAGEID three = messages_[2].id;
  const std::string text = ReadStream(work_.Get(), three);
  const std::string body = "\nHello.\nFrom here on, a line an mbox writer quotes.\n";
  EXPECT_EQ(text.rfind("From: Ann", 0), 0u) << text;
  EXPECT_NE(text.find("\nSubject: three\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - std::min(text.size(), body.size())), body);
  ComPtr<IMimeMessage> parsed;
  EXPECT_EQ(work_->OpenMessage(three, IID_IMimeMessage, parsed.ReleaseAndGetVoidAddress()), S_OK);
  ComPtr<IUnknown> other;
  EXPECT_EQ(work_->OpenMessage(three, IID_IStoreFolder, other.ReleaseAndGetVoidAddress()),
            E_NOINTERFACE);
  EXPECT_FALSE(
      SUCCEEDED(work_->OpenMessage(three + 100, IID_IStream, other.ReleaseAndGetVoidAddress())));
  MESSAGEPROPS p{};
  p.cbSize = MESSAGEPROPS_SIZE;
  EXPECT_EQ(work_->GetMessageProps(three + 100, 0, &p), static_cast<HRESULT>(0x80070490));
}

// A caller's structure of another size is never written past its end, and
// a handle the store did not give is refused, never followed.
TEST_P(StoreContract, BadSizesAndHandlesAreRefused) {
  FOLDERPROPS fp{};
  fp.cbSize = sizeof(FOLDERPROPS) + 4;
  MESSAGEPROPS mp{};
  mp.cbSize = 72;
  HENUMSTORE e = nullptr;
  for (HRESULT hr :
       {ns_->GetFirstSubFolder(0, &fp, &e), ns_->GetFolderProps(1, 0, &fp),
        ns_->GetNextSubFolder(&fp, &fp), work_->GetFirstMessage(0, 0, MESSAGEID_FIRST, &mp, &e),
        work_->GetMessageProps(messages_[0].id, 0, &mp), work_->GetFolderProps(0, &fp)})
    EXPECT_EQ(hr, E_INVALIDARG);
  EXPECT_EQ(e, nullptr);
  fp.cbSize = FOLDERPROPS_SIZE;
  mp.cbSize = MESSAGEPROPS_SIZE;
  for (HRESULT hr : {ns_->GetNextSubFolder(&fp, &fp), work_->GetNextMessage(&mp, 0, &mp),
                     work_->GetMessageClose(&mp), ns_->GetSubFolderClose(&fp)})
    EXPECT_EQ(hr, E_HANDLE);
  // No subfolders: no handle to close.
  e = &fp;
  EXPECT_EQ(ns_->GetFirstSubFolder(IdOf(ns_.Get(), "Work"), &fp, &e), S_FALSE);
  EXPECT_EQ(e, nullptr);
  IStoreFolder* none = nullptr;
  for (STOREFOLDERID bad : {0u, 0xFFFFFFFFu}) EXPECT_LT(ns_->OpenFolder(bad, 0, &none), 0);
  EXPECT_EQ(none, nullptr);
}

// Ids last as long as the messages: a new namespace (a new process, as far
// as the store knows) finds the same ones.
TEST_P(StoreContract, IdsLastAcrossOpenings) {
  work_.Reset();
  ns_.Reset();
  auto again = OpenStore();
  auto work = OpenByName(again.Get(), "Work");
  auto later = Messages(work.Get());
  ASSERT_EQ(later.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(later[i].id, messages_[i].id);
}

// A writable store changes; a read-only one refuses every write, answers a
// change of the read state with whether it would change anything, and
// writes no byte into its tree, from its opening on.
TEST_P(StoreContract, WritesChangeOnlyWhatCanBeWritten) {
  MESSAGEID two = messages_[1].id, one = messages_[0].id;
  MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, &two};
  EXPECT_EQ(work_->MarkMessagesAsRead(TRUE, 0, &list), S_OK);
  MESSAGEIDLIST readOne{sizeof(MESSAGEIDLIST), 1, &one};
  EXPECT_EQ(work_->MarkMessagesAsRead(TRUE, 0, &readOne), S_FALSE);  // read already
  EXPECT_EQ(work_->MarkMessagesAsRead(FALSE, 0, &readOne), S_OK);
  MESSAGEID missing = two + 100;
  MESSAGEIDLIST bad{sizeof(MESSAGEIDLIST), 1, &missing};
  EXPECT_FALSE(SUCCEEDED(work_->MarkMessagesAsRead(TRUE, 0, &bad)));
  HRESULT deleted = work_->DeleteMessages(&readOne, 0, nullptr);
  STOREFOLDERID made = 0;
  HRESULT created = ns_->CreateFolder(FOLDERID_ROOT, "Made", 0, &made);
  MESSAGEID saved = Commit(work_.Get(), Text("four", 4));
  auto after = Messages(work_.Get());
  if (GetParam().writable) {
    EXPECT_EQ(deleted, S_OK);
    EXPECT_EQ(created, S_OK);
    EXPECT_NE(saved, 0u);
    ASSERT_EQ(after.size(), 3u);  // two, three, four
    EXPECT_EQ(after[0].id, two);
    EXPECT_TRUE(after[0].flags & MSG_FLAG_READ);
    EXPECT_EQ(after[2].id, saved);
    return;
  }
  EXPECT_EQ(deleted, E_ACCESSDENIED);
  EXPECT_FALSE(SUCCEEDED(created));
  EXPECT_EQ(saved, 0u);
  const STOREFOLDERID workId = IdOf(ns_.Get(), "Work"), inboxId = IdOf(ns_.Get(), "Inbox");
  auto inbox = OpenById(ns_.Get(), inboxId);
  DWORD flags = 0;
  int call = 0;
  for (HRESULT hr :
       {ns_->CreateFolder(workId, "New", 0, &made), ns_->RenameFolder(workId, 0, "Renamed"),
        ns_->MoveFolder(workId, inboxId, 0), ns_->DeleteFolder(workId, 0), ns_->CompactAll(0),
        ns_->CopyMoveMessages(work_.Get(), inbox.Get(), &readOne, 0, 0, nullptr),
        ns_->CopyMoveMessages(work_.Get(), inbox.Get(), &readOne, CMF_MOVE, 0, nullptr),
        ns_->CopyMoveMessages(work_.Get(), work_.Get(), &readOne, CMF_MOVE, MSG_FLAG_READ, nullptr),
        work_->SetFlags(&list, MSG_FLAG_READ, MSG_FLAG_READ, &flags)})
    EXPECT_LT(hr, 0) << "call " << call++;
  ASSERT_EQ(after.size(), 3u);
  EXPECT_FALSE(after[1].flags & MSG_FLAG_READ);
  EXPECT_EQ(Snapshot(), unopened_);
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, StoreContract, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace store
