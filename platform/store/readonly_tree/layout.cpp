// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/readonly_tree/layout.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/names.h"
#include "platform/store/mbox/layout.h"

namespace store {

std::optional<std::string> ReadOnlyTreeLayout::ParentDir(std::string_view dir) const {
  return PlaceBefore(dir, '/');
}

std::string ReadOnlyTreeLayout::Name(std::string_view dir) const {
  return maildir::ValidUtf8(dir.substr(dir.rfind('/') + 1));
}

std::string ReadOnlyTreeLayout::IndexPath(const std::string& root) const {
  return mbox::IndexPathFor(root);
}

DirectoryVisits::DirectoryVisits(TreeScan* out, int maxDepth) : out_(out), maxDepth_(maxDepth) {
  *out_ = TreeScan();
  out_->start = disk::NowNs();
}

bool DirectoryVisits::Enter(const std::string& path, int depth, std::string timeKey) {
  struct stat st;
  if (depth > maxDepth_ || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      !visited_.insert({st.st_dev, st.st_ino}).second)
    return false;
  out_->times.emplace_back(std::move(timeKey), disk::MTimeOf(st));
  return true;
}

void SortDirs(TreeScan* scan) {
  std::sort(scan->dirs.begin(), scan->dirs.end());
  scan->dirs.erase(std::unique(scan->dirs.begin(), scan->dirs.end()), scan->dirs.end());
}

std::string FindInbox(const std::vector<std::string>& dirs, std::string_view preferred) {
  if (!preferred.empty() && std::binary_search(dirs.begin(), dirs.end(), preferred))
    return std::string(preferred);
  // Of "INBOX" and "inbox" both there, the last in order.
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
    if (it->size() == 5 && strncasecmp(it->c_str(), "inbox", 5) == 0) return *it;
  return "/";
}

}  // namespace store
