// SPDX-License-Identifier: LGPL-2.1-or-later
// The listing: bringing the index of one folder in line with its cur/ and
// new/ directories.
//
// Change detection: the index keeps the mtimes that cur/ and new/ had when
// they were last listed. When both are unchanged, nothing is read. This is
// safe only if any later change must move the mtime: a change made in the
// same timestamp tick as the listing may not. So an mtime is kept only when it
// is older than the start of the listing by more than the coarsest timestamp
// granularity (2 s); a younger one is stored as "untrusted" (-2) and the next
// enumeration lists the directories again. Files whose name did not change
// are not stat'ed (Maildir never rewrites a file in place); new and renamed
// files are, and their summary is re-read when size or mtime differ.
#include "platform/store/engine/disk.h"
#include "platform/store/engine/store_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/format.h"
#include "platform/store/maildir/message_file.h"
#include "platform/store/maildir/names.h"

namespace store::maildir {
namespace md = maildir;
using namespace engine;
namespace {

// One listing of one folder, in the steps Run takes in order.
class FolderListing {
 public:
  FolderListing(Store& store, const FolderInfo& f, HeaderState headerState)
      : store_(store), f_(f), dir_(store.FolderPath(f.dir)), headerState_(headerState) {}
  HRESULT Run(bool force);

 private:
  // A known file found under another name or in the other directory.
  struct Renamed {
    MESSAGEID id;
    int sub;
    std::string name;
    DWORD flags;
    std::unique_ptr<FileSummary> reparsed;  // its content changed: read again
  };
  // A file the index does not know: its name only, until its batch is read.
  struct NewFile {
    std::string name;
    std::size_t uniqLength;
    int sub;
    std::string otherKey;  // the key when it is not the name's unique part
    std::int64_t delivered = 0;
    std::string_view uniq() const {
      return otherKey.empty() ? std::string_view(name).substr(0, uniqLength) : otherKey;
    }
  };
  // A known file no longer found.
  struct Removed {
    MESSAGEID id;
    std::string uniq, name;
  };

  bool ReadFolderRow(bool force);
  void LoadKnownFiles();
  void ListChangedDirectories();
  void ListDirectory(int sub);
  void FindRemoved();
  void RecordDirectoryTimes();
  void OrderNewFiles();
  HRESULT WriteChanges();
  void ReadBatch(std::size_t from, std::vector<FileSummary>* out);
  HRESULT InsertBatch(std::vector<FileSummary>& batch, std::vector<MESSAGEID>* ids);
  void WriteRenamesAndRemovals();
  void CacheBatch(std::vector<FileSummary>& batch, const std::vector<MESSAGEID>& ids);
  void CacheRenamesAndRemovals();
  std::int64_t FolderGeneration();

  Store& store_;
  const FolderInfo& f_;
  const std::string dir_;
  const HeaderState headerState_;
  std::int64_t start_ = 0;
  std::int64_t observed_[2] = {0, 0};
  std::int64_t stored_[2] = {0, 0};
  std::int64_t gen_ = 0;
  bool list_[2] = {false, false};
  bool listed_[2] = {false, false};
  FolderFiles* cache_ = nullptr;
  std::uint32_t pass_ = 0;
  std::size_t seen_[2] = {0, 0};
  std::vector<Renamed> renamed_;
  std::vector<NewFile> added_;
  std::vector<Removed> removed_;
  ReaderState renamedReader_;
  int subFd_[2] = {-1, -1};  // cur/ and new/, open while new files are read
  std::vector<ReaderState> readers_;
  std::string keyBuffer_;
};

}  // namespace

HRESULT MaildirFormat::Sync(Store& store, const FolderInfo& f, bool force) const {
  store.ForgetPaths(f.id);  // remembered no longer than the last listing
  return FolderListing(store, f, headerState_).Run(force);
}

HRESULT FolderListing::Run(bool force) {
  start_ = disk::NowNs();
  observed_[0] = disk::MTimeNs(dir_ + "/cur");
  observed_[1] = disk::MTimeNs(dir_ + "/new");
  if (!ReadFolderRow(force)) return kNotFound;
  if (!list_[0] && !list_[1]) return S_OK;
  LoadKnownFiles();
  ListChangedDirectories();
  FindRemoved();
  if (added_.empty() && renamed_.empty() && removed_.empty()) {
    RecordDirectoryTimes();  // nothing else to write
    return S_OK;
  }
  OrderNewFiles();
  if (store_.readOnly() && store_.db() == nullptr) return E_FAIL;
  HRESULT hr = WriteChanges();
  for (int fd : subFd_)
    if (fd >= 0) close(fd);
  return hr;
}

// The stored directory times and generation; which directories to list.
bool FolderListing::ReadFolderRow(bool force) {
  Statement& q = store_.Query("SELECT cur_mtime, new_mtime, gen FROM folders WHERE id = ?");
  q.Bind(1, f_.id);
  if (q.Step() != SQLITE_ROW) {
    q.Reset();
    return false;
  }
  stored_[0] = q.Int(0);
  stored_[1] = q.Int(1);
  gen_ = q.Int(2);
  q.Reset();
  for (int sub = 0; sub < 2; ++sub)
    list_[sub] = force || stored_[sub] == kUntrusted || stored_[sub] != observed_[sub];
  return true;
}

// The rows of the folder, kept between listings while no process changed
// them (the folder's generation, bumped by triggers on every row change).
void FolderListing::LoadKnownFiles() {
  cache_ = &store_.FilesOf(f_.id);
  FolderFiles& cache = *cache_;
  if (cache.gen != gen_) {
    cache.byUniq.clear();
    Statement& q = store_.Query(
        "SELECT id, uniq, sub, name, size, mtime FROM messages WHERE folder = ? ORDER BY id");
    q.Bind(1, f_.id);
    cache.count[0] = cache.count[1] = cache.count[2] = 0;
    while (q.Step() == SQLITE_ROW) {
      int sub = std::clamp(static_cast<int>(q.Int(2)), 0, 2);
      cache.byUniq.emplace(std::string(q.View(1)),
                           KnownFile{static_cast<MESSAGEID>(q.Int(0)), sub, std::string(q.View(3)),
                                     q.Int(4), q.Int(5), 0});
      ++cache.count[sub];
    }
    q.Reset();
    cache.gen = gen_;
  }
  pass_ = ++cache.pass;
}

// Only a directory whose mtime moved is listed. A file moved between cur/
// and new/ changes both, so after listing one the other is looked at again:
// a move that raced with the listing shows there, and that directory is
// listed too (so the moved file is never taken for a removed one).
void FolderListing::ListChangedDirectories() {
  for (bool more = true; more;) {
    more = false;
    for (int sub = 0; sub < 2; ++sub) {
      if (!list_[sub] || listed_[sub]) continue;
      ListDirectory(sub);
      int other = 1 - sub;
      if (!list_[other]) {
        std::int64_t now = disk::MTimeNs(dir_ + "/" + SubDir(other));
        if (now != observed_[other]) {
          observed_[other] = now;
          list_[other] = more = true;
        }
      }
    }
  }
}

// Sorts the files of cur/ or new/ into known, renamed and new ones.
void FolderListing::ListDirectory(int sub) {
  listed_[sub] = true;
  DIR* d = opendir((dir_ + "/" + SubDir(sub)).c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
    std::string_view name(e->d_name);
    md::FileName fn = md::ParseFileName(name);
    std::string_view key = md::MessageKey(fn.uniq, &keyBuffer_);
    auto it = cache_->byUniq.find(key);
    if (it == cache_->byUniq.end()) {
      added_.push_back({std::string(name), fn.uniq.size(), sub,
                        key.size() == fn.uniq.size() ? std::string() : std::string(key)});
      continue;
    }
    KnownFile& k = it->second;
    if (k.seen == pass_) continue;  // the same unique name twice: the first one counts
    k.seen = pass_;
    if (k.sub < 2) ++seen_[k.sub];
    if (k.sub == sub && k.name == name) continue;
    Renamed r{k.id, sub, std::string(name), md::FlagsFromInfo(fn.info), nullptr};
    std::string path = dir_ + "/" + SubDir(sub) + "/" + r.name;
    struct stat st;
    bool changed =
        k.sub == 2 || stat(path.c_str(), &st) != 0 || st.st_size != k.size ||
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec != k.mtime;
    if (changed) {
      r.reparsed = std::make_unique<FileSummary>();
      r.reparsed->uniq = std::string(key);
      ReadFileSummary(path, r.reparsed.get(), &renamedReader_);
      if (!r.reparsed->ok) continue;  // vanished meanwhile: the next listing sees it
    }
    renamed_.push_back(std::move(r));
  }
  closedir(d);
}

// Every row of the listed directories seen: nothing was removed, and the
// (large) table need not be walked.
void FolderListing::FindRemoved() {
  const FolderFiles& cache = *cache_;
  if ((listed_[0] && seen_[0] < cache.count[0]) || (listed_[1] && seen_[1] < cache.count[1])) {
    for (const auto& [uniq, k] : cache.byUniq)
      if (k.seen != pass_ && k.sub != 2 && listed_[k.sub]) removed_.push_back({k.id, uniq, k.name});
  }
}

// The directory times this listing may vouch for (see the top of the file).
void FolderListing::RecordDirectoryTimes() {
  auto trusted = [&](std::int64_t m) {
    return m < start_ - kMtimeMarginNs || m < 0 ? m : kUntrusted;
  };
  store_.Query("UPDATE folders SET cur_mtime = ?, new_mtime = ? WHERE id = ?")
      .Bind(1, listed_[0] ? trusted(observed_[0]) : stored_[0])
      .Bind(2, listed_[1] ? trusted(observed_[1]) : stored_[1])
      .Bind(3, f_.id)
      .Step();
}

// Ids follow the order of delivery. A unique name listed twice (a file that
// moved from new/ to cur/ while the directories were read) is one message:
// the one in cur/ counts.
void FolderListing::OrderNewFiles() {
  for (auto& n : added_) n.delivered = md::DeliverySeconds(n.uniq()).value_or(0);
  std::sort(added_.begin(), added_.end(), [](const NewFile& a, const NewFile& b) {
    if (a.delivered != b.delivered) return a.delivered < b.delivered;
    if (a.uniq() != b.uniq()) return a.uniq() < b.uniq();
    return a.sub < b.sub;
  });
  added_.erase(std::unique(added_.begin(), added_.end(),
                           [](const NewFile& a, const NewFile& b) { return a.uniq() == b.uniq(); }),
               added_.end());
}

namespace {

void BindSummary(Statement& s, int first, const FileSummary& p) {
  s.Bind(first, p.size)
      .Bind(first + 1, p.mtime)
      .Bind(first + 2, p.received)
      .Bind(first + 3, p.sent)
      .Bind(first + 4, p.sum.subject)
      .Bind(first + 5, p.sum.normalSubject)
      .Bind(first + 6, p.sum.displayFrom)
      .Bind(first + 7, p.sum.displayTo)
      .Bind(first + 8, p.sum.messageId);
}

}  // namespace

std::int64_t FolderListing::FolderGeneration() {
  Statement& q = store_.Query("SELECT gen FROM folders WHERE id = ?");
  q.Bind(1, f_.id);
  std::int64_t g = q.Step() == SQLITE_ROW ? q.Int(0) : -1;
  q.Reset();
  return g;
}

// Headers are read outside the transaction, a batch at a time, so other
// processes wait for the index only while rows are written; the next batch
// is read while this one is written. The first transaction also carries the
// renames and removals.
HRESULT FolderListing::WriteChanges() {
  // A large listing (a first one) writes many batches: checkpoint once at the
  // end rather than every few batches, each with its fsync.
  bool bulk = added_.size() > static_cast<std::size_t>(kBatch);
  if (bulk) store_.Exec("PRAGMA wal_autocheckpoint=0");
  struct RestoreCheckpoints {
    Store& store;
    bool bulk;
    ~RestoreCheckpoints() {
      if (!bulk) return;
      store.Exec("PRAGMA wal_autocheckpoint=1000");
      store.Exec("PRAGMA wal_checkpoint(PASSIVE)");
    }
  } restore{store_, bulk};
  for (int sub = 0; sub < 2; ++sub)
    if (std::any_of(added_.begin(), added_.end(), [&](const NewFile& n) { return n.sub == sub; }))
      subFd_[sub] = open((dir_ + "/" + SubDir(sub)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  readers_.resize(ReaderCount(added_.size()));

  FolderFiles& cache = *cache_;
  std::size_t next = 0;
  bool first = true;
  std::vector<FileSummary> batch, upcoming;
  ReadBatch(0, &batch);
  while (first || next < added_.size()) {
    std::size_t end = next + batch.size();
    Background reading;
    if (end < added_.size()) reading.Run([&, end] { ReadBatch(end, &upcoming); });
    if (FAILED(store_.Begin())) return E_FAIL;
    // The cache follows our own writes only if nobody else wrote since it was read.
    bool cacheValid = FolderGeneration() == cache.gen;
    std::vector<MESSAGEID> ids(end - next, 0);
    if (FAILED(InsertBatch(batch, &ids))) {
      store_.Rollback();
      cache.gen = -1;
      return E_FAIL;  // a failed write, or the 32-bit id space is spent
    }
    if (end > next) store_.BumpGeneration(f_.id);
    if (first) WriteRenamesAndRemovals();
    if (end >= added_.size()) RecordDirectoryTimes();
    std::int64_t genAfter = FolderGeneration();
    if (FAILED(store_.Commit())) {
      cache.gen = -1;
      return E_FAIL;
    }
    if (!cacheValid) {
      cache.gen = -1;
    } else {
      CacheBatch(batch, ids);
      if (first) CacheRenamesAndRemovals();
      cache.gen = genAfter;
    }
    reading.Wait();
    std::swap(batch, upcoming);
    first = false;
    next = end;
  }
  return S_OK;
}

// Reads the summaries of the new files from `from` on, a batch of them.
void FolderListing::ReadBatch(std::size_t from, std::vector<FileSummary>* out) {
  std::size_t to = std::min(added_.size(), from + kBatch);
  out->clear();
  out->resize(to - from);
  for (std::size_t i = from; i < to; ++i) {
    FileSummary& p = (*out)[i - from];
    p.uniq = std::string(added_[i].uniq());
    p.name = std::move(added_[i].name);
    p.sub = added_[i].sub;
  }
  ReadAll(*out, readers_, [this](FileSummary& p, ReaderState& reader) {
    if (subFd_[p.sub] >= 0)
      ReadFileSummaryAt(subFd_[p.sub], p.name, &p, &reader);
    else
      ReadFileSummary(dir_ + "/" + SubDir(p.sub) + "/" + p.name, &p, &reader);
    p.flags |= md::FlagsFromInfo(md::ParseFileName(p.name).info);
    // A writer that keeps the state in the headers: a message it deleted
    // is only waiting to be removed.
    if (headerState_ && p.ok && !headerState_(reader.headers, &p.flags)) p.ok = false;
  });
}

// Inserts the rows of one batch; `ids` gets each row's id (0 for a file that
// could not be read).
HRESULT FolderListing::InsertBatch(std::vector<FileSummary>& batch, std::vector<MESSAGEID>* ids) {
  for (const FileSummary& p : batch) {
    if (!p.ok) continue;
    Statement& s = store_.Query(
        "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
        " subject, norm_subject, disp_from, disp_to, message_id)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)"
        " ON CONFLICT(folder, uniq) DO UPDATE SET sub = excluded.sub, name = excluded.name,"
        " flags = excluded.flags, size = excluded.size, mtime = excluded.mtime,"
        " received = excluded.received, sent = excluded.sent, subject = excluded.subject,"
        " norm_subject = excluded.norm_subject, disp_from = excluded.disp_from,"
        " disp_to = excluded.disp_to, message_id = excluded.message_id");
    s.Bind(1, f_.id).Bind(2, p.uniq).Bind(3, p.sub).Bind(4, p.name).Bind(5, p.flags);
    BindSummary(s, 6, p);
    std::int64_t id = store_.UpsertMessageRow(s, f_.id, p.uniq);
    if (id <= 0 || id > kMaxId) return E_FAIL;
    (*ids)[&p - batch.data()] = static_cast<MESSAGEID>(id);
  }
  return S_OK;
}

void FolderListing::WriteRenamesAndRemovals() {
  for (const auto& r : renamed_) {
    if (r.reparsed) {
      const FileSummary& p = *r.reparsed;
      Statement& s = store_.Query(
          "UPDATE messages SET sub = ?2, name = ?3, flags = ?4, size = ?5, mtime = ?6,"
          " received = ?7, sent = ?8, subject = ?9, norm_subject = ?10, disp_from = ?11,"
          " disp_to = ?12, message_id = ?13 WHERE id = ?1");
      s.Bind(1, r.id).Bind(2, r.sub).Bind(3, r.name).Bind(4, r.flags | p.flags);
      BindSummary(s, 5, p);
      s.Step();
    } else {
      store_
          .Query("UPDATE messages SET sub = ?2, name = ?3, flags = (flags & ?5) | ?4 WHERE id = ?1")
          .Bind(1, r.id)
          .Bind(2, r.sub)
          .Bind(3, r.name)
          .Bind(4, r.flags)
          .Bind(5, MSG_FLAG_ATTACHMENT)
          .Step();
    }
  }
  // Only a row that still names the file we missed: another process of
  // ours may have renamed it (and updated the row) since we listed.
  for (const auto& r : removed_)
    store_.Query("DELETE FROM messages WHERE id = ? AND name = ? AND sub < 2")
        .Bind(1, r.id)
        .Bind(2, r.name)
        .Step();
}

// The batch is done with: its names move into the cache.
void FolderListing::CacheBatch(std::vector<FileSummary>& batch, const std::vector<MESSAGEID>& ids) {
  FolderFiles& cache = *cache_;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    FileSummary& p = batch[i];
    if (!p.ok) continue;
    auto [it, fresh] = cache.byUniq.try_emplace(std::move(p.uniq));
    if (!fresh) --cache.count[it->second.sub];
    it->second = KnownFile{ids[i], p.sub, std::move(p.name), p.size, p.mtime, pass_};
    ++cache.count[p.sub];
  }
}

void FolderListing::CacheRenamesAndRemovals() {
  FolderFiles& cache = *cache_;
  for (const auto& r : renamed_) {
    auto it =
        cache.byUniq.find(r.reparsed ? std::string_view(r.reparsed->uniq)
                                     : md::MessageKey(md::ParseFileName(r.name).uniq, &keyBuffer_));
    if (it == cache.byUniq.end()) continue;
    --cache.count[it->second.sub];
    ++cache.count[r.sub];
    it->second.sub = r.sub;
    it->second.name = r.name;
    if (r.reparsed) {
      it->second.size = r.reparsed->size;
      it->second.mtime = r.reparsed->mtime;
    }
  }
  for (const auto& r : removed_) {
    auto it = cache.byUniq.find(r.uniq);
    if (it == cache.byUniq.end()) continue;
    --cache.count[it->second.sub];
    cache.byUniq.erase(it);
  }
}

}  // namespace store::maildir
