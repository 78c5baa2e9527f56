// SPDX-License-Identifier: LGPL-2.1-or-later
// One folder as the engine knows it between listings of the tree.
#pragma once

#include <string>

#include "platform/store/store.h"

namespace store {

class MessageFormat;

struct FolderInfo {
  STOREFOLDERID id = 0;
  STOREFOLDERID parent = FOLDERID_ROOT;
  std::string dir;   // its layout's name for it (folder_layout.h); the index's folders.path
  std::string name;  // UTF-8 leaf name
  std::string sortKey;
  bool inbox = false;
  // How its messages are stored (its layout's FormatOf); null only for the
  // root, which holds no messages.
  const MessageFormat* format = nullptr;
};

}  // namespace store
