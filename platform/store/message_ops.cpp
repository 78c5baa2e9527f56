// Message operations: properties, file paths, flags, deletion, copies and
// moves, new messages, and the cursor that enumerates a folder.
#include "platform/store/engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/com/memory.h"
#include "platform/store/engine_internal.h"
#include "platform/store/file_reader.h"
#include "platform/store/maildir.h"

namespace store {
namespace md = maildir;
using namespace engine;

void Store::FillProps(Statement& s, MESSAGEPROPS* props, bool fast) {
  DWORD size = props->cbSize;
  std::memset(props, 0, sizeof *props);
  props->cbSize = size;
  props->dwMessageId = static_cast<MESSAGEID>(s.Int(0));
  props->cbMessage = static_cast<DWORD>(std::min<std::int64_t>(s.Int(1), 0xFFFFFFFF));
  props->dwFlags = static_cast<DWORD>(s.Int(2));
  props->ftReceived = md::TicksToFileTime(s.Int(3));
  props->ftSent = md::TicksToFileTime(s.Int(4));
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

HRESULT Store::AllMessageIds(STOREFOLDERID folder, std::vector<MESSAGEID>* ids) {
  Statement& q = Query("SELECT id FROM messages WHERE folder = ? AND sub < 2 ORDER BY id");
  q.Bind(1, folder);
  while (q.Step() == SQLITE_ROW) ids->push_back(static_cast<MESSAGEID>(q.Int(0)));
  q.Reset();
  return S_OK;
}

HRESULT Store::SetFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state,
                        DWORD mask, bool* changed, DWORD* newFlags) {
  *changed = false;
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  struct Row {
    int sub;
    std::string name;
    DWORD flags;
  };
  auto load = [&](MESSAGEID id, Row* r) {
    Statement& q =
        Query("SELECT sub, name, flags FROM messages WHERE id = ? AND folder = ? AND sub < 2");
    q.Bind(1, id).Bind(2, folder);
    bool found = q.Step() == SQLITE_ROW;
    if (found) *r = Row{static_cast<int>(q.Int(0)), q.Text(1), static_cast<DWORD>(q.Int(2))};
    q.Reset();
    return found;
  };
  Row row;
  for (MESSAGEID id : ids)
    if (!load(id, &row)) return kNotFound;  // nothing changed
  if (readOnly_ && (mask & kMaildirFlags)) return E_ACCESSDENIED;
  std::string dir = FolderPath(f.dir);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!load(ids[i], &row)) return kNotFound;
      DWORD wanted = ((row.flags & ~mask) | (state & mask)) & kMaildirFlags;
      if (newFlags) newFlags[i] = wanted | (row.flags & MSG_FLAG_ATTACHMENT);
      if (wanted == (row.flags & kMaildirFlags)) break;
      md::FileName fn = md::ParseFileName(row.name);
      std::string name = md::CurName(fn.uniq, md::InfoWithFlags(fn.info, wanted));
      std::string from = dir + "/" + SubDir(row.sub) + "/" + row.name;
      std::string to = dir + "/cur/" + name;
      if (md::RenameNoReplace(from, to) != 0) {
        if (errno == ENOENT && attempt == 0 && SUCCEEDED(SyncMessages(f, true))) continue;
        return Errno();
      }
      Query("UPDATE messages SET sub = 0, name = ?2, flags = (flags & ?4) | ?3 WHERE id = ?1")
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

HRESULT Store::ProbeFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state,
                          DWORD mask, bool* changed) {
  *changed = false;
  for (MESSAGEID id : ids) {
    Statement& q = Query("SELECT flags FROM messages WHERE id = ? AND folder = ? AND sub < 2");
    q.Bind(1, id).Bind(2, folder);
    if (q.Step() != SQLITE_ROW) {
      q.Reset();
      return kNotFound;
    }
    DWORD flags = static_cast<DWORD>(q.Int(0));
    q.Reset();
    if ((((flags & ~mask) | (state & mask)) & kMaildirFlags) != (flags & kMaildirFlags))
      *changed = true;
  }
  return S_OK;
}

HRESULT Store::DeleteMessages(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  std::vector<std::string> paths;
  for (MESSAGEID id : ids) {
    std::string path;
    hr = MessagePath(folder, id, &path);
    if (FAILED(hr)) return hr;  // nothing changed
    paths.push_back(path);
  }
  if (readOnly_) return E_ACCESSDENIED;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (unlink(paths[i].c_str()) != 0 && errno != ENOENT) return Errno();
    if (errno == ENOENT) {
      // Renamed meanwhile by another program: find its new name.
      std::string path;
      if (SUCCEEDED(SyncMessages(f, true)) && SUCCEEDED(MessagePath(folder, ids[i], &path)))
        unlink(path.c_str());
    }
    Query("DELETE FROM messages WHERE id = ?").Bind(1, ids[i]).Step();
  }
  return S_OK;
}

HRESULT Store::CopyMove(STOREFOLDERID from, STOREFOLDERID to, const std::vector<MESSAGEID>& ids,
                        bool move, DWORD flagsRemove) {
  FolderInfo src, dst;
  HRESULT hr = FindFolder(from, &src);
  if (FAILED(hr)) return hr;
  hr = FindFolder(to, &dst);
  if (FAILED(hr)) return hr;
  for (MESSAGEID id : ids) {
    std::string path;
    hr = MessagePath(from, id, &path);
    if (FAILED(hr)) return hr;
  }
  if (readOnly_) return E_ACCESSDENIED;
  hr = EnsureMessageDirs(dst);
  if (FAILED(hr)) return hr;
  for (MESSAGEID id : ids) {
    hr = CopyOne(src, dst, id, move, flagsRemove);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Store::CopyOne(const FolderInfo& src, const FolderInfo& dst, MESSAGEID id, bool move,
                       DWORD flagsRemove) {
  if (move && src.id == dst.id) {
    bool changed;
    return SetFlags(src.id, {id}, 0, flagsRemove & kMaildirFlags, &changed, nullptr);
  }
  std::string srcPath;
  int fd = -1;
  HRESULT hr = OpenMessageFile(src.id, id, &fd, &srcPath);
  if (FAILED(hr)) return hr;
  Statement& q = Query(
      "SELECT uniq, name, flags, received, sent, subject, norm_subject, disp_from, disp_to,"
      " message_id, size, mtime FROM messages WHERE id = ?");
  q.Bind(1, id);
  if (q.Step() != SQLITE_ROW) {
    q.Reset();
    close(fd);
    return kNotFound;
  }
  FileSummary p;
  p.uniq = q.Text(0);
  std::string oldName = q.Text(1);
  DWORD oldFlags = static_cast<DWORD>(q.Int(2));
  p.received = q.Int(3);
  p.sent = q.Int(4);
  auto opt = [&](int col) -> std::optional<std::string> {
    if (q.IsNull(col)) return std::nullopt;
    return std::string(q.View(col));
  };
  p.sum.subject = opt(5);
  p.sum.normalSubject = opt(6);
  p.sum.displayFrom = opt(7);
  p.sum.displayTo = opt(8);
  p.sum.messageId = opt(9);
  p.size = q.Int(10);
  p.mtime = q.Int(11);
  q.Reset();

  DWORD wanted = (oldFlags & ~flagsRemove) & kMaildirFlags;
  std::string info = md::InfoWithFlags(md::ParseFileName(oldName).info, wanted);
  p.flags = wanted | (oldFlags & MSG_FLAG_ATTACHMENT);
  std::string dstDir = FolderPath(dst.dir);
  auto uniqTaken = [&](const std::string& uniq) {
    Statement& t = Query("SELECT 1 FROM messages WHERE folder = ? AND uniq = ?");
    t.Bind(1, dst.id).Bind(2, uniq);
    bool taken = t.Step() == SQLITE_ROW;
    t.Reset();
    return taken;
  };
  // A new unique name keeps the delivery time, so the received time survives
  // a rebuild of the index.
  auto freshUniq = [&] {
    std::string fresh = md::NewUniqueName();
    auto t = md::DeliverySeconds(p.uniq);
    if (t) fresh = std::to_string(*t) + fresh.substr(fresh.find('.'));
    return fresh;
  };

  if (move) {
    close(fd);
    for (int attempt = 0;; ++attempt) {
      if (uniqTaken(p.uniq)) p.uniq = freshUniq();
      p.name = md::CurName(p.uniq, info);
      if (md::RenameNoReplace(srcPath, dstDir + "/cur/" + p.name) == 0) break;
      if (errno == EEXIST && attempt < 3) {
        p.uniq = freshUniq();
        continue;
      }
      if (errno == ENOENT && attempt < 3) {
        hr = OpenMessageFile(src.id, id, &fd, &srcPath);
        if (FAILED(hr)) return hr;
        close(fd);
        continue;
      }
      return Errno();
    }
    md::FsyncDirectory(dstDir + "/cur");
  } else {
    p.uniq = freshUniq();
    p.name = md::CurName(p.uniq, info);
    std::string tmp = dstDir + "/tmp/" + p.uniq;
    int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
      hr = Errno();
      close(fd);
      return hr;
    }
    char buf[65536];
    ssize_t n;
    bool ok = true;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      for (ssize_t off = 0; off < n;) {
        ssize_t w = write(out, buf + off, static_cast<std::size_t>(n - off));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          ok = false;
          break;
        }
        off += w;
      }
      if (!ok) break;
    }
    struct stat st;
    if (fstat(fd, &st) == 0) {
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      futimens(out, times);
    }
    close(fd);
    ok = ok && fsync(out) == 0;
    hr = ok ? S_OK : Errno();
    if (ok && fstat(out, &st) == 0) {
      p.size = st.st_size;
      p.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    close(out);
    if (!ok || md::RenameNoReplace(tmp, dstDir + "/cur/" + p.name) != 0) {
      if (ok) hr = Errno();
      unlink(tmp.c_str());
      return FAILED(hr) ? hr : E_FAIL;
    }
    md::FsyncDirectory(dstDir + "/cur");
  }

  if (FAILED(Begin())) return E_FAIL;
  if (move) Query("DELETE FROM messages WHERE id = ?").Bind(1, id).Step();
  Statement& s = Query(
      "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
      " subject, norm_subject, disp_from, disp_to, message_id)"
      " VALUES(?1, ?2, 0, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"
      " ON CONFLICT(folder, uniq) DO UPDATE SET sub = 0, name = excluded.name,"
      " flags = excluded.flags");
  s.Bind(1, dst.id).Bind(2, p.uniq).Bind(3, p.name).Bind(4, p.flags).Bind(5, p.size);
  s.Bind(6, p.mtime).Bind(7, p.received).Bind(8, p.sent).Bind(9, p.sum.subject);
  s.Bind(10, p.sum.normalSubject).Bind(11, p.sum.displayFrom).Bind(12, p.sum.displayTo);
  s.Bind(13, p.sum.messageId);
  s.Step();
  BumpGeneration(dst.id);
  return Commit();
}

HRESULT Store::ReserveMessage(STOREFOLDERID folder, int* fd, std::string* tmpPath, MESSAGEID* id) {
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  hr = EnsureMessageDirs(f);
  if (FAILED(hr)) return hr;
  std::string dir = FolderPath(f.dir);
  std::string uniq = md::NewUniqueName();
  *tmpPath = dir + "/tmp/" + uniq;
  *fd = open(tmpPath->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (*fd < 0) return Errno();
  if (FAILED(Begin())) {
    close(*fd);
    unlink(tmpPath->c_str());
    return E_FAIL;
  }
  Query("INSERT INTO messages(folder, uniq, sub, name) VALUES(?, ?, 2, ?)")
      .Bind(1, f.id)
      .Bind(2, uniq)
      .Bind(3, uniq)
      .Step();
  std::int64_t rowid = sqlite3_last_insert_rowid(db_);
  BumpGeneration(f.id);
  if (rowid <= 0 || rowid > kMaxId || FAILED(Commit())) {
    Rollback();
    close(*fd);
    unlink(tmpPath->c_str());
    return E_FAIL;
  }
  *id = static_cast<MESSAGEID>(rowid);
  return S_OK;
}

HRESULT Store::CommitMessage(STOREFOLDERID folder, MESSAGEID id, int fd, const std::string& tmpPath,
                             DWORD msgFlags) {
  FolderInfo f;
  HRESULT hr = FindFolder(folder, &f);
  if (FAILED(hr)) return hr;
  if (fsync(fd) != 0) return Errno();
  FileSummary p;
  p.uniq = tmpPath.substr(tmpPath.rfind('/') + 1);
  if (lseek(fd, 0, SEEK_SET) != 0) return Errno();
  ReadFileSummary(fd, &p);
  if (!p.ok) return E_FAIL;
  p.flags |= msgFlags & kMaildirFlags;
  p.name = md::CurName(p.uniq, md::InfoWithFlags("", msgFlags & kMaildirFlags));
  std::string dir = FolderPath(f.dir);
  if (md::RenameNoReplace(tmpPath, dir + "/cur/" + p.name) != 0) return Errno();
  md::FsyncDirectory(dir + "/cur");
  // Should this process die here, the next listing finds the file in cur/
  // and gives the reserved row (same id) its summary.
  if (FAILED(Begin())) return E_FAIL;
  Statement& s = Query(
      "UPDATE messages SET sub = 0, name = ?2, flags = ?3, size = ?4, mtime = ?5,"
      " received = ?6, sent = ?7, subject = ?8, norm_subject = ?9, disp_from = ?10,"
      " disp_to = ?11, message_id = ?12 WHERE id = ?1");
  s.Bind(1, id).Bind(2, p.name).Bind(3, p.flags).Bind(4, p.size).Bind(5, p.mtime);
  s.Bind(6, p.received).Bind(7, p.sent).Bind(8, p.sum.subject).Bind(9, p.sum.normalSubject);
  s.Bind(10, p.sum.displayFrom).Bind(11, p.sum.displayTo).Bind(12, p.sum.messageId);
  s.Step();
  return Commit();
}

void Store::AbandonMessage(MESSAGEID id, const std::string& tmpPath) {
  unlink(tmpPath.c_str());
  Query("DELETE FROM messages WHERE id = ? AND sub = 2").Bind(1, id).Step();
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
