// SPDX-License-Identifier: LGPL-2.1-or-later
// Apple Mail's message files (".emlx"): a line holding the message's length
// in bytes (padded with blanks), the message itself, then an XML property
// list of what Mail knows of it, whose "flags" integer holds the read state
// in bit 0 and a deletion in bit 1. A pure reader: no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace store::apple {

inline constexpr std::int64_t kEmlxRead = 1 << 0;
inline constexpr std::int64_t kEmlxDeleted = 1 << 1;

struct EmlxFrame {
  std::size_t start = 0;   // where the message begins in the file
  std::size_t length = 0;  // its length
};

// Where the message stands in an .emlx file of `fileSize` bytes that begins
// with `head` (at least its first line); nullopt when the first line is no
// length or the message would run past the end.
std::optional<EmlxFrame> ParseEmlxFrame(std::string_view head, std::size_t fileSize);
inline std::optional<EmlxFrame> ParseEmlxFrame(std::string_view bytes) {
  return ParseEmlxFrame(bytes, bytes.size());
}

// The "flags" integer of the property list that follows the message;
// nullopt when there is none.
std::optional<std::int64_t> ParseEmlxFlags(std::string_view plist);

}  // namespace store::apple
