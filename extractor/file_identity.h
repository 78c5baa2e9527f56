// SPDX-License-Identifier: LGPL-2.1-or-later
// Which written files are the same file: byte-identical contents, found by
// size and a fast hash and confirmed byte for byte. A file that an earlier
// run recorded (by size and SHA-256, its bytes maybe gone) counts by those.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace mailsift {

struct FileDigest {
  std::uint64_t size = 0;
  std::uint64_t fastHash = 0;
  std::string sha256;  // lower-case hex; empty when not asked for
};

// Reads the file open at `fd` from its start once: its size, fast hash and,
// when `withSha256`, its SHA-256. Nothing on a read error.
std::optional<FileDigest> DigestFile(int fd, bool withSha256);

// True when the two files hold the same bytes (a read error: false).
bool SameBytes(const std::string& pathA, const std::string& pathB);

class DuplicateFinder {
 public:
  // A file this run wrote, at `path`, shown as `shownAs` (relative to the target).
  void Add(const std::string& path, const std::string& shownAs, const FileDigest& digest);
  // A file an earlier run wrote, shown as `shownAs`.
  void AddRecorded(std::uint64_t size, const std::string& sha256, const std::string& shownAs);
  // Whether a file of `size` bytes may have a twin (then a digest is worth it).
  bool MayHave(std::uint64_t size) const;
  bool WantsSha256(std::uint64_t size) const { return recordedSizes_.count(size) > 0; }
  // What the file at `path` duplicates (its shownAs), or nothing.
  std::optional<std::string> Find(const std::string& path, const FileDigest& digest) const;

 private:
  struct Written {
    std::string path, shownAs;
  };
  // By size and fast hash: a run of many files of one size (the same form
  // sent each month) looks only at those with its hash too.
  std::multimap<std::pair<std::uint64_t, std::uint64_t>, Written> byDigest_;
  std::set<std::uint64_t> sizes_;
  std::map<std::pair<std::uint64_t, std::string>, std::string> recorded_;  // size, sha -> shown
  std::set<std::uint64_t> recordedSizes_;
};

}  // namespace mailsift
