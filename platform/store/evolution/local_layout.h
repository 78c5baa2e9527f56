// SPDX-License-Identifier: LGPL-2.1-or-later
// Evolution's local folders ("On This Computer",
// ~/.local/share/evolution/mail/local), read only: a Maildir++ tree whose
// root is the Inbox. When a "..maildir++" file marks the tree, a '.' or '_'
// in a folder's name is stored as "_2E" or "_5F" so that the '.' between
// levels stays unambiguous; names are UTF-8. Evolution keeps its own summary
// of these folders (folders.db), so nothing is written into the tree; the
// index lives in the cache.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/store/engine/folder_layout.h"

namespace store::evolution {

// A folder's name from one level of its directory name: "_2E" and "_5F"
// undone when `escaped`, and bytes that are no UTF-8 mended.
std::string LocalFolderName(std::string_view onDisk, bool escaped);

// Whether `root` is such a tree: a Maildir holding the "..maildir++" marker
// or Evolution's folders.db.
bool IsLocalStore(const std::string& root);

// Null when `root` is no such tree.
std::unique_ptr<FolderLayout> DetectLocalLayout(const std::string& root, TreeScan* scan);

// Evolution's read-only view of a Maildir: its files as the Maildir format
// reads them, never renamed or written.
const MessageFormat* ReadOnlyMaildir();

}  // namespace store::evolution
