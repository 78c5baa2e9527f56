// Writing files whole: what a failed write leaves (nothing new, the old file
// as it was), for every way the layer writes, with real failures (a file size
// limit, a read-only directory) and the injected ones the other tests use.
#include "platform/shell/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "tests/support/scratch.h"

namespace {

namespace fs = std::filesystem;
using mqtest::ReadFile;
using mqtest::WriteFile;

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class Files : public ::testing::Test {
 protected:
  void TearDown() override {
    files::ClearWriteFailure();
    chmod(dir_.c_str(), 0700);
  }
  mqtest::TempDir temp_;
  const std::string dir_ = temp_.path();
  const std::string path_ = dir_ + "/file";
};

// Every failure leaves the old content and no temporary file beside it.
TEST_F(Files, AFailedReplaceOrCreateLeavesTheOldFileAndNoTemporary) {
  const std::string big(100000, 'n');
  struct Case {
    const char* what;
    std::function<void()> arrange;
    int error;
  } cases[] = {
      {"disk full", [] { files::FailWritesFrom(1, ENOSPC); }, ENOSPC},
      {"quota used up", [] { files::FailWritesFrom(1, EDQUOT); }, EDQUOT},
      {"read-only directory", [&] { chmod(dir_.c_str(), 0500); }, EACCES},
  };
  for (const Case& c : cases) {
    if (c.error == EACCES && geteuid() == 0) continue;  // root writes anywhere
    WriteFile(path_, "old");
    c.arrange();
    EXPECT_EQ(files::ReplaceFile(path_, big, 0600), c.error) << c.what;
    EXPECT_EQ(files::CreateFileWhole(dir_ + "/new", big, 0600), c.error) << c.what;
    TearDown();
    EXPECT_TRUE(ReadFile(path_) == "old") << c.what;
    EXPECT_EQ(Names(dir_), std::set<std::string>{"file"}) << c.what;
  }
  {
    mqtest::FileSizeLimit limit(4096);
    EXPECT_EQ(files::ReplaceFile(path_, big, 0600), EFBIG);
  }
  EXPECT_TRUE(ReadFile(path_) == "old");
  EXPECT_EQ(Names(dir_), std::set<std::string>{"file"});

  // Success: the new content with its mode; a fixed temporary name left by
  // a killed writer is taken over, not kept.
  WriteFile(dir_ + "/file.tmp", "leftover");
  EXPECT_EQ(files::ReplaceFile(path_, big, 0640, dir_ + "/file.tmp"), 0);
  EXPECT_TRUE(ReadFile(path_) == big);
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Names(dir_), std::set<std::string>{"file"});
}

TEST_F(Files, NothingIsReplacedWhereReplacingIsNotAsked) {
  WriteFile(path_, "old");
  EXPECT_EQ(files::CreateFileWhole(path_, "new", 0600), EEXIST);
  WriteFile(dir_ + "/other", "other");
  EXPECT_EQ(files::RenameNoReplace(AT_FDCWD, (dir_ + "/other").c_str(), AT_FDCWD, path_.c_str()),
            EEXIST);
  EXPECT_EQ(ReadFile(path_), "old");
  EXPECT_EQ(files::RenameNoReplace(AT_FDCWD, (dir_ + "/other").c_str(), AT_FDCWD,
                                   (dir_ + "/moved").c_str()),
            0);
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"file", "moved"}));
}

TEST_F(Files, WriteAllReportsTheFailureAndALockExcludesOthers) {
  files::UniqueFd fd(open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  files::FailWritesFrom(3, ENOSPC);
  EXPECT_EQ(files::WriteAll(fd.get(), "a"), 0);
  EXPECT_EQ(files::WriteAll(fd.get(), "b"), 0);
  EXPECT_EQ(files::WriteAll(fd.get(), "c"), ENOSPC);
  EXPECT_EQ(files::WriteAll(fd.get(), "d"), ENOSPC);  // a full disk stays full
  files::ClearWriteFailure();
  files::UniqueFd full(open("/dev/full", O_WRONLY | O_CLOEXEC));
  EXPECT_EQ(files::WriteAll(full.get(), "x"), ENOSPC);
  EXPECT_EQ(ReadFile(path_), "ab");

  {
    files::Lock lock(dir_);
    ASSERT_TRUE(lock.Held());
    files::UniqueFd other(open(dir_.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_NE(flock(other.get(), LOCK_EX | LOCK_NB), 0);
  }
  files::UniqueFd other(open(dir_.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(flock(other.get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(files::Lock(dir_ + "/missing/x", true).Error(), ENOENT);
}

}  // namespace
