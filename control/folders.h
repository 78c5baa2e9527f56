// SPDX-License-Identifier: LGPL-2.1-or-later
// The folder collection (IFolders): the folder list of the snapshot and the
// operations that reach the store's folders. One CFolders lives as long as its
// control and any client that holds it; after the control's window is gone it
// has no context and answers neutral values (0, empty text, FALSE, nothing).
//
// The members are grouped by the file that implements them; each group binds
// its own members in its Bind* function, which GetBindings (folders.cpp) calls.
#pragma once

#include <string>

#include "control/record_list.h"
#include "control/records.h"
#include "control/store_context.h"
#include "platform/com/dispatch_object.h"

namespace mq {

class CFolders : public com::DispatchObject<CFolders> {
 public:
  CFolders();

  // ---- Wiring by the control (folders.cpp) ----
  // The back reference: set once the store connection is open, taken back
  // (with every record) at window destruction.
  void Attach(StoreContext* context) { context_ = context; }
  void Detach();
  // The control's context, or null while there is no store to work on.
  StoreContext* Context() const { return context_; }

  // ---- The snapshot (folders.cpp) ----
  const RecordList<CFolder>& List() const { return list_; }
  // Folder-list load: appends the tree below `parent` (no emptying first).
  void LoadFolderList(STOREFOLDERID parent);
  // Open current folder: replaces the context's current folder by folder
  // `id`; does nothing without a context, leaves it absent on failure.
  void OpenCurrentFolder(STOREFOLDERID id);

  // ---- IFolders: collection core (folders.cpp) ----
  SHORT Count();
  std::string FindFolderName(SHORT iIndex);
  LONG FindFolderID(SHORT iIndex);
  com::ComPtr<IDispatch> Item(const VARIANT& Key);
  void Refresh();

  // ---- IFolders: folder and message operations (folder_operations.cpp) ----
  // Each forwards to the store and leaves the folder and message lists as
  // they are: changes show after the next reload.
  VARIANT_BOOL DeleteFolder(LONG iFolderID);
  VARIANT_BOOL MoveFolder(LONG iFolderID, LONG iParentFolderID);
  VARIANT_BOOL RenameFolder(const std::string& strNewName, LONG iFolderID);
  VARIANT_BOOL CompactAll(LONG iFlag);
  VARIANT_BOOL CopyMessage(LONG iMessageID, LONG iDestFolderID);
  VARIANT_BOOL CreateFolder(const std::string& strFolderName, LONG iParentFolderID);
  VARIANT_BOOL MoveMessage(LONG iMessageID, LONG iDestFolderID);
  VARIANT_BOOL CreateMessage(LONG iFolderIndex, const std::string& strFromEmail,
                             const std::string& strToEmail, const std::string& strSubject,
                             const std::string& strMessage);

  // ---- IFolders: enumeration (enumeration.cpp) ----
  // A new CCollectionEnum over List(), as IUnknown; null when out of memory.
  com::ComPtr<IUnknown> NewEnum();

  static const com::Bindings<CFolders>& GetBindings();

 private:
  static void BindCore(com::Bindings<CFolders>& bindings);
  static void BindOperations(com::Bindings<CFolders>& bindings);
  static void BindEnumeration(com::Bindings<CFolders>& bindings);
  VARIANT_BOOL CopyOrMove(LONG iMessageID, LONG iDestFolderID, DWORD flags);

  StoreContext* context_ = nullptr;
  RecordList<CFolder> list_;
};

}  // namespace mq
