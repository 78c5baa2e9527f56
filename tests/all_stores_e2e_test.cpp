// SPDX-License-Identifier: LGPL-2.1-or-later
// The control over every store of a home at once (MAILDIR unset), as a
// client meets it: one folder list, exports from other programs' folders (a
// Maildir and an mbox file) that give the message as stored, and writes to
// them that answer FALSE and change no file.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/store/testing/home_fixture.h"
#include "platform/store/testing/store_test_util.h"
#include "tests/support/hosted_control.h"

namespace {

using mqtest::Call;
using mqtest::Get;
using mqtest::Put;

class AllStoresE2E : public mqtest::HostedControlTest {
 protected:
  void SetUp() override {
    HostedControlTest::SetUp();  // points MAILDIR at its fixture
    maildir_.emplace("MAILDIR", nullptr);
  }
  void TearDown() override {
    HostedControlTest::TearDown();
    maildir_.reset();
  }
  // Every store of the home but the one writable, ~/Maildir (and our own
  // address book, which the control makes).
  std::map<std::string, std::string> Others() const {
    auto all = store::TreeSnapshot(home_, true);
    std::erase_if(all, [](const auto& e) {
      return e.first.starts_with("Maildir") || e.first.starts_with(".local/share/mailquarry");
    });
    return all;
  }

  mqtest::TempDir dir_;
  const std::string home_ = dir_.path() + "/home";
  mqtest::ScopedEnv homeEnv_{"HOME", home_}, mail_{"MAIL", home_ + "/spool/jane"},
      cache_{"XDG_CACHE_HOME", dir_.path() + "/cache"};
  std::optional<mqtest::ScopedEnv> maildir_;
};

TEST_F(AllStoresE2E, OneFolderListAndAnExportFromEvolution) {
  store::testing::WriteHomeStores(home_);
  const std::string evolution = home_ + "/.local/share/evolution";
  const auto before = Others();
  Start();
  // The store's own test holds the whole tree's order; here the folders used.
  EXPECT_EQ(Get(folders_, "Count").Long(), 23);
  EXPECT_EQ(Call(folders_, "FindFolderName", SHORT{3}).Str(), "Thunderbird: Local Folders");
  EXPECT_EQ(Call(folders_, "FindFolderName", SHORT{7}).Str(), "Projects.2025");
  ASSERT_EQ(Put(control_, "Folder", SHORT{7}).hr, S_OK);  // Projects.2025
  ASSERT_EQ(Get(messages_, "Count").Long(), 2);
  EXPECT_EQ(Call(messages_, "FindSubject", 1).Str(), "Evolution Projects 2");
  const std::string eml = dir_.path() + "/projects.eml";
  EXPECT_EQ(Call(messages_, "Save2eml", 1, eml).Bool(), true);
  EXPECT_EQ(
      mqtest::ReadFile(eml),
      mqtest::ReadFile(evolution + "/mail/local/.Projects_2E2025/cur/1000000001.M1P1.host:2,"));
  // Thunderbird's Inbox, an mbox file: the message's slice, without its envelope.
  ASSERT_EQ(Put(control_, "Folder", SHORT{4}).hr, S_OK);
  const std::string text = Call(messages_, "GetMessage", 1).Str();
  EXPECT_TRUE(text.starts_with("From: Ann") && text.ends_with("\n\nHello.\n")) << text;
  EXPECT_NE(mqtest::ReadFile(home_ + "/.thunderbird/abcd.default-release/Mail/Local Folders/Inbox")
                .find("\n" + text),
            std::string::npos);
  // Every member that would change a read-only store answers FALSE.
  const LONG message = Call(messages_, "FindMessageID", 0).Long();
  const LONG inbox = Call(folders_, "FindFolderID", SHORT{4}).Long();
  const LONG projects = Call(folders_, "FindFolderID", SHORT{7}).Long();
  for (auto refused :
       {Call(messages_, "DeleteMessage", 0), Call(folders_, "CreateFolder", "New", inbox),
        Call(folders_, "RenameFolder", "Other", projects),
        Call(folders_, "MoveFolder", projects, 0), Call(folders_, "DeleteFolder", projects),
        Call(folders_, "CopyMessage", message, projects),
        Call(folders_, "MoveMessage", message, projects),
        Call(folders_, "CreateMessage", SHORT{4}, "w", "x", "y", "z")})
    EXPECT_EQ(refused.Bool(), false);
  EXPECT_EQ(Others(), before);
}

}  // namespace
