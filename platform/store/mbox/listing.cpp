// SPDX-License-Identifier: LGPL-2.1-or-later
// The listing of an mbox folder: bringing the index in line with its file.
//
// The index keeps the file's device, inode, size and mtime as last listed:
// while they match, a listing costs a stat. A file that only grew (same
// inode, larger, and its first and last known messages still where they were
// with the same text) is read from its last known message on. Any other
// change reads the whole file again and matches messages by their content
// key, so every message whose bytes stayed keeps its id.
//
// The file is split (splitter.h) and each message hashed straight from a
// mapping of it while a read lease guards the mapping against the file being
// truncated under it (file_mapping.h), on two threads for a large file
// (chunked_scan.h); without the lease, the file is read a
// window at a time with pread into one buffer (copying it there cost about a
// quarter of a first listing). Only the header blocks of new messages are
// parsed; a first listing parses them and writes the rows on a thread of its
// own while the file is split further.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>

#include "platform/com/memory.h"
#include "platform/mime/mime.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/mbox/chunked_scan.h"
#include "platform/store/mbox/file_mapping.h"
#include "platform/store/mbox/format.h"
#include "platform/store/mbox/message_key.h"
#include "platform/store/mbox/splitter.h"

namespace store::mbox {
using namespace engine;

namespace {

// The file as the index last saw it.
struct FileState {
  bool known = false;
  std::int64_t device = 0, inode = 0, size = 0, mtime = 0;
  std::int64_t headFrom = 0, headHash = 0, headLength = -1;
  std::int64_t tailFrom = 0, tailHash = 0, tailLength = -1;

  bool Same(const struct stat& st) const {
    return known && device == static_cast<std::int64_t>(st.st_dev) &&
           inode == static_cast<std::int64_t>(st.st_ino) && size == st.st_size &&
           mtime == static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
};

FileState LoadState(Store& store, STOREFOLDERID folder) {
  FileState s;
  Statement& q = store.Query(
      "SELECT device, inode, size, mtime, head_from, head_hash, head_length, tail_from,"
      " tail_hash, tail_length FROM mbox_files WHERE folder = ?");
  q.Bind(1, folder);
  if (q.Step() == SQLITE_ROW) {
    s.known = true;
    s.device = q.Int(0);
    s.inode = q.Int(1);
    s.size = q.Int(2);
    s.mtime = q.Int(3);
    s.headFrom = q.Int(4);
    s.headHash = q.Int(5);
    s.headLength = q.Int(6);
    s.tailFrom = q.Int(7);
    s.tailHash = q.Int(8);
    s.tailLength = q.Int(9);
  }
  q.Reset();
  return s;
}

std::string_view TextOf(std::string_view bytes, const mbox::Span& s) {
  return bytes.substr(s.text, s.textEnd - s.text);
}

// Whether the message at `from` is still the one last seen there.
bool StillThere(std::string_view bytes, std::int64_t from, std::int64_t hash, std::int64_t length) {
  if (length < 0 || from < 0 || static_cast<std::uint64_t>(from) >= bytes.size()) return false;
  if (bytes.substr(from, 5) != "From ") return false;
  mbox::Splitter splitter(bytes, from);
  mbox::Span s;
  if (!splitter.Next(&s) || s.from != static_cast<std::uint64_t>(from)) return false;
  if (static_cast<std::int64_t>(s.textEnd - s.text) != length) return false;
  return static_cast<std::int64_t>(mbox::ReadFacts(TextOf(bytes, s)).hash) == hash;
}

// Bytes are read in order, a window at a time: small enough to stay in the
// processor's caches while it is split and hashed, grown for a large message.
constexpr std::size_t kWindow = 1 << 20;
constexpr std::size_t kMaxWindow = 32 << 20;

// Reads `len` bytes at `at`: S_OK, S_FALSE when the file ends before them
// (it shrank since it was opened), E_FAIL on an error.
HRESULT PreadAll(int fd, char* buf, std::size_t len, std::uint64_t at) {
  while (len > 0) {
    ssize_t n = pread(fd, buf, len, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return E_FAIL;
    if (n == 0) return S_FALSE;
    buf += n;
    len -= static_cast<std::size_t>(n);
    at += static_cast<std::uint64_t>(n);
  }
  return S_OK;
}

// The same check without a lease, when the file may be cut while it is
// read: the message and what follows it are read with pread, enough to see
// where the next message starts. A message too large to hold, or whose end
// the bytes read do not show, counts as changed: the file is listed again.
bool StillThereRead(int fd, std::uint64_t size, std::int64_t from, std::int64_t hash,
                    std::int64_t length) {
  constexpr std::uint64_t kFollowing = 64 << 10;  // its envelope line and the next one
  constexpr std::uint64_t kLargest = 64 << 20;
  if (length < 0 || from < 0 || static_cast<std::uint64_t>(from) >= size ||
      static_cast<std::uint64_t>(length) > kLargest)
    return false;
  const std::uint64_t want = std::min(size - static_cast<std::uint64_t>(from),
                                      static_cast<std::uint64_t>(length) + kFollowing);
  std::string bytes(want, '\0');
  if (PreadAll(fd, bytes.data(), bytes.size(), static_cast<std::uint64_t>(from)) != S_OK)
    return false;
  const bool toTheEnd = static_cast<std::uint64_t>(from) + want == size;
  mbox::Splitter splitter(bytes);
  mbox::Span s;
  if (!splitter.Next(&s) || s.from != 0 || (s.end == bytes.size() && !toTheEnd)) return false;
  return StillThere(bytes, 0, hash, length);
}

// The facts of a message's text, with the labels it carries when its file's
// messages carry them.
void ReadFactsOf(std::string_view text, LabelReader labelReader, mbox::MessageFacts* facts,
                 std::vector<std::string>* labels) {
  *facts = mbox::ReadFacts(text);
  if (labelReader) {
    // An archive whose messages carry labels keeps no Status: its messages
    // are read unless labelled unread.
    bool unread = false;
    *labels = labelReader(text.substr(0, facts->headerEnd), &unread);
    if (!labels->empty() && !unread) facts->flags |= MSG_FLAG_READ;
  }
}

// With one processor, a second thread would only add its switches.
mbox::ChunkedScanOptions ScanOptions() {
  mbox::ChunkedScanOptions options;
  if (std::thread::hardware_concurrency() < 2) options.parallelFrom = SIZE_MAX;
  return options;
}

// A message found by this listing.
struct Found {
  mbox::Span span;                  // file offsets
  std::string_view text, envelope;  // in the window (or the mapping) being read
  // A new message's header block and "From " line, copied for the writer
  // thread (which never reads the file), when `copied`.
  std::string headers, envelopeLine;
  bool copied = false;
  mbox::MessageFacts facts;
  std::string key;
  MESSAGEID id = 0;  // its id when the index knows it
  bool changed = false;
  FileSummary summary;              // read for new messages only
  std::vector<std::string> labels;  // the folder paths of its labels
};

// A message the index knows, by key.
struct KnownRow {
  MESSAGEID id;
  DWORD flags;
  std::int64_t start, end, quoted;
  bool seen = false;
};

}  // namespace

class MboxListing {
 public:
  MboxListing(Store& store, const FolderInfo& f, LabelReader labels)
      : store_(store), f_(f), path_(store.FolderPath(f.dir)), labelReader_(labels) {}
  // Brings the folder's listing up to date (Run, repeated while the file changes).
  static HRESULT Sync(Store& store, const FolderInfo& f, bool force, LabelReader labels);
  HRESULT Run(bool force);

 private:
  HRESULT Forget();
  void LoadKnownRows();
  unsigned Occurrence(std::uint64_t hash);
  HRESULT ReadFrom(int fd, FileMapping& map, std::uint64_t from);
  HRESULT ReadMapped(FileMapping& map, std::uint64_t* start, bool* skipTail);
  HRESULT ReadWindows(int fd, std::string_view mapped, std::uint64_t start, bool skipTail);
  HRESULT ReadBatch(std::vector<Found>& batch, bool factsRead = false);
  void ReadFacts(Found& m);
  void ReadFacts(std::vector<Found>& batch);
  void ReadSummaries(std::vector<Found>& batch, std::vector<ReaderState>& readers);
  HRESULT WriteBatch(std::vector<Found>& batch);
  HRESULT WritePending();
  HRESULT WaitForWriter();
  HRESULT Finish(const struct stat& st);

  Store& store_;
  const FolderInfo& f_;
  const std::string path_;
  const LabelReader labelReader_;
  FileState old_;
  bool appending_ = false;
  std::unordered_map<std::string, KnownRow> known_;
  std::unordered_map<std::uint64_t, unsigned> occurrences_;
  std::vector<ReaderState> readers_;
  std::vector<Found> pending_;  // read, not written yet
  // A first or whole listing summarises and writes its rows on a thread of
  // its own while the file is split further: `writing_` is the batch it is
  // given, `writerReaders_` its readers, `written_` how it went.
  bool background_ = false;
  Background writer_;
  std::vector<Found> writing_;
  std::vector<ReaderState> writerReaders_;
  HRESULT written_ = S_OK;
  bool shrank_ = false;  // the file ended early: not recorded as listed
  bool haveHead_ = false;
  mbox::Span head_, tail_;
  std::uint64_t headHash_ = 0, tailHash_ = 0;
  bool haveTail_ = false;
};

namespace {

// A listing whose file keeps changing under it is given up after this many rounds.
constexpr int kListingRounds = 4;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Whether Thunderbird is compacting a folder of the directory holding `path`:
// it writes the new files in ".compact-temp/" (older versions: a file named
// "nstmp") and then puts them in place of the old ones.
bool CompactionInProgress(const std::string& path) {
  std::string dir = path.substr(0, path.rfind('/'));
  return disk::IsDirectory(dir + "/.compact-temp") || access((dir + "/nstmp").c_str(), F_OK) == 0;
}

}  // namespace

// A file that changed while it was read (a message appended, the file
// replaced by a compaction) is read again, so that no listing shows a message
// cut short or half of a folder. A file missing while a compaction swaps
// files keeps its last listing.
HRESULT MboxFormat::Sync(Store& store, const FolderInfo& f, bool force) const {
  return MboxListing::Sync(store, f, force, labels_);
}

HRESULT MboxListing::Sync(Store& store, const FolderInfo& f, bool force, LabelReader labels) {
  const std::string path = store.FolderPath(f.dir);
  for (int round = 0; round < kListingRounds; ++round) {
    struct stat before, after;
    bool had = stat(path.c_str(), &before) == 0;
    if (!had && CompactionInProgress(path)) return S_OK;
    HRESULT hr = MboxListing(store, f, labels).Run(force && round == 0);
    if (FAILED(hr)) return hr;
    bool has = stat(path.c_str(), &after) == 0;
    if (had == has && (!had || SameFile(before, after))) return S_OK;
  }
  return S_OK;
}

HRESULT MboxListing::Run(bool force) {
  old_ = LoadState(store_, f_.id);
  int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return Forget();  // a folder that only holds folders, or a file gone
  }
  if (old_.Same(st) && !force) {
    close(fd);
    return S_OK;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  FileMapping map(fd, size, /*sequential=*/true);
  if (!map.ok()) {
    close(fd);
    return E_OUTOFMEMORY;
  }
  const std::string_view bytes = map.bytes();
  const bool leased = map.Lease();
  auto stillThere = [&](std::int64_t from, std::int64_t hash, std::int64_t length) {
    return leased ? StillThere(bytes, from, hash, length)
                  : StillThereRead(fd, bytes.size(), from, hash, length);
  };

  appending_ = old_.known && old_.device == static_cast<std::int64_t>(st.st_dev) &&
               old_.inode == static_cast<std::int64_t>(st.st_ino) && old_.size < st.st_size &&
               stillThere(old_.headFrom, old_.headHash, old_.headLength) &&
               stillThere(old_.tailFrom, old_.tailHash, old_.tailLength);
  readers_.resize(ReaderCount(1 << 20));
  // Appending looks the index up while it reads (Occurrence): it writes in line.
  background_ = !appending_;
  if (background_) writerReaders_.resize(readers_.size());
  HRESULT hr;
  if (appending_) {
    haveHead_ = true;  // the head stays as it was
    head_.from = static_cast<std::uint64_t>(old_.headFrom);
    headHash_ = static_cast<std::uint64_t>(old_.headHash);
    head_.text = 0;
    head_.textEnd = static_cast<std::uint64_t>(old_.headLength);
    hr = ReadFrom(fd, map, static_cast<std::uint64_t>(old_.tailFrom));
  } else {
    LoadKnownRows();
    hr = ReadFrom(fd, map, 0);
  }
  map.Release();
  close(fd);
  if (FAILED(hr)) return hr;
  return shrank_ ? S_OK : Finish(st);
}

HRESULT MboxListing::Forget() {
  if (!old_.known) {
    Statement& q = store_.Query("SELECT 1 FROM messages WHERE folder = ? LIMIT 1");
    q.Bind(1, f_.id);
    bool any = q.Step() == SQLITE_ROW;
    q.Reset();
    if (!any) return S_OK;
  }
  if (FAILED(store_.Begin())) return E_FAIL;
  store_.Query("DELETE FROM messages WHERE folder = ?").Bind(1, f_.id).Step();
  store_.Query("DELETE FROM mbox_files WHERE folder = ?").Bind(1, f_.id).Step();
  return store_.Commit();
}

void MboxListing::LoadKnownRows() {
  Statement& q = store_.Query(
      "SELECT m.id, m.uniq, m.flags, s.text_start, s.text_end, s.quoted FROM messages m"
      " LEFT JOIN mbox_spans s ON s.id = m.id WHERE m.folder = ?");
  q.Bind(1, f_.id);
  while (q.Step() == SQLITE_ROW)
    known_.emplace(std::string(q.View(1)),
                   KnownRow{static_cast<MESSAGEID>(q.Int(0)), static_cast<DWORD>(q.Int(2)),
                            q.Int(3), q.Int(4), q.Int(5)});
  q.Reset();
}

// The number of earlier messages of this file with the same hash. When only
// the tail is read, the earlier ones are the index's.
unsigned MboxListing::Occurrence(std::uint64_t hash) {
  auto [it, fresh] = occurrences_.try_emplace(hash, 0);
  if (fresh && appending_) {
    std::string from = mbox::MessageKey(hash, 0);
    from.resize(from.find('.') + 1);
    std::string to = from;
    to.back() = '/';  // the character after '.'
    Statement& q =
        store_.Query("SELECT count(*) FROM messages WHERE folder = ? AND uniq >= ? AND uniq < ?");
    q.Bind(1, f_.id).Bind(2, from).Bind(3, to);
    if (q.Step() == SQLITE_ROW) it->second = static_cast<unsigned>(q.Int(0));
    q.Reset();
  }
  return it->second++;
}

// Splits the file from `from` (0, or a message's start): straight from the
// mapping while it is intact, then (a file someone wants to write, or one
// without a lease) a window at a time.
HRESULT MboxListing::ReadFrom(int fd, FileMapping& map, std::uint64_t from) {
  std::uint64_t start = from;
  bool skipTail = appending_;  // the known last message comes first
  HRESULT hr = ReadMapped(map, &start, &skipTail);
  if (SUCCEEDED(hr) && start < map.bytes().size())
    hr = ReadWindows(fd, map.bytes(), start, skipTail);
  if (SUCCEEDED(hr)) hr = WritePending();
  const HRESULT written = WaitForWriter();
  return FAILED(hr) ? hr : written;
}

// Splits the mapping from `*start` while the lease holds, and hashes each
// message as soon as it is found, while its bytes are still in the
// processor's caches. The lease is checked after every batch of about a
// window's bytes; `*start` is left where the reading stopped.
HRESULT MboxListing::ReadMapped(FileMapping& map, std::uint64_t* start, bool* skipTail) {
  if (!map.Intact()) return S_OK;
  const std::string_view mapped = map.bytes();
  const LabelReader labels = labelReader_;
  mbox::ChunkedScan scan(
      mapped,
      [labels](std::string_view bytes, mbox::Scanned* m) {
        const mbox::Span& s = m->span;
        const std::string_view text = bytes.substr(s.text, s.textEnd - s.text);
        ReadFactsOf(text, labels, &m->facts, &m->labels);
        if (m->facts.deleted) return;
        m->headers.assign(text.substr(0, m->facts.headerEnd));
        m->envelope.assign(bytes.substr(s.from, s.text - s.from));
      },
      [&map] { return map.Held(); }, ScanOptions());
  HRESULT hr = S_OK;
  std::vector<Found> batch;
  *start = scan.Run(*start, [&](std::vector<mbox::Scanned>& messages, std::uint64_t end) {
    for (mbox::Scanned& scanned : messages) {
      if (*skipTail) {
        *skipTail = false;
        continue;
      }
      const mbox::Span& s = scanned.span;
      Found& m = batch.emplace_back();
      m.text = mapped.substr(s.text, s.textEnd - s.text);
      m.envelope = mapped.substr(s.from, s.text - s.from);
      m.span = s;
      m.facts = scanned.facts;
      m.labels = std::move(scanned.labels);
      m.headers = std::move(scanned.headers);
      m.envelopeLine = std::move(scanned.envelope);
      m.copied = !m.facts.deleted;
    }
    hr = ReadBatch(batch, /*factsRead=*/true);
    if (FAILED(hr)) return false;
    map.DropBefore(end);
    return true;
  });
  // A writer waiting for the lease is let go on at once.
  if (*start < mapped.size()) map.Intact();
  return hr;
}

// Reads the file from `start` (0, or a message's start) a window at a time
// with pread. A message is taken once the window holds its end; the bytes of
// a message that the window cuts move to its front and the rest is read
// after them. A window that cannot hold one message grows, up to a limit; a
// message larger than that is read from the mapping.
HRESULT MboxListing::ReadWindows(int fd, std::string_view mapped, std::uint64_t start,
                                 bool skipTail) {
  const std::uint64_t size = mapped.size();
  // The window's first byte sits in its buffer at the same offset from a
  // page boundary as in the file: the kernel copies from the page cache into
  // a destination aligned like its source about four times as fast.
  constexpr std::size_t kPage = 4096;
  std::size_t capacity = kWindow;
  auto allocate = [](std::size_t bytes) {
    return std::unique_ptr<char, decltype(&std::free)>(
        static_cast<char*>(std::aligned_alloc(kPage, bytes + kPage)), &std::free);
  };
  auto buffer = allocate(capacity);
  if (!buffer) return E_OUTOFMEMORY;
  std::size_t at = start % kPage;  // where the window begins in the buffer
  std::size_t held = 0;            // bytes of the window read, from `start` on
  std::vector<Found> batch;
  while (start < size) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, size - start));
    if (held < want) {
      const HRESULT read = PreadAll(fd, buffer.get() + at + held, want - held, start + held);
      if (FAILED(read)) return read;
      if (read == S_FALSE) {
        shrank_ = true;  // what is read is written; the file is listed again (Sync)
        return S_OK;
      }
    }
    held = want;
    const std::string_view view(buffer.get() + at, held);
    const bool last = start + held == size;
    mbox::Splitter splitter(view);
    // Bytes before the first message (a file that does not begin with a
    // "From " line) are passed over; should they fill the window, the
    // search for the first message goes on in the next.
    std::uint64_t consumed = splitter.preambleEnd();
    batch.clear();
    mbox::Span s;
    while (splitter.Next(&s) && (s.end < held || last)) {
      consumed = s.end;
      if (skipTail) {
        skipTail = false;
        continue;
      }
      Found& m = batch.emplace_back();
      m.text = view.substr(s.text, s.textEnd - s.text);
      m.envelope = view.substr(s.from, s.text - s.from);
      m.span = {start + s.from, start + s.text, start + s.textEnd, start + s.end, s.quoted};
    }
    if (consumed == 0 && capacity < kMaxWindow) {
      // Not one whole message: a larger window.
      auto larger = allocate(capacity * 2);
      if (!larger) return E_OUTOFMEMORY;
      std::memcpy(larger.get() + at, buffer.get() + at, held);
      buffer = std::move(larger);
      capacity *= 2;
      continue;
    }
    if (consumed == 0) {
      // A message larger than the largest window: from the mapping.
      mbox::Splitter alone(mapped, start);
      if (!alone.Next(&s)) break;
      if (skipTail) {
        skipTail = false;
      } else {
        Found& m = batch.emplace_back();
        m.text = mapped.substr(s.text, s.textEnd - s.text);
        m.envelope = mapped.substr(s.from, s.text - s.from);
        m.span = s;
      }
      HRESULT hr = ReadBatch(batch);
      if (FAILED(hr)) return hr;
      start = s.end;
      held = 0;
      at = start % kPage;
      continue;
    }
    HRESULT hr = ReadBatch(batch);
    if (FAILED(hr)) return hr;
    start += consumed;
    const std::size_t next = start % kPage;
    std::memmove(buffer.get() + next, buffer.get() + at + consumed, held - consumed);
    held -= static_cast<std::size_t>(consumed);
    at = next;
  }
  return S_OK;
}

HRESULT MboxListing::ReadBatch(std::vector<Found>& batch, bool factsRead) {
  if (batch.empty()) return S_OK;
  if (!factsRead) ReadFacts(batch);
  for (Found& m : batch) {
    if (!haveHead_) {
      haveHead_ = true;
      head_ = m.span;
      headHash_ = m.facts.hash;
    }
    haveTail_ = true;
    tail_ = m.span;
    tailHash_ = m.facts.hash;
    if (m.facts.deleted) continue;
    m.key = mbox::MessageKey(m.facts.hash, Occurrence(m.facts.hash));
    auto it = known_.find(m.key);
    if (it == known_.end()) continue;
    KnownRow& k = it->second;
    k.seen = true;
    m.id = k.id;
    m.changed = (k.flags & ~MSG_FLAG_ATTACHMENT) != m.facts.flags ||
                k.start != static_cast<std::int64_t>(m.span.text) ||
                k.end != static_cast<std::int64_t>(m.span.textEnd) ||
                k.quoted != static_cast<std::int64_t>(m.span.quoted);
  }
  if (background_) {
    for (Found& m : batch) {
      if (m.facts.deleted || m.id != 0 || m.copied) continue;
      m.headers.assign(m.text.substr(0, m.facts.headerEnd));
      m.envelopeLine.assign(m.envelope);
      m.copied = true;
    }
  } else {
    ReadSummaries(batch, readers_);
  }
  // The rows are written a few thousand at a time: a transaction for each
  // window cost as much as the rows in it.
  for (Found& m : batch) {
    m.text = m.envelope = {};  // the window is read over next
    pending_.push_back(std::move(m));
  }
  batch.clear();
  return pending_.size() >= static_cast<std::size_t>(kBatch) ? WritePending() : S_OK;
}

HRESULT MboxListing::WritePending() {
  if (pending_.empty()) return S_OK;
  if (!background_) {
    HRESULT hr = WriteBatch(pending_);
    pending_.clear();
    return hr;
  }
  HRESULT hr = WaitForWriter();
  if (FAILED(hr)) return hr;
  writing_ = std::move(pending_);
  pending_.clear();
  writer_.Run([this] {
    ReadSummaries(writing_, writerReaders_);
    written_ = WriteBatch(writing_);
  });
  return S_OK;
}

// Waits for the writer's batch; its result. Nothing else touches the index
// while the writer runs.
HRESULT MboxListing::WaitForWriter() {
  writer_.Wait();
  writing_.clear();
  return written_;
}

// A window holds a few hundred messages of a typical size: worth two threads.
constexpr std::size_t kParallelFrom = 16;

void MboxListing::ReadFacts(Found& m) {
  ReadFactsOf(m.text, labelReader_, &m.facts, &m.labels);
}

void MboxListing::ReadFacts(std::vector<Found>& batch) {
  ForEachParallel(
      batch.size(), readers_, [&](std::size_t i, ReaderState&) { ReadFacts(batch[i]); },
      kParallelFrom);
}

void MboxListing::ReadSummaries(std::vector<Found>& batch, std::vector<ReaderState>& readers) {
  ForEachParallel(
      batch.size(), readers,
      [&](std::size_t i, ReaderState& reader) {
        Found& m = batch[i];
        if (m.facts.deleted || m.id != 0) return;
        FileSummary& p = m.summary;
        p.sum = ParseHeaderBlock(
            m.copied ? std::string_view(m.headers) : m.text.substr(0, m.facts.headerEnd),
            &reader.addresses);
        std::string_view envelope =
            (m.copied ? std::string_view(m.envelopeLine) : m.envelope).substr(5);
        while (!envelope.empty() && (envelope.back() == '\n' || envelope.back() == '\r'))
          envelope.remove_suffix(1);
        auto delivered = mbox::EnvelopeTime(envelope);
        p.sent = p.sum.sentSeconds ? disk::UnixToTicks(*p.sum.sentSeconds) : 0;
        p.received = delivered ? disk::UnixToTicks(*delivered) : p.sent;
        if (!p.sum.sentSeconds) p.sent = p.received;
        p.size = static_cast<std::int64_t>(m.span.textEnd - m.span.text - m.span.quoted);
        p.flags = m.facts.flags | (p.sum.attachment ? MSG_FLAG_ATTACHMENT : 0);
        p.ok = true;
      },
      kParallelFrom);
}

HRESULT MboxListing::WriteBatch(std::vector<Found>& batch) {
  if (FAILED(store_.Begin())) return E_FAIL;
  sqlite3* db = store_.db();
  bool inserted = false;
  for (Found& m : batch) {
    if (m.facts.deleted) continue;
    if (m.id == 0) {
      const FileSummary& p = m.summary;
      auto bind = [&](Statement& s) {
        s.Bind(1, f_.id).Bind(2, m.key).Bind(3, p.flags).Bind(4, p.size).Bind(5, p.received);
        s.Bind(6, p.sent).Bind(7, p.sum.subject).Bind(8, p.sum.normalSubject);
        s.Bind(9, p.sum.displayFrom).Bind(10, p.sum.displayTo).Bind(11, p.sum.messageId);
      };
      // A plain insert first, as almost every new message's row is new: the
      // upsert, ready to run the update and its trigger, costs SQLite more
      // per row. A row that is there already (another process listing the
      // same file) is upserted.
      std::int64_t id = -1;
      Statement& plain = store_.Query(
          "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
          " subject, norm_subject, disp_from, disp_to, message_id)"
          " VALUES(?1, ?2, 0, '', ?3, ?4, 0, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
      bind(plain);
      if (plain.Step() == SQLITE_DONE) id = sqlite3_last_insert_rowid(db);
      plain.Reset();
      if (id < 0) {
        Statement& s = store_.Query(
            "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
            " subject, norm_subject, disp_from, disp_to, message_id)"
            " VALUES(?1, ?2, 0, '', ?3, ?4, 0, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"
            " ON CONFLICT(folder, uniq) DO UPDATE SET flags = excluded.flags");
        bind(s);
        id = store_.UpsertMessageRow(s, f_.id, m.key);
      }
      if (id <= 0 || id > kMaxId) {
        store_.Rollback();
        return E_FAIL;  // a failed write, or the 32-bit id space is spent
      }
      m.id = static_cast<MESSAGEID>(id);
      inserted = true;
      for (const std::string& label : m.labels) {
        store_.Query("INSERT OR IGNORE INTO mbox_labels(id, path) VALUES(?, ?)")
            .Bind(1, m.id)
            .Bind(2, label)
            .Step();
        store_.Query("INSERT OR IGNORE INTO mbox_label_folders(folder, path) VALUES(?, ?)")
            .Bind(1, f_.id)
            .Bind(2, label)
            .Step();
        // A label seen for the first time is a new folder: the tree is read again.
        if (sqlite3_changes(db) > 0) store_.ForgetTreeTimes();
      }
    } else if (m.changed) {
      store_
          .Query(
              "UPDATE messages SET flags = (flags & ?3) | ?2 WHERE id = ?1 AND (flags & ~?3) != ?2")
          .Bind(1, m.id)
          .Bind(2, m.facts.flags)
          .Bind(3, MSG_FLAG_ATTACHMENT)
          .Step();
    } else {
      continue;
    }
    store_
        .Query(
            "INSERT OR REPLACE INTO mbox_spans(id, text_start, text_end, quoted)"
            " VALUES(?, ?, ?, ?)")
        .Bind(1, m.id)
        .Bind(2, static_cast<std::int64_t>(m.span.text))
        .Bind(3, static_cast<std::int64_t>(m.span.textEnd))
        .Bind(4, static_cast<std::int64_t>(m.span.quoted))
        .Step();
  }
  if (inserted) store_.BumpGeneration(f_.id);
  return store_.Commit();
}

// Removes the messages no longer found and records the file as read.
HRESULT MboxListing::Finish(const struct stat& st) {
  if (FAILED(store_.Begin())) return E_FAIL;
  bool removed = false;
  for (const auto& [key, k] : known_) {
    if (k.seen) continue;
    store_.Query("DELETE FROM messages WHERE id = ?").Bind(1, k.id).Step();
    removed = true;
  }
  if (removed) {
    // Labels that no message carries any more are no folders.
    store_
        .Query(
            "DELETE FROM mbox_label_folders WHERE folder = ?1 AND path NOT IN"
            " (SELECT l.path FROM mbox_labels l JOIN messages m ON m.id = l.id"
            " WHERE m.folder = ?1)")
        .Bind(1, f_.id)
        .Step();
    if (sqlite3_changes(store_.db()) > 0) store_.ForgetTreeTimes();
  }
  if (!haveTail_ && appending_) {
    tail_.from = static_cast<std::uint64_t>(old_.tailFrom);
    tail_.text = 0;
    tail_.textEnd = static_cast<std::uint64_t>(old_.tailLength);
    tailHash_ = static_cast<std::uint64_t>(old_.tailHash);
    haveTail_ = true;
  }
  store_
      .Query(
          "INSERT OR REPLACE INTO mbox_files(folder, device, inode, size, mtime, head_from,"
          " head_hash, head_length, tail_from, tail_hash, tail_length)"
          " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
      .Bind(1, f_.id)
      .Bind(2, static_cast<std::int64_t>(st.st_dev))
      .Bind(3, static_cast<std::int64_t>(st.st_ino))
      .Bind(4, static_cast<std::int64_t>(st.st_size))
      .Bind(5, static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec)
      .Bind(6, haveHead_ ? static_cast<std::int64_t>(head_.from) : 0)
      .Bind(7, static_cast<std::int64_t>(headHash_))
      .Bind(8, haveHead_ ? static_cast<std::int64_t>(head_.textEnd - head_.text) : -1)
      .Bind(9, haveTail_ ? static_cast<std::int64_t>(tail_.from) : 0)
      .Bind(10, static_cast<std::int64_t>(tailHash_))
      .Bind(11, haveTail_ ? static_cast<std::int64_t>(tail_.textEnd - tail_.text) : -1)
      .Step();
  return store_.Commit();
}

HRESULT OpenText(Store& store, const FolderInfo& f, MESSAGEID id, int* fd, MboxText* text) {
  const STOREFOLDERID folder = f.id;
  HRESULT hr = S_OK;
  const std::string path = store.FolderPath(f.dir);
  // The offsets hold while the file is the one last listed; otherwise the
  // listing is brought up to date first (a file that keeps changing under
  // us is given up after a few rounds).
  for (int attempt = 0; attempt < 3; ++attempt) {
    int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) return errno == ENOENT ? kNotFound : Errno();
    struct stat st;
    if (fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(file);
      return kNotFound;
    }
    if (LoadState(store, folder).Same(st)) {
      Statement& q = store.Query(
          "SELECT s.text_start, s.text_end, s.quoted FROM messages m JOIN mbox_spans s"
          " ON s.id = m.id WHERE m.id = ? AND m.folder = ? AND m.sub < 2");
      q.Bind(1, id).Bind(2, folder);
      bool found = q.Step() == SQLITE_ROW;
      if (found) {
        text->start = q.Int(0);
        text->end = q.Int(1);
        text->omitted.clear();
        if (q.Int(2) > 0 && text->end <= st.st_size) {
          // The quoting is found in the message's bytes: through a mapping
          // when a lease keeps the file from being cut under it, else read.
          FileMapping map(file, static_cast<std::size_t>(st.st_size));
          const auto length = static_cast<std::size_t>(text->end - text->start);
          std::string copy;
          std::string_view bytes;
          if (map.Lease()) {
            bytes = map.bytes().substr(text->start, length);
          } else {
            copy.resize(length);
            if (PreadAll(file, copy.data(), length, text->start) == S_OK) bytes = copy;
          }
          std::vector<std::uint64_t> at;
          mbox::QuotingPositions(bytes, &at);
          for (std::uint64_t a : at)
            text->omitted.push_back(text->start + static_cast<std::int64_t>(a));
        }
      }
      q.Reset();
      if (!found) {
        close(file);
        return kNotFound;
      }
      fcntl(file, F_SETFL, fcntl(file, F_GETFL) & ~O_NONBLOCK);
      *fd = file;
      return S_OK;
    }
    close(file);
    hr = store.SyncMessages(f, false);
    if (FAILED(hr)) return hr;
  }
  return E_FAIL;
}

HRESULT MboxFormat::Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
                         void** ppv) const {
  const bool asStream =
      riid == IID_IStream || riid == IID_ISequentialStream || riid == IID_IUnknown;
  if (!asStream && riid != IID_IMimeMessage) return E_NOINTERFACE;
  int fd = -1;
  MboxText text;
  HRESULT hr = OpenText(store, f, id, &fd, &text);
  if (FAILED(hr)) return hr;
  mime::FileSlice slice;
  slice.offset = text.start;
  slice.length = text.end - text.start;
  slice.omitted = std::move(text.omitted);
  if (!asStream) return mime::OpenMessageSlice(fd, slice, reinterpret_cast<IMimeMessage**>(ppv));
  com::ComPtr<IStream> stream;
  hr = mime::OpenSliceStream(fd, slice, stream.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return stream->QueryInterface(riid, ppv);
}

const char* MboxFormat::IndexTables() const {
  return "CREATE TABLE IF NOT EXISTS mbox_files(folder INTEGER PRIMARY KEY,"
         " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
         " mtime INTEGER NOT NULL, head_from INTEGER NOT NULL, head_hash INTEGER NOT NULL,"
         " head_length INTEGER NOT NULL, tail_from INTEGER NOT NULL, tail_hash INTEGER NOT NULL,"
         " tail_length INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS mbox_spans(id INTEGER PRIMARY KEY,"
         " text_start INTEGER NOT NULL, text_end INTEGER NOT NULL, quoted INTEGER NOT NULL);"
         "CREATE TRIGGER IF NOT EXISTS mbox_spans_del AFTER DELETE ON messages BEGIN"
         " DELETE FROM mbox_spans WHERE id = OLD.id; END;"
         "CREATE TABLE IF NOT EXISTS mbox_labels(id INTEGER NOT NULL, path TEXT NOT NULL,"
         " PRIMARY KEY(path, id)) WITHOUT ROWID;"
         "CREATE INDEX IF NOT EXISTS mbox_labels_id ON mbox_labels(id);"
         "CREATE TRIGGER IF NOT EXISTS mbox_labels_del AFTER DELETE ON messages BEGIN"
         " DELETE FROM mbox_labels WHERE id = OLD.id; END;"
         "CREATE TABLE IF NOT EXISTS mbox_label_folders(folder INTEGER NOT NULL,"
         " path TEXT NOT NULL, PRIMARY KEY(folder, path)) WITHOUT ROWID;";
}

const MboxFormat* Format() {
  static const MboxFormat kPlain(nullptr);
  return &kPlain;
}

}  // namespace store::mbox
