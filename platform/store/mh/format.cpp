// SPDX-License-Identifier: LGPL-2.1-or-later
// Listing an MH folder into the index: the numbered files of its directory,
// each read once while its size and time stay the same, and the read state
// of every message taken again whenever the state file changed.
#include "platform/store/mh/format.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/mime/mime.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/mh/marks.h"

namespace store::mh {
using namespace engine;

namespace {

const MhFormat kMh;

// A state file larger than this is no mark file of a folder (8 bytes a
// message: 8 million messages).
constexpr std::int64_t kMaxStateFile = 64 << 20;

std::int64_t MTimeOf(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool ReadSmallFile(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxStateFile;
  if (ok) {
    out->resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out->size()) {
      ssize_t n = read(fd, out->data() + got, out->size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    out->resize(got);
  }
  close(fd);
  return ok;
}

// The read state of a folder's messages, from the first state file there is.
class ReadState {
 public:
  explicit ReadState(const std::string& dir) {
    for (const char* name : {"/.claws_mark", "/.sylpheed_mark"}) {
      std::string bytes;
      if (!ReadSmallFile(dir + name, &bytes)) continue;
      marks_ = ParseMarkFile(bytes);
      if (marks_) return;
    }
    std::string text;
    if (ReadSmallFile(dir + "/.mh_sequences", &text))
      unseen_ = ParseSequence(text, "unseen").value_or(Sequence());
  }

  // MSG_FLAG_* of message `n`; false for one that is deleted and only
  // waits to be removed.
  bool Flags(std::uint32_t n, DWORD* flags) const {
    *flags = 0;
    if (marks_) {
      auto it = marks_->find(n);
      // A message the program has not marked yet is new to it.
      std::uint32_t m = it == marks_->end() ? kMarkNew | kMarkUnread : it->second;
      if (m & kMarkDeleted) return false;
      if (!(m & (kMarkNew | kMarkUnread))) *flags |= MSG_FLAG_READ;
      if (m & kMarkReplied) *flags |= MSG_FLAG_REPLIED;
      if (m & kMarkMarked) *flags |= MSG_FLAG_FLAGGED;
      if (m & kMarkForwarded) *flags |= MSG_FLAG_PASSED;
      return true;
    }
    if (!unseen_ || !unseen_->Contains(n)) *flags |= MSG_FLAG_READ;
    return true;
  }

 private:
  std::optional<std::unordered_map<std::uint32_t, std::uint32_t>> marks_;
  std::optional<Sequence> unseen_;
};

// The newest time of the folder's state files: what changes when the
// program changes a message's state.
std::int64_t StateTime(const std::string& dir) {
  std::int64_t newest = -1;
  for (const char* name : {"/.claws_mark", "/.sylpheed_mark", "/.mh_sequences"})
    newest = std::max(newest, disk::MTimeNs(dir + name));
  return newest;
}

struct Known {
  MESSAGEID id;
  std::int64_t size, mtime;
  DWORD flags;
  bool seen = false;
};

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

// The summary of the message file `path`; the received time is the file's,
// as MH keeps no delivery time of its own.
void ReadSummary(const std::string& path, FileSummary* p, ReaderState* reader) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadHeaderBlock(fd, &reader->headers)) {
    p->size = st.st_size;
    p->mtime = MTimeOf(st);
    p->sum = ParseHeaderBlock(reader->headers, &reader->addresses);
    p->received = disk::UnixToTicks(st.st_mtim.tv_sec);
    p->sent = p->sum.sentSeconds ? disk::UnixToTicks(*p->sum.sentSeconds) : p->received;
    if (p->sum.attachment) p->flags |= MSG_FLAG_ATTACHMENT;
    p->ok = true;
  }
  close(fd);
}

}  // namespace

const MhFormat* Format() {
  return &kMh;
}

bool IsMessageName(std::string_view name) {
  if (name.empty() || name.size() > 10 || name[0] < '1' || name[0] > '9') return false;
  return std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

HRESULT MhFormat::Sync(Store& store, const FolderInfo& f, bool force) const {
  if (!store.db()) return E_FAIL;
  const std::string dir = store.FolderPath(f.dir);
  const std::int64_t start = disk::NowNs();
  const std::int64_t dirTime = disk::MTimeNs(dir), stateTime = StateTime(dir);
  {
    Statement& q = store.Query("SELECT cur_mtime, new_mtime FROM folders WHERE id = ?");
    q.Bind(1, f.id);
    if (q.Step() != SQLITE_ROW) {
      q.Reset();
      return kNotFound;
    }
    bool unchanged = q.Int(0) == dirTime && q.Int(1) == stateTime && dirTime != kUntrusted;
    q.Reset();
    if (unchanged && !force) return S_OK;
  }

  std::vector<std::uint32_t> numbers;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view name(e->d_name);
      if (!IsMessageName(name)) continue;
      std::uint32_t n = 0;
      if (std::from_chars(name.data(), name.data() + name.size(), n).ec == std::errc())
        numbers.push_back(n);
    }
    closedir(d);
  }
  // Ids follow the numbers, which MH gives in the order of arrival.
  std::sort(numbers.begin(), numbers.end());

  std::unordered_map<std::string, Known> known;
  {
    Statement& q = store.Query(
        "SELECT uniq, id, size, mtime, flags FROM messages WHERE folder = ? AND sub < 2");
    q.Bind(1, f.id);
    while (q.Step() == SQLITE_ROW)
      known.emplace(q.Text(0), Known{static_cast<MESSAGEID>(q.Int(1)), q.Int(2), q.Int(3),
                                     static_cast<DWORD>(q.Int(4))});
    q.Reset();
  }

  const ReadState state(dir);
  ReaderState reader;
  if (FAILED(store.Begin())) return E_FAIL;
  bool changed = false;
  for (std::uint32_t n : numbers) {
    std::string name = std::to_string(n);
    std::string path = dir + "/" + name;
    DWORD flags = 0;
    if (!state.Flags(n, &flags)) continue;  // deleted: left out, and its row goes
    auto it = known.find(name);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (it != known.end() && it->second.size == st.st_size && it->second.mtime == MTimeOf(st)) {
      it->second.seen = true;
      DWORD stored = it->second.flags & ~MSG_FLAG_ATTACHMENT;
      if (stored != flags) {
        store.Query("UPDATE messages SET flags = (flags & ?2) | ?3 WHERE id = ?1")
            .Bind(1, it->second.id)
            .Bind(2, MSG_FLAG_ATTACHMENT)
            .Bind(3, flags)
            .Step();
        changed = true;
      }
      continue;
    }
    FileSummary p;
    p.uniq = p.name = name;
    ReadSummary(path, &p, &reader);
    if (!p.ok) continue;
    p.flags |= flags;
    Statement& s = store.Query(
        "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
        " subject, norm_subject, disp_from, disp_to, message_id)"
        " VALUES(?1, ?2, 0, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"
        " ON CONFLICT(folder, uniq) DO UPDATE SET flags = excluded.flags, size = excluded.size,"
        " mtime = excluded.mtime, received = excluded.received, sent = excluded.sent,"
        " subject = excluded.subject, norm_subject = excluded.norm_subject,"
        " disp_from = excluded.disp_from, disp_to = excluded.disp_to,"
        " message_id = excluded.message_id");
    s.Bind(1, f.id).Bind(2, p.uniq).Bind(3, p.flags);
    BindSummary(s, 4, p);
    std::int64_t id = store.UpsertMessageRow(s, f.id, p.uniq);
    if (id <= 0 || id > kMaxId) {
      store.Rollback();
      return E_FAIL;  // a failed write, or the 32-bit id space is spent
    }
    if (it != known.end()) it->second.seen = true;
    changed = true;
  }
  for (const auto& [uniq, k] : known) {
    if (k.seen) continue;
    store.Query("DELETE FROM messages WHERE id = ?").Bind(1, k.id).Step();
    changed = true;
  }
  if (changed) store.BumpGeneration(f.id);
  // A time is kept only when it is old enough to change on any later change
  // (see the Maildir listing).
  auto trusted = [&](std::int64_t m) { return m < start - kMtimeMarginNs ? m : kUntrusted; };
  store.Query("UPDATE folders SET cur_mtime = ?, new_mtime = ? WHERE id = ?")
      .Bind(1, trusted(dirTime))
      .Bind(2, stateTime < 0 ? stateTime : trusted(stateTime))
      .Bind(3, f.id)
      .Step();
  if (FAILED(store.Commit())) return E_FAIL;
  store.ForgetPaths(f.id);
  return S_OK;
}

HRESULT MhFormat::Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
                       void** ppv) const {
  if (!IsMessageInterface(riid)) return E_NOINTERFACE;
  std::string name;
  if (HRESULT hr = store.StoredName(f, id, &name); FAILED(hr)) return hr;
  return OpenWholeMessageFile(store.FolderPath(f.dir) + "/" + name, riid, ppv);
}

}  // namespace store::mh
