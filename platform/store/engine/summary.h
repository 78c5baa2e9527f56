// SPDX-License-Identifier: LGPL-2.1-or-later
// The cached summary of one message, taken from its header block alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace store {

struct Summary {
  // UTF-8 texts; nullopt when the message has no such header.
  std::optional<std::string> subject;
  std::optional<std::string> normalSubject;
  std::optional<std::string> displayFrom;
  std::optional<std::string> displayTo;
  std::optional<std::string> messageId;
  std::optional<std::int64_t> sentSeconds;  // Date:, seconds since the epoch
  bool attachment = false;                  // a guess from the top-level Content-Type/Disposition
};

// Remembers the displayed form of address headers already parsed. The From
// and To lines of a folder repeat (the same correspondents, one's own
// address), and parsing an address list is the dearest step of a summary.
// Not thread-safe: one per thread.
class AddressCache {
 public:
  std::optional<std::string> Displayed(const std::string& raw, bool firstOnly);

 private:
  static constexpr std::size_t kMaxEntries = 4096;  // per kind, a few MB at most
  static constexpr std::size_t kMaxRawLength = 256;
  std::unordered_map<std::string, std::optional<std::string>> known_[2];
};

// Parses a header block (the bytes up to the first empty line) with GMime.
Summary ParseHeaderBlock(std::string_view headers, AddressCache* cache = nullptr);

// Reads the header block of an open message file into `out` (at most 256 KB;
// a file without an empty line is all header).
bool ReadHeaderBlock(int fd, std::string* out);

// The subject without its leading reply and forward prefixes ("Re:", "Fwd:",
// "AW:", "Re[2]:", ...), removed repeatedly.
std::string NormalizeSubject(std::string_view subject);

// Initialises GMime once for the process (never shut down: other modules of
// the process may share it).
void EnsureGMime();

}  // namespace store
