// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/chunked_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace store::mbox {
namespace {

// Messages of many sizes, copies among them, and lines that look like
// envelopes where no message begins.
std::string File() {
  std::string bytes;
  for (int i = 0; i < 400; ++i) {
    bytes += "From - Mon Jan 01 00:00:00 2001\n";
    bytes += "Subject: " + std::to_string(i % 7) + "\n\n";
    for (int line = 0; line < i % 37; ++line) bytes += "a line of text\n";
    if (i % 5 == 0) bytes += "--b--\nFrom x Mon Jan 01 00:00:00 2999\n>From y\n";
    bytes += "\n";
  }
  return bytes;
}

using Key = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t>;

struct Handed {
  std::vector<Key> messages;
  std::uint64_t reached = 0;
};

Handed Scan(const std::string& bytes, std::size_t chunkBytes, int mayReadTimes, int takeTimes) {
  std::atomic<int> reads{0};
  ChunkedScan scan(
      bytes,
      [](std::string_view b, Scanned* m) {
        m->facts = ReadFacts(b.substr(m->span.text, m->span.textEnd - m->span.text));
      },
      [&] { return mayReadTimes < 0 || reads++ < mayReadTimes; }, {chunkBytes, 0});
  Handed out;
  int takes = 0;
  out.reached = scan.Run(0, [&](std::vector<Scanned>& messages, std::uint64_t end) {
    if (takeTimes >= 0 && takes++ >= takeTimes) return false;
    for (const Scanned& m : messages) {
      out.messages.emplace_back(m.span.from, m.span.end, m.facts.hash, m.span.quoted);
      EXPECT_LE(m.span.end, end);
    }
    if (!messages.empty()) {
      EXPECT_EQ(messages.back().span.end, end);
    }
    return true;
  });
  return out;
}

// Two threads hand on what one thread splitting the whole file finds, in its
// order, in chunks of any size; a scan that must stop hands on a run of
// messages from the first, and says where it ends.
TEST(MboxChunkedScan, HandsOnTheMessagesOfTheWholeSplitInOrder) {
  const std::string bytes = File();
  std::vector<Key> whole;
  Splitter splitter(bytes);
  for (Span s; splitter.Next(&s);)
    whole.emplace_back(s.from, s.end, ReadFacts(bytes.substr(s.text, s.textEnd - s.text)).hash,
                       s.quoted);
  ASSERT_EQ(whole.size(), 400u);
  for (std::size_t chunk : {1, 300, 4096, 1 << 20}) {
    const Handed all = Scan(bytes, chunk, -1, -1);
    EXPECT_EQ(all.messages, whole) << chunk;
    EXPECT_EQ(all.reached, bytes.size()) << chunk;
    for (auto [reads, takes] : {std::pair{0, -1}, {1, -1}, {7, -1}, {-1, 0}, {-1, 3}}) {
      const Handed part = Scan(bytes, chunk, reads, takes);
      ASSERT_LE(part.messages.size(), whole.size());
      EXPECT_TRUE(std::equal(part.messages.begin(), part.messages.end(), whole.begin()));
      EXPECT_EQ(part.reached, part.messages.empty() ? 0 : std::get<1>(part.messages.back()));
      if (reads == 0 || takes == 0) {
        EXPECT_TRUE(part.messages.empty());
      }
    }
  }
}

}  // namespace
}  // namespace store::mbox
