// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "platform/store/testing/store_test_util.h"

namespace fs = std::filesystem;

namespace {

class DemoStoreTest : public ::testing::Test {
 protected:
  static int Run(const fs::path& dir, const std::string& options = "") {
    const char* bin = std::getenv("MQ_BIN_DIR");
    std::string command = std::string(bin ? bin : ".") + "/demo-store " + options + " '" +
                          dir.string() + "' >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  mqtest::TempDir dir_;
  const fs::path base_ = dir_.path();
};

// Either layout comes out the same every time: a Maildir++ store with read
// and unread mail, and Thunderbird's Local Folders as mbox files. (The
// folders, and the Inbox's messages and attachments, are the README's export
// example's, run by the Python client's tests.)
TEST_F(DemoStoreTest, WritesTheSameStoreEveryTimeInEitherLayout) {
  std::map<std::string, std::map<std::string, std::string>> written;
  for (const std::string options : {"", "--mbox"}) {
    ASSERT_EQ(Run(base_ / ("a" + options), options), 0);
    ASSERT_EQ(Run(base_ / ("b" + options), options), 0);
    written[options] = store::TreeSnapshot(base_ / ("a" + options), true);
    EXPECT_EQ(written[options], store::TreeSnapshot(base_ / ("b" + options), true)) << options;
  }

  int messages = 0, read = 0;
  for (const auto& [relative, bytes] : written[""]) {
    const std::string dir = fs::path(relative).parent_path().filename();
    if (bytes == "<dir>" || (dir != "cur" && dir != "new")) continue;
    ++messages;
    read += relative.find(":2,") != std::string::npos && relative.back() == 'S';
  }
  EXPECT_GT(read, 0);
  EXPECT_LT(read, messages);

  std::vector<std::string> files;
  for (const auto& [path, unused] : written["--mbox"]) files.push_back(path);
  EXPECT_EQ(files, (std::vector<std::string>{"Family", "Inbox", "Receipts", "Work", "Work.sbd",
                                             "Work.sbd/Projects"}));
  // How the store reads these files is its own tests' business; here that
  // body lines reading "From " are stored quoted, so no reader splits there.
  EXPECT_NE(mqtest::ReadFile((base_ / "a--mbox" / "Inbox").string())
                .find("\n\n>From the garden, the first tomatoes.\n>>From your last letter"),
            std::string::npos);
}

TEST_F(DemoStoreTest, RefusesADirectoryThatIsNotEmpty) {
  fs::create_directories(base_ / "full");
  std::ofstream(base_ / "full" / "keep") << "mine";
  EXPECT_NE(Run(base_ / "full"), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(base_ / "full"), fs::directory_iterator()), 1);
  fs::create_directories(base_ / "empty");
  EXPECT_EQ(Run(base_ / "empty"), 0);
}

}  // namespace
