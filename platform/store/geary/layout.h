// SPDX-License-Identifier: LGPL-2.1-or-later
// Geary's store of one account (~/.local/share/geary/<account>/geary.db),
// read only: an SQLite database, opened read-only (mode=ro) for each reading
// and closed right after it, so that no lock of ours outlasts a read and
// Geary, writing meanwhile, never waits for us; a database Geary left closed
// (no write-ahead log beside it) is read as it stands, so that no file of
// the reader's appears beside it. Folders are the rows of its
// FolderTable (a folder's dir is its names from the top joined with '/');
// a folder's messages are those MessageLocationTable puts in it (in its
// order, leaving out the ones marked for removal), each the message's header
// and body texts of MessageTable joined; read state is the \Seen flag of
// the IMAP flags Geary keeps, and a message flagged \Deleted is not shown.
// Messages whose text Geary has not fetched are not listed.
#pragma once

#include <memory>
#include <string>

#include "platform/store/engine/folder_layout.h"

namespace store::geary {

// Whether `root` is an account directory holding geary.db.
bool IsAccount(const std::string& root);

// Null when `root` is none.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan);

}  // namespace store::geary
