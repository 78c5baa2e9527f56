// SPDX-License-Identifier: LGPL-2.1-or-later
// MH folders, read only, as Claws Mail, Sylpheed and nmh keep them: a
// folder is a directory of message files named by their numbers; its read
// state is in the program's mark file (.claws_mark, .sylpheed_mark: a
// message it does not list is new and unread, one marked deleted is hidden),
// else in the "unseen" sequence of .mh_sequences, else every message is read.
// Rows of `messages` are keyed by the message's number (its file name); the
// folder row's mtimes note the directory and its state file as last listed.
#pragma once

#include "platform/store/engine/message_format.h"

namespace store::mh {

class MhFormat final : public MessageFormat {
 public:
  HRESULT Sync(Store& store, const FolderInfo& f, bool force) const override;
  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override;
};

const MhFormat* Format();

// Whether `name` is an MH message file's name: decimal digits, no leading zero.
bool IsMessageName(std::string_view name);

}  // namespace store::mh
