// SPDX-License-Identifier: LGPL-2.1-or-later
// Mail archives whose messages carry Gmail labels (a Takeout archive): each
// such mbox file also holds one folder per label (gmail_labels.h), below the
// file's folder, in the order of the file. When the store is that one file,
// it reads as Gmail shows it: the file's folder is "All Mail" and the label
// folders stand beside it at the top, the Inbox label being the Inbox. A
// label folder's dir is the file's dir and the label's folder path joined
// with '/' ("All mail.mbox/Work/Projects"; "Work/Projects" when the root is
// the file): no folder of the tree can have it, since the file is no
// directory. Dirs never depend on how the folders are shown, so ids do not.
#pragma once

#include <memory>

#include "platform/store/engine/folder_layout.h"
#include "platform/store/mbox/format.h"

namespace store::takeout {

// `files` with the label folders of its labelled files added.
std::unique_ptr<FolderLayout> WithLabels(std::unique_ptr<FolderLayout> files);

// The format of mbox files that may be such archives: an mbox format that
// records the labels of each message.
const mbox::MboxFormat* ArchiveFormat();

}  // namespace store::takeout
