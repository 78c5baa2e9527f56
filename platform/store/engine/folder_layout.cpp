// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/folder_layout.h"

#include "platform/store/engine/internal.h"

namespace store {

bool FolderLayout::AtOrBelow(std::string_view dir, std::string_view ancestor) const {
  if (dir.size() < ancestor.size() || dir.compare(0, ancestor.size(), ancestor) != 0) return false;
  return dir.size() == ancestor.size() || dir[ancestor.size()] == separator();
}

std::string FolderLayout::Place(const std::string& root, std::string_view dir) const {
  if (!dir.empty() && dir[0] == '/') return std::string(dir);  // kept outside the root
  return dir.empty() ? root : root + "/" + std::string(dir);
}

std::string FolderLayout::IndexPath(const std::string& root) const {
  return root + "/" + engine::kIndexName;
}

}  // namespace store
