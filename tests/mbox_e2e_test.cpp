// SPDX-License-Identifier: LGPL-2.1-or-later
// The control over an mbox store, as a client meets it: message members read
// the text from the file, and every member that would change the store
// answers failure and leaves every file as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/store/testing/store_test_util.h"
#include "tests/support/hosted_control.h"

namespace {

namespace fs = std::filesystem;
using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using mqtest::ReadFile;

const std::string kEnvelope = "From ann@example.org Tue Feb  3 04:05:06 2009\n";

class MboxE2E : public mqtest::HostedControlTest {
 protected:
  void SetUp() override {
    HostedControlTest::SetUp();
    fs::create_directories(base_ + "/mail/Inbox.sbd");
  }
  std::map<std::string, std::string> Tree() const { return store::TreeSnapshot(base_ + "/mail"); }

  mqtest::TempDir dir_;
  const std::string base_ = dir_.path();
  mqtest::ScopedEnv cache_{"XDG_CACHE_HOME", base_ + "/cache"}, home_{"HOME", base_};
};

TEST_F(MboxE2E, MessageMembersReadTheTextAndWritesChangeNothing) {
  // Quoting, deleted messages and attachments are the store's tests'; here
  // what the members make of a store they may not change.
  const std::string unread =
      "From: Ann <ann@example.org>\nSubject: New\nX-Mozilla-Status: 0000\n\nHi.\n";
  const std::string plain =
      "From: Cy <cy@example.org>\nTo: Bob <bob@example.org>\nSubject: Plain\n"
      "Date: Sun, 4 Feb 2001 04:05:06 +0000\nStatus: RO\n\nPlain text.\n";
  mqtest::WriteFile(base_ + "/mail/Inbox", kEnvelope + unread + "\n" + kEnvelope + plain + "\n");
  mqtest::WriteFile(base_ + "/mail/Inbox.sbd/Sub", kEnvelope + plain);
  const auto before = Tree();

  mqtest::ScopedEnv maildir("MAILDIR", base_ + "/mail");
  Start();
  ASSERT_EQ(Get(folders_, "Count").Long(), 2);
  ASSERT_EQ(Put(control_, "Folder", SHORT{0}).hr, S_OK);
  ASSERT_EQ(Get(messages_, "Count").Long(), 2);

  EXPECT_EQ(Call(messages_, "GetMessage", 1).Str(), plain);
  const std::string eml = base_ + "/plain.eml";
  EXPECT_EQ(Call(messages_, "Save2eml", 1, eml).Bool(), true);
  EXPECT_EQ(ReadFile(eml), plain);

  const LONG first = Call(messages_, "FindMessageID", 0).Long();
  const LONG inbox = Call(folders_, "FindFolderID", SHORT{0}).Long();
  const LONG sub = Call(folders_, "FindFolderID", SHORT{1}).Long();
  for (auto refused :
       {Call(messages_, "DeleteMessage", 0), Call(folders_, "CreateFolder", "New", 0),
        Call(folders_, "CreateFolder", "New", inbox), Call(folders_, "RenameFolder", "Other", sub),
        Call(folders_, "MoveFolder", sub, 0), Call(folders_, "DeleteFolder", sub),
        Call(folders_, "CompactAll", 0), Call(folders_, "CopyMessage", first, sub),
        Call(folders_, "MoveMessage", first, sub),
        Call(folders_, "CreateMessage", SHORT{0}, "w", "x", "y", "z")})
    EXPECT_EQ(refused.Bool(), false);
  EXPECT_EQ(Tree(), before);
  EXPECT_EQ(Call(messages_, "Refresh").hr, S_OK);
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
}

}  // namespace
