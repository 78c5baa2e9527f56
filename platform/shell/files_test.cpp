// SPDX-License-Identifier: LGPL-2.1-or-later
// Writing files whole: a failed write leaves nothing new and the old file as
// it was; nothing is replaced where replacing is not asked.
#include "platform/shell/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/testing/scratch.h"

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
  mqtest::TempDir temp_;
  const std::string dir_ = temp_.path();
  const std::string path_ = dir_ + "/file";
};

TEST_F(Files, AFailedOrRefusedWriteLeavesTheOldFileAndNoTemporary) {
  const std::string big(100000, 'n');
  for (int error : {ENOSPC, EDQUOT, EACCES}) {
    if (error == EACCES && geteuid() == 0) continue;  // root writes anywhere
    WriteFile(path_, "old");
    if (error == EACCES)
      chmod(dir_.c_str(), 0500);
    else
      files::FailWritesFrom(1, error);
    EXPECT_EQ(files::ReplaceFile(path_, big, 0600), error);
    EXPECT_EQ(files::CreateFileWhole(dir_ + "/new", big, 0600), error);
    files::ClearWriteFailure();
    chmod(dir_.c_str(), 0700);
    EXPECT_TRUE(ReadFile(path_) == "old") << error;
    EXPECT_EQ(Names(dir_), std::set<std::string>{"file"}) << error;
  }
  // A full disk stays full: the n-th write and every one after fail.
  files::FailWritesFrom(2, ENOSPC);
  files::UniqueFd fd(open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  EXPECT_EQ(files::WriteAll(fd.get(), "a"), 0);
  EXPECT_EQ(files::WriteAll(fd.get(), "b"), ENOSPC);
  EXPECT_EQ(files::WriteAll(fd.get(), "c"), ENOSPC);
  files::ClearWriteFailure();

  // Nothing is replaced where replacing is not asked. (A fixed temporary name
  // a killed writer left, and the mode asked: the registry's tests.)
  WriteFile(path_, "old");
  WriteFile(dir_ + "/other", "other");
  EXPECT_EQ(files::CreateFileWhole(path_, "new", 0600), EEXIST);
  EXPECT_EQ(files::RenameNoReplace(AT_FDCWD, (dir_ + "/other").c_str(), AT_FDCWD, path_.c_str()),
            EEXIST);
  EXPECT_EQ(ReadFile(path_), "old");
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"file", "other"}));
}

}  // namespace
