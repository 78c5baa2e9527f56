// SPDX-License-Identifier: LGPL-2.1-or-later
// Listing an MH folder into the index: the numbered files of its directory,
// each read once while its size and time stay the same, and the read state
// of every message taken again whenever the state file changed.
#include "platform/store/mh/format.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/readonly_listing.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/mh/marks.h"

namespace store::mh {
using namespace engine;

namespace {

const MhFormat kMh;

// A state file larger than this is no mark file of a folder (8 bytes a
// message: 8 million messages).
constexpr std::size_t kMaxStateFile = 64 << 20;

bool ReadSmallFile(const std::string& path, std::string* out) {
  return disk::ReadWholeFile(path, kMaxStateFile, out, nullptr, true);
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

  ReadOnlyListing listing(store, f);
  const ReadState state(dir);
  ReaderState reader;
  if (FAILED(listing.Begin())) return E_FAIL;
  for (std::uint32_t n : numbers) {
    std::string name = std::to_string(n);
    DWORD flags = 0;
    if (!state.Flags(n, &flags)) continue;  // deleted: left out, and its row goes
    if (FAILED(listing.PutFile(name, name, dir + "/" + name, flags, &reader))) return E_FAIL;
  }
  // A time is kept only when it is old enough to change on any later change
  // (see the Maildir listing).
  auto trusted = [&](std::int64_t m) { return m < start - kMtimeMarginNs ? m : kUntrusted; };
  store.Query("UPDATE folders SET cur_mtime = ?, new_mtime = ? WHERE id = ?")
      .Bind(1, trusted(dirTime))
      .Bind(2, stateTime < 0 ? stateTime : trusted(stateTime))
      .Bind(3, f.id)
      .Step();
  if (FAILED(listing.Finish())) return E_FAIL;
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
