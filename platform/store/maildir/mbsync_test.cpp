// SPDX-License-Identifier: LGPL-2.1-or-later
// The store between two runs of the real synchroniser: mbsync syncs a
// Maildir++ store into a nested tree, the store works in the nested tree,
// and a second run carries that work back without losing or doubling mail.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

using testing::MaildirFixture;

std::string Mail(const std::string& subject) {
  return MaildirFixture::Message("a@example.org", "b@example.org", subject);
}

// folder name -> subject -> (id, flags); a subject seen twice in a folder fails.
using Contents = std::map<std::string, std::map<std::string, std::pair<MESSAGEID, DWORD>>>;

Contents Read(const std::string& root) {
  setenv("MAILDIR", root.c_str(), 1);
  Contents out;
  auto ns = OpenStore();
  for (const auto& f : FolderTree(ns.Get())) {
    auto& folder = out[f.name];
    for (const auto& m : Messages(OpenById(ns.Get(), f.id).Get()))
      EXPECT_TRUE(folder.emplace(m.subject, std::make_pair(m.id, m.flags)).second)
          << "twice in " << f.name << ": " << m.subject;
  }
  return out;
}

std::set<std::string> Subjects(const Contents& c, const std::string& folder) {
  std::set<std::string> s;
  if (auto it = c.find(folder); it != c.end())
    for (const auto& [subject, m] : it->second) s.insert(subject);
  return s;
}

class MbsyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (system("command -v mbsync >/dev/null 2>&1") != 0) GTEST_SKIP() << "mbsync not installed";
    fx.UseAsMailDir();
    testing::MakeDirs(near);
    const std::string far = fx.root();
    testing::WriteFile(home + "/mbsyncrc",
                       "MaildirStore far\nInbox " + far + "/\nSubFolders Maildir++\n\n" +
                           "MaildirStore near\nPath " + near + "/\nInbox " + near + "/INBOX\n" +
                           "SubFolders Verbatim\n\nChannel mail\nFar :far:\nNear :near:\n" +
                           "Patterns *\nCreate Near\nSyncState *\nExpunge Both\n");
  }
  int Sync() {
    std::string cmd =
        "HOME='" + home + "' mbsync -q -c '" + home + "/mbsyncrc' -a >'" + home + "/log' 2>&1";
    int status = system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  MaildirFixture fx;
  mqtest::TempDir homeDir;
  const std::string home = homeDir.path(), near = home + "/near";
};

TEST_F(MbsyncTest, WorkInTheNestedTreeReachesTheMaildirPlusPlusStoreOnce) {
  fx.AddMessage({}, Mail("in1"), {"S", 1700000001});
  fx.AddMessage({}, Mail("in2"), {"", 1700000002});
  fx.AddMessage({}, Mail("in3"), {"", 1700000003});
  fx.AddMessage({"Work"}, Mail("w1"), {"S", 1700000004});
  fx.AddMessage({"Work"}, Mail("w2"), {"S", 1700000005});
  fx.AddMessage({"Work", "Projects"}, Mail("p1"), {"S", 1700000006});
  Contents farBefore = Read(fx.root());

  ASSERT_EQ(Sync(), 0);
  Contents nearFirst = Read(near);
  EXPECT_EQ(nearFirst.size(), 3u);
  EXPECT_EQ(Subjects(nearFirst, "Inbox"), (std::set<std::string>{"in1", "in2", "in3"}));
  EXPECT_EQ(Subjects(nearFirst, "Work"), (std::set<std::string>{"w1", "w2"}));
  EXPECT_EQ(Subjects(nearFirst, "Projects"), (std::set<std::string>{"p1"}));

  {
    setenv("MAILDIR", near.c_str(), 1);
    auto ns = OpenStore();
    auto inbox = OpenByName(ns.Get(), "Inbox");
    auto work = OpenByName(ns.Get(), "Work");
    auto projects = OpenByName(ns.Get(), "Projects");
    MESSAGEID id = nearFirst["Inbox"]["in2"].first;
    MESSAGEIDLIST one{sizeof(MESSAGEIDLIST), 1, &id};
    ASSERT_EQ(ns->CopyMoveMessages(inbox.Get(), work.Get(), &one, 0, 0, nullptr), S_OK);
    id = nearFirst["Work"]["w1"].first;
    ASSERT_EQ(ns->CopyMoveMessages(work.Get(), projects.Get(), &one, CMF_MOVE, 0, nullptr), S_OK);
    id = nearFirst["Inbox"]["in3"].first;
    ASSERT_EQ(inbox->MarkMessagesAsRead(TRUE, 0, &one), S_OK);
    id = nearFirst["Projects"]["p1"].first;
    ASSERT_EQ(projects->DeleteMessages(&one, 0, nullptr), S_OK);
  }

  ASSERT_EQ(Sync(), 0);
  Contents far = Read(fx.root());
  EXPECT_EQ(Subjects(far, "Inbox"), (std::set<std::string>{"in1", "in2", "in3"}));
  EXPECT_EQ(Subjects(far, "Work"), (std::set<std::string>{"in2", "w2"}));
  EXPECT_EQ(Subjects(far, "Projects"), (std::set<std::string>{"w1"}));
  EXPECT_TRUE(far["Inbox"]["in3"].second & MSG_FLAG_READ);
  // The far side's messages kept their ids through both runs.
  for (const auto& [folder, subject] : std::vector<std::pair<std::string, std::string>>{
           {"Inbox", "in1"}, {"Inbox", "in2"}, {"Inbox", "in3"}, {"Work", "w2"}})
    EXPECT_EQ(far[folder][subject].first, farBefore[folder][subject].first) << subject;
  // And the nested side agrees.
  Contents nearLast = Read(near);
  for (const auto& folder : {"Inbox", "Work", "Projects"})
    EXPECT_EQ(Subjects(nearLast, folder), Subjects(far, folder)) << folder;
}

}  // namespace
}  // namespace store
