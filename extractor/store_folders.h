// SPDX-License-Identifier: LGPL-2.1-or-later
// The mail store's folder tree as the command line shows and picks it: the
// control's folder list (depth-first, so list position i is folder index i)
// with each folder's depth, path and message count, which the control does
// not tell its clients; they are read from the store through the platform.
#pragma once

#include <string>
#include <vector>

#include "platform/com/hresult.h"

namespace mailsift {

struct StoreFolder {
  std::string name;
  std::string path;  // the names from the top, joined by '/': "Work/Projects"
  int depth = 0;     // 0 for a top-level folder
  unsigned long messages = 0;
  bool account = false;  // a top folder standing for an account or a store
  unsigned long id = 0;  // the store's folder id
  // The messages Thunderbird lists in the folder (its summary), when read
  // and known; more than `messages` when some are not on this computer.
  long listed = -1;
};

// Reads the tree of the store the control opens ($MAILDIR, else every store found)
// in the control's list order. A failed HRESULT when the store cannot be
// created or opened. With `exactCounts` every folder is opened and counts its
// messages as they are now (an mbox file not yet listed is read for it);
// without, the counts are as the store last listed each folder, and what
// Thunderbird lists is not read.
HRESULT ReadStoreFolders(std::vector<StoreFolder>* out, bool exactCounts = false);

// For the folders an export went through (their ids and paths), when
// Thunderbird lists more messages than their files hold: one paragraph
// saying how many are not on this computer, in which folders, and how to get
// them; else empty. The counts are read as the folders are now.
std::string NotOnThisComputer(const std::vector<StoreFolder>& exported);

// The outcome of looking a folder up by what the user typed.
struct FolderLookup {
  int position = -1;             // the folder found, or -1
  std::vector<int> candidates;   // when ambiguous: every folder it names
  std::vector<int> suggestions;  // when unknown: the closest names
};

// `wanted` is a folder's path ("Work/Projects", "Inbox") or its name alone,
// matched exactly; a path match wins over a name shared by several folders.
FolderLookup FindFolder(const std::vector<StoreFolder>& folders, const std::string& wanted);

// The folder as the dialog's drop-down shows it: indented by its depth, with
// its message count, "    Receipts (4)"; a folder that stands for an account
// or a store reads as one, its name alone.
std::string FolderChoiceText(const StoreFolder& folder);

// One line a folder, "  4      2    Projects": position and message count
// right-aligned to the widest of the list, then the name indented two spaces
// a level, and for a folder that lacks messages Thunderbird lists,
// "(Thunderbird lists 5: 3 not on this computer)".
std::string FolderListing(const std::vector<StoreFolder>& folders);

}  // namespace mailsift
