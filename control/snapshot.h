// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading the store into the control's snapshot: the folder tree below a
// parent in depth-first pre-order, and the summary records of one folder's
// messages. These read the store only; the collections own what they return.
#pragma once

#include <string>
#include <vector>

#include "platform/store/store.h"

namespace mq {

struct FolderData {
  STOREFOLDERID id = 0;
  std::string name;
  LONG messageCount = 0;
  LONG subFolderCount = 0;
};

struct MessageData {
  std::string subject;  // the normalised subject
  std::string displayFrom;
  std::string displayTo;
  std::string receiveTime;  // time texts (time_text.h)
  std::string sentTime;
  LONG size = 0;
  MESSAGEID id = 0;
};

// Appends every folder below `parent` to `out`, each folder followed by its
// whole subtree before its next sibling; `parent` itself is not appended.
// A level whose first request fails adds nothing; one whose next request
// fails keeps what it read. A folder id met twice (a store reporting a cycle)
// is listed again but not descended into a second time.
void ReadFolderTree(IStoreNamespace& store, STOREFOLDERID parent, std::vector<FolderData>& out);

// Every message of `folder` in the store's order; stops at the first failing
// request with what was read so far.
std::vector<MessageData> ReadMessages(IStoreFolder& folder);

}  // namespace mq
