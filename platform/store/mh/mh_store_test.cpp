// SPDX-License-Identifier: LGPL-2.1-or-later
// MH mailboxes through the store, beyond what the test over every layout
// shows: the store follows the mail program's changes (new, removed and
// re-marked messages).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/store/store_location.h"
#include "platform/store/testing/home_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

std::string Mail(const std::string& subject) {
  return "From: Ann <ann@example.org>\nSubject: " + subject + "\nMessage-ID: <" + subject +
         "@example.org>\n\nHello.\n";
}

class MhStoreTest : public ::testing::Test {
 protected:
  void Write(const std::string& rel, const std::string& bytes) {
    testing::MakeDirs((root_ + "/" + rel).substr(0, (root_ + "/" + rel).rfind('/')));
    testing::WriteFile(root_ + "/" + rel, bytes);
  }
  mqtest::TempDir dir_, cache_;
  const std::string root_ = dir_.path() + "/Mail";
  mqtest::ScopedEnv maildir_{"MAILDIR", root_}, cacheEnv_{"XDG_CACHE_HOME", cache_.path()};
};

TEST_F(MhStoreTest, FollowsTheProgramsChangesAndNestedFolders) {
  Write("inbox/1", Mail("a"));
  Write("inbox/2", Mail("b"));
  Write("inbox/.sylpheed_mark", testing::ClawsMarks({{1, 0}, {2, 2}}));
  Write("lists/dev/7", Mail("deep"));
  Write("lists/dev/.mh_sequences", "unseen: 7\n");
  auto ns = OpenStore();
  EXPECT_EQ(Listing(ns.Get(), true),
            (std::vector<std::string>{"Inbox [inbox] | a | *b", "lists", "  dev | *deep"}));
  const auto first = Messages(OpenByName(ns.Get(), "Inbox").Get());

  // The program reads b, deletes a (its file goes) and a new message comes in.
  unlink((root_ + "/inbox/1").c_str());
  Write("inbox/3", Mail("c"));
  Write("inbox/.sylpheed_mark", testing::ClawsMarks({{2, 0}}));
  auto inbox = OpenByName(ns.Get(), "Inbox");
  auto now = Messages(inbox.Get());
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[0].id, first[1].id);
  EXPECT_TRUE(now[0].flags & MSG_FLAG_READ);
  EXPECT_EQ(now[1].subject, "c");
  EXPECT_FALSE(now[1].flags & MSG_FLAG_READ);
  EXPECT_GT(now[1].id, first[1].id);
  EXPECT_EQ(ReadStream(inbox.Get(), now[1].id), Mail("c"));
  EXPECT_NE(DescribeStore(LocateStore()).find("MH mailbox"), std::string::npos);
}

}  // namespace
}  // namespace store
