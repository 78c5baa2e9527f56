// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/shell/shell.h"
#include "platform/testing/scratch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using mqtest::ReadFile;
using mqtest::ScopedEnv;

namespace fs = std::filesystem;
constexpr HRESULT kFileTooLarge = MakeHResult(0x800700DF);

class Shell : public ::testing::Test {
 protected:
  mqtest::TempDir temp_;
  const std::string dir_ = temp_.path();
};

TEST_F(Shell, TempDirectoryIsPrivateCreatedOnceAndReusedAndHomeEndsInSlash) {
  const std::string expected = dir_ + "/mailquarry-" + std::to_string(geteuid()) + "/";
  std::string first, second;
  ASSERT_EQ(shell::PrivateDirectoryIn(dir_ + "/", &first), S_OK);
  EXPECT_EQ(first, expected);
  struct stat st;
  ASSERT_EQ(lstat(first.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::ofstream(first + "kept") << "x";
  ASSERT_EQ(shell::PrivateDirectoryIn(dir_, &second), S_OK);
  EXPECT_EQ(second, first);
  EXPECT_TRUE(fs::exists(first + "kept"));
  // Ours but readable by others: made private again.
  chmod(first.c_str(), 0755);
  ASSERT_EQ(shell::PrivateDirectoryIn(dir_, &second), S_OK);
  ASSERT_EQ(lstat(first.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Without $TMPDIR the directory lives under /tmp. ($TMPDIR as set: the
  // control's ViewMessage, end to end.)
  ScopedEnv tmpdir("TMPDIR", nullptr);
  ASSERT_EQ(shell::TempDirectory(&second), S_OK);
  EXPECT_EQ(second, "/tmp/mailquarry-" + std::to_string(geteuid()) + "/");
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(shell::HomeDirectory(), "/home/someone/");
}

TEST_F(Shell, TempDirectoryThatIsALinkOrNotOursIsRefused) {
  const std::string target = dir_ + "/mailquarry-" + std::to_string(geteuid());
  std::string out = "unchanged";
  fs::create_directory(dir_ + "/elsewhere");
  fs::create_directory_symlink(dir_ + "/elsewhere", target);
  EXPECT_EQ(shell::PrivateDirectoryIn(dir_, &out), E_ACCESSDENIED);
  fs::remove(target);

  std::ofstream(target) << "a file";
  EXPECT_EQ(shell::PrivateDirectoryIn(dir_, &out), E_ACCESSDENIED);
  fs::remove(target);

  fs::create_directory(target);
  chmod(target.c_str(), 0777);
  EXPECT_EQ(shell::PrivateDirectoryIn(dir_, &out), E_ACCESSDENIED);
  chmod(target.c_str(), 0700);
  EXPECT_EQ(out, "unchanged");

  if (chown(target.c_str(), geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "cannot give a directory to another user here";
  }
  EXPECT_EQ(shell::PrivateDirectoryIn(dir_, &out), E_ACCESSDENIED);
  EXPECT_EQ(out, "unchanged");
}

// A stand-in xdg-open that records its arguments and where its output goes.
class OpenDocument : public Shell {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ + "/bin");
    mqtest::WriteFile(dir_ + "/bin/xdg-open",
                      "#!/bin/sh\nout=$(readlink /proc/$$/fd/1)\n"
                      "if [ -e /proc/$$/fd/$LEAK_FD ]; then out=\"$out leaked\"; fi\n"
                      "{ echo \"$#\"; echo \"$out\"; printf '%s\\n' \"$@\"; } > '" +
                          record_ + ".part'\nmv '" + record_ + ".part' '" + record_ + "'\n");
    chmod((dir_ + "/bin/xdg-open").c_str(), 0755);
  }

  std::string WaitForRecord() {
    for (int i = 0; i < 500 && !fs::exists(record_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadFile(record_);
  }

  const std::string record_ = dir_ + "/record";
};

TEST_F(OpenDocument, PassesThePathAsOneArgumentWithoutAShellAndLeavesNoChild) {
  ScopedEnv path("PATH", (dir_ + "/nothing-here::" + dir_ + "/bin:/usr/bin:/bin").c_str());
  // A descriptor the host opened without close-on-exec.
  int leak = open("/dev/null", O_RDONLY);
  ASSERT_GE(leak, 3);
  ScopedEnv leak_fd("LEAK_FD", std::to_string(leak).c_str());
  const std::string document = dir_ + "/my mail; touch " + dir_ + "/pwned $(id) `id`.eml";
  ASSERT_EQ(shell::OpenDocument(document), S_OK);
  EXPECT_EQ(WaitForRecord(), "1\n/dev/null\n" + document + "\n");
  EXPECT_FALSE(fs::exists(dir_ + "/pwned"));
  fs::remove(record_);
  ASSERT_EQ(shell::OpenDocument("--help me"), S_OK);
  EXPECT_EQ(WaitForRecord(), "1\n/dev/null\n./--help me\n");
  EXPECT_EQ(shell::OpenDocument(std::string("/a\0b", 4)), E_INVALIDARG);
  close(leak);
  // The intermediate process is reaped and xdg-open is not our child.
  int status;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// No xdg-open, one that cannot run, and (waited for) one that finds no viewer
// are failures; one that ends well, or a viewer that runs on, is not.
TEST_F(OpenDocument, SaysWhenThereIsNoXdgOpenOrItFindsNoViewer) {
  ScopedEnv nowhere("PATH", (dir_ + "/nothing-here").c_str());
  EXPECT_EQ(shell::OpenDocument("/x"), HRESULT_FROM_WIN32_FILE_NOT_FOUND);
  chmod((dir_ + "/bin/xdg-open").c_str(), 0644);  // there, but not runnable
  ScopedEnv path("PATH", (dir_ + "/bin").c_str());
  EXPECT_EQ(shell::OpenDocument("/x"), E_ACCESSDENIED);
  for (const auto& [script, expected] :
       {std::pair{"exit 3", shell::kNoViewer}, {"exit 0", S_OK}, {"exec /bin/sleep 2", S_OK}}) {
    mqtest::WriteFile(dir_ + "/bin/xdg-open", std::string("#!/bin/sh\n") + script + "\n");
    chmod((dir_ + "/bin/xdg-open").c_str(), 0755);
    EXPECT_EQ(shell::OpenDocument("/x", 300), expected) << script;
  }
}

// Writing over a longer file and a NUL byte in the data: Save2eml, end to end.
TEST_F(Shell, WriterNeverFollowsALinkAndReportsWriteFailures) {
  shell::FileWriter writer;
  // A link at the target, even to a file we may write, is refused untouched.
  const std::string victim = dir_ + "/victim";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, dir_ + "/link.eml");
  EXPECT_EQ(writer.Open(dir_ + "/link.eml"), E_ACCESSDENIED);
  EXPECT_FALSE(writer.is_open());
  EXPECT_EQ(ReadFile(victim), "precious");
  fs::create_symlink(dir_ + "/absent", dir_ + "/dangling.eml");
  EXPECT_EQ(writer.Open(dir_ + "/dangling.eml"), E_ACCESSDENIED);
  EXPECT_FALSE(fs::exists(dir_ + "/absent"));

  // Not a regular file: a FIFO would block, a directory cannot be written.
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  EXPECT_EQ(writer.Open(dir_ + "/fifo"), E_ACCESSDENIED);
  EXPECT_TRUE(FAILED(writer.Open(dir_)));
  // A NUL byte would cut the path short and name another file.
  EXPECT_EQ(writer.Open(dir_ + std::string("/victim\0.eml", 12)), E_INVALIDARG);
  EXPECT_EQ(shell::DeleteFile(dir_ + std::string("/victim\0.eml", 12)), E_INVALIDARG);
  EXPECT_EQ(ReadFile(victim), "precious");

  // A file-size limit makes writes fail as a full disk would: the failure is
  // reported and keeps being reported.
  const std::string file = dir_ + "/limited.txt";
  {
    mqtest::FileSizeLimit limit(10);
    ASSERT_EQ(writer.Open(file), S_OK);
    EXPECT_EQ(writer.Write("12345"), S_OK);
    EXPECT_EQ(writer.Write("6789012345"), kFileTooLarge);
    EXPECT_EQ(writer.Write("x"), kFileTooLarge);
    EXPECT_EQ(writer.Close(), kFileTooLarge);
    writer.Discard();  // what was not written whole goes, also after Close
  }
  EXPECT_FALSE(fs::exists(file));

  umask(022);
  const std::string fresh = dir_ + "/new.txt";
  ASSERT_EQ(writer.Open(fresh), S_OK);
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(writer.Close(), S_OK);
}

}  // namespace
