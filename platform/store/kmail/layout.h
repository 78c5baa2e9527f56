// SPDX-License-Identifier: LGPL-2.1-or-later
// KMail's local folders (~/.local/share/local-mail), read only: each folder
// a Maildir named as the folder, the subfolders of folder X in the directory
// ".X.directory" beside it, as KMail's Maildir resource keeps them. A
// folder's dir is its path of names joined with '/' ("lists/dev"), its place
// "<root>/.lists.directory/dev". KMail keeps its own state of these folders,
// so nothing is written into the tree; the index lives in the cache.
#pragma once

#include <memory>
#include <string>

#include "platform/store/engine/folder_layout.h"

namespace store::kmail {

// Whether `root` is such a tree: a directory named "local-mail", or one
// holding a ".X.directory" beside a Maildir X.
bool IsLocalMail(const std::string& root);

// Null when `root` is no such tree.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan);

}  // namespace store::kmail
