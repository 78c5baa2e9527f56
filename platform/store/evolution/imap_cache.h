// SPDX-License-Identifier: LGPL-2.1-or-later
// Evolution's offline copy of an IMAP account
// (~/.cache/evolution/mail/<account>), read only: folder F's messages are
// files "folders/F/cur/<two hex digits>/<uid>", its subfolder S is in
// "folders/F/subfolders/S". A folder's dir is its full name ("INBOX/Lists");
// the read state is the account's folders.db: since Evolution 3.58 the
// table "messages_<id>" of the folder's id in its `folders` table, whose
// `flags` hold the seen and deleted bits; before, a table for each folder
// named by its full name, with a `read` and a `deleted` column. A deleted
// message is not shown; a message the database does not list, or a
// folders.db of a schema not known here, reads as unread. The cache holds what Evolution
// fetched: what is there is listed.
#pragma once

#include <memory>
#include <string>

#include "platform/store/engine/folder_layout.h"

namespace store::evolution {

// Whether `root` is such an account directory.
bool IsImapCache(const std::string& root);

// Null when `root` is none.
std::unique_ptr<FolderLayout> DetectImapCache(const std::string& root, TreeScan* scan);

}  // namespace store::evolution
