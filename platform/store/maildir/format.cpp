// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/maildir/format.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/mime/mime.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"

namespace store::maildir {
using namespace engine;

namespace {

// Lists the message files of cur/ and new/ (names not starting with ".").
template <class Visit>
void ForEachMessageFile(const std::string& dir, Visit visit) {
  for (int sub = 0; sub < 2; ++sub) {
    DIR* d = opendir((dir + "/" + SubDir(sub)).c_str());
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      visit(e->d_name);
    }
    closedir(d);
  }
}

// Indexes before version 3 keyed a message by its whole unique name, so an
// mbsync run that added ",U=<uid>" gave its files new rows; rows are now keyed
// without it (MessageKey). Where two rows meet on one key, the older
// row (the lower id) keeps it.
HRESULT KeyMessagesWithoutUids(sqlite3* db) {
  std::vector<std::pair<std::int64_t, std::string>> rows;
  {
    Statement q(db, "SELECT id, uniq FROM messages WHERE instr(uniq, ',U=') > 0 ORDER BY id");
    std::string buffer;
    while (q.Step() == SQLITE_ROW) {
      std::string_view uniq = q.View(1);
      std::string_view key = MessageKey(uniq, &buffer);
      if (key != uniq) rows.emplace_back(q.Int(0), std::string(key));
    }
  }
  for (const auto& [id, key] : rows) {
    Statement update(db, "UPDATE OR IGNORE messages SET uniq = ? WHERE id = ?");
    if (update.Bind(1, key).Bind(2, id).Step() != SQLITE_DONE) return E_FAIL;
    if (sqlite3_changes(db) > 0) continue;
    Statement taken(db,
                    "SELECT id FROM messages WHERE folder = (SELECT folder FROM messages"
                    " WHERE id = ?1) AND uniq = ?2");
    if (taken.Bind(1, id).Bind(2, key).Step() != SQLITE_ROW) return E_FAIL;
    std::int64_t other = taken.Int(0);
    // The younger row goes; the file it named is listed again under the key.
    Statement drop(db, "DELETE FROM messages WHERE id = ?");
    drop.Bind(1, std::max(id, other)).Step();
    if (other > id) {
      Statement retry(db, "UPDATE messages SET uniq = ? WHERE id = ?");
      retry.Bind(1, key).Bind(2, id).Step();
    }
  }
  return S_OK;
}

const MaildirFormat kMaildir(true, nullptr);

}  // namespace

const MaildirFormat* Format() {
  return &kMaildir;
}

HRESULT MaildirFormat::Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
                            void** ppv) const {
  if (riid == IID_IStream || riid == IID_ISequentialStream || riid == IID_IUnknown) {
    int fd = -1;
    std::string path;
    HRESULT hr = store.OpenMessageFile(f.id, id, &fd, &path);
    if (FAILED(hr)) return hr;
    com::ComPtr<IStream> stream;
    hr = CreateFileStream(fd, stream.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    return stream->QueryInterface(riid, ppv);
  }
  if (riid == IID_IMimeMessage) {
    // The MIME layer opens the file itself: opening it here first as well
    // cost two needless system calls per message, a tenth of the time of
    // opening a small one.
    return store.OpenMessagePath(f.id, id, [&](const std::string& path) {
      return mime::OpenMessageFile(path.c_str(), reinterpret_cast<IMimeMessage**>(ppv));
    });
  }
  return E_NOINTERFACE;
}

HRESULT MaildirFormat::SetFlags(Store& store, const FolderInfo& f,
                                const std::vector<MESSAGEID>& ids, DWORD state, DWORD mask,
                                bool* changed, DWORD* newFlags) const {
  if (!writable_) return MessageFormat::SetFlags(store, f, ids, state, mask, changed, newFlags);
  *changed = false;
  struct Row {
    int sub;
    std::string name;
    DWORD flags;
  };
  auto load = [&](MESSAGEID id, Row* r) {
    Statement& q = store.Query(
        "SELECT sub, name, flags FROM messages WHERE id = ? AND folder = ? AND sub < 2");
    q.Bind(1, id).Bind(2, f.id);
    bool found = q.Step() == SQLITE_ROW;
    if (found) *r = Row{static_cast<int>(q.Int(0)), q.Text(1), static_cast<DWORD>(q.Int(2))};
    q.Reset();
    return found;
  };
  Row row;
  for (MESSAGEID id : ids)
    if (!load(id, &row)) return kNotFound;  // nothing changed
  if (store.readOnly() && (mask & kMaildirFlags)) return E_ACCESSDENIED;
  std::string dir = store.FolderPath(f.dir);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!load(ids[i], &row)) return kNotFound;
      DWORD wanted = ((row.flags & ~mask) | (state & mask)) & kMaildirFlags;
      if (newFlags) newFlags[i] = wanted | (row.flags & MSG_FLAG_ATTACHMENT);
      if (wanted == (row.flags & kMaildirFlags)) break;
      FileName fn = ParseFileName(row.name);
      std::string name = CurName(fn.uniq, InfoWithFlags(fn.info, wanted));
      std::string from = dir + "/" + SubDir(row.sub) + "/" + row.name;
      std::string to = dir + "/cur/" + name;
      if (disk::RenameNoReplace(from, to) != 0) {
        if (errno == ENOENT && attempt == 0 && SUCCEEDED(store.SyncMessages(f, true))) continue;
        return Errno();
      }
      store.Query("UPDATE messages SET sub = 0, name = ?2, flags = (flags & ?4) | ?3 WHERE id = ?1")
          .Bind(1, ids[i])
          .Bind(2, name)
          .Bind(3, wanted)
          .Bind(4, MSG_FLAG_ATTACHMENT)
          .Step();
      *changed = true;
      break;
    }
  }
  return S_OK;
}

HRESULT MaildirFormat::Count(Store& store, const FolderInfo& f, bool current, DWORD* messages,
                             DWORD* unread) const {
  // Another program's store counts its rows as last listed: its files'
  // state is in their headers.
  if (headerState_) return MessageFormat::Count(store, f, current, messages, unread);
  // Counted from the directories, so a count never waits for an index update.
  *messages = *unread = 0;
  ForEachMessageFile(store.FolderPath(f.dir), [&](const char* name) {
    ++*messages;
    if (!(FlagsFromInfo(ParseFileName(name).info) & MSG_FLAG_READ)) ++*unread;
  });
  return S_OK;
}

HRESULT MaildirFormat::UpgradeIndex(Store& store, std::int64_t from) const {
  return from < 3 ? KeyMessagesWithoutUids(store.db()) : S_OK;
}

HRESULT MaildirFormat::MakePlace(const std::string& place, bool marked) const {
  if (!writable_) return E_ACCESSDENIED;
  HRESULT hr = MakeMaildir(place, marked);
  return hr == com::HResultFromErrno(EEXIST) ? HRESULT_FROM_WIN32_ALREADY_EXISTS : hr;
}

// A folder that only held folders (a Maildir++ parent that is not there, or
// a nested directory without cur/, new/ and tmp/) becomes a Maildir when a
// message is written into it.
HRESULT MaildirFormat::EnsurePlace(const std::string& place, bool marked) const {
  if (!writable_) return E_ACCESSDENIED;
  if (IsMaildir(place)) return S_OK;
  if (disk::IsDirectory(place)) return AddMessageDirs(place);
  return MakeMaildir(place, marked);
}

void MaildirFormat::Compact(Store& store, const FolderInfo& f, std::int64_t cutoffNs) const {
  if (!writable_) return;
  std::string tmp = store.FolderPath(f.dir) + "/tmp";
  if (DIR* d = opendir(tmp.c_str())) {
    std::vector<std::string> stale;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string path = tmp + "/" + e->d_name;
      struct stat st;
      if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
      std::int64_t m =
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      if (m < cutoffNs) stale.push_back(path);
    }
    closedir(d);
    for (const auto& p : stale) unlink(p.c_str());
  }
  // Reserved ids whose file is gone (removed above, or by a crash).
  std::vector<std::pair<MESSAGEID, std::string>> reserved;
  {
    Statement& q = store.Query("SELECT id, name FROM messages WHERE folder = ? AND sub = 2");
    q.Bind(1, f.id);
    while (q.Step() == SQLITE_ROW)
      reserved.emplace_back(static_cast<MESSAGEID>(q.Int(0)), tmp + "/" + q.Text(1));
    q.Reset();
  }
  for (const auto& [mid, path] : reserved) {
    if (access(path.c_str(), F_OK) == 0) continue;
    store.Query("DELETE FROM messages WHERE id = ? AND sub = 2").Bind(1, mid).Step();
  }
}

}  // namespace store::maildir
