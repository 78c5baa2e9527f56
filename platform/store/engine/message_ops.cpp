// SPDX-License-Identifier: LGPL-2.1-or-later
// Message operations: properties, the files of formats of one file a
// message, and the operations each folder's format carries out (opening,
// flags, deletion, copies and moves, new messages); the cursor that
// enumerates a folder.
#include "platform/store/engine/store_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/com/memory.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"

namespace store {
using namespace engine;

void Store::FillProps(Statement& s, MESSAGEPROPS* props, bool fast) {
  DWORD size = props->cbSize;
  std::memset(props, 0, sizeof *props);
  props->cbSize = size;
  props->dwMessageId = static_cast<MESSAGEID>(s.Int(0));
  props->cbMessage = static_cast<DWORD>(std::min<std::int64_t>(s.Int(1), 0xFFFFFFFF));
  props->dwFlags = static_cast<DWORD>(s.Int(2));
  props->ftReceived = disk::TicksToFileTime(s.Int(3));
  props->ftSent = disk::TicksToFileTime(s.Int(4));
  if (fast) return;
  auto dup = [&](int col) -> LPSTR {
    if (s.IsNull(col)) return nullptr;
    std::string_view v = s.View(col);
    return com::CoTaskStrDup(v.data(), v.size());
  };
  props->pszSubject = dup(5);
  props->pszNormalSubject = dup(6);
  props->pszDisplayFrom = dup(7);
  props->pszDisplayTo = dup(8);
  props->pszMessageId = dup(9);
}

HRESULT Store::GetMessageProps(STOREFOLDERID folder, MESSAGEID id, bool fast, MESSAGEPROPS* props) {
  Statement& q = Query("SELECT " MQ_STORE_PROPS_COLUMNS
                       " FROM messages WHERE id = ? AND folder = ? AND sub < 2");
  q.Bind(1, id).Bind(2, folder);
  if (q.Step() != SQLITE_ROW) {
    q.Reset();
    return kNotFound;
  }
  FillProps(q, props, fast);
  q.Reset();
  return S_OK;
}

HRESULT Store::MessagePath(STOREFOLDERID folder, MESSAGEID id, std::string* path) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  Statement& q = Query("SELECT sub, name FROM messages WHERE id = ? AND folder = ? AND sub < 2");
  q.Bind(1, id).Bind(2, folder);
  if (q.Step() != SQLITE_ROW) {
    q.Reset();
    return kNotFound;
  }
  *path = FolderPath(f.dir) + "/" + SubDir(static_cast<int>(q.Int(0))) + "/" + q.Text(1);
  q.Reset();
  return S_OK;
}

std::string Store::RememberedPath(const FolderInfo& f, MESSAGEID id) {
  auto& known = locations_[f.id];
  auto it = known.find(id);
  if (it == known.end()) {
    // Messages are mostly read in id order: one query for the next page.
    Statement& q = Query(
        "SELECT id, sub, name FROM messages WHERE folder = ? AND id >= ?"
        " AND sub < 2 ORDER BY id LIMIT 128");
    q.Bind(1, f.id).Bind(2, id);
    while (q.Step() == SQLITE_ROW)
      known.insert_or_assign(static_cast<MESSAGEID>(q.Int(0)),
                             Location{static_cast<int>(q.Int(1)), std::string(q.View(2))});
    q.Reset();
    it = known.find(id);
    if (it == known.end()) return {};
  }
  return FolderPath(f.dir) + "/" + SubDir(it->second.sub) + "/" + it->second.name;
}

HRESULT Store::OpenMessagePath(STOREFOLDERID folder, MESSAGEID id,
                               const std::function<HRESULT(const std::string& path)>& open) {
  const HRESULT gone = com::HResultFromErrno(ENOENT);
  // A message file keeps its name until its flags change or it moves, and
  // then that name is gone: a remembered name that opens is the message's.
  // Asking the index for every message (a query, and the index's file locks)
  // cost as much as opening and reading a small message.
  FolderInfo f;
  HRESULT found = FindFolder(folder, &f);
  if (FAILED(found)) return found;
  if (std::string remembered = RememberedPath(f, id); !remembered.empty()) {
    HRESULT hr = open(remembered);
    if (hr != gone) return hr;
    locations_[folder].erase(id);
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string path;
    HRESULT hr = MessagePath(folder, id, &path);
    if (FAILED(hr)) return hr;
    hr = open(path);
    if (hr != gone) return hr;
    FolderInfo f;
    if (FAILED(FindFolder(folder, &f)) || FAILED(SyncMessages(f, true))) break;
  }
  return kNotFound;
}

HRESULT Store::OpenMessageFile(STOREFOLDERID folder, MESSAGEID id, int* fd, std::string* path) {
  return OpenMessagePath(folder, id, [&](const std::string& found) {
    *path = found;
    *fd = open(found.c_str(), O_RDONLY | O_CLOEXEC);
    return *fd >= 0 ? S_OK : Errno();
  });
}

HRESULT Store::StoredName(const FolderInfo& f, MESSAGEID id, std::string* name) {
  Statement& q = Query("SELECT name FROM messages WHERE id = ? AND folder = ? AND sub < 2");
  q.Bind(1, id).Bind(2, f.id);
  const bool found = q.Step() == SQLITE_ROW;
  if (found) *name = q.Text(0);
  q.Reset();
  return found ? S_OK : kNotFound;
}

HRESULT Store::AllMessageIds(STOREFOLDERID folder, std::vector<MESSAGEID>* ids) {
  Statement& q = Query("SELECT id FROM messages WHERE folder = ? AND sub < 2 ORDER BY id");
  q.Bind(1, folder);
  while (q.Step() == SQLITE_ROW) ids->push_back(static_cast<MESSAGEID>(q.Int(0)));
  q.Reset();
  return S_OK;
}

HRESULT Store::SyncMessages(const FolderInfo& f, bool force) {
  if (!f.format) return kNotFound;  // the root holds no messages
  return f.format->Sync(*this, f, force);
}

HRESULT Store::OpenMessage(STOREFOLDERID folder, MESSAGEID id, REFIID riid, void** ppv) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  return f.format->Open(*this, f, id, riid, ppv);
}

HRESULT Store::MarkRead(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, bool read,
                        bool* changed) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  const DWORD state = read ? MSG_FLAG_READ : 0;
  // A format that cannot write answers whether the flag would change.
  if (!f.format->writable()) return ProbeFlags(folder, ids, state, MSG_FLAG_READ, changed);
  return f.format->SetFlags(*this, f, ids, state, MSG_FLAG_READ, changed, nullptr);
}

HRESULT Store::SetFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state,
                        DWORD mask, bool* changed, DWORD* newFlags) {
  *changed = false;
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  return f.format->SetFlags(*this, f, ids, state, mask, changed, newFlags);
}

HRESULT Store::StoredFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids,
                           std::vector<DWORD>* flags) {
  flags->clear();
  for (MESSAGEID id : ids) {
    Statement& q = Query("SELECT flags FROM messages WHERE id = ? AND folder = ? AND sub < 2");
    q.Bind(1, id).Bind(2, folder);
    bool found = q.Step() == SQLITE_ROW;
    if (found) flags->push_back(static_cast<DWORD>(q.Int(0)));
    q.Reset();
    if (!found) return kNotFound;
  }
  return S_OK;
}

HRESULT Store::ProbeFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state,
                          DWORD mask, bool* changed) {
  *changed = false;
  std::vector<DWORD> flags;
  HRESULT hr = StoredFlags(folder, ids, &flags);
  if (FAILED(hr)) return hr;
  for (DWORD old : flags)
    if ((((old & ~mask) | (state & mask)) & kMaildirFlags) != (old & kMaildirFlags))
      *changed = true;
  return S_OK;
}

HRESULT Store::CountRows(STOREFOLDERID folder, DWORD* messages, DWORD* unread) {
  Statement& q = Query(
      "SELECT count(*), coalesce(sum((flags & ?2) = 0), 0) FROM messages"
      " WHERE folder = ?1 AND sub < 2");
  q.Bind(1, folder).Bind(2, MSG_FLAG_READ);
  if (q.Step() == SQLITE_ROW) {
    *messages = static_cast<DWORD>(q.Int(0));
    *unread = static_cast<DWORD>(q.Int(1));
  }
  q.Reset();
  return S_OK;
}

// The writes: every one goes to the folder's format, which refuses it when it
// cannot write. Ids that are not the folder's are refused first, as not found.

HRESULT Store::DeleteMessages(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  std::vector<DWORD> flags;
  hr = StoredFlags(folder, ids, &flags);
  if (FAILED(hr)) return hr;  // nothing changed
  if (readOnly_) return E_ACCESSDENIED;
  return f.format->Delete(*this, f, ids);
}

HRESULT Store::CopyMove(STOREFOLDERID from, STOREFOLDERID to, const std::vector<MESSAGEID>& ids,
                        bool move, DWORD flagsRemove) {
  FolderInfo src, dst;
  HRESULT hr = FindFolder(from, &src);
  if (FAILED(hr)) return hr;
  hr = FindFolder(to, &dst);
  if (FAILED(hr)) return hr;
  std::vector<DWORD> flags;
  hr = StoredFlags(from, ids, &flags);
  if (FAILED(hr)) return hr;
  if (readOnly_ || src.format != dst.format) return E_ACCESSDENIED;
  return dst.format->Copy(*this, src, dst, ids, move, flagsRemove);
}

HRESULT Store::ReserveMessage(STOREFOLDERID folder, int* fd, std::string* tmpPath, MESSAGEID* id) {
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  return f.format->Reserve(*this, f, fd, tmpPath, id);
}

HRESULT Store::CommitMessage(STOREFOLDERID folder, MESSAGEID id, int fd, const std::string& tmpPath,
                             DWORD msgFlags) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  return f.format->Commit(*this, f, id, fd, tmpPath, msgFlags);
}

void Store::AbandonMessage(STOREFOLDERID folder, MESSAGEID id, const std::string& tmpPath) {
  FolderInfo f;
  if (SUCCEEDED(FindFolder(folder, &f))) f.format->Abandon(*this, id, tmpPath);
}

// ---------------------------------------------------------------- cursor

MessageCursor::MessageCursor(std::shared_ptr<Store> store, STOREFOLDERID folder, MESSAGEID first)
    : store_(std::move(store)),
      folder_(folder),
      after_(first == MESSAGEID_FIRST ? 0 : static_cast<std::int64_t>(first) - 1) {}

HRESULT MessageCursor::Next(MESSAGEPROPS* props, bool fast) {
  constexpr int kPage = 512;
  if (end_) return S_FALSE;
  if (!stmt_) {
    stmt_ = std::make_unique<Statement>(store_->db(),
                                        "SELECT " MQ_STORE_PROPS_COLUMNS
                                        " FROM messages WHERE folder = ? AND id > ? AND sub < 2"
                                        " ORDER BY id LIMIT 512");
    if (!stmt_->ok()) return E_FAIL;
  }
  for (int round = 0; round < 2; ++round) {
    if (pageDone_) {
      stmt_->Reset();
      stmt_->Bind(1, folder_).Bind(2, after_);
      inPage_ = 0;
      pageDone_ = false;
    }
    int rc = stmt_->Step();
    if (rc == SQLITE_ROW) {
      store_->FillProps(*stmt_, props, fast);
      after_ = stmt_->Int(0);
      if (++inPage_ == kPage) {
        pageDone_ = true;
        stmt_->Reset();  // no read transaction held between pages
      }
      return S_OK;
    }
    pageDone_ = true;
    stmt_->Reset();
    if (rc != SQLITE_DONE) return E_FAIL;
    if (inPage_ < kPage) break;  // a short page was the last one
  }
  end_ = true;
  return S_FALSE;
}

}  // namespace store
