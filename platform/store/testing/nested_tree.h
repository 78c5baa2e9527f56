// SPDX-License-Identifier: LGPL-2.1-or-later
// Nested Maildir trees for tests, as mbsync ("SubFolders Verbatim"), mutt and
// mu write them: each folder a directory holding cur/, new/ and tmp/, its
// folders as subdirectories.
#pragma once

#include <filesystem>
#include <string>

#include "platform/testing/scratch.h"

namespace store::testing {

// mkdir -p.
inline void MakeDirs(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(path, ignored);
}

// The Maildir `rel` below `root` (and any missing directories above it).
inline std::string AddNestedFolder(const std::string& root, const std::string& rel) {
  std::string dir = rel.empty() ? root : root + "/" + rel;
  for (const char* sub : {"/cur", "/new", "/tmp"}) MakeDirs(dir + sub);
  return dir;
}

using mqtest::WriteFile;

}  // namespace store::testing
