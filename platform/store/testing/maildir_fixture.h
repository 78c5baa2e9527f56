// SPDX-License-Identifier: LGPL-2.1-or-later
// A Maildir++ tree in a fresh temporary directory, for tests: folders (nested)
// and messages from given bytes, with given flags and delivery time. The tree
// is written directly, as a mail delivery program would write it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/scratch.h"

namespace store::testing {

// A folder named by its path of UTF-8 names from the root: {} is Inbox,
// {"A", "A1"} is A1 below A.
using FolderPath = std::vector<std::string>;

struct MessageOptions {
  std::string flags;           // Maildir info letters, e.g. "S" (read) or "FS"
  std::int64_t delivered = 0;  // delivery time, seconds since the epoch; 0 = now
  bool inNew = false;          // deliver into new/ (no info part) instead of cur/
};

class MaildirFixture {
 public:
  // An empty Maildir (cur, new, tmp) in a fresh directory, removed with the
  // fixture, which also puts back $MAILDIR if UseAsMailDir changed it.
  MaildirFixture();
  MaildirFixture(const MaildirFixture&) = delete;
  MaildirFixture& operator=(const MaildirFixture&) = delete;

  const std::string& root() const { return root_; }
  // Points $MAILDIR at this tree for as long as the fixture lives.
  void UseAsMailDir();

  // Creates the folder and any missing parents; returns its directory.
  std::string AddFolder(const FolderPath& folder);
  std::string FolderDir(const FolderPath& folder) const;
  // Writes a message file into the folder (created when missing); returns its path.
  std::string AddMessage(const FolderPath& folder, std::string_view bytes,
                         const MessageOptions& options = {});

  // A small message: From, To, Subject, Date, Message-ID headers and `body`.
  static std::string Message(std::string_view from, std::string_view to, std::string_view subject,
                             std::string_view body = "Hello.\r\n");
  // The message files of a folder (cur/ and new/), sorted.
  std::vector<std::string> Files(const FolderPath& folder) const;

 private:
  mqtest::TempDir dir_;
  const std::string root_ = dir_.path();
  std::optional<mqtest::ScopedEnv> env_;
  unsigned counter_ = 0;
};

}  // namespace store::testing
