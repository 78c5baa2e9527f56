// SPDX-License-Identifier: LGPL-2.1-or-later
// The read state MH mail programs keep beside a folder's numbered message
// files: Claws Mail's ".claws_mark" and Sylpheed's ".sylpheed_mark" (a 32-bit
// version, 2, then a pair of 32-bit words for each message: its number and
// its flags, in the writer's byte order, little-endian on every machine they
// run on today), and the sequences of nmh's ".mh_sequences" ("unseen: 1-3 7").
// Pure readers: no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace store::mh {

// The flag bits of a mark file's entry.
inline constexpr std::uint32_t kMarkNew = 1u << 0;
inline constexpr std::uint32_t kMarkUnread = 1u << 1;
inline constexpr std::uint32_t kMarkMarked = 1u << 2;
inline constexpr std::uint32_t kMarkDeleted = 1u << 3;
inline constexpr std::uint32_t kMarkReplied = 1u << 4;
inline constexpr std::uint32_t kMarkForwarded = 1u << 5;

// Message number -> flags; a number listed twice keeps its last entry, as
// the writer's own reading does. Nullopt for a file of another version or
// no mark file at all (shorter than its version word). A trailing half entry
// is left out.
std::optional<std::unordered_map<std::uint32_t, std::uint32_t>> ParseMarkFile(
    std::string_view bytes);

// A set of message numbers as sorted, disjoint, inclusive ranges.
class Sequence {
 public:
  // Adds a range; Normalize sorts and merges them before Contains is asked.
  void Add(std::uint32_t first, std::uint32_t last);
  void Normalize();
  bool Contains(std::uint32_t n) const;
  bool empty() const { return ranges_.empty(); }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& ranges() const { return ranges_; }

 private:
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_;
};

// The sequence `name` of an .mh_sequences file ("name: 1-3 7 9-12", a line
// beginning with blanks continuing the one before); nullopt when the file
// does not list it. Numbers that are no 32-bit message numbers, and ranges
// that run backwards, are left out.
std::optional<Sequence> ParseSequence(std::string_view text, std::string_view name);

}  // namespace store::mh
