// SPDX-License-Identifier: LGPL-2.1-or-later
// The lease that lets a listing read an mbox file through a mapping: a
// truncation waits until the reader has seen it asked for and let go, and no
// signal reaches the process on the way.
#include "platform/store/mbox/file_mapping.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/testing/scratch.h"

namespace store::mbox {
namespace {

TEST(FileMapping, ATruncationWaitsUntilTheReaderLetsGoAndAWriterPreventsTheLease) {
  mqtest::TempDir dir;
  const std::string path = dir.path() + "/box";
  const std::string bytes(1 << 16, 'x');
  std::ofstream(path, std::ios::binary) << bytes;

  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  FileMapping map(fd, bytes.size());
  close(fd);  // the lease lives as long as the mapping, not the caller's descriptor
  ASSERT_TRUE(map.ok());
  if (!map.Lease()) GTEST_SKIP() << "no read leases on this file system";
  EXPECT_TRUE(map.Intact());

  std::atomic<bool> truncated{false};
  std::thread cutter([&] {
    if (truncate(path.c_str(), 0) == 0) truncated = true;
  });
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (map.Intact() && std::chrono::steady_clock::now() < giveUp) {
    // While the lease holds the file keeps its bytes: reading its last page
    // would raise SIGBUS once it is cut.
    EXPECT_FALSE(truncated);
    EXPECT_EQ(map.bytes().back(), 'x');
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(map.Intact());
  cutter.join();
  EXPECT_TRUE(truncated);

  // A file that someone has open for writing gets no lease: it is read with pread.
  std::ofstream(path, std::ios::binary) << bytes;
  int writer = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_GE(reader, 0);
  FileMapping held(reader, bytes.size());
  EXPECT_FALSE(held.Lease());
  EXPECT_FALSE(held.Intact());
  close(reader);
  close(writer);

  // Nor does a file cut between its mapping and the lease: its last pages
  // are gone, and the lease would not bring them back.
  reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  FileMapping cut(reader, bytes.size());
  close(reader);
  ASSERT_EQ(truncate(path.c_str(), 100), 0);
  EXPECT_FALSE(cut.Lease());
  EXPECT_FALSE(cut.Intact());
}

}  // namespace
}  // namespace store::mbox
