// SPDX-License-Identifier: LGPL-2.1-or-later
// Every store of a home directory as one tree, with MAILDIR unset: the order
// and names people see, ids that outlast a store coming or going, and writes
// that reach ~/Maildir and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/store/store_location.h"
#include "platform/store/testing/home_fixture.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

class AllStoresTest : public ::testing::Test {
 protected:
  // Each folder's path of names ("KMail: Local Folders/lists/dev") -> its id.
  std::map<std::string, STOREFOLDERID> Ids() {
    auto ns = OpenStore();
    std::map<std::string, STOREFOLDERID> ids;
    std::vector<std::string> path;
    for (const auto& f : FolderTree(ns.Get())) {
      path.resize(f.depth);
      path.push_back(f.name);
      std::string key;
      for (const auto& p : path) key += (key.empty() ? "" : "/") + p;
      ids[key] = f.id;
    }
    return ids;
  }
  // Everything below the home but ~/Maildir and the cache.
  std::map<std::string, std::string> OthersSnapshot() {
    auto all = TreeSnapshot(home_, true);
    std::erase_if(all, [](const auto& e) { return e.first.rfind("Maildir", 0) == 0; });
    return all;
  }

  mqtest::TempDir homeDir_, cache_;
  const std::string home_ = homeDir_.path();
  mqtest::ScopedEnv homeEnv_{"HOME", home_}, maildir_{"MAILDIR", nullptr},
      mail_{"MAIL", home_ + "/spool/jane"}, cacheEnv_{"XDG_CACHE_HOME", cache_.path()};
};

TEST_F(AllStoresTest, OneTreeInTheDocumentedOrder) {
  testing::WriteHomeStores(home_);
  StoreLocation where = LocateStore();
  EXPECT_TRUE(where.all);
  EXPECT_EQ(where.root, home_);
  const std::string line = DescribeStore(where);
  for (const char* part : {"Mail stores: Maildir ", ", Thunderbird ",
                           ", Evolution: On This Computer ", ", Mail spool ", "; all but "})
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  auto ns = OpenStore();
  EXPECT_EQ(Listing(ns.Get(), true),
            (std::vector<std::string>{
                "Inbox [inbox] | Maildir Inbox 1 | *Maildir Inbox 2",
                "Maildir",
                "  Work | Maildir Work 1 | *Maildir Work 2",
                "Thunderbird: Local Folders",
                "  Inbox | Thunderbird Inbox 1 | *Thunderbird Inbox 2",
                "Evolution: On This Computer",
                "  Inbox | Evolution Inbox 1 | *Evolution Inbox 2",
                "  Projects.2025 | Evolution Projects 1 | *Evolution Projects 2",
                "Evolution: jane@example.com",
                "  Inbox | Evolution IMAP 1 | *Evolution IMAP 2",
                "KMail: Local Folders",
                "  Inbox | KMail Inbox 1 | *KMail Inbox 2",
                "  lists | KMail lists 1 | *KMail lists 2",
                "    dev | KMail dev 1 | *KMail dev 2",
                "Claws Mail: Mailbox",
                "  Inbox | Claws Inbox 1 | *Claws Inbox 2",
                "  archive | Claws archive 1 | *Claws archive 2",
                "Claws Mail: jane on imap.example.com",
                "  Inbox | Claws IMAP 1 | *Claws IMAP 2",
                "Geary: jane@example.com",
                "  Inbox | Geary Inbox 1 | *Geary Inbox 2",
                "Mail spool",
                "  Inbox | Spool Inbox 1 | *Spool Inbox 2",
            }));
}

TEST_F(AllStoresTest, IdsOutlastReopeningAndStoresComingAndGoing) {
  testing::HomeStores which;
  which.kmail = false;
  testing::WriteHomeStores(home_, which);
  const auto first = Ids();
  EXPECT_EQ(Ids(), first);
  which = {};
  which.maildir = which.thunderbird = which.evolution = which.claws = which.geary = which.spool =
      false;
  testing::WriteHomeStores(home_, which);          // KMail comes
  std::filesystem::remove(home_ + "/spool/jane");  // the spool goes
  const auto later = Ids();
  EXPECT_TRUE(later.count("KMail: Local Folders/lists/dev"));
  EXPECT_FALSE(later.count("Mail spool"));
  for (const auto& [path, id] : first) {
    if (path.rfind("Mail spool", 0) == 0) continue;
    EXPECT_EQ(later.count(path) ? later.at(path) : 0, id) << path;
  }
}

TEST_F(AllStoresTest, OnlyTheMaildirIsWritten) {
  testing::WriteHomeStores(home_);
  const auto before = OthersSnapshot();
  auto ns = OpenStore();
  auto ids = Ids();
  auto work = OpenById(ns.Get(), ids.at("Maildir/Work"));
  EXPECT_NE(Commit(work.Get(), "Subject: new\n\nbody\n"), 0u);
  STOREFOLDERID made = 0;
  EXPECT_EQ(ns->CreateFolder(ids.at("Maildir"), "Made", 0, &made), S_OK);
  EXPECT_EQ(ns->RenameFolder(made, 0, "Renamed"), S_OK);

  auto projects = OpenById(ns.Get(), ids.at("Evolution: On This Computer/Projects.2025"));
  auto messages = Messages(projects.Get());
  ASSERT_EQ(messages.size(), 2u);
  MESSAGEID unread = messages[1].id;
  MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, &unread};
  // Nothing moves out of a read-only format into the one that writes.
  EXPECT_LT(ns->CopyMoveMessages(projects.Get(), work.Get(), &list, CMF_MOVE, 0, nullptr), 0);
  int call = 0;
  for (const char* name :
       {"Evolution: On This Computer", "Evolution: On This Computer/Projects.2025",
        "KMail: Local Folders/lists", "Claws Mail: Mailbox/archive", "Thunderbird: Local Folders",
        "Mail spool"}) {
    SCOPED_TRACE(name);
    STOREFOLDERID id = ids.at(name);
    for (HRESULT hr :
         {ns->DeleteFolder(id, 0), ns->RenameFolder(id, 0, "X"),
          ns->MoveFolder(id, ids.at("Maildir"), 0), ns->CreateFolder(id, "Y", 0, &made)})
      EXPECT_LT(hr, 0) << "call " << call++;
  }
  EXPECT_LT(ns->MoveFolder(ids.at("Maildir/Work"), ids.at("Mail spool"), 0), 0);
  EXPECT_EQ(OthersSnapshot(), before);
}

}  // namespace
}  // namespace store
