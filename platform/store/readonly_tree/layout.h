// SPDX-License-Identifier: LGPL-2.1-or-later
// What the layouts of trees other programs own share when a folder's dir is
// the folders' names from the top joined by '/' ("Work/Projects"): MH,
// KMail, Evolution's IMAP cache, Geary and Apple Mail. Nothing is written
// into such a tree; its index lives in the user's cache.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/store/engine/folder_layout.h"

namespace store {

class ReadOnlyTreeLayout : public FolderLayout {
 public:
  // `inbox`: the Inbox's dir ("/" for none).
  explicit ReadOnlyTreeLayout(std::string inbox) : inbox_(std::move(inbox)) {}

  const std::string& inboxDir() const override { return inbox_; }
  std::optional<std::string> ParentDir(std::string_view dir) const override;
  // The last name of the dir, as valid UTF-8.
  std::string Name(std::string_view dir) const override;
  char separator() const override { return '/'; }
  bool foreign() const override { return true; }
  std::string IndexPath(const std::string& root) const override;

 private:
  std::string inbox_;
};

// One reading of a tree's directories, started afresh in `out`: each
// directory entered once however many links lead to it (a link may lead back
// up), none deeper than `maxDepth` below the root.
class DirectoryVisits {
 public:
  DirectoryVisits(TreeScan* out, int maxDepth);
  // Whether the directory at `path`, `depth` below the root, is one to read;
  // if so its time is noted under `timeKey` for the next scan.
  bool Enter(const std::string& path, int depth, std::string timeKey);

 private:
  TreeScan* out_;
  int maxDepth_;
  std::set<std::pair<dev_t, ino_t>> visited_;
};

// Sorts the dirs a reading of the tree found and drops repeats.
void SortDirs(TreeScan* scan);

// The Inbox among the sorted `dirs`: `preferred` when it is one of them, else
// a top folder named "inbox" in any case (the last in order of several);
// "/" when there is none.
std::string FindInbox(const std::vector<std::string>& dirs, std::string_view preferred = {});

}  // namespace store
