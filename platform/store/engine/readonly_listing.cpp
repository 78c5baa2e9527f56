// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/readonly_listing.h"

#include <sys/stat.h>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"

namespace store {

using engine::kMaxId;

ReadOnlyListing::ReadOnlyListing(Store& store, const FolderInfo& f) : store_(store), folder_(f.id) {
  Statement& q = store_.Query(
      "SELECT uniq, id, size, mtime, flags FROM messages WHERE folder = ? AND sub < 2");
  q.Bind(1, folder_);
  while (q.Step() == SQLITE_ROW)
    known_.emplace(q.Text(0), Known{Row{static_cast<MESSAGEID>(q.Int(1)), q.Int(2), q.Int(3),
                                        static_cast<DWORD>(q.Int(4))}});
  q.Reset();
}

HRESULT ReadOnlyListing::Begin() {
  return store_.Begin();
}

const ReadOnlyListing::Row* ReadOnlyListing::Find(const std::string& uniq) const {
  auto it = known_.find(uniq);
  return it == known_.end() ? nullptr : &it->second.row;
}

void ReadOnlyListing::Keep(const std::string& uniq, std::optional<DWORD> flags) {
  auto it = known_.find(uniq);
  if (it == known_.end()) return;
  it->second.met = true;
  if (!flags || (it->second.row.flags & ~MSG_FLAG_ATTACHMENT) == *flags) return;
  store_.Query("UPDATE messages SET flags = (flags & ?2) | ?3 WHERE id = ?1")
      .Bind(1, it->second.row.id)
      .Bind(2, MSG_FLAG_ATTACHMENT)
      .Bind(3, *flags)
      .Step();
  changed_ = true;
}

HRESULT ReadOnlyListing::Put(const FileSummary& m) {
  Statement& s = store_.Query(
      "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
      " subject, norm_subject, disp_from, disp_to, message_id)"
      " VALUES(?1, ?2, 0, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"
      " ON CONFLICT(folder, uniq) DO UPDATE SET name = excluded.name, flags = excluded.flags,"
      " size = excluded.size, mtime = excluded.mtime, received = excluded.received,"
      " sent = excluded.sent, subject = excluded.subject, norm_subject = excluded.norm_subject,"
      " disp_from = excluded.disp_from, disp_to = excluded.disp_to,"
      " message_id = excluded.message_id");
  s.Bind(1, folder_)
      .Bind(2, m.uniq)
      .Bind(3, m.name)
      .Bind(4, m.flags | (m.sum.attachment ? MSG_FLAG_ATTACHMENT : 0))
      .Bind(5, m.size)
      .Bind(6, m.mtime)
      .Bind(7, m.received)
      .Bind(8, m.sent)
      .Bind(9, m.sum.subject)
      .Bind(10, m.sum.normalSubject)
      .Bind(11, m.sum.displayFrom)
      .Bind(12, m.sum.displayTo)
      .Bind(13, m.sum.messageId);
  std::int64_t id = store_.UpsertMessageRow(s, folder_, m.uniq);
  if (id <= 0 || id > kMaxId) {
    store_.Rollback();
    return E_FAIL;  // a failed write, or the 32-bit id space is spent
  }
  if (auto it = known_.find(m.uniq); it != known_.end()) it->second.met = true;
  changed_ = true;
  return S_OK;
}

HRESULT ReadOnlyListing::PutFile(const std::string& uniq, const std::string& name,
                                 const std::string& path, DWORD flags, ReaderState* reader) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return S_FALSE;
  if (const Row* row = Find(uniq);
      row && row->size == st.st_size && row->mtime == disk::MTimeOf(st)) {
    Keep(uniq, flags);
    return S_OK;
  }
  FileSummary p;
  p.uniq = uniq;
  p.name = name;
  ReadWholeMessageFile(path, &p, reader);
  if (!p.ok) return S_FALSE;
  p.flags |= flags;
  return Put(p);
}

HRESULT ReadOnlyListing::Finish() {
  for (const auto& [uniq, k] : known_) {
    if (k.met) continue;
    store_.Query("DELETE FROM messages WHERE id = ?").Bind(1, k.row.id).Step();
    changed_ = true;
  }
  if (changed_) store_.BumpGeneration(folder_);
  return store_.Commit();
}

}  // namespace store
