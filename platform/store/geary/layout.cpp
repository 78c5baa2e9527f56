// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/geary/layout.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>

#include "platform/mime/mime.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/readonly_listing.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/maildir/names.h"
#include "platform/store/readonly_db/readonly_db.h"
#include "platform/store/readonly_tree/layout.h"

namespace store::geary {

namespace {
using namespace engine;

constexpr int kMaxDepth = 64;
constexpr std::string_view kDatabase = "/geary.db";

// A folder's place is the database and the folder's dir after a '#':
// "<account>/geary.db#INBOX".
std::string PlaceOf(const std::string& root, std::string_view dir) {
  return root + std::string(kDatabase) + "#" + std::string(dir);
}

// The account directory and the folder's dir of a place.
std::pair<std::string, std::string> SplitPlace(const std::string& place) {
  std::size_t at = place.find(std::string(kDatabase) + "#");
  if (at == std::string::npos) return {place, ""};
  return {place.substr(0, at), place.substr(at + kDatabase.size() + 1)};
}

// The database, open read only for one reading.
class Database : public ReadOnlyDb {
 public:
  explicit Database(const std::string& root) : ReadOnlyDb(root + std::string(kDatabase)) {}

  // Every folder's dir by its row id.
  std::map<std::int64_t, std::string> Folders() const {
    std::map<std::int64_t, std::string> dirs;
    if (!get()) return dirs;
    std::map<std::int64_t, std::pair<std::int64_t, std::string>> rows;  // id -> parent, name
    Statement q(get(), "SELECT id, parent_id, name FROM FolderTable");
    while (q.ok() && q.Step() == SQLITE_ROW)
      rows[q.Int(0)] = {q.IsNull(1) ? -1 : q.Int(1), maildir::ValidUtf8(q.View(2))};
    for (const auto& [id, row] : rows) {
      std::string dir = row.second;
      std::int64_t parent = row.first;
      int depth = 0;
      for (; parent >= 0 && depth < kMaxDepth; ++depth) {
        auto it = rows.find(parent);
        if (it == rows.end()) break;
        dir = it->second.second + "/" + dir;
        parent = it->second.first;
      }
      // A name holding '/' or a loop in the parents cannot be told apart.
      if (row.second.empty() || row.second.find('/') != std::string::npos || depth >= kMaxDepth)
        continue;
      dirs[id] = dir;
    }
    return dirs;
  }
};

DWORD FlagsOf(std::string_view imap, bool* deleted) {
  DWORD flags = 0;
  *deleted = false;
  while (!imap.empty()) {
    std::size_t cut = std::min(imap.find(' '), imap.size());
    std::string_view flag = imap.substr(0, cut);
    imap.remove_prefix(std::min(cut + 1, imap.size()));
    if (flag.size() < 2 || flag[0] != '\\') continue;
    flag.remove_prefix(1);
    auto is = [&](const char* name) {
      return strncasecmp(flag.data(), name, flag.size()) == 0 && std::strlen(name) == flag.size();
    };
    if (is("Seen")) flags |= MSG_FLAG_READ;
    if (is("Answered")) flags |= MSG_FLAG_REPLIED;
    if (is("Flagged")) flags |= MSG_FLAG_FLAGGED;
    if (is("Draft")) flags |= MSG_FLAG_DRAFT;
    if (is("Deleted")) *deleted = true;
  }
  return flags;
}

// A read-only descriptor holding `bytes`, for the readers of message files.
int MemoryFile(std::string_view bytes) {
  int fd = memfd_create("mailquarry-geary", MFD_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

class GearyFormat final : public MessageFormat {
 public:
  HRESULT Sync(Store& store, const FolderInfo& f, bool) const override {
    if (!store.db()) return E_FAIL;
    struct Row {
      std::string uniq;
      std::int64_t size;
      DWORD flags;
      std::string header;
    };
    std::vector<Row> rows;
    {
      // Through the place, which a tree of several stores also hands over.
      auto [account, folderDir] = SplitPlace(store.FolderPath(f.dir));
      Database db(account);
      if (!db.get()) return E_FAIL;
      std::int64_t folder = -1;
      for (const auto& [id, dir] : db.Folders())
        if (dir == folderDir) folder = id;
      if (folder < 0) return kNotFound;
      const bool removals = db.HasColumn("MessageLocationTable", "remove_marker");
      const bool flags = db.HasColumn("MessageTable", "flags");
      std::string sql = std::string(
                            "SELECT m.id, length(CAST(m.header AS BLOB)) +"
                            " length(CAST(m.body AS BLOB)), m.header, ") +
                        (flags ? "m.flags" : "NULL") +
                        " FROM MessageLocationTable l JOIN MessageTable m ON m.id = l.message_id"
                        " WHERE l.folder_id = ? AND m.header IS NOT NULL AND m.body IS NOT NULL" +
                        (removals ? " AND NOT coalesce(l.remove_marker, 0)" : "") +
                        " ORDER BY l.ordering, l.id";
      Statement q(db.get(), sql.c_str());
      if (!q.ok()) return E_FAIL;
      q.Bind(1, folder);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) {
        bool deleted = false;
        DWORD rowFlags = FlagsOf(q.View(3), &deleted);
        if (deleted) continue;
        rows.push_back({std::to_string(q.Int(0)), q.Int(1), rowFlags, std::string(q.View(2))});
      }
      if (rc != SQLITE_DONE) return E_FAIL;
    }  // the database is closed here, before the index is written

    ReadOnlyListing listing(store, f);
    if (FAILED(listing.Begin())) return E_FAIL;
    AddressCache addresses;
    for (const Row& r : rows) {
      // A message's text does not change once fetched; its flags may.
      if (auto* row = listing.Find(r.uniq); row && row->size == r.size) {
        listing.Keep(r.uniq, r.flags);
        continue;
      }
      FileSummary p;
      p.uniq = p.name = r.uniq;
      p.flags = r.flags;
      p.size = r.size;
      p.sum = ParseHeaderBlock(r.header, &addresses);
      // Geary's own receipt time is not read: the sent time stands for it.
      p.received = p.sent = p.sum.sentSeconds ? disk::UnixToTicks(*p.sum.sentSeconds) : 0;
      if (FAILED(listing.Put(p))) return E_FAIL;
    }
    return listing.Finish();
  }

  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override {
    if (!IsMessageInterface(riid)) return E_NOINTERFACE;
    std::string uniq;
    if (HRESULT hr = store.StoredName(f, id, &uniq); FAILED(hr)) return hr;
    std::int64_t row = 0;
    if (std::from_chars(uniq.data(), uniq.data() + uniq.size(), row).ec != std::errc())
      return kNotFound;
    std::string text;
    {
      Database db(SplitPlace(store.FolderPath(f.dir)).first);
      if (!db.get()) return E_FAIL;
      Statement q(db.get(), "SELECT header, body FROM MessageTable WHERE id = ?");
      if (!q.ok()) return E_FAIL;
      q.Bind(1, row);
      if (q.Step() != SQLITE_ROW || q.IsNull(0) || q.IsNull(1)) return kNotFound;
      text = std::string(q.View(0)) + std::string(q.View(1));
    }
    int fd = MemoryFile(text);
    if (fd < 0) return Errno();
    mime::FileSlice slice;
    slice.length = static_cast<std::int64_t>(text.size());
    return OpenMessageSlice(fd, slice, riid, ppv);
  }
};

const GearyFormat kGeary;

class GearyLayout final : public ReadOnlyTreeLayout {
 public:
  using ReadOnlyTreeLayout::ReadOnlyTreeLayout;

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    *out = TreeScan();
    out->start = disk::NowNs();
    // No file time vouches for the database (Geary writes through its
    // write-ahead log): the folder table is read again each time.
    out->times.emplace_back("", -1);
    Database db(root);
    for (const auto& [id, dir] : db.Folders()) out->dirs.push_back(dir);
    SortDirs(out);
  }
  std::string Place(const std::string& root, std::string_view dir) const override {
    return PlaceOf(root, dir);
  }
  const MessageFormat* FormatOf(const std::string&, std::string_view) const override {
    return &kGeary;
  }
  std::vector<const MessageFormat*> Formats() const override { return {&kGeary}; }
  std::string Describe(const std::string& root) const override {
    return "Mail store: the Geary account " + root + " (read only: nothing is written to it)";
  }
};

}  // namespace

bool IsAccount(const std::string& root) {
  struct stat st;
  return stat((root + "/geary.db").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan) {
  if (!IsAccount(root)) return nullptr;
  GearyLayout probe("/");
  probe.Scan(root, TreeScan(), scan);
  return std::make_unique<GearyLayout>(FindInbox(scan->dirs));
}

}  // namespace store::geary
