// SPDX-License-Identifier: LGPL-2.1-or-later
// mbox stores, read only: one mbox file (its one folder is the Inbox), or a
// directory of them: each mbox file a folder named by its file name, and
// "<name>.sbd/" beside it holding that folder's subfolders, as Thunderbird
// keeps them; a plain directory that holds folders is a folder without
// messages. A folder's dir is its file's path below the root ("" when the
// root is the file), or where that file would be. A directory holding cur/
// and tmp/ is a folder of Thunderbird's per-message store. The formats of
// both kinds of folder are given to the detector.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/engine/folder_layout.h"

namespace store::mbox {

class DirectoryLayout : public FolderLayout {
 public:
  // `files`: the format of mbox files; `perMessage`: of folders that are
  // directories of message files.
  DirectoryLayout(bool oneFile, std::string inboxDir, const MessageFormat* files,
                  const MessageFormat* perMessage)
      : oneFile_(oneFile), inbox_(std::move(inboxDir)), files_(files), perMessage_(perMessage) {}

  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const override;
  const std::string& inboxDir() const override { return inbox_; }
  std::optional<std::string> ParentDir(std::string_view dir) const override;
  std::string Name(std::string_view dir) const override;
  char separator() const override { return '/'; }
  const MessageFormat* FormatOf(const std::string& root, std::string_view dir) const override;
  std::vector<const MessageFormat*> Formats() const override;
  bool foreign() const override { return true; }
  std::string IndexPath(const std::string& root) const override;
  std::string Describe(const std::string& root) const override;

 protected:
  bool oneFile_;
  std::string inbox_;
  const MessageFormat* files_;
  const MessageFormat* perMessage_;
};

// An mbox file, or a directory holding mbox files (below .sbd directories
// too); null for anything else.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan,
                                           const MessageFormat* files,
                                           const MessageFormat* perMessage);

// Whether the file at `path` is an mbox folder: a regular file whose first
// line is a "From " line; an empty file only beside its Thunderbird summary
// (`<name>.msf`), as Thunderbird keeps an empty folder.
bool IsMboxFile(const std::string& path);

// Whether the directory at `path` is a folder of Thunderbird's per-message
// store: it holds cur/ and tmp/ (new/ is optional there).
bool IsPerMessageFolder(const std::string& path);

// Appends to `out` the mbox folders found in the directory `path`, whose
// dirs begin with `prefix` ("" or a directory path ending in "/"), with the
// times of the directories read. What mbox stores list below a directory;
// for layouts that assemble a tree of several such directories.
void ScanDirectory(const std::string& path, const std::string& prefix, TreeScan* out);

// The index file of the mbox store at `root`: under $XDG_CACHE_HOME (else
// ~/.cache)/mailquarry/, named by a hash of the root's real path, since
// Thunderbird takes any unknown file in a folder directory for a folder.
std::string IndexPathFor(const std::string& root);

}  // namespace store::mbox
