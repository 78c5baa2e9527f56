// SPDX-License-Identifier: LGPL-2.1-or-later
// What the collections reach through their back reference to the control: the
// store connection, the current and destination folders, the folder index,
// the control's other collections, and the snapshot loads that change them.
//
// The control owns one StoreContext for its whole life and hands the
// collections a pointer to it once the store has opened (window creation);
// at window destruction it takes the pointer back (CFolders::Detach, ...)
// before anything in it goes, so a collection that a client still holds only
// ever sees a live context or none.
#pragma once

#include <functional>
#include <memory>

#include "platform/com/unknown.h"
#include "platform/store/store.h"

namespace mq {

class CFolders;
class CMessages;
class CContacts;
class CAddressBookConnection;

struct StoreContext {
  StoreContext();
  ~StoreContext();
  StoreContext(StoreContext&&) noexcept;
  StoreContext& operator=(StoreContext&&) noexcept;

  com::ComPtr<IStoreNamespace> store;
  com::ComPtr<IStoreFolder> currentFolder;
  com::ComPtr<IStoreFolder> destinationFolder;
  // The value of the control's Folder property: a position in the folder list.
  SHORT folderIndex = 0;

  // The control's collections; null once its window is destroyed.
  CFolders* folders = nullptr;
  CMessages* messages = nullptr;
  CContacts* contacts = nullptr;

  // The open address book; replaced by every address-book open, gone with
  // the control's window. Shared so that a call running one of its modal
  // dialogs keeps it while a client's call from inside the dialog's event
  // loop (a Refresh, the window's end) replaces or drops it.
  std::shared_ptr<CAddressBookConnection> addressBook;

  // Opens the address book and fills the contact collection; `first` on
  // window creation, false on a later open (the contact collection's Refresh).
  std::function<void(bool first)> openAddressBook;

  // Message-list load: empties the message list, opens the folder that
  // `index` names (its folder-list record, else the index itself taken as a
  // folder id) as the current folder, stores the index, and fills the list
  // with that folder's messages.
  void LoadMessageList(SHORT index);
};

}  // namespace mq
