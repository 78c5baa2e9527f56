// The folder collection's store operations and the collection enumerators as
// a client meets them: by name through IDispatch, over a Maildir fixture and
// the real store.
//
// Built twice: as a cross-module test (the control and the store loaded
// through a temporary registry; this program does not link the control), and
// with MQ_FOLDERS_IN_PROCESS as an in-process test that hosts the control
// itself over the store engine, so the same cases run while the store module
// is not built.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/enum_variant.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/ui/control_host.h"
#include "tests/support/automation_client.h"
#include "tests/support/registered_modules.h"

#ifdef MQ_FOLDERS_IN_PROCESS
#include "control/mailquarry_ctrl.h"
#else
#include "platform/com/activation.h"
#endif

namespace {

using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using store::testing::MaildirFixture;

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The Maildir++ directories below the root (".A", ".A.A1", ...), sorted.
std::vector<std::string> FolderDirs(const std::string& root) {
  std::vector<std::string> dirs;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 1 && name[0] == '.' && name != ".." && Exists(root + "/" + name + "/cur"))
        dirs.push_back(name);
    }
    closedir(d);
  }
  std::sort(dirs.begin(), dirs.end());
  return dirs;
}

class FoldersE2E : public ::testing::Test {
 protected:
#ifndef MQ_FOLDERS_IN_PROCESS
  static void SetUpTestSuite() {
    registry_ = new mqtest::RegisteredModules();
  }
  static void TearDownTestSuite() {
    delete registry_;
    registry_ = nullptr;
  }
  static mqtest::RegisteredModules* registry_;
#endif

  void SetUp() override {
#ifdef MQ_FOLDERS_IN_PROCESS
    mq::CMailquarryCtrl::SetStoreMakerForTesting([](IStoreNamespace** out) {
      return store::CreateStoreNamespace(IID_IStoreNamespace, reinterpret_cast<void**>(out));
    });
#else
    if (access((mqtest::BinDir() + "/MailStore.so").c_str(), F_OK) != 0)
      GTEST_SKIP() << "the store module is not built";
    ASSERT_TRUE(registry_->Ok()) << registry_->Log();
#endif
    fixture_.AddFolder({"A"});
    fixture_.AddFolder({"A", "A1"});
    fixture_.AddFolder({"B"});
    fixture_.AddMessage({}, MaildirFixture::Message("x@example.org", "y@example.org", "inbox"));
    fixture_.AddMessage({"A", "A1"},
                        MaildirFixture::Message("a@example.org", "b@example.org", "one"),
                        {"FS", 0, false});
    fixture_.AddMessage({"A", "A1"},
                        MaildirFixture::Message("c@example.org", "d@example.org", "two"));
    fixture_.UseAsMailDir();
    host_ = std::make_unique<ui::ControlHost>(/*userMode=*/true);
#ifdef MQ_FOLDERS_IN_PROCESS
    ASSERT_EQ(host_->Attach(com::MakeObject<mq::CMailquarryCtrl>()->Identity()), S_OK);
#else
    CLSID clsid{};
    ASSERT_EQ(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid), S_OK);
    ASSERT_EQ(host_->Create(clsid), S_OK);
#endif
    ASSERT_EQ(host_->Activate(nullptr, ui::Rect::FromSize(0, 0, 100, 30)), S_OK);
    control_ = host_->Dispatch();
    folders_ = Get(control_, "Folders").Object();
    messages_ = Get(control_, "Messages").Object();
    ASSERT_TRUE(folders_ && messages_);
  }
  void TearDown() override {
    folders_.Reset();
    messages_.Reset();
    control_.Reset();
    host_.reset();
#ifdef MQ_FOLDERS_IN_PROCESS
    mq::CMailquarryCtrl::SetStoreMakerForTesting(nullptr);
#endif
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    const LONG count = Get(folders_, "Count").Long();
    for (SHORT i = 0; i < count; ++i) names.push_back(Call(folders_, "FindFolderName", i).Str());
    return names;
  }
  LONG IdOf(const std::string& name) {
    const auto names = Names();
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return -1;
    return Call(folders_, "FindFolderID", static_cast<SHORT>(it - names.begin())).Long();
  }
  // The id of the message at `position` of the message list.
  LONG MessageId(LONG position) {
    return Call(messages_, "FindMessageID", position).Long();
  }
  com::ComPtr<IEnumVARIANT> NewEnum(const com::ComPtr<IDispatch>& collection) {
    auto result = Get(collection, "_NewEnum");
    EXPECT_EQ(result.value.vt, VT_UNKNOWN);
    com::ComPtr<IUnknown> unknown = result.Unknown();
    com::ComPtr<IEnumVARIANT> e;
    if (unknown) {
      EXPECT_EQ(unknown.As(&e), S_OK);
    }
    if (e) {
      EXPECT_EQ(static_cast<void*>(e.Get()), static_cast<void*>(unknown.Get()));
    }
    return e;
  }
  // What a for-each loop sees: the Name (or Subject) of every member.
  static std::vector<std::string> Walk(IEnumVARIANT* e, const char* property) {
    std::vector<std::string> seen;
    VARIANT v;
    ULONG n = 0;
    while (e->Next(1, &v, &n) == S_OK && n == 1) {
      seen.push_back(Get(v.pdispVal, property).Str());
      VariantClear(&v);
    }
    return seen;
  }

  MaildirFixture fixture_;
  std::unique_ptr<ui::ControlHost> host_;
  com::ComPtr<IDispatch> control_, folders_, messages_;
};

#ifndef MQ_FOLDERS_IN_PROCESS
mqtest::RegisteredModules* FoldersE2E::registry_ = nullptr;
#endif

using Texts = std::vector<std::string>;

TEST_F(FoldersE2E, CreatedFoldersShowAfterRefreshInTreeOrder) {
  EXPECT_EQ(Call(folders_, "CreateFolder", "C", 0).Bool(), true);
  EXPECT_EQ(Call(folders_, "CreateFolder", "A0", IdOf("A")).Bool(), true);
  EXPECT_EQ(Get(folders_, "Count").Long(), 4);  // the snapshot does not follow
  EXPECT_TRUE(Exists(fixture_.root() + "/.C/cur"));
  EXPECT_TRUE(Exists(fixture_.root() + "/.A.A0/cur"));
  ASSERT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A0", "A1", "B", "C"}));

  // Refused names and unknown parents change nothing.
  const auto dirs = FolderDirs(fixture_.root());
  EXPECT_EQ(Call(folders_, "CreateFolder", "", 0).Bool(), false);
  EXPECT_EQ(Call(folders_, "CreateFolder", "   ", 0).Bool(), false);
  EXPECT_EQ(Call(folders_, "CreateFolder", "C", 0).Bool(), false);  // exists
  EXPECT_EQ(Call(folders_, "CreateFolder", "D", 4242).Bool(), false);
  EXPECT_EQ(FolderDirs(fixture_.root()), dirs);
  ASSERT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Get(folders_, "Count").Long(), 6);
}

TEST_F(FoldersE2E, RenameMoveAndDeleteShowOnDiskAndAfterRefresh) {
  const LONG a = IdOf("A"), a1 = IdOf("A1"), b = IdOf("B");
  EXPECT_EQ(Call(folders_, "RenameFolder", "Bee", b).Bool(), true);
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.A1", ".Bee"}));
  EXPECT_EQ(Call(folders_, "MoveFolder", b, a).Bool(), true);
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.A1", ".A.Bee"}));
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A1", "B"}));  // until Refresh
  ASSERT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "A1", "Bee"}));
  EXPECT_EQ(IdOf("Bee"), b);  // the id stays with the folder

  EXPECT_EQ(Call(folders_, "DeleteFolder", a1).Bool(), true);
  EXPECT_EQ(FolderDirs(fixture_.root()), (Texts{".A", ".A.Bee"}));
  EXPECT_EQ(Get(folders_, "Count").Long(), 4);
  ASSERT_EQ(Call(folders_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "Bee"}));

  // Refusals: unknown ids, a name nobody can tell apart, a folder into itself.
  const auto dirs = FolderDirs(fixture_.root());
  EXPECT_EQ(Call(folders_, "DeleteFolder", 4242).Bool(), false);
  EXPECT_EQ(Call(folders_, "RenameFolder", "X", 4242).Bool(), false);
  EXPECT_EQ(Call(folders_, "RenameFolder", " ", a).Bool(), false);
  EXPECT_EQ(Call(folders_, "MoveFolder", a, b).Bool(), false);
  EXPECT_EQ(Call(folders_, "MoveFolder", 4242, 0).Bool(), false);
  EXPECT_EQ(FolderDirs(fixture_.root()), dirs);
  EXPECT_EQ(Call(folders_, "CompactAll", 5).Bool(), true);
  EXPECT_EQ(Names(), (Texts{"Inbox", "A", "Bee"}));
}

TEST_F(FoldersE2E, CopyAndMoveByMessageIdKeepFlags) {
  const LONG b = IdOf("B");
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);  // A1
  ASSERT_EQ(Get(messages_, "Count").Long(), 2);
  const LONG one = MessageId(0), two = MessageId(1);
  ASSERT_GT(one, 0);
  ASSERT_GT(two, 0);

  EXPECT_EQ(Call(folders_, "CopyMessage", one, b).Bool(), true);
  EXPECT_EQ(Call(folders_, "MoveMessage", two, b).Bool(), true);
  EXPECT_EQ(Call(folders_, "MoveMessage", two, b).Bool(), false);  // gone from A1
  EXPECT_EQ(Call(folders_, "CopyMessage", 999999, b).Bool(), false);
  EXPECT_EQ(Call(folders_, "CopyMessage", one, 4242).Bool(), false);
  // The moved message stays in the list until it is rebuilt.
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
  EXPECT_EQ(Get(Get(messages_, "Item", 2).Object(), "Subject").Str(), "two");
  EXPECT_EQ(fixture_.Files({"A", "A1"}).size(), 1u);

  ASSERT_EQ(Put(control_, "Folder", SHORT{3}).hr, S_OK);  // B
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
  EXPECT_TRUE(Get(messages_, "Item", "one").Object());
  EXPECT_TRUE(Get(messages_, "Item", "two").Object());
  std::vector<std::string> files = fixture_.Files({"B"});
  ASSERT_EQ(files.size(), 2u);
  int flagged = 0;
  for (const auto& file : files) {
    const std::string info = file.substr(file.rfind(":2,") + 3);
    if (mqtest::ReadFile(file).find("Subject: one") != std::string::npos) {
      EXPECT_EQ(info, "FS") << file;
      ++flagged;
    } else {
      EXPECT_EQ(info, "") << file;
    }
  }
  EXPECT_EQ(flagged, 1);
  // The copy left the original where it was, flags and all.
  ASSERT_EQ(fixture_.Files({"A", "A1"}).size(), 1u);
  EXPECT_NE(fixture_.Files({"A", "A1"})[0].find(":2,FS"), std::string::npos);
}

TEST_F(FoldersE2E, CreateMessageStoresExactlyTheComposedText) {
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  const auto before = fixture_.Files({});
  EXPECT_EQ(Call(folders_, "CreateMessage", 0, "w", "x", "y", "z").Bool(), true);
  // The selection and its list are untouched.
  EXPECT_EQ(Get(control_, "Folder").Long(), 2);
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
  const auto after = fixture_.Files({});
  ASSERT_EQ(after.size(), before.size() + 1);
  std::string created;
  for (const auto& file : after)
    if (std::find(before.begin(), before.end(), file) == before.end()) created = file;
  const std::string text = mqtest::ReadFile(created);
  EXPECT_EQ(text, "From: w\r\nTo:x\r\nSubject:y\r\n\r\nz");
  EXPECT_EQ(text.size(), 29u);

  EXPECT_EQ(Call(folders_, "CreateMessage", 4, "w", "x", "y", "z").Bool(), false);
  EXPECT_EQ(Call(folders_, "CreateMessage", -1, "w", "x", "y", "z").Bool(), false);
  EXPECT_EQ(fixture_.Files({}).size(), after.size());
  ASSERT_EQ(Put(control_, "Folder", SHORT{0}).hr, S_OK);
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
  EXPECT_TRUE(Get(messages_, "Item", "y").Object());
}

TEST_F(FoldersE2E, EnumeratorsWalkTheListsAndEndWhenTheyGo) {
  auto folders = NewEnum(folders_);
  ASSERT_TRUE(folders);
  EXPECT_EQ(Walk(folders.Get(), "Name"), (Texts{"Inbox", "A", "A1", "B"}));
  auto empty = NewEnum(messages_);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Skip(1), S_FALSE);

  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  auto messages = NewEnum(messages_);
  ASSERT_TRUE(messages);
  VARIANT v;
  ASSERT_EQ(messages->Next(1, &v, nullptr), S_OK);
  EXPECT_EQ(Get(v.pdispVal, "Subject").Str(), "one");
  VariantClear(&v);
  // A rebuilt list ends the walk; Reset starts on the new one.
  ASSERT_EQ(Put(control_, "Folder", SHORT{2}).hr, S_OK);
  ULONG n = 5;
  EXPECT_EQ(messages->Next(1, &v, &n), S_FALSE);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(messages->Reset(), S_OK);
  EXPECT_EQ(Walk(messages.Get(), "Subject"), (Texts{"one", "two"}));

  // The window goes while both enumerators and a member live.
  ASSERT_EQ(folders->Reset(), S_OK);
  ASSERT_EQ(folders->Next(1, &v, nullptr), S_OK);
  ASSERT_EQ(messages->Reset(), S_OK);
  ASSERT_EQ(host_->Deactivate(), S_OK);
  EXPECT_EQ(Get(v.pdispVal, "Name").Str(), "Inbox");
  VariantClear(&v);
  EXPECT_EQ(folders->Next(1, &v, &n), S_FALSE);
  EXPECT_EQ(messages->Skip(1), S_FALSE);
  EXPECT_EQ(messages->Reset(), S_OK);
  EXPECT_EQ(messages->Next(1, &v, &n), S_FALSE);
  host_.reset();
  folders_.Reset();
  messages_.Reset();
  control_.Reset();
  EXPECT_EQ(folders->Next(1, &v, &n), S_FALSE);
  com::ComPtr<IEnumVARIANT> copy;
  EXPECT_EQ(folders->Clone(copy.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(copy->Skip(0), S_OK);
}

}  // namespace
