// SPDX-License-Identifier: LGPL-2.1-or-later
// Maildir names, nested trees as synchronisers and mail clients write them,
// mbsync's ",U=" renames, and other programs' files in the store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

using com::ComPtr;
using testing::AddNestedFolder;
using testing::MaildirFixture;
using testing::WriteFile;

std::string Mail(const std::string& subject) {
  return MaildirFixture::Message("a@example.org", "b@example.org", subject);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The folder tree as "-name:messages/unread", a "-" a level.
std::vector<std::string> Shape(IStoreNamespace* ns) {
  std::vector<std::string> rows;
  for (const auto& f : FolderTree(ns))
    rows.push_back(std::string(f.depth, '-') + f.name + ":" + std::to_string(f.messages) + "/" +
                   std::to_string(f.unread));
  return rows;
}

// Every folder's id and every message's id, by folder name and subject.
std::map<std::string, DWORD> Ids(IStoreNamespace* ns) {
  std::map<std::string, DWORD> ids;
  for (const auto& f : FolderTree(ns)) {
    ids[f.name] = f.id;
    for (const auto& m : Messages(OpenById(ns, f.id).Get())) ids[f.name + "/" + m.subject] = m.id;
  }
  return ids;
}

// Sets every directory's time an hour back, as in a tree nobody touched
// lately: the store then trusts those times and reads only what changes.
void AgeTree(const std::string& root) {
  namespace fs = std::filesystem;
  const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(root, hourAgo);
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_directory() && !e.is_symlink()) fs::last_write_time(e.path(), hourAgo);
}

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fx.UseAsMailDir();
    root = fx.root() + "/Mail";
    mkdir(root.c_str(), 0700);
    setenv("MAILDIR", root.c_str(), 1);
  }
  void Put(const std::string& folder, const std::string& name, const std::string& subject) {
    WriteFile(AddNestedFolder(root, folder) + "/cur/" + name, Mail(subject));
  }
  MaildirFixture fx;
  std::string root;
};

TEST_F(LayoutTest, AnMbsyncTreeListsInTreeOrderWithStableIds) {
  Put("INBOX", "1796604429.18349_1.vm,U=1:2,RS", "seen");
  Put("INBOX", "1796604430.18349_2.vm,U=2:2,", "unseen");
  WriteFile(root + "/INBOX/.mbsyncstate", "FarUidValidity 1\n");
  WriteFile(root + "/INBOX/.uidvalidity", "1\n2\n");
  Put("Family", "1796604431.1_1.vm,U=1:2,S", "family");
  Put("Work/Projects", "1796604432.1_1.vm,U=1:2,S", "p1");
  Put("Work/Projects", "1796604433.1_1.vm,U=2:2,S", "p2");
  Put("Work", "1796604434.1_1.vm,U=1:2,S", "work");
  // A directory of folders only, and folder names with spaces and brackets.
  Put("[Gmail]/All Mail", "1796604435.1_1.vm,U=1:2,S", "all");
  AddNestedFolder(root, "[Gmail]/Sent Mail");
  // Not folders: other programs' directories, an empty one, a plain file.
  AddNestedFolder(root, ".notmuch/xapian");
  AddNestedFolder(root, "Work/.mu");
  testing::MakeDirs(root + "/empty/deeper");
  WriteFile(root + "/notes.txt", "x");

  auto ns = OpenStore();
  EXPECT_EQ(Shape(ns.Get()),
            (std::vector<std::string>{"Inbox:2/1", "[Gmail]:0/0", "-All Mail:1/0", "-Sent Mail:0/0",
                                      "Family:1/0", "Work:1/0", "-Projects:2/0"}));
  auto before = Ids(ns.Get());
  // The state files are where they were, untouched.
  EXPECT_EQ(mqtest::ReadFile(root + "/INBOX/.mbsyncstate"), "FarUidValidity 1\n");
  EXPECT_FALSE(Exists(root + "/empty/deeper/cur"));
  // Opened again, the same ids; folders that appear or go deep in a tree
  // read before show at the next walk, unchanged directories not read again.
  ns = nullptr;
  AgeTree(root);
  ns = OpenStore();
  EXPECT_EQ(Ids(ns.Get()), before);
  AddNestedFolder(root, "Work/Projects/Late");
  disk::RemoveTree(root + "/[Gmail]/Sent Mail");
  EXPECT_EQ(Shape(ns.Get()),
            (std::vector<std::string>{"Inbox:2/1", "[Gmail]:0/0", "-All Mail:1/0", "Family:1/0",
                                      "Work:1/0", "-Projects:2/0", "--Late:0/0"}));
}

TEST_F(LayoutTest, FolderWritesStayNested) {
  AddNestedFolder(root, "INBOX");
  Put("Work/Sub", "1700000001.1_1.host,U=4:2,S", "deep");
  AddNestedFolder(root, "Work");
  AddNestedFolder(root, "Lists/dev");  // Lists holds folders only
  auto ns = OpenStore();
  auto before = Ids(ns.Get());

  STOREFOLDERID archive = 0, uni = 0, underInbox = 0;
  ASSERT_EQ(ns->CreateFolder(FOLDERID_ROOT, "Archive 2024", 0, &archive), S_OK);
  EXPECT_TRUE(maildir::IsMaildir(root + "/Archive 2024"));
  EXPECT_FALSE(Exists(root + "/Archive 2024/maildirfolder"));
  ASSERT_EQ(ns->CreateFolder(before["Work"], "Ünï [x]", 0, &uni), S_OK);
  EXPECT_TRUE(maildir::IsMaildir(root + "/Work/Ünï [x]"));
  ASSERT_EQ(ns->CreateFolder(before["Inbox"], "Kept", 0, &underInbox), S_OK);
  EXPECT_TRUE(maildir::IsMaildir(root + "/INBOX/Kept"));
  // Names that cannot be a directory here.
  for (const char* bad : {"a/b", ".hidden", "cur", "tmp"})
    EXPECT_EQ(ns->CreateFolder(before["Work"], bad, 0, nullptr), E_INVALIDARG) << bad;
  EXPECT_EQ(ns->CreateFolder(FOLDERID_ROOT, "inbox", 0, nullptr),
            HRESULT_FROM_WIN32_ALREADY_EXISTS);
  EXPECT_EQ(ns->RenameFolder(before["Work"], 0, "x/y"), E_INVALIDARG);

  // Rename and move carry the folders below; ids stay.
  ASSERT_EQ(ns->RenameFolder(before["Work"], 0, "Job"), S_OK);
  EXPECT_TRUE(maildir::IsMaildir(root + "/Job/Sub"));
  EXPECT_EQ(ns->MoveFolder(before["Work"], before["Sub"], 0), E_INVALIDARG);
  ASSERT_EQ(ns->MoveFolder(before["Sub"], archive, 0), S_OK);
  EXPECT_TRUE(maildir::IsMaildir(root + "/Archive 2024/Sub"));
  auto sub = OpenById(ns.Get(), before["Sub"]);
  auto msgs = Messages(sub.Get());
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].id, before["Sub/deep"]);
  EXPECT_EQ(ReadStream(sub.Get(), msgs[0].id), Mail("deep"));

  // A folder of folders only becomes a Maildir when a message goes in.
  MESSAGEID id = msgs[0].id;
  MESSAGEIDLIST one{sizeof(MESSAGEIDLIST), 1, &id};
  EXPECT_EQ(ns->CopyMoveMessages(sub.Get(), OpenById(ns.Get(), before["Lists"]).Get(), &one, 0, 0,
                                 nullptr),
            S_OK);
  EXPECT_EQ(FilesIn(root + "/Lists/cur").size(), 1u);
  EXPECT_TRUE(maildir::IsMaildir(root + "/Lists/dev"));

  EXPECT_EQ(ns->DeleteFolder(archive, 0), S_OK);
  auto after = Shape(ns.Get());
  EXPECT_EQ(after, (std::vector<std::string>{"Inbox:0/0", "-Kept:0/0", "Job:0/0", "-Ünï [x]:0/0",
                                             "Lists:1/0", "-dev:0/0"}));
  // Only the store's own entries at the root: no Maildir++ names, nothing left
  // where a folder was renamed or deleted.
  EXPECT_EQ(FilesIn(root), (std::vector<std::string>{
                               "INBOX", "Job", "Lists", "mailquarry-index.sqlite",
                               "mailquarry-index.sqlite-shm", "mailquarry-index.sqlite-wal"}));
  ns = nullptr;
  ns = OpenStore();
  EXPECT_EQ(Shape(ns.Get()), after);
  EXPECT_EQ(IdOf(ns.Get(), "Job"), before["Work"]);
}

TEST_F(LayoutTest, RootsThatAreOrAreNotAMaildir) {
  // A Maildir root with folders in directories of their own: the root is
  // the Inbox, and new folders are made the same way.
  Put("", "1700000001.1_1.host:2,", "in inbox");
  AddNestedFolder(root, "Work");
  {
    auto ns = OpenStore();
    EXPECT_EQ(Shape(ns.Get()), (std::vector<std::string>{"Inbox:1/1", "Work:0/0"}));
    EXPECT_EQ(ns->CreateFolder(FOLDERID_ROOT, "New", 0, nullptr), S_OK);
    EXPECT_TRUE(maildir::IsMaildir(root + "/New"));
    EXPECT_EQ(ns->CreateFolder(IdOf(ns.Get(), "Inbox"), "x", 0, nullptr), E_INVALIDARG);
  }
  // No INBOX: an empty Inbox, and the first message into it makes INBOX/.
  std::string noInbox = fx.root() + "/NoInbox";
  AddNestedFolder(noInbox, "Work");
  setenv("MAILDIR", noInbox.c_str(), 1);
  {
    auto ns = OpenStore();
    EXPECT_EQ(Shape(ns.Get()), (std::vector<std::string>{"Inbox:0/0", "Work:0/0"}));
    ComPtr<IStoreFolder> inbox;
    ASSERT_EQ(ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_NE(Commit(inbox.Get(), Mail("first")), 0u);
    EXPECT_EQ(FilesIn(noInbox + "/INBOX/cur").size(), 1u);
  }
  // A directory with no Maildir in it is refused, and nothing is written there.
  std::string plain = fx.root() + "/Plain";
  testing::MakeDirs(plain + "/a/b");
  setenv("MAILDIR", plain.c_str(), 1);
  ComPtr<IStoreNamespace> ns;
  ASSERT_EQ(CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_LT(ns->Initialize(nullptr, 0), 0);
  EXPECT_EQ(FilesIn(plain), std::vector<std::string>{"a"});
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE e = nullptr;
  EXPECT_EQ(ns->GetFirstSubFolder(0, &props, &e), E_UNEXPECTED);
}

// mbsync adds ",U=<uid>" to every name it syncs and changes it when the UID
// changes (its round trip shows the message stays the same). An index of the
// previous version keyed rows by the whole unique name, ",U=" and all: its
// messages keep their ids too, and the delivery time is read past the
// ",key=value" parts.
TEST_F(LayoutTest, AnEarlierIndexKeepsItsIdsThroughUidRenames) {
  setenv("MAILDIR", fx.root().c_str(), 1);
  const std::string cur = fx.root() + "/cur/";
  WriteFile(cur + "1700000001.1_1.host,S=10,U=9:2,S", Mail("one"));
  WriteFile(cur + "1700000002.2_1.host:2,", Mail("two"));
  WriteFile(cur + "1700000003.3_1.host,U=5:2,F", Mail("three"));
  const auto before = Ids(OpenStore().Get());
  ASSERT_EQ(before.size(), 4u);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((fx.root() + "/mailquarry-index.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "UPDATE messages SET uniq = substr(name, 1, instr(name, ':2,') - 1)"
                         " WHERE instr(name, ':2,') > 0; PRAGMA user_version=2;",
                         0, 0, 0),
            SQLITE_OK);
  sqlite3_close(db);
  for (const auto& [from, to] : std::map<std::string, std::string>{
           {"1700000001.1_1.host,S=10,U=9:2,S", "1700000001.1_1.host,S=10:2,S"},
           {"1700000002.2_1.host:2,", "1700000002.2_1.host,U=10:2,S"},
           {"1700000003.3_1.host,U=5:2,F", "1700000003.3_1.host,U=6:2,F"}})
    ASSERT_EQ(rename((cur + from).c_str(), (cur + to).c_str()), 0) << from;
  auto ns = OpenStore();
  EXPECT_EQ(Ids(ns.Get()), before);
  auto msgs = Messages(OpenById(ns.Get(), before.at("Inbox")).Get());
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0].received, 133444736010000000LL);  // 2023-11-14 22:13:21 UTC
  EXPECT_EQ(msgs[2].received, 133444736030000000LL);  // 2023-11-14 22:13:23 UTC
  EXPECT_TRUE(msgs[1].flags & MSG_FLAG_READ);
}

TEST_F(LayoutTest, CopiesAndMovesLoseTheUidKeepTheTimeAndFlagChangesKeepOtherLetters) {
  setenv("MAILDIR", fx.root().c_str(), 1);
  fx.AddFolder({"Work"});
  std::string cur = fx.root() + "/cur/";
  WriteFile(cur + "1700000001.1_1.host,S=10,U=3:2,PTa", Mail("keywords"));
  WriteFile(cur + "1700000002.2_1.host,S=20,U=4:2,S", Mail("moved"));
  WriteFile(cur + "1600000000.3_1.host:2,FS", Mail("flagged"));
  auto ns = OpenStore();
  auto ids = Ids(ns.Get());
  auto inbox = OpenById(ns.Get(), ids["Inbox"]);
  auto work = OpenById(ns.Get(), ids["Work"]);
  MESSAGEID id = ids["Inbox/keywords"];
  MESSAGEIDLIST one{sizeof(MESSAGEIDLIST), 1, &id};
  EXPECT_EQ(inbox->MarkMessagesAsRead(TRUE, 0, &one), S_OK);
  EXPECT_TRUE(Exists(cur + "1700000001.1_1.host,S=10,U=3:2,PSTa"));
  EXPECT_EQ(inbox->MarkMessagesAsRead(FALSE, 0, &one), S_OK);
  EXPECT_TRUE(Exists(cur + "1700000001.1_1.host,S=10,U=3:2,PTa"));

  EXPECT_EQ(ns->CopyMoveMessages(inbox.Get(), work.Get(), &one, 0, 0, nullptr), S_OK);
  id = ids["Inbox/moved"];
  EXPECT_EQ(ns->CopyMoveMessages(inbox.Get(), work.Get(), &one, CMF_MOVE, 0, nullptr), S_OK);
  auto names = FilesIn(fx.FolderDir({"Work"}) + "/cur");
  ASSERT_EQ(names.size(), 2u);
  for (const auto& n : names) EXPECT_EQ(n.find(",U="), std::string::npos) << n;
  EXPECT_EQ(names[0].substr(0, 11), "1700000001.");
  EXPECT_EQ(names[1], "1700000002.2_1.host,S=20:2,S");

  // Copies drop the flags asked ("remove the complement": none) and keep the
  // delivery time and the bytes; a copy deleted is gone, and deleted once.
  id = ids["Inbox/flagged"];
  const DWORD readFlagged = MSG_FLAG_READ | MSG_FLAG_FLAGGED;
  EXPECT_EQ(ns->CopyMoveMessages(inbox.Get(), work.Get(), &one, 0, ~readFlagged, nullptr), S_OK);
  EXPECT_EQ(ns->CopyMoveMessages(inbox.Get(), work.Get(), &one, 0, MSG_FLAG_READ, nullptr), S_OK);
  auto inWork = Messages(work.Get());
  ASSERT_EQ(inWork.size(), 4u);
  EXPECT_EQ(inWork[2].flags & 0x3F, readFlagged);
  EXPECT_EQ(inWork[3].flags & 0x3F, MSG_FLAG_FLAGGED);
  EXPECT_EQ(inWork[3].received, 132444736000000000LL);  // 2020-09-13 12:26:40 UTC
  EXPECT_EQ(ReadStream(work.Get(), inWork[3].id), Mail("flagged"));
  id = inWork[3].id;
  EXPECT_EQ(work->DeleteMessages(&one, 0, nullptr), S_OK);
  EXPECT_LT(work->DeleteMessages(&one, 0, nullptr), 0);
  EXPECT_EQ(FilesIn(fx.FolderDir({"Work"}) + "/cur").size(), 3u);
}

TEST_F(LayoutTest, OtherProgramsFilesAreNeitherListedNorTouchedButStaleTmpFilesGo) {
  setenv("MAILDIR", fx.root().c_str(), 1);
  fx.AddMessage({"Work"}, Mail("w"));
  fx.AddMessage({}, Mail("i"));
  const std::string r = fx.root();
  AddNestedFolder(r, ".notmuch/xapian");
  AddNestedFolder(r, ".mu");
  std::vector<std::string> theirs = {r + "/dovecot-uidlist",
                                     r + "/dovecot.index.log",
                                     r + "/dovecot-keywords",
                                     r + "/subscriptions",
                                     r + "/.Work/dovecot-uidlist",
                                     r + "/.Work/.mbsyncstate",
                                     r + "/.Work/.uidvalidity",
                                     r + "/cur/.hidden",
                                     r + "/tmp/young"};  // a delivery under way
  for (const auto& p : theirs) WriteFile(p, "theirs " + p);
  // Left by a writer killed a day and a half ago: compaction removes it.
  const std::string stale = r + "/tmp/old";
  WriteFile(stale, "x");
  struct timespec old[2] = {{time(nullptr) - 37 * 3600, 0}, {time(nullptr) - 37 * 3600, 0}};
  utimensat(AT_FDCWD, stale.c_str(), old, 0);
  auto ns = OpenStore();
  EXPECT_EQ(Shape(ns.Get()), (std::vector<std::string>{"Inbox:1/1", "Work:1/1"}));
  auto ids = Ids(ns.Get());
  auto work = OpenById(ns.Get(), ids["Work"]);
  MESSAGEID id = ids["Work/w"];
  MESSAGEIDLIST one{sizeof(MESSAGEIDLIST), 1, &id};
  EXPECT_EQ(work->MarkMessagesAsRead(TRUE, 0, &one), S_OK);
  EXPECT_EQ(
      ns->CopyMoveMessages(work.Get(), OpenById(ns.Get(), ids["Inbox"]).Get(), &one, 0, 0, nullptr),
      S_OK);
  EXPECT_EQ(work->DeleteMessages(&one, 0, nullptr), S_OK);
  EXPECT_EQ(ns->CompactAll(0), S_OK);
  for (const auto& p : theirs) EXPECT_EQ(mqtest::ReadFile(p), "theirs " + p);
  EXPECT_TRUE(maildir::IsMaildir(r + "/.notmuch/xapian"));
  EXPECT_FALSE(Exists(stale));
}

TEST(MaildirNames, EncodesAsModifiedUtf7AndRoundTrips) {
  EXPECT_EQ(maildir::EncodeName("R&D"), "R&-D");
  EXPECT_EQ(maildir::EncodeName("台北"), "&U,BTFw-");
  for (const char* name : {"Sent", "R&D", "Entwürfe", "台北", "a.b/c", "..", "&-", "😀 x", "\t"}) {
    auto decoded = maildir::DecodeName(maildir::EncodeName(name));
    ASSERT_TRUE(decoded) << name;
    EXPECT_EQ(*decoded, name);
    EXPECT_EQ(maildir::EncodeName(name).find_first_of("./"), std::string::npos);
  }
  EXPECT_FALSE(maildir::DecodeName("&U,BTFw"));  // unterminated
  EXPECT_FALSE(maildir::DecodeName("&2D3-"));    // lone surrogate, bad padding
  EXPECT_EQ(maildir::DisplayName("bad&name"), "bad&name");
}

TEST(MaildirNames, FolderDirectoriesAndFileNames) {
  for (const char* notAFolder : {"..", ".A..B", "cur"})
    EXPECT_FALSE(maildir::SplitFolderDir(notAFolder)) << notAFolder;
  // Unknown letters (keywords) survive a flag change; letters stay sorted.
  EXPECT_EQ(maildir::InfoWithFlags("Sa", MSG_FLAG_REPLIED | MSG_FLAG_DRAFT), "DRa");
  // mbsync's ",U=<uid>" leaves a message's key only when it is well formed.
  std::string buffer;
  for (const auto& [name, key] : std::vector<std::pair<const char*, const char*>>{
           {"1.2.host,S=5,U=12,W=9", "1.2.host,S=5,W=9"},
           {"1.2.host,U=1,U=2", "1.2.host"},
           {"1.2.host,U=12x", "1.2.host,U=12x"},
           {"1.2.host,U=", "1.2.host,U="}})
    EXPECT_EQ(maildir::MessageKey(name, &buffer), key) << name;
}

}  // namespace
}  // namespace store
