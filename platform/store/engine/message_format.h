// How one folder's messages are stored: the other seam of the store engine
// (the first is folder_layout.h). A folder carries its format (FolderInfo::
// format), chosen by its layout, and the engine reaches its messages only
// through it: listing them into the index, opening one, changing flags,
// counting them.
//
// A format works on the engine's index through the Store it is handed
// (engine/store_engine.h): its rows in `messages` (keyed by what names a
// message for good in this format), and tables of its own that it declares
// in IndexTables. It keeps no state of its own between calls: one instance
// serves every folder of its kind.
#pragma once

#include <vector>

#include "platform/store/engine/folder_info.h"
#include "platform/store/store.h"

namespace store {

class Store;

class MessageFormat {
 public:
  virtual ~MessageFormat() = default;

  // SQL making the index tables this format keeps beside the engine's own
  // (CREATE ... IF NOT EXISTS); run in the transaction that makes the schema.
  // Null when it keeps none.
  virtual const char* IndexTables() const { return nullptr; }

  // Brings the index rows of folder `f` in line with its messages; `force`
  // reads them again even when nothing seems to have changed.
  virtual HRESULT Sync(Store& store, const FolderInfo& f, bool force) const = 0;

  // Opens message `id` of `f` as `riid`: IStream, ISequentialStream or
  // IUnknown (its bytes, read only) or IMimeMessage (parsed). E_NOINTERFACE
  // for any other.
  virtual HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
                       void** ppv) const = 0;

  // Whether its messages can be written: flags, new messages, removals. A
  // format that cannot answers a change of the read state with a probe
  // (whether it would change anything) and every other write with
  // E_ACCESSDENIED.
  virtual bool writable() const { return false; }

  // New flags = (old & ~mask) | (state & mask) for the stored flag bits of
  // `ids` (all of them in `f`, else nothing changes and the answer is
  // ERROR_NOT_FOUND); *changed tells whether any message changed, newFlags
  // (when not null) gets each one's flags after. The default, for a format
  // that cannot write: E_ACCESSDENIED when the mask touches a stored flag.
  virtual HRESULT SetFlags(Store& store, const FolderInfo& f, const std::vector<MESSAGEID>& ids,
                           DWORD state, DWORD mask, bool* changed, DWORD* newFlags) const;

  // The number of messages of `f` and of unread ones. `current`: the folder
  // itself is asked (an open folder), so the count must be of its messages as
  // they are now; else (a walk of the tree) it may be as last listed. The
  // default counts the index rows, listing the folder first when `current`.
  virtual HRESULT Count(Store& store, const FolderInfo& f, bool current, DWORD* messages,
                        DWORD* unread) const;
};

}  // namespace store
