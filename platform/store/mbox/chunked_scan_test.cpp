// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/chunked_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <tuple>
#include <vector>

namespace store::mbox {
namespace {

using Key = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t>;

// Two threads hand on what one thread splitting the whole file finds, in its
// order, in chunks of any size; a scan that must stop (the bytes may no
// longer be read, or the taker says so) hands on a run of messages from the
// first, and says where it ends.
TEST(MboxChunkedScan, HandsOnTheMessagesOfTheWholeSplitInOrder) {
  // Messages of many sizes, copies among them, and envelope lines where no
  // message begins.
  std::string bytes;
  for (int i = 0; i < 400; ++i) {
    bytes += "From - Mon Jan 01 00:00:00 2001\nSubject: " + std::to_string(i % 7) + "\n\n";
    for (int line = 0; line < i % 37; ++line) bytes += "a line of text\n";
    if (i % 5 == 0) bytes += "--b--\nFrom x Mon Jan 01 00:00:00 2999\n>From y\n";
    bytes += "\n";
  }
  auto hash = [&](const Span& s) {
    return ReadFacts(bytes.substr(s.text, s.textEnd - s.text)).hash;
  };
  std::vector<Key> whole;
  Splitter splitter(bytes);
  for (Span s; splitter.Next(&s);) whole.emplace_back(s.from, s.end, hash(s), s.quoted);
  ASSERT_EQ(whole.size(), 400u);

  for (std::size_t chunk : {1, 300, 4096, 1 << 20}) {
    for (auto [reads, takes] : {std::pair{-1, -1}, {0, -1}, {1, -1}, {7, -1}, {-1, 0}, {-1, 3}}) {
      std::atomic<int> read{0};
      ChunkedScan scan(
          bytes,
          [](std::string_view b, Scanned* m) {
            m->facts = ReadFacts(b.substr(m->span.text, m->span.textEnd - m->span.text));
          },
          [&] { return reads < 0 || read++ < reads; }, {chunk, 0});
      std::vector<Key> handed;
      int taken = 0;
      const std::uint64_t reached = scan.Run(0, [&](std::vector<Scanned>& ms, std::uint64_t end) {
        if (takes >= 0 && taken++ >= takes) return false;
        for (const Scanned& m : ms)
          handed.emplace_back(m.span.from, m.span.end, m.facts.hash, m.span.quoted);
        EXPECT_TRUE(ms.empty() || ms.back().span.end == end);
        return true;
      });
      const auto at = "chunk " + std::to_string(chunk) + ", reads " + std::to_string(reads) +
                      ", takes " + std::to_string(takes);
      if (reads < 0 && takes < 0) {
        EXPECT_EQ(handed, whole) << at;
      }
      ASSERT_LE(handed.size(), whole.size()) << at;
      EXPECT_TRUE(std::equal(handed.begin(), handed.end(), whole.begin())) << at;
      EXPECT_EQ(reached, handed.empty() ? 0 : std::get<1>(handed.back())) << at;
      if (reads == 0 || takes == 0) {
        EXPECT_TRUE(handed.empty()) << at;
      }
    }
  }
}

}  // namespace
}  // namespace store::mbox
