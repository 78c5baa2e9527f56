// SPDX-License-Identifier: LGPL-2.1-or-later
// The two ways a tree of Maildirs names its folders:
//   Maildir++   the root is the Inbox, every other folder a directory of the
//               root named ".A.A1" (components in modified UTF-7), as
//               Dovecot and Courier write it;
//   nested      each folder a directory of its parent holding cur/, new/ and
//               tmp/, named as the folder in UTF-8, as mbsync ("SubFolders
//               Verbatim"), mutt and mu write it. The Inbox is the root when
//               the root is a Maildir, else the root's child named INBOX (in
//               any case).
// A directory that holds only folders is a folder without messages in both.
// Every folder of both holds the Maildir format (format.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/engine/folder_layout.h"

namespace store::maildir {

// What both layouts share: every folder a Maildir.
class TreeLayout : public FolderLayout {
 public:
  const MessageFormat* FormatOf(const std::string& root, std::string_view dir) const override;
  std::vector<const MessageFormat*> Formats() const override;
  std::string Describe(const std::string& root) const override;
};

class PlusPlusLayout final : public TreeLayout {
 public:
  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const override;
  const std::string& inboxDir() const override { return inbox_; }
  std::optional<std::string> ParentDir(std::string_view dir) const override;
  std::string Name(std::string_view dir) const override;
  char separator() const override { return '.'; }
  std::optional<std::string> ChildDir(const std::string& parentDir,
                                      std::string_view name) const override;
  std::optional<std::string> MovedDir(const std::string& dir,
                                      const std::string& parentDir) const override;
  bool MarksFolders() const override { return true; }
  // The root's directories of the folder and of every folder below it.
  std::vector<std::string> SubtreeDirs(const std::string& root,
                                       const std::string& dir) const override;

 private:
  std::string inbox_;  // the root
};

class NestedLayout final : public TreeLayout {
 public:
  explicit NestedLayout(std::string inboxDir) : inbox_(std::move(inboxDir)) {}
  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const override;
  const std::string& inboxDir() const override { return inbox_; }
  std::optional<std::string> ParentDir(std::string_view dir) const override;
  std::string Name(std::string_view dir) const override;
  char separator() const override { return '/'; }
  std::optional<std::string> ChildDir(const std::string& parentDir,
                                      std::string_view name) const override;
  std::optional<std::string> MovedDir(const std::string& dir,
                                      const std::string& parentDir) const override;
  bool ChildInsideParent() const override { return true; }
  // A folder's directory holds its folders: it moves and goes with them.
  std::string EntryDir(const std::string& dir) const override {
    return ParentDir(dir).value_or("");
  }

 private:
  std::string inbox_;
};

// A Maildir root is Maildir++ unless its folders are directories of their
// own (an empty one is Maildir++); a root that is no Maildir is nested when
// it holds an INBOX or another Maildir folder. Null for anything else.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan);

}  // namespace store::maildir
