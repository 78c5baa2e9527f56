// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/readonly_tree/layout.h"

#include <strings.h>

#include <algorithm>

#include "platform/store/maildir/names.h"
#include "platform/store/mbox/layout.h"

namespace store {

std::optional<std::string> ReadOnlyTreeLayout::ParentDir(std::string_view dir) const {
  std::size_t cut = dir.rfind('/');
  if (cut == std::string_view::npos || cut == 0) return std::nullopt;
  return std::string(dir.substr(0, cut));
}

std::string ReadOnlyTreeLayout::Name(std::string_view dir) const {
  return maildir::ValidUtf8(dir.substr(dir.rfind('/') + 1));
}

std::string ReadOnlyTreeLayout::IndexPath(const std::string& root) const {
  return mbox::IndexPathFor(root);
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
