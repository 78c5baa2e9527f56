// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/message_format.h"

#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"

namespace store {
using namespace engine;

HRESULT MessageFormat::SetFlags(Store& store, const FolderInfo& f,
                                const std::vector<MESSAGEID>& ids, DWORD state, DWORD mask,
                                bool* changed, DWORD* newFlags) const {
  *changed = false;
  std::vector<DWORD> flags;
  HRESULT hr = store.StoredFlags(f.id, ids, &flags);
  if (FAILED(hr)) return hr;
  if (mask & kMaildirFlags) return E_ACCESSDENIED;
  // Nothing the mask names is stored: every message keeps its flags.
  (void)state;
  if (newFlags)
    for (std::size_t i = 0; i < flags.size(); ++i)
      newFlags[i] = flags[i] & (kMaildirFlags | MSG_FLAG_ATTACHMENT);
  return S_OK;
}

HRESULT MessageFormat::Count(Store& store, const FolderInfo& f, bool current, DWORD* messages,
                             DWORD* unread) const {
  // As last listed, unless the folder itself asks: counting the messages of
  // a file means reading it.
  if (current) store.SyncMessages(f, false);
  return store.CountRows(f.id, messages, unread);
}

HRESULT MessageFormat::MakePlace(const std::string&, bool) const {
  return E_ACCESSDENIED;
}

HRESULT MessageFormat::EnsurePlace(const std::string&, bool) const {
  return E_ACCESSDENIED;
}

HRESULT MessageFormat::Delete(Store&, const FolderInfo&, const std::vector<MESSAGEID>&) const {
  return E_ACCESSDENIED;
}

HRESULT MessageFormat::Copy(Store&, const FolderInfo&, const FolderInfo&,
                            const std::vector<MESSAGEID>&, bool, DWORD) const {
  return E_ACCESSDENIED;
}

HRESULT MessageFormat::Reserve(Store&, const FolderInfo&, int*, std::string*, MESSAGEID*) const {
  return E_ACCESSDENIED;
}

HRESULT MessageFormat::Commit(Store&, const FolderInfo&, MESSAGEID, int, const std::string&,
                              DWORD) const {
  return E_ACCESSDENIED;
}

void MessageFormat::Abandon(Store&, MESSAGEID, const std::string&) const {}

}  // namespace store
