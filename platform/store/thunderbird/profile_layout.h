// SPDX-License-Identifier: LGPL-2.1-or-later
// A Thunderbird profile, read only: each account a top-level folder, in the
// order Thunderbird shows them, whose dir is the account's directory below
// the profile ("Mail/Local Folders"; its absolute path when the account's
// directory is elsewhere), holding that directory's folders as an mbox
// directory holds them (mbox/layout.h). The default account's Inbox is the
// Inbox, standing first at the top.
#pragma once

#include <memory>
#include <string>

#include "platform/store/engine/folder_layout.h"

namespace store::thunderbird {

// Null when `root` is no profile with an account.
std::unique_ptr<FolderLayout> DetectProfileLayout(const std::string& root, TreeScan* scan,
                                                  const MessageFormat* files);

// The format of Thunderbird's per-message store: one file a message, as a
// Maildir holds them, its state in the X-Mozilla-Status headers; read only.
const MessageFormat* PerMessageFormat();

}  // namespace store::thunderbird
