// SPDX-License-Identifier: LGPL-2.1-or-later
// Processes killed in the middle of writes, and processes writing at once:
// the files stay the truth and the index agrees with them at the next open.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

using testing::MaildirFixture;

constexpr char kTrailer[] = "\r\n-- end of message --\r\n";

std::string Body(int n) {
  std::string m = "Subject: message " + std::to_string(n) + "\r\n\r\n";
  m += std::string(20000 + n % 7 * 1000, 'x');
  return m + kTrailer;
}

bool Complete(const std::string& bytes) {
  return bytes.size() > sizeof kTrailer &&
         bytes.compare(bytes.size() - (sizeof kTrailer - 1), std::string::npos, kTrailer) == 0;
}

// Every file is listed once, every listed message opens with its whole text,
// and no folder lost a message.
void ExpectConsistent(IStoreNamespace* ns) {
  std::set<MESSAGEID> ids;
  for (const auto& f : FolderTree(ns)) {
    auto folder = OpenById(ns, f.id);
    auto msgs = Messages(folder.Get());
    EXPECT_EQ(msgs.size(), f.messages) << f.name;
    for (const auto& m : msgs) {
      EXPECT_TRUE(ids.insert(m.id).second) << "duplicate id " << m.id;
      std::string text = ReadStream(folder.Get(), m.id);
      EXPECT_TRUE(Complete(text)) << f.name << " message " << m.id << " size " << text.size();
      EXPECT_EQ(m.size, text.size());
    }
  }
}

// Runs `work` in a child that is killed after `delay`.
template <class Work>
void KillDuring(std::chrono::microseconds delay, Work work) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    work();
    _exit(0);
  }
  std::this_thread::sleep_for(delay);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override { fx.UseAsMailDir(); }
  std::chrono::microseconds RandomDelay() {
    return std::chrono::microseconds(2000 + rng() % 60000);
  }
  std::map<std::string, STOREFOLDERID> FolderIds() {
    std::map<std::string, STOREFOLDERID> ids;
    for (const auto& f : FolderTree(OpenStore().Get())) ids[f.name] = f.id;
    return ids;
  }
  // The whole tree T moved, or none of it: every folder keeps its id
  // ("Renamed" is T) and the three messages are all there.
  void ExpectTreeWhole(std::map<std::string, STOREFOLDERID>& before) {
    auto ns = OpenStore();
    auto tree = FolderTree(ns.Get());
    EXPECT_EQ(tree.size(), before.size());
    DWORD messages = 0;
    for (const auto& f : tree) {
      EXPECT_EQ(f.id, before[f.name == "Renamed" ? "T" : f.name]) << f.name;
      messages += f.messages;
    }
    EXPECT_EQ(messages, 3u);
    ExpectConsistent(ns.Get());
  }
  MaildirFixture fx;
  std::mt19937 rng{12345};
};

TEST_F(CrashTest, KilledWhileCommittingAndCopying) {
  fx.AddFolder({"B"});
  for (int i = 0; i < 3; ++i) fx.AddMessage({"A"}, Body(i));
  for (int round = 0; round < 8 && !HasFailure(); ++round) {
    KillDuring(RandomDelay(), [&] {
      auto ns = OpenStore();
      auto a = OpenByName(ns.Get(), "A");
      auto b = OpenByName(ns.Get(), "B");
      for (int n = 0;; ++n) {
        com::ComPtr<IStream> s;
        MESSAGEID id = 0;
        if (a->CreateStream(nullptr, 0, s.ReleaseAndGetAddressOf(), &id) != S_OK) _exit(1);
        std::string text = Body(n);
        // In pieces, so that a kill can land between writes.
        for (std::size_t at = 0; at < text.size(); at += 4096)
          s->Write(text.data() + at,
                   static_cast<ULONG>(std::min<std::size_t>(4096, text.size() - at)), nullptr);
        if (a->CommitStream(nullptr, 0, 0, s.Get(), id, nullptr) != S_OK) _exit(1);
        MESSAGEIDLIST one{sizeof(MESSAGEIDLIST), 1, &id};
        if (ns->CopyMoveMessages(a.Get(), b.Get(), &one, n % 2 ? CMF_MOVE : 0, 0, nullptr) != S_OK)
          _exit(1);
      }
    });
    ExpectConsistent(OpenStore().Get());
  }
}

TEST_F(CrashTest, KilledWhileRenamingAFolderTree) {
  fx.AddMessage({"T", "C1", "D"}, Body(1));
  fx.AddMessage({"T", "C2"}, Body(2));
  fx.AddMessage({"T"}, Body(3));
  auto before = FolderIds();
  ASSERT_EQ(before.size(), 5u);
  for (int round = 0; round < 8 && !HasFailure(); ++round) {
    KillDuring(RandomDelay(), [&] {
      auto ns = OpenStore();
      for (int n = 0;; ++n)
        if (ns->RenameFolder(before["T"], 0, n % 2 ? "T" : "Renamed") != S_OK) _exit(1);
    });
    ExpectTreeWhole(before);
  }
}

TEST_F(CrashTest, KilledWhileMovingANestedFolderTree) {
  std::string root = fx.root() + "/Mail";
  for (const char* f : {"INBOX", "X", "T/C1", "T/C2"}) testing::AddNestedFolder(root, f);
  const char* withMessage[] = {"T", "T/C1/D", "T/C2"};
  for (int n = 0; n < 3; ++n)
    testing::WriteFile(testing::AddNestedFolder(root, withMessage[n]) + "/cur/17000000" +
                           std::to_string(n) + ".1.host:2,S",
                       Body(n));
  setenv("MAILDIR", root.c_str(), 1);
  auto before = FolderIds();
  ASSERT_EQ(before.size(), 6u);
  for (int round = 0; round < 8 && !HasFailure(); ++round) {
    KillDuring(RandomDelay(), [&] {
      auto ns = OpenStore();
      for (int i = 0;; ++i) {
        HRESULT hr = i % 3 == 2 ? ns->RenameFolder(before["T"], 0, i % 2 ? "T" : "Renamed")
                                : ns->MoveFolder(before["T"], i % 2 ? before["X"] : 0, 0);
        if (FAILED(hr)) _exit(1);
      }
    });
    ExpectTreeWhole(before);
    int onDisk = 0;  // one T, whatever its name and place
    for (const char* t : {"/T", "/Renamed", "/X/T", "/X/Renamed"})
      onDisk += maildir::IsMaildir(root + t + "/C1/D");
    EXPECT_EQ(onDisk, 1);
  }
}

// Processes that find no index make it at the same moment: each of them
// opens the store (switching a new index's journal can answer "busy" at once).
TEST_F(CrashTest, ProcessesMakingTheIndexAtOnceAllOpenTheStore) {
  const std::string index = fx.root() + "/mailquarry-index.sqlite";
  for (int round = 0; round < 30; ++round) {
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((index + suffix).c_str());
    pid_t pids[3];
    for (pid_t& pid : pids) {
      pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        com::ComPtr<IStoreNamespace> ns;
        _exit(CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress()) == S_OK &&
                      ns->Initialize(nullptr, 0) == S_OK
                  ? 0
                  : 1);
      }
    }
    for (pid_t pid : pids) {
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
  }
}

TEST_F(CrashTest, TwoProcessesAddingAtOnceGetUniqueIdsAndLoseNothing) {
  fx.AddFolder({"Shared"});
  constexpr int kEach = 25;
  mqtest::TempDir reports;  // the ids each child was given, one a line
  pid_t pids[2];
  for (int c = 0; c < 2; ++c) {
    pids[c] = fork();
    ASSERT_GE(pids[c], 0);
    if (pids[c] == 0) {
      auto ns = OpenStore();
      auto folder = OpenByName(ns.Get(), "Shared");
      std::ofstream out(reports / std::to_string(c));
      for (int n = 0; n < kEach; ++n) {
        MESSAGEID id = Commit(folder.Get(), Body(c * 1000 + n));
        if (!id) _exit(2);
        out << id << "\n";
        Messages(folder.Get());  // enumerate while the other one writes
      }
      out.close();
      _exit(out ? 0 : 3);
    }
  }
  std::set<MESSAGEID> reported;
  for (int c = 0; c < 2; ++c) {
    int status = 0;
    waitpid(pids[c], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << c;
    std::istringstream in(mqtest::ReadFile(reports / std::to_string(c)));
    for (MESSAGEID id; in >> id;)
      EXPECT_TRUE(reported.insert(id).second) << "id " << id << " twice";
  }
  EXPECT_EQ(reported.size(), 2u * kEach);
  auto ns = OpenStore();
  std::set<MESSAGEID> listed;
  for (const auto& m : Messages(OpenByName(ns.Get(), "Shared").Get())) listed.insert(m.id);
  EXPECT_EQ(listed, reported);
  ExpectConsistent(ns.Get());
}

}  // namespace
}  // namespace store
