// SPDX-License-Identifier: LGPL-2.1-or-later
// Writing into a Maildir, as the Maildir rules ask: a new message is written
// in tmp/ and renamed into cur/, a flag change or a move is a rename, and no
// message file is ever rewritten in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/shell/files.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/maildir/format.h"
#include "platform/store/maildir/message_file.h"
#include "platform/store/maildir/names.h"

namespace store::maildir {
using namespace engine;

namespace {

// Whether a folder's directory, made for its first message, carries the
// layout's folder marker (never the Inbox's).
bool MarkedFolder(const Store& store, const FolderInfo& f) {
  return store.layout().MarksFolders() && !f.inbox;
}

HRESULT CopyOne(Store& store, const MaildirFormat& format, const FolderInfo& src,
                const FolderInfo& dst, MESSAGEID id, bool move, DWORD flagsRemove) {
  if (move && src.id == dst.id) {
    bool changed;
    return format.SetFlags(store, src, {id}, 0, flagsRemove & kMaildirFlags, &changed, nullptr);
  }
  std::string srcPath;
  int fd = -1;
  HRESULT hr = store.OpenMessageFile(src.id, id, &fd, &srcPath);
  if (FAILED(hr)) return hr;
  Statement& q = store.Query(
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
  std::string info = InfoWithFlags(ParseFileName(oldName).info, wanted);
  p.flags = wanted | (oldFlags & MSG_FLAG_ATTACHMENT);
  std::string dstDir = store.FolderPath(dst.dir);
  auto uniqTaken = [&](const std::string& uniq) {
    Statement& t = store.Query("SELECT 1 FROM messages WHERE folder = ? AND uniq = ?");
    t.Bind(1, dst.id).Bind(2, uniq);
    bool taken = t.Step() == SQLITE_ROW;
    t.Reset();
    return taken;
  };
  // A new unique name keeps the delivery time, so the received time survives
  // a rebuild of the index.
  auto freshUniq = [&] {
    std::string fresh = NewUniqueName();
    auto t = DeliverySeconds(p.uniq);
    if (t) fresh = std::to_string(*t) + fresh.substr(fresh.find('.'));
    return fresh;
  };

  if (move) {
    close(fd);
    for (int attempt = 0;; ++attempt) {
      if (uniqTaken(p.uniq)) p.uniq = freshUniq();
      p.name = CurName(p.uniq, info);
      if (disk::RenameNoReplace(srcPath, dstDir + "/cur/" + p.name) == 0) break;
      if (errno == EEXIST && attempt < 3) {
        p.uniq = freshUniq();
        continue;
      }
      if (errno == ENOENT && attempt < 3) {
        hr = store.OpenMessageFile(src.id, id, &fd, &srcPath);
        if (FAILED(hr)) return hr;
        close(fd);
        continue;
      }
      return Errno();
    }
    disk::FsyncDirectory(dstDir + "/cur");
  } else {
    p.uniq = freshUniq();
    p.name = CurName(p.uniq, info);
    std::string tmp = dstDir + "/tmp/" + p.uniq;
    ::files::UniqueFd source(fd);
    ::files::UniqueFd out(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out) return Errno();
    int error = 0;
    char buf[65536];
    for (ssize_t n; !error && (n = read(source.get(), buf, sizeof buf)) != 0;) {
      if (n < 0)
        error = errno == EINTR ? 0 : errno;
      else
        error = ::files::WriteAll(out.get(), buf, static_cast<std::size_t>(n));
    }
    struct stat st;
    if (fstat(source.get(), &st) == 0) {
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      futimens(out.get(), times);
    }
    source.Reset();
    if (!error && fsync(out.get()) != 0) error = errno;
    if (!error && fstat(out.get(), &st) == 0) {
      p.size = st.st_size;
      p.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    if (int closed = out.Close(); !error) error = closed;
    if (!error && disk::RenameNoReplace(tmp, dstDir + "/cur/" + p.name) != 0) error = errno;
    if (error) {
      unlink(tmp.c_str());
      return com::HResultFromErrno(error);
    }
    disk::FsyncDirectory(dstDir + "/cur");
  }

  if (FAILED(store.Begin())) return E_FAIL;
  if (move) store.Query("DELETE FROM messages WHERE id = ?").Bind(1, id).Step();
  Statement& s = store.Query(
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
  store.BumpGeneration(dst.id);
  return store.Commit();
}

}  // namespace

HRESULT MaildirFormat::Delete(Store& store, const FolderInfo& f,
                              const std::vector<MESSAGEID>& ids) const {
  if (!writable_) return E_ACCESSDENIED;
  std::vector<std::string> paths;
  for (MESSAGEID id : ids) {
    std::string path;
    HRESULT hr = store.MessagePath(f.id, id, &path);
    if (FAILED(hr)) return hr;  // nothing changed
    paths.push_back(path);
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (unlink(paths[i].c_str()) != 0 && errno != ENOENT) return Errno();
    if (errno == ENOENT) {
      // Renamed meanwhile by another program: find its new name.
      std::string path;
      if (SUCCEEDED(store.SyncMessages(f, true)) &&
          SUCCEEDED(store.MessagePath(f.id, ids[i], &path)))
        unlink(path.c_str());
    }
    store.Query("DELETE FROM messages WHERE id = ?").Bind(1, ids[i]).Step();
  }
  return S_OK;
}

HRESULT MaildirFormat::Copy(Store& store, const FolderInfo& src, const FolderInfo& dst,
                            const std::vector<MESSAGEID>& ids, bool move, DWORD flagsRemove) const {
  if (!writable_) return E_ACCESSDENIED;
  HRESULT hr = EnsurePlace(store.FolderPath(dst.dir), MarkedFolder(store, dst));
  if (FAILED(hr)) return hr;
  for (MESSAGEID id : ids) {
    hr = CopyOne(store, *this, src, dst, id, move, flagsRemove);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT MaildirFormat::Reserve(Store& store, const FolderInfo& f, int* fd, std::string* tmpPath,
                               MESSAGEID* id) const {
  HRESULT hr = EnsurePlace(store.FolderPath(f.dir), MarkedFolder(store, f));
  if (FAILED(hr)) return hr;
  std::string dir = store.FolderPath(f.dir);
  std::string uniq = NewUniqueName();
  *tmpPath = dir + "/tmp/" + uniq;
  *fd = open(tmpPath->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (*fd < 0) return Errno();
  if (FAILED(store.Begin())) {
    close(*fd);
    unlink(tmpPath->c_str());
    return E_FAIL;
  }
  store.Query("INSERT INTO messages(folder, uniq, sub, name) VALUES(?, ?, 2, ?)")
      .Bind(1, f.id)
      .Bind(2, uniq)
      .Bind(3, uniq)
      .Step();
  std::int64_t rowid = sqlite3_last_insert_rowid(store.db());
  store.BumpGeneration(f.id);
  if (rowid <= 0 || rowid > kMaxId || FAILED(store.Commit())) {
    store.Rollback();
    close(*fd);
    unlink(tmpPath->c_str());
    return E_FAIL;
  }
  *id = static_cast<MESSAGEID>(rowid);
  return S_OK;
}

HRESULT MaildirFormat::Commit(Store& store, const FolderInfo& f, MESSAGEID id, int fd,
                              const std::string& tmpPath, DWORD msgFlags) const {
  if (!writable_) return E_ACCESSDENIED;
  if (fsync(fd) != 0) return Errno();
  FileSummary p;
  p.uniq = tmpPath.substr(tmpPath.rfind('/') + 1);
  if (lseek(fd, 0, SEEK_SET) != 0) return Errno();
  ReadFileSummary(fd, &p);
  if (!p.ok) return E_FAIL;
  p.flags |= msgFlags & kMaildirFlags;
  p.name = CurName(p.uniq, InfoWithFlags("", msgFlags & kMaildirFlags));
  std::string dir = store.FolderPath(f.dir);
  if (disk::RenameNoReplace(tmpPath, dir + "/cur/" + p.name) != 0) return Errno();
  disk::FsyncDirectory(dir + "/cur");
  // Should this process die here, the next listing finds the file in cur/
  // and gives the reserved row (same id) its summary.
  if (FAILED(store.Begin())) return E_FAIL;
  Statement& s = store.Query(
      "UPDATE messages SET sub = 0, name = ?2, flags = ?3, size = ?4, mtime = ?5,"
      " received = ?6, sent = ?7, subject = ?8, norm_subject = ?9, disp_from = ?10,"
      " disp_to = ?11, message_id = ?12 WHERE id = ?1");
  s.Bind(1, id).Bind(2, p.name).Bind(3, p.flags).Bind(4, p.size).Bind(5, p.mtime);
  s.Bind(6, p.received).Bind(7, p.sent).Bind(8, p.sum.subject).Bind(9, p.sum.normalSubject);
  s.Bind(10, p.sum.displayFrom).Bind(11, p.sum.displayTo).Bind(12, p.sum.messageId);
  s.Step();
  return store.Commit();
}

void MaildirFormat::Abandon(Store& store, MESSAGEID id, const std::string& tmpPath) const {
  unlink(tmpPath.c_str());
  store.Query("DELETE FROM messages WHERE id = ? AND sub = 2").Bind(1, id).Step();
}

}  // namespace store::maildir
