// SPDX-License-Identifier: LGPL-2.1-or-later
// The few file-system steps the store repeats over every tree it reads, and
// the file times it hands out. Paths are UTF-8. Directory syncs and renames
// that must not replace go through the file-safety layer
// (platform/shell/files.h).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com/types.h"

namespace store::disk {

bool IsDirectory(const std::string& path);
// Removes a directory tree without following symbolic links.
bool RemoveTree(const std::string& path);
void FsyncDirectory(const std::string& path);
// rename() that never replaces an existing target: 0, or -1 with errno set
// (EEXIST when something is there).
int RenameNoReplace(const std::string& from, const std::string& to);
// Reads the regular file at `path` whole into `out` when it is at most
// `maxBytes` long (`st` gets its status when given); false otherwise.
// `noFollow`: a symbolic link in its place is not followed.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string* out,
                   struct stat* st = nullptr, bool noFollow = false);
// Modification time in nanoseconds since the epoch, -1 when absent.
std::int64_t MTimeNs(const std::string& path);
std::int64_t NowNs();
// The modification time of a stat() answer, in nanoseconds since the epoch.
inline std::int64_t MTimeOf(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Ticks of 100 ns since 1601-01-01 UTC.
inline std::int64_t UnixToTicks(std::int64_t seconds) {
  constexpr std::int64_t kEpochDiff = 11644473600LL;
  constexpr std::int64_t kMax = INT64_MAX / 10000000 - kEpochDiff;
  if (seconds < -kEpochDiff) return 0;
  if (seconds > kMax) seconds = kMax;
  return (seconds + kEpochDiff) * 10000000;
}

inline FILETIME TicksToFileTime(std::int64_t ticks) {
  auto u = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFF), static_cast<DWORD>(u >> 32)};
}

}  // namespace store::disk
