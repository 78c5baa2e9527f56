// SPDX-License-Identifier: LGPL-2.1-or-later
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

#include <cstdint>
#include <string>
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

  // How many messages the folder's own mail program lists in it, when its
  // files tell (a Thunderbird summary); false when nothing does.
  virtual bool ListedCount(Store& store, const FolderInfo& f, DWORD* listed) const {
    (void)store;
    (void)f;
    (void)listed;
    return false;
  }

  // ---- index upgrades

  // Brings this format's rows of an index written by an older version
  // (PRAGMA user_version `from`) in line, inside the schema's transaction.
  virtual HRESULT UpgradeIndex(Store& store, std::int64_t from) const {
    (void)store;
    (void)from;
    return S_OK;
  }

  // ---- writes: only a writable format is asked (the store is read only
  // otherwise); the defaults refuse.

  // Makes the place of a new folder (its layout's Place); `marked`: with the
  // layout's folder marker. HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) when
  // something is there already.
  virtual HRESULT MakePlace(const std::string& place, bool marked) const;
  // Readies the place of an existing folder for messages (a folder that so
  // far only held folders).
  virtual HRESULT EnsurePlace(const std::string& place, bool marked) const;
  virtual HRESULT Delete(Store& store, const FolderInfo& f,
                         const std::vector<MESSAGEID>& ids) const;
  // Copies or moves `ids` of `src` (a folder of this format too) into `dst`.
  virtual HRESULT Copy(Store& store, const FolderInfo& src, const FolderInfo& dst,
                       const std::vector<MESSAGEID>& ids, bool move, DWORD flagsRemove) const;
  // A new message: a file open for writing at *path, its id reserved.
  virtual HRESULT Reserve(Store& store, const FolderInfo& f, int* fd, std::string* path,
                          MESSAGEID* id) const;
  // Puts the written file in place as message `id`, with flags `msgFlags`.
  virtual HRESULT Commit(Store& store, const FolderInfo& f, MESSAGEID id, int fd,
                         const std::string& path, DWORD msgFlags) const;
  // Forgets a reserved message that was never committed.
  virtual void Abandon(Store& store, MESSAGEID id, const std::string& path) const;
  // Removes what a killed writer left in the folder before `cutoffNs`.
  virtual void Compact(Store& store, const FolderInfo& f, std::int64_t cutoffNs) const {
    (void)store;
    (void)f;
    (void)cutoffNs;
  }
};

}  // namespace store
