// SPDX-License-Identifier: LGPL-2.1-or-later
// The Maildir format: one file a message in cur/ and new/, its flags in the
// ":2," info of its name. Listed by listing.cpp, written by writes.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/engine/message_format.h"

namespace store::maildir {

// Reads the state a writer keeps in a message's header block, for a store of
// one file a message whose flags are not in its names (Thunderbird's
// per-message store): adds MSG_FLAG_* bits to *flags, and answers false for
// a message that is deleted and only waits to be removed.
using HeaderState = bool (*)(std::string_view headers, DWORD* flags);

class MaildirFormat final : public MessageFormat {
 public:
  // `headerState` null: flags from file names only.
  constexpr MaildirFormat(bool writable, HeaderState headerState)
      : writable_(writable), headerState_(headerState) {}

  HRESULT Sync(Store& store, const FolderInfo& f, bool force) const override;
  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override;
  bool writable() const override { return writable_; }
  HRESULT SetFlags(Store& store, const FolderInfo& f, const std::vector<MESSAGEID>& ids,
                   DWORD state, DWORD mask, bool* changed, DWORD* newFlags) const override;
  HRESULT Count(Store& store, const FolderInfo& f, bool current, DWORD* messages,
                DWORD* unread) const override;
  HRESULT UpgradeIndex(Store& store, std::int64_t from) const override;
  HRESULT MakePlace(const std::string& place, bool marked) const override;
  HRESULT EnsurePlace(const std::string& place, bool marked) const override;
  HRESULT Delete(Store& store, const FolderInfo& f,
                 const std::vector<MESSAGEID>& ids) const override;
  HRESULT Copy(Store& store, const FolderInfo& src, const FolderInfo& dst,
               const std::vector<MESSAGEID>& ids, bool move, DWORD flagsRemove) const override;
  HRESULT Reserve(Store& store, const FolderInfo& f, int* fd, std::string* path,
                  MESSAGEID* id) const override;
  HRESULT Commit(Store& store, const FolderInfo& f, MESSAGEID id, int fd, const std::string& path,
                 DWORD msgFlags) const override;
  void Abandon(Store& store, MESSAGEID id, const std::string& path) const override;
  void Compact(Store& store, const FolderInfo& f, std::int64_t cutoffNs) const override;

  HeaderState headerState() const { return headerState_; }

 private:
  bool writable_;
  HeaderState headerState_;
};

// The format of a Maildir tree's folders.
const MaildirFormat* Format();

}  // namespace store::maildir
