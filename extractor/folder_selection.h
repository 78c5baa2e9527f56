// SPDX-License-Identifier: LGPL-2.1-or-later
// Which folders an export goes through, and where each one's files go: one
// folder, a folder with its subfolders, or the whole store; junk and
// deleted-mail folders left out of a tree unless asked for; each folder's
// files in a directory named after its path (made safe as a file name), or
// all in the target itself.
#pragma once

#include <string>
#include <vector>

#include "extractor/export_options.h"
#include "extractor/store_folders.h"

namespace mailsift {

struct ChosenFolder {
  int position = 0;       // in the folder list (the control's folder index)
  std::string directory;  // below the target, "Work/Projects"; empty: the target
};

// The folders `options` chooses, starting at list position `start`, in list
// order. A tree keeps `start` itself whatever its name.
std::vector<ChosenFolder> ChooseFolders(const std::vector<StoreFolder>& folders, int start,
                                        const ExportOptions& options);

// Folders that hold junk or deleted mail, by the names mail programs and
// servers give them ("Junk", "Spam", "Trash", "Deleted Items", ...).
bool IsJunkOrTrash(const std::string& folderName);

// A folder name as one directory name: no '/', no control characters, never
// empty, "." or "..", at most 200 bytes.
std::string SafeDirectoryName(const std::string& folderName);

}  // namespace mailsift
