// SPDX-License-Identifier: LGPL-2.1-or-later
// What the store engine's source files share: constants of the index and the
// Maildir, and a few small helpers. Not for use outside the engine.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/com/hresult.h"
#include "platform/store/store.h"

namespace store::engine {

inline constexpr char kIndexName[] = "mailquarry-index.sqlite";
inline constexpr char kTrashPrefix[] = "mailquarry-trash-";
// A stored directory time that the next listing must not rely on.
inline constexpr std::int64_t kUntrusted = -2;
// A directory whose mtime is at least this much older than the moment we began
// listing it is trusted to change its mtime on any later change, whatever the
// file system's timestamp granularity (1 s on some, 2 s on FAT).
inline constexpr std::int64_t kMtimeMarginNs = 2'000'000'000;
inline constexpr std::int64_t kStaleTmpNs = 36LL * 3600 * 1'000'000'000;
inline constexpr std::int64_t kMaxId = 0xFFFFFFFE;
inline constexpr DWORD kMaildirFlags = MSG_FLAG_READ | MSG_FLAG_REPLIED | MSG_FLAG_FLAGGED |
                                       MSG_FLAG_DRAFT | MSG_FLAG_TRASHED | MSG_FLAG_PASSED;
// Rows written per transaction by a listing.
inline constexpr int kBatch = 2000;
inline const HRESULT kNotFound = MakeHResult(0x80070490);  // ERROR_NOT_FOUND

// The message subdirectory for an index row's `sub`.
inline const char* SubDir(int sub) {
  return sub == 0 ? "cur" : sub == 1 ? "new" : "tmp";
}

inline HRESULT Errno() {
  return com::HResultFromErrno(errno);
}

}  // namespace store::engine
