// SPDX-License-Identifier: LGPL-2.1-or-later
// The control as a client meets it: registered with the store into a
// temporary registry, created by its ProgID, hosted headless in run mode over
// a Maildir fixture, and driven by name through IDispatch only. This program
// does not link the control.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/enum_variant.h"
#include "platform/store/testing/store_test_util.h"
#include "tests/support/hosted_control.h"

namespace {

namespace fs = std::filesystem;
using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using store::testing::MaildirFixture;
using Texts = std::vector<std::string>;
using namespace std::string_literals;

constexpr std::int64_t kDelivered = 1167707045;  // 2007-01-02 03:04:05 UTC

// The Maildir++ folder directories below the root (".A", ".A.A1", ...), sorted.
Texts FolderDirs(const std::string& root) {
  Texts dirs;
  for (const auto& e : fs::directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name[0] == '.' && fs::exists(e.path() / "cur")) dirs.push_back(name);
  }
  std::sort(dirs.begin(), dirs.end());
  return dirs;
}

// Inbox, A (with A1) and B; two messages in A1.
class ControlE2E : public mqtest::HostedControlTest {
 protected:
  void SetUp() override {
    HostedControlTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fixture_.AddFolder({"A"});
    fixture_.AddFolder({"A", "A1"});
    fixture_.AddFolder({"B"});
    fixture_.AddMessage({}, MaildirFixture::Message("x@example.org", "y@example.org", "inbox"));
    first_ =
        "From: Ann Example <ann@example.org>\r\nTo: Bob <bob@example.org>, carol@example.org\r\n"
        "Subject: Re: Quarterly report 1\r\nDate: Sat, 3 Feb 2001 04:05:06 +0000\r\n\r\nBody.\r\n";
    fixture_.AddMessage({"A", "A1"}, first_, {"FS", kDelivered, false});
    fixture_.AddMessage(
        {"A", "A1"},
        "From: dave@example.org\r\nTo: Eve <eve@example.org>\r\nSubject: Plans 2\r\n"
        "Date: Mon, 9 Sep 2024 23:01:02 +0000\r\n\r\nBody.\r\n",
        {"", kDelivered + 60, false});
    Start();
  }

  Texts Names() {
    Texts names;
    for (SHORT i = 0; i < Get(folders_, "Count").Long(); ++i)
      names.push_back(Call(folders_, "FindFolderName", i).Str());
    return names;
  }
  LONG IdOf(const std::string& name) {
    const auto names = Names();
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return -1;
    return Call(folders_, "FindFolderID", static_cast<SHORT>(it - names.begin())).Long();
  }
  // What a for-each loop sees: `property` of every member.
  static Texts Walk(IEnumVARIANT* e, const char* property) {
    Texts seen;
    VARIANT v;
    ULONG n = 0;
    while (e->Next(1, &v, &n) == S_OK && n == 1) {
      seen.push_back(Get(v.pdispVal, property).Str());
      VariantClear(&v);
    }
    return seen;
  }
  com::ComPtr<IEnumVARIANT> NewEnum(const com::ComPtr<IDispatch>& collection) {
    auto result = Get(collection, "_NewEnum");
    EXPECT_EQ(result.value.vt, VT_UNKNOWN);
    com::ComPtr<IEnumVARIANT> e;
    if (auto unknown = result.Unknown()) {
      EXPECT_EQ(unknown.As(&e), S_OK);
    }
    return e;
  }

  std::string first_;
};

TEST_F(ControlE2E, ReadsTheFolderTreeAndTheMessagesOfTheSelectedFolder) {
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A1", "B"}));
  EXPECT_EQ(Call(folders_, "FindFolderName", SHORT{4}).Str(), "");
  EXPECT_EQ(Get(Get(folders_, "Item", 3).Object(), "Name").Str(), "A1");

  EXPECT_EQ(Get(messages_, "Count").Long(), 0);
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(Get(control_, "Folder").Long(), 2);
  ASSERT_EQ(Get(messages_, "Count").Long(), 2);
  auto first = Get(messages_, "Item", 1).Object();
  EXPECT_EQ(Get(first, "Subject").Str(), "Quarterly report 1");  // without the "Re: "
  EXPECT_EQ(Get(first, "DisplayTo").Str(), "Bob; carol@example.org");
  EXPECT_EQ(Get(Get(messages_, "Item", "Plans 2").Object(), "SentTime").Str(),
            "2024/09/09 23:01:02");

  // Every write of Folder reads the store again; one outside the list empties it.
  fixture_.AddMessage({"A", "A1"}, MaildirFixture::Message("f@example.org", "g@x.org", "late"));
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(Get(messages_, "Count").Long(), 3);
  for (SHORT outside : {SHORT{-1}, SHORT{99}}) {
    ASSERT_EQ(Put(control_, "Folder", outside).hr, S_OK);
    EXPECT_EQ(Get(messages_, "Count").Long(), 0) << outside;
    EXPECT_EQ(Get(control_, "Folder").Long(), outside);
  }
  // A folder the list does not hold yet is selected by its id.
  fixture_.AddMessage({"C"}, MaildirFixture::Message("f@example.org", "g@x.org", "new"));
  const STOREFOLDERID late = store::IdOf(store::OpenStore().Get(), "C");
  ASSERT_GE(late, 4u);
  ASSERT_EQ(Put(control_, "Folder", static_cast<SHORT>(late)).hr, S_OK);
  EXPECT_EQ(Get(messages_, "Count").Long(), 1);
}

TEST_F(ControlE2E, WithoutAStoreEveryCountIsZero) {
  mqtest::TempDir empty;  // an empty directory is no Maildir
  mqtest::ScopedEnv maildir("MAILDIR", empty.path());
  Start();
  ASSERT_EQ(Put(control_, "Folder", SHORT{1}).hr, S_OK);
  EXPECT_EQ(Get(control_, "Folder").Long(), 1);
  for (const auto& collection : {folders_, messages_, contacts_})
    EXPECT_EQ(Get(collection, "Count").Long(), 0);
}

// The store refuses to compact another program's mbox file: FALSE.
TEST_F(ControlE2E, CompactAllOverAnotherProgramsMailboxAnswersFalse) {
  mqtest::TempDir dir;
  const std::string mbox = dir / "inbox", text = "From a@x.org Sat Jan  1 00:00:00 2000\n\nhi\n";
  mqtest::WriteFile(mbox, text);
  mqtest::ScopedEnv maildir("MAILDIR", mbox);
  Start();
  EXPECT_FALSE(Call(folders_, "CompactAll", 0).Bool());
  EXPECT_EQ(mqtest::ReadFile(mbox), text);
}

TEST_F(ControlE2E, CreatedFoldersShowAfterRefreshInTreeOrder) {
  EXPECT_EQ(Call(folders_, "CreateFolder", "C", 0).Bool(), true);
  EXPECT_EQ(Call(folders_, "CreateFolder", "A0", IdOf("A")).Bool(), true);
  EXPECT_EQ(Get(folders_, "Count").Long(), 4);  // the snapshot does not follow
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.A0", ".A.A1", ".B", ".C"}));
  ASSERT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A0", "A1", "B", "C"}));

  // Refused names and unknown parents change nothing.
  // A name with a NUL inside would reach the store cut short.
  for (const std::string& name : {""s, "   "s, "C"s, "a\0b"s})
    EXPECT_FALSE(Call(folders_, "CreateFolder", name, 0).Bool());
  EXPECT_FALSE(Call(folders_, "RenameFolder", "a\0b"s, IdOf("C")).Bool());
  EXPECT_FALSE(Call(folders_, "CreateFolder", "D", 4242).Bool());
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.A0", ".A.A1", ".B", ".C"}));
}

TEST_F(ControlE2E, RenameMoveAndDeleteShowOnDiskAndAfterRefresh) {
  const LONG a = IdOf("A"), a1 = IdOf("A1"), b = IdOf("B");
  EXPECT_EQ(Call(folders_, "RenameFolder", "Bee", b).Bool(), true);
  EXPECT_EQ(Call(folders_, "MoveFolder", b, a).Bool(), true);
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.A1", ".A.Bee"}));
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A1", "B"}));  // until Refresh
  ASSERT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A1", "Bee"}));
  EXPECT_EQ(IdOf("Bee"), b);  // the id stays with the folder

  EXPECT_EQ(Call(folders_, "DeleteFolder", a1).Bool(), true);
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.Bee"}));

  // Refusals: unknown ids, a name nobody can tell apart, a folder into itself.
  EXPECT_FALSE(Call(folders_, "DeleteFolder", 4242).Bool());
  EXPECT_FALSE(Call(folders_, "RenameFolder", "X", 4242).Bool());
  EXPECT_FALSE(Call(folders_, "RenameFolder", " ", a).Bool());
  EXPECT_FALSE(Call(folders_, "MoveFolder", a, b).Bool());
  EXPECT_FALSE(Call(folders_, "MoveFolder", 4242, 0).Bool());
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.Bee"}));
  EXPECT_EQ(Call(folders_, "CompactAll", 5).Bool(), true);
}

TEST_F(ControlE2E, CopyAndMoveByMessageIdKeepFlags) {
  const LONG b = IdOf("B");
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);  // A1
  const LONG one = Call(messages_, "FindMessageID", 0).Long();
  const LONG two = Call(messages_, "FindMessageID", 1).Long();
  ASSERT_GT(one, 0);
  ASSERT_GT(two, 0);

  EXPECT_EQ(Call(folders_, "CopyMessage", one, b).Bool(), true);
  EXPECT_EQ(Call(folders_, "MoveMessage", two, b).Bool(), true);
  EXPECT_EQ(Call(folders_, "MoveMessage", two, b).Bool(), false);  // gone from A1
  EXPECT_EQ(Call(folders_, "CopyMessage", 999999, b).Bool(), false);
  EXPECT_EQ(Call(folders_, "CopyMessage", one, 4242).Bool(), false);
  // The moved message stays in the list until it is rebuilt.
  EXPECT_EQ(Get(Get(messages_, "Item", 2).Object(), "Subject").Str(), "Plans 2");
  // The copy left the original where it was, flags and all.
  const auto kept = fixture_.Files({"A", "A1"});
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(kept[0].ends_with(":2,FS"));

  ASSERT_EQ(Put(control_, "Folder", SHORT{3}).hr, S_OK);  // B
  EXPECT_TRUE(Get(messages_, "Item", "Quarterly report 1").Object());
  EXPECT_TRUE(Get(messages_, "Item", "Plans 2").Object());
  Texts infos;
  for (const auto& file : fixture_.Files({"B"})) {
    const bool first = mqtest::ReadFile(file) == first_;
    infos.push_back((first ? "first:" : "second:") + file.substr(file.rfind(":2,") + 3));
  }
  std::sort(infos.begin(), infos.end());
  EXPECT_EQ(infos, (Texts{"first:FS", "second:"}));

  // Without a current folder nothing is copied.
  ASSERT_EQ(Put(control_, "Folder", SHORT{-1}).hr, S_OK);
  EXPECT_FALSE(Call(folders_, "CopyMessage", one, IdOf("A")).Bool());
  EXPECT_TRUE(fixture_.Files({"A"}).empty());
}

TEST_F(ControlE2E, CreateMessageStoresExactlyTheComposedText) {
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  const auto before = fixture_.Files({});
  EXPECT_EQ(Call(folders_, "CreateMessage", 0, "w", "x", "y", "z").Bool(), true);
  EXPECT_FALSE(Call(folders_, "CreateMessage", 4, "w", "x", "y", "z").Bool());
  EXPECT_FALSE(Call(folders_, "CreateMessage", -1, "w", "x", "y", "z").Bool());
  // The selection and its list are untouched.
  EXPECT_EQ(Get(control_, "Folder").Long(), 2);
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
  Texts created;
  for (const auto& file : fixture_.Files({}))
    if (std::find(before.begin(), before.end(), file) == before.end())
      created.push_back(mqtest::ReadFile(file));
  EXPECT_EQ(created, Texts{"From: w\r\nTo:x\r\nSubject:y\r\n\r\nz"});
}

// Enumerators, collections and members a client holds past the window and
// the host answer neutrally and stay safe.
TEST_F(ControlE2E, EnumeratorsWalkTheListsAndEverythingHeldOutlivesTheWindow) {
  auto folders = NewEnum(folders_);
  ASSERT_TRUE(folders);
  EXPECT_EQ(Walk(folders.Get(), "Name"), (Texts{"Inbox", "A", "A1", "B"}));

  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  auto messages = NewEnum(messages_);
  ASSERT_TRUE(messages);
  VARIANT v;
  ULONG n = 5;
  ASSERT_EQ(messages->Next(1, &v, nullptr), S_OK);
  com::ComPtr<IDispatch> message(v.pdispVal);
  VariantClear(&v);
  // A rebuilt list ends the walk; Reset starts on the new one.
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(messages->Next(1, &v, &n), S_FALSE);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(messages->Reset(), S_OK);
  EXPECT_EQ(Walk(messages.Get(), "Subject"), (Texts{"Quarterly report 1", "Plans 2"}));

  // The window goes while both enumerators and a member live.
  ASSERT_EQ(folders->Reset(), S_OK);
  ASSERT_EQ(folders->Next(1, &v, nullptr), S_OK);
  ASSERT_EQ(messages->Reset(), S_OK);
  ASSERT_EQ(host_->Deactivate(), S_OK);
  EXPECT_FALSE(Get(control_, "Folders").Object());
  EXPECT_EQ(Get(v.pdispVal, "Name").Str(), "Inbox");
  VariantClear(&v);
  EXPECT_EQ(folders->Next(1, &v, &n), S_FALSE);
  EXPECT_EQ(messages->Reset(), S_OK);
  EXPECT_EQ(messages->Next(1, &v, &n), S_FALSE);

  host_.reset();  // the host is gone too; the client still holds everything
  EXPECT_EQ(Get(folders_, "Count").Long(), 0);
  EXPECT_EQ(Call(folders_, "FindFolderName", SHORT{0}).Str(), "");
  EXPECT_EQ(Call(folders_, "FindFolderID", SHORT{0}).Long(), 0);
  EXPECT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Get(folders_, "Count").Long(), 0);
  EXPECT_FALSE(Get(folders_, "Item", 1).Object());
  EXPECT_EQ(Get(messages_, "Count").Long(), 0);
  EXPECT_EQ(Get(contacts_, "Count").Long(), 0);
  EXPECT_EQ(Get(message, "Subject").Str(), "Quarterly report 1");
  EXPECT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(Get(control_, "Folder").Long(), 2);
  // Every member that would change the store answers FALSE and changes nothing.
  const auto before = store::TreeSnapshot(fixture_.root());
  for (auto refused :
       {Call(folders_, "CreateFolder", "New", 0), Call(folders_, "RenameFolder", "Other", 1),
        Call(folders_, "MoveFolder", 1, 0), Call(folders_, "DeleteFolder", 1),
        Call(folders_, "CopyMessage", 1, 1), Call(folders_, "MoveMessage", 1, 1),
        Call(folders_, "CreateMessage", 0, "w", "x", "y", "z"), Call(folders_, "CompactAll", 0),
        Call(messages_, "DeleteMessage", 0)})
    EXPECT_EQ(refused.Bool(), false);
  EXPECT_EQ(store::TreeSnapshot(fixture_.root()), before);

  TearDown();
  EXPECT_EQ(folders->Next(1, &v, &n), S_FALSE);
  com::ComPtr<IEnumVARIANT> copy;
  EXPECT_EQ(folders->Clone(copy.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(copy->Skip(0), S_OK);
}

}  // namespace
