// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/store_context.h"

#include "control/contacts/address_book_connection.h"
#include "control/folders.h"
#include "control/messages.h"

namespace mq {

StoreContext::StoreContext() = default;
StoreContext::~StoreContext() = default;
StoreContext::StoreContext(StoreContext&&) noexcept = default;
StoreContext& StoreContext::operator=(StoreContext&&) noexcept = default;

void StoreContext::LoadMessageList(SHORT index) {
  if (messages) messages->Clear();
  // An index outside the folder list is taken as a folder id itself (-1 is
  // 0xFFFFFFFF), which the store normally does not know.
  STOREFOLDERID id = static_cast<STOREFOLDERID>(static_cast<LONG>(index));
  if (folders) {
    if (const CFolder* folder = folders->List().At(index)) id = folder->Data().id;
    folders->OpenCurrentFolder(id);
  }
  folderIndex = index;
  if (!currentFolder || !messages) return;
  for (MessageData& message : ReadMessages(*currentFolder)) messages->Append(std::move(message));
}

}  // namespace mq
