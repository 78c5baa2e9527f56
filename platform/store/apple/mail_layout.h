// SPDX-License-Identifier: LGPL-2.1-or-later
// Apple Mail's mailboxes copied from a Mac, read only: a directory holding
// "Name.mbox" directories, each a folder named Name, its subfolders the
// ".mbox" directories inside it. A mailbox exported from Mail holds its
// messages in one file "mbox" (the mbox format); Mail's own store keeps one
// ".emlx" file a message in "Messages" directories below the mailbox
// (emlx.h), its read state in the file's property list. A folder's dir is
// its names joined with '/' ("Work/Projects"), its place
// "<root>/Work.mbox/Projects.mbox" (or the "mbox" file inside).
#pragma once

#include <memory>
#include <string>

#include "platform/store/engine/folder_layout.h"

namespace store::apple {

// Whether `root` is a directory holding such mailboxes.
bool IsMailboxDirectory(const std::string& root);

// Null when `root` is none.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan);

}  // namespace store::apple
