// SPDX-License-Identifier: LGPL-2.1-or-later
// Where the store is found, and the store over a Thunderbird profile: its
// accounts as top-level folders, mbox and per-message folders read alike,
// nothing written into the profile.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/store/store_location.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"
#include "platform/store/testing/thunderbird_fixture.h"

namespace store {
namespace {

using testing::ThunderbirdFixture;

// A fixture profile opened through HOME alone (no MAILDIR, no ~/Maildir),
// with the index in a cache directory of its own, outside the home.
class ProfileStoreTest : public ::testing::Test {
 protected:
  ThunderbirdFixture fx_;
  mqtest::TempDir cacheDir_;
  const std::string cache_ = cacheDir_.path();
  mqtest::ScopedEnv maildir_{"MAILDIR", nullptr}, home_{"HOME", fx_.home()},
      cacheEnv_{"XDG_CACHE_HOME", cache_};
};

TEST_F(ProfileStoreTest, AccountsAreTopFoldersInThunderbirdsOrder) {
  auto before = TreeSnapshot(fx_.home());
  {
    auto ns = OpenStore();
    // Unread messages are marked *. Trash's deleted message, Drafts.msf
    // without its file, the half-written .compact-temp/INBOX, filters and
    // POP state are no folders or messages; Projects only holds folders.
    const std::vector<std::string> expected = {
        "Inbox [inbox] | Welcome to IMAP | *Unread news",
        "jane@example.com",
        "  Sent | Sent reply",
        "Local Folders",
        "  Archives | Archived letter",
        "    2025 | Letter of 2025",
        "  Projects",
        "    Alpha | Alpha kickoff",
        "  Trash | Thrown away",
        "  Unsent Messages",
        "Work \"B\xC3\xBCro\"",
        "  Inbox | Per-message hello | *Per-message unread",
        "    Receipts | Receipt 42",
        "  Trash",
    };
    EXPECT_EQ(Listing(ns.Get(), true), expected);
    // Read the same way again, from the index.
    EXPECT_EQ(Listing(ns.Get(), true), expected);
  }
  auto ns = OpenStore();
  auto receipts = OpenByName(ns.Get(), "Receipts");
  auto msgs = Messages(receipts.Get());
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(ReadStream(receipts.Get(), msgs[0].id),
            ThunderbirdFixture::Eml("Receipt 42", 0x1));  // the file's bytes
  // In a per-message folder too the read probe answers without writing.
  MESSAGEIDLIST list{sizeof list, 1, &msgs[0].id};
  EXPECT_EQ(receipts->MarkMessagesAsRead(TRUE, 0, &list), S_FALSE);
  EXPECT_EQ(receipts->MarkMessagesAsRead(FALSE, 0, &list), S_OK);
  EXPECT_EQ(Messages(receipts.Get()).size(), 1u);
  // A summary without Thunderbird's count tells nothing of what it lists.
  com::ComPtr<IStoreFolderListed> archives;
  ASSERT_EQ(OpenByName(ns.Get(), "Archives")
                ->QueryInterface(IID_IStoreFolderListed, archives.ReleaseAndGetVoidAddress()),
            S_OK);
  DWORD listed = 99;
  EXPECT_EQ(archives->GetListedCount(&listed), S_FALSE);
  // Every file of the home byte-identical, nothing added, the lock untouched.
  EXPECT_EQ(TreeSnapshot(fx_.home()), before);
}

TEST_F(ProfileStoreTest, ACompactionNeverShowsHalfAFolder) {
  auto ns = OpenStore();
  auto inbox = OpenByName(ns.Get(), "Inbox");
  auto ids = Messages(inbox.Get());
  ASSERT_EQ(ids.size(), 2u);
  std::string path = fx_.imapAccount() + "/INBOX";
  // The swap of a compaction: the old file gone for a moment while the new
  // one waits in .compact-temp/. The folder keeps its messages and ids.
  ASSERT_EQ(rename(path.c_str(), (path + ".old").c_str()), 0);
  auto during = Messages(inbox.Get());
  ASSERT_EQ(during.size(), 2u);
  EXPECT_EQ(during[0].id, ids[0].id);
  // In place: the kept messages with rewritten status headers.
  std::string compacted = ThunderbirdFixture::Mbox(
      {testing::MaildirFixture::Message("Nora Quill <nora@example.org>", "jane@example.com",
                                        "Welcome to IMAP", "Text of \"Welcome to IMAP\".\r\n")},
      {0x0011});
  testing::WriteFile(path + ".new", compacted);
  ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
  auto after = Messages(inbox.Get());
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].id, ids[0].id);
}

// An empty MAILDIR and a home of several stores are the dialog's and the
// home's tests; here the ways MAILDIR names a store, the default profile, and
// a home without mail.
TEST(StoreLocation, WhereTheMailIs) {
  testing::ThunderbirdFixture fx;
  testing::ThunderbirdFixture empty(testing::ProfilesLocation::kSnap);  // a home without mail
  testing::WriteFile(empty.profilesDir() + "/profiles.ini", "");
  testing::WriteFile(empty.profilesDir() + "/installs.ini", "");
  const std::string maildir = testing::AddNestedFolder(empty.home() + "/Maildir elsewhere", "");

  struct Case {
    const char* what;
    std::string home;
    std::optional<std::string> maildirVariable;
    std::string root;
    bool profile, found;
  } cases[] = {
      {"no Maildir: the default profile", fx.home(), std::nullopt, fx.profile(), true, true},
      {"MAILDIR names the profiles directory", empty.home(), fx.profilesDir(), fx.profile(), true,
       true},
      {"MAILDIR names a Maildir, whatever the home holds", fx.home(), maildir, maildir, false,
       true},
      {"nothing at all", empty.home(), std::nullopt, empty.home() + "/Maildir", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    mqtest::ScopedEnv home("HOME", c.home),
        maildirEnv("MAILDIR", c.maildirVariable ? c.maildirVariable->c_str() : nullptr);
    StoreLocation where = LocateStore();
    EXPECT_EQ(where.root, c.root);
    EXPECT_EQ(where.profile, c.profile);
    EXPECT_EQ(where.found, c.found);
  }
}

}  // namespace
}  // namespace store
