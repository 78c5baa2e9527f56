// SPDX-License-Identifier: LGPL-2.1-or-later
// Geary's database while Geary writes it: listings never hold a lock past
// their read, whichever journal the database keeps, follow what Geary
// changed, and never fail while another process writes through the
// write-ahead log.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/store/testing/home_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

void Exec(sqlite3* db, const std::string& sql) {
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
}

std::string Insert(int id) {
  const std::string n = std::to_string(id);
  return testing::GearyMessageSql(
      id, 1, id, "Subject: m" + n + "\nMessage-ID: <" + n + "@x>\n\nbody\n", "\\Seen");
}

class GearyWriterTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    testing::MakeDirs(root_);
    ASSERT_EQ(sqlite3_open((root_ + "/geary.db").c_str(), &writer_), SQLITE_OK);
    Exec(writer_, std::string("PRAGMA journal_mode=") + GetParam() + ";" + testing::kGearyTables +
                      "INSERT INTO FolderTable VALUES (1, 'INBOX', NULL);" + Insert(1));
  }
  void TearDown() override { sqlite3_close(writer_); }

  mqtest::TempDir dir_, cache_;
  const std::string root_ = dir_.path() + "/jane@example.com";
  mqtest::ScopedEnv maildir_{"MAILDIR", root_}, cacheEnv_{"XDG_CACHE_HOME", cache_.path()};
  sqlite3* writer_ = nullptr;
};

TEST_P(GearyWriterTest, ListingsNeitherFailNorHoldLocks) {
  auto ns = OpenStore();
  auto inbox = OpenByName(ns.Get(), "Inbox");
  ASSERT_EQ(Messages(inbox.Get()).size(), 1u);
  // Right after a listing, with the store and folder still open, Geary may
  // take the whole database at once; what it changed is listed next time
  // (here a message marked unread again, its text as before).
  sqlite3_busy_timeout(writer_, 0);
  Exec(writer_,
       "BEGIN EXCLUSIVE;" + Insert(2) + "UPDATE MessageTable SET flags = '' WHERE id = 1;COMMIT;");
  auto after = Messages(inbox.Get());
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].flags & MSG_FLAG_READ, 0u);
  EXPECT_NE(after[1].flags & MSG_FLAG_READ, 0u);

  // Another process writes while this one lists, again and again, as Geary
  // does through its write-ahead log. (With a rollback journal a reader
  // waits for each commit, and a writer committing back to back may starve
  // it: no program keeps Geary's database so.)
  if (std::string(GetParam()) != "WAL") return;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    int failures = sqlite3_open((root_ + "/geary.db").c_str(), &db) != SQLITE_OK;
    sqlite3_busy_timeout(db, 5000);
    for (int i = 3; i < 150; ++i)
      failures += sqlite3_exec(db, ("BEGIN IMMEDIATE;" + Insert(i) + "COMMIT;").c_str(), nullptr,
                               nullptr, nullptr) != SQLITE_OK;
    sqlite3_close(db);
    _exit(failures == 0 ? 0 : 1);
  }
  std::size_t last = 0;
  for (int status = 0;;) {
    bool done = waitpid(child, &status, WNOHANG) == child;
    auto listed = Messages(inbox.Get());  // fails the test on any failed call
    EXPECT_GE(listed.size(), last);
    last = listed.size();
    if (done) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      break;
    }
  }
  EXPECT_EQ(Messages(inbox.Get()).size(), 149u);
}

INSTANTIATE_TEST_SUITE_P(Journals, GearyWriterTest, ::testing::Values("WAL", "DELETE"));

}  // namespace
}  // namespace store
