// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/registry/registry.h"
#include "platform/testing/scratch.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

// Every fsync and fdatasync of this process, by the path its descriptor
// names at that moment, before the call goes on to the C library's own.
std::vector<std::string> synced;

static void RecordSync(int fd) {
  char path[PATH_MAX];
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  if (n > 0) synced.emplace_back(path, static_cast<std::size_t>(n));
}

extern "C" int fsync(int fd) {
  static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  RecordSync(fd);
  return real(fd);
}

extern "C" int fdatasync(int fd) {
  static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
  RecordSync(fd);
  return real(fd);
}

namespace {

using mqtest::ReadFile;
using mqtest::ScopedEnv;
using mqtest::WriteFile;

namespace fs = std::filesystem;
using reg::Edit;
using reg::Root;

class Registry : public ::testing::Test {
 protected:
  // What a read gives: the text, or the error's code in angle brackets.
  std::string String(Root root, const std::string& key, const std::string& name) {
    std::string out;
    HRESULT hr = reg::GetString(root, key, name, &out);
    return hr == S_OK ? out : "<" + com::HResultToString(hr) + ">";
  }

  mqtest::TempDir temp_;
  const std::string dir_ = temp_.path();
  const std::string path_ = dir_ + "/config/registry";  // the parent does not exist yet
  ScopedEnv registry_{"MAILQUARRY_REGISTRY", path_};
  // The system file beneath it: none, unless a test writes one.
  const std::string system_ = dir_ + "/etc/mailquarry/registry";
  ScopedEnv system_dirs_{"XDG_CONFIG_DIRS", dir_ + "/etc"};
};

TEST_F(Registry, ValuesRoundTripWhateverBytesTheyHold) {
  std::string every_byte;
  for (int i = 0; i < 256; ++i) every_byte.push_back(static_cast<char>(i));
  const std::string odd_name = "na\"me\\ with\nnewline \xff and \xc3\xa9";
  ASSERT_EQ(Edit()
                .SetString(Root::CurrentUser, "Software\\Odd", "", every_byte)
                .SetString(Root::CurrentUser, "Software\\Odd", odd_name, "\"\\\r\n\t")
                .SetString(Root::CurrentUser, "Software\\Odd", "empty", "")
                .SetDword(Root::CurrentUser, "Software\\Odd", "max", 0xffffffffu)
                .SetDword(Root::CurrentUser, "Software\\Odd", "zero", 0)
                .SetString(Root::CurrentUser,
                           "Software\\Gr\xc3\xbc\xc3\x9f"
                           "e [x]",
                           "v", "w")
                .Commit(),
            S_OK);
  EXPECT_EQ(String(Root::CurrentUser, "Software\\Odd", ""), every_byte);
  EXPECT_EQ(String(Root::CurrentUser, "Software\\Odd", odd_name), "\"\\\r\n\t");
  EXPECT_EQ(String(Root::CurrentUser, "Software\\Odd", "empty"), "");
  EXPECT_EQ(String(Root::CurrentUser,
                   "Software\\Gr\xc3\xbc\xc3\x9f"
                   "e [x]",
                   "v"),
            "w");
  DWORD n = 1;
  EXPECT_EQ(reg::GetDword(Root::CurrentUser, "Software\\Odd", "max", &n), S_OK);
  EXPECT_EQ(n, 0xffffffffu);
  EXPECT_EQ(reg::GetDword(Root::CurrentUser, "Software\\Odd", "zero", &n), S_OK);
  EXPECT_EQ(n, 0u);
  // A value of the other type is missing, as are absent keys and values.
  EXPECT_EQ(reg::GetDword(Root::CurrentUser, "Software\\Odd", "", &n), REGDB_E_KEYMISSING);
  EXPECT_EQ(String(Root::CurrentUser, "Software\\Odd", "max"), "<0x80040152>");
  EXPECT_EQ(String(Root::CurrentUser, "Software\\Nothing", ""), "<0x80040152>");
  EXPECT_EQ(String(Root::LocalMachine, "Software\\Odd", ""), "<0x80040152>");
  std::string text = ReadFile(path_);
  // Key names that cannot be one line are refused, and nothing is written.
  EXPECT_EQ(Edit().CreateKey(Root::CurrentUser, "A\\\\B").Commit(), E_INVALIDARG);
  EXPECT_EQ(Edit().CreateKey(Root::CurrentUser, "A\nB").Commit(), E_INVALIDARG);
  EXPECT_EQ(ReadFile(path_), text);
}

TEST_F(Registry, NamesAreCaseInsensitiveKeepTheirFirstCaseAndDeleteTreeTakesOnlyItsKey) {
  ASSERT_EQ(Edit()
                .SetString(Root::ClassesRoot, "CLSID\\{ABC-def}", "ThreadingModel", "Apartment")
                .SetString(Root::ClassesRoot, "clsid\\{abc-DEF}", "threadingmodel", "Both")
                .CreateKey(Root::ClassesRoot, "clsid\\Beta")
                .CreateKey(Root::ClassesRoot, "CLSID\\alpha")
                .SetString(Root::ClassesRoot, "App\\CLSID", "", "{1}")
                .SetString(Root::ClassesRoot, "App\\CurVer\\Deep\\Deeper", "x", "y")
                .SetString(Root::ClassesRoot, "App.1", "", "keep")
                .SetString(Root::ClassesRoot, "Apple", "", "keep")
                .SetString(Root::LocalMachine, "App", "", "other root")
                .Commit(),
            S_OK);
  EXPECT_EQ(String(Root::ClassesRoot, "Clsid\\{ABC-DEF}", "THREADINGMODEL"), "Both");
  std::vector<std::string> names;
  ASSERT_EQ(reg::ListSubkeys(Root::ClassesRoot, "CLSID", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "{ABC-def}"}));

  ASSERT_EQ(
      Edit().DeleteTree(Root::ClassesRoot, "APP").DeleteTree(Root::ClassesRoot, "None\\X").Commit(),
      S_OK);
  EXPECT_FALSE(reg::KeyExists(Root::ClassesRoot, "App\\CurVer\\Deep"));
  EXPECT_EQ(String(Root::LocalMachine, "App", ""), "other root");
  ASSERT_EQ(reg::ListSubkeys(Root::ClassesRoot, "", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"App.1", "Apple", "CLSID"}));
}

TEST_F(Registry, DamagedFileIsAnErrorNamingFileAndLineAndIsNeverOverwritten) {
  ASSERT_EQ(Edit().CreateKey(Root::ClassesRoot, "X").Commit(), S_OK);
  const std::pair<std::string, std::string> cases[] = {
      {"garbage\n", ":1:"},
      {"mailquarry-registry 9\n", ":1:"},
      {"mailquarry-registry 1\n@=\"no key\"\n", ":2:"},
      {"mailquarry-registry 1\n\n[HKEY_CLASSES_ROOT\\A]\n@=\"unterminated\n", ":4:"},
      {"mailquarry-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"bad \\q escape\"\n", ":3:"},
      {"mailquarry-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=dword:12\n", ":3:"},
      {"mailquarry-registry 1\n[HKEY_NOWHERE\\A]\n", ":2:"},
      {"mailquarry-registry 1\n[HKEY_CLASSES_ROOT\\A\\\\B]\n", ":2:"},
      {"mailquarry-registry 1\n[HKEY_CLASSES_ROOT\\A]\n@=\"x\" trailing\n", ":3:"},
  };
  for (const auto& [text, line] : cases) {
    SCOPED_TRACE(text);
    WriteFile(path_, text);
    std::string out;
    EXPECT_EQ(reg::GetString(Root::ClassesRoot, "A", "", &out), REGDB_E_READREGDB);
    EXPECT_NE(reg::LastError().find(path_ + line), std::string::npos) << reg::LastError();
    EXPECT_FALSE(reg::KeyExists(Root::ClassesRoot, "X"));
    EXPECT_EQ(Edit().SetString(Root::ClassesRoot, "A", "", "new").Commit(), REGDB_E_READREGDB);
    EXPECT_NE(reg::LastError().find(path_ + line), std::string::npos) << reg::LastError();
    EXPECT_EQ(ReadFile(path_), text);
  }
  // Once repaired, the registry reads again and the error is cleared.
  WriteFile(path_,
            "mailquarry-registry 1\r\n[hkey_classes_root\\A]\r\n@=\"fi\\\"ne\\n\"\r\n"
            "\"n\"=dword:0000002a\r\n");
  EXPECT_EQ(String(Root::ClassesRoot, "A", ""), "fi\"ne\n");
  DWORD n = 0;
  EXPECT_EQ(reg::GetDword(Root::ClassesRoot, "A", "n", &n), S_OK);
  EXPECT_EQ(n, 42u);
  EXPECT_EQ(reg::LastError(), "");
}

// The user's file lies over the system's: a key of the user's gives that
// key's values, subkeys come from both, and writes touch the user's file only.
TEST_F(Registry, UsersFileLiesOverTheSystemsAndWritesGoToTheUsersOnly) {
  fs::create_directories(dir_ + "/etc/mailquarry");
  const std::string system_text =
      "mailquarry-registry 1\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n@=\"/usr/lib/a.so\"\n"
      "\"ThreadingModel\"=\"Apartment\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{B}\\InprocServer32]\n@=\"/usr/lib/b.so\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Only]\n\"n\"=dword:00000007\n";
  WriteFile(system_, system_text);
  ASSERT_EQ(Edit()
                .SetString(Root::ClassesRoot, "clsid\\{a}\\InprocServer32", "", "/home/u/a.so")
                .SetString(Root::ClassesRoot, "CLSID\\{C}\\InprocServer32", "", "/home/u/c.so")
                .Commit(),
            S_OK);
  EXPECT_EQ(String(Root::ClassesRoot, "CLSID\\{A}\\InprocServer32", ""), "/home/u/a.so");
  // The user's key hides the system key's other values too: they belong to
  // another registration.
  EXPECT_EQ(String(Root::ClassesRoot, "CLSID\\{A}\\InprocServer32", "ThreadingModel"),
            "<0x80040152>");
  EXPECT_EQ(String(Root::ClassesRoot, "CLSID\\{B}\\InprocServer32", ""), "/usr/lib/b.so");
  DWORD n = 0;
  EXPECT_EQ(reg::GetDword(Root::LocalMachine, "Software\\Only", "n", &n), S_OK);
  EXPECT_EQ(n, 7u);
  EXPECT_TRUE(reg::KeyExists(Root::LocalMachine, "SOFTWARE"));
  std::vector<std::string> names;
  ASSERT_EQ(reg::ListSubkeys(Root::ClassesRoot, "CLSID", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"{a}", "{B}", "{C}"}));
  ASSERT_EQ(reg::ListValues(Root::ClassesRoot, "CLSID\\{A}\\InprocServer32", &names), S_OK);
  EXPECT_EQ(names, std::vector<std::string>{""});

  // Deleting the user's key uncovers the system's again.
  ASSERT_EQ(Edit().DeleteTree(Root::ClassesRoot, "CLSID\\{A}").Commit(), S_OK);
  EXPECT_EQ(String(Root::ClassesRoot, "CLSID\\{A}\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadFile(system_), system_text);
}

// The system file is the first one found along $XDG_CONFIG_DIRS (absolute
// entries only), else the place under the first entry where one is made.
// A damaged one is named, and does not keep the user's own from being
// written. (Every read failing, and the file left as it is: regsvr's test.)
TEST_F(Registry, SystemFileIsFoundAlongTheConfigDirsAndADamagedOneLetsTheUsersBeWritten) {
  const std::string a = dir_ + "/a", b = dir_ + "/b/";
  {
    ScopedEnv dirs("XDG_CONFIG_DIRS", "relative:" + a + "::" + b);
    EXPECT_EQ(reg::SystemRegistryPath(), a + "/mailquarry/registry");
    fs::create_directories(b + "mailquarry");
    WriteFile(b + "mailquarry/registry", "");
    EXPECT_EQ(reg::SystemRegistryPath(), b + "mailquarry/registry");
  }
  {
    ScopedEnv dirs("XDG_CONFIG_DIRS", nullptr);
    EXPECT_EQ(reg::SystemRegistryPath(), "/etc/xdg/mailquarry/registry");
  }

  fs::create_directories(dir_ + "/etc/mailquarry");
  WriteFile(system_, "mailquarry-registry 1\n[HKEY_CLASSES_ROOT\\A\n");
  EXPECT_FALSE(reg::KeyExists(Root::ClassesRoot, "User"));
  EXPECT_NE(reg::LastError().find(system_ + ":2:"), std::string::npos) << reg::LastError();
  EXPECT_EQ(Edit().SetString(Root::ClassesRoot, "User", "", "again").Commit(), S_OK);
}

// A missing or empty file is an empty registry; the first commit makes the
// directory, private, as under $XDG_CONFIG_HOME by default.
TEST_F(Registry, MissingFileIsEmptyAndTheFirstCommitMakesItPrivate) {
  EXPECT_FALSE(reg::KeyExists(Root::ClassesRoot, "CLSID"));
  EXPECT_EQ(Edit().CreateKey(Root::ClassesRoot, "CLSID").Commit(), S_OK);
  EXPECT_TRUE(reg::KeyExists(Root::ClassesRoot, "CLSID"));
  WriteFile(path_, "");  // made by mkstemp, say
  EXPECT_FALSE(reg::KeyExists(Root::ClassesRoot, "CLSID"));

  ScopedEnv none("MAILQUARRY_REGISTRY", nullptr), xdg("XDG_CONFIG_HOME", dir_ + "/xdg");
  EXPECT_EQ(reg::RegistryPath(), dir_ + "/xdg/mailquarry/registry");
  EXPECT_EQ(Edit().SetDword(Root::CurrentUser, "K", "v", 7).Commit(), S_OK);
  struct stat st;
  for (const std::string& made : {dir_ + "/config", dir_ + "/xdg/mailquarry"}) {
    ASSERT_EQ(stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
  }
  ASSERT_EQ(stat((dir_ + "/xdg/mailquarry/registry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);
}

// A power cut must find the old file or the whole new one: the new file's
// bytes reach the disk before the rename puts it in place, and the rename
// itself once the directory is synced.
TEST_F(Registry, CommitSyncsTheNewFileBeforeTheRenameAndTheDirectoryAfter) {
  ASSERT_EQ(Edit().CreateKey(Root::ClassesRoot, "First").Commit(), S_OK);
  synced.clear();
  ASSERT_EQ(Edit().CreateKey(Root::ClassesRoot, "Second").Commit(), S_OK);
  EXPECT_EQ(synced, (std::vector<std::string>{path_ + ".tmp", dir_ + "/config"}));
}

// Runs body in a child process and waits for it; true when it exited with 0.
template <typename F>
pid_t Spawn(F body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

bool Succeeded(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(Registry, ReadsNeverServeAStaleCacheAfterAnotherProcessCommits) {
  for (int i = 0; i < 20; ++i) {
    // Same length each time, written within the same clock tick.
    std::string before = String(Root::CurrentUser, "Cache", "v");
    std::string next = std::to_string(1000 + i);
    ASSERT_TRUE(Succeeded(Spawn([&] {
      return Edit().SetString(Root::CurrentUser, "Cache", "v", next).Commit() == S_OK ? 0 : 1;
    })));
    ASSERT_EQ(String(Root::CurrentUser, "Cache", "v"), next) << "was " << before;
  }
}

// The content a writer commits in step n: a large value, so that kills land
// in the middle of writing it, and a counter that must match it.
std::string Padding(DWORD n) {
  return std::string(16 * 1024, static_cast<char>('a' + n % 26)) + std::to_string(n);
}

bool CommitStep(DWORD n) {
  return Edit()
             .SetDword(Root::CurrentUser, "Kill", "n", n)
             .SetString(Root::CurrentUser, "Kill", "pad", Padding(n))
             .Commit() == S_OK;
}

TEST_F(Registry, WriterKilledAtAnyMomentLeavesTheOldOrTheNewContent) {
  // How long a commit takes here and now (the machine may be busy): kills are
  // spread over a window that follows it, so they land before, inside and
  // after the writing of the file.
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(CommitStep(0));
  double window_us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  std::mt19937 random(12345);
  DWORD last = 0;
  int interrupted_mid_write = 0;
  constexpr int kKills = 80;
  for (int round = 0; round < kKills; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = Spawn([&] {
      close(ready[0]);
      for (;;) {
        DWORD n = 0;
        if (reg::GetDword(Root::CurrentUser, "Kill", "n", &n) != S_OK) return 1;
        if (write(ready[1], "c", 1) != 1) return 3;  // about to commit
        if (!CommitStep(n + 1)) return 2;
      }
    });
    ASSERT_GT(pid, 0);
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    std::uniform_real_distribution<double> delay(0, window_us);
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(delay(random))));
    kill(pid, SIGKILL);
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: " << status;
    bool mid_write = fs::exists(path_ + ".tmp");
    interrupted_mid_write += mid_write;

    DWORD n = 0;
    ASSERT_EQ(reg::GetDword(Root::CurrentUser, "Kill", "n", &n), S_OK) << reg::LastError();
    ASSERT_GE(n, last);
    ASSERT_EQ(String(Root::CurrentUser, "Kill", "pad"), Padding(n)) << "round " << round;
    if (n > last) {
      window_us *= 0.8;
    } else if (!mid_write) {
      window_us *= 1.2;  // killed before it got to writing: wait longer
    }
    last = n;
  }
  // The lock died with the writer, and the leftover temporary file is cleared.
  EXPECT_EQ(Edit().SetDword(Root::CurrentUser, "Kill", "after", 1).Commit(), S_OK);
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
  EXPECT_GT(last, 0u);
  EXPECT_GT(interrupted_mid_write, 0);
}

TEST_F(Registry, ConcurrentWritersLoseNoChange) {
  constexpr int kCommits = 100;
  auto writer = [](const char* who) {
    return [who] {
      for (int i = 0; i < kCommits; ++i) {
        if (Edit()
                .SetDword(Root::CurrentUser, std::string("Writers\\") + who, std::to_string(i), i)
                .Commit() != S_OK) {
          return 1;
        }
      }
      return 0;
    };
  };
  pid_t a = Spawn(writer("A"));
  pid_t b = Spawn(writer("B"));
  ASSERT_TRUE(Succeeded(a));
  ASSERT_TRUE(Succeeded(b));
  for (const char* who : {"A", "B"}) {
    std::vector<std::string> names;
    ASSERT_EQ(reg::ListValues(Root::CurrentUser, std::string("Writers\\") + who, &names), S_OK);
    EXPECT_EQ(names.size(), static_cast<size_t>(kCommits)) << who;
  }
}

}  // namespace
