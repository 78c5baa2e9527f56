// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/evolution/imap_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <unordered_map>

#include "platform/mime/mime.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/maildir/names.h"
#include "platform/store/mbox/layout.h"
#include "platform/store/readonly_db/readonly_db.h"

namespace store::evolution {

namespace {
using namespace engine;

constexpr int kMaxDepth = 32;

std::int64_t MTimeOf(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::vector<std::string> Subdirectories(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN))
        names.emplace_back(e->d_name);
    closedir(d);
  }
  std::erase_if(names, [&](const std::string& n) { return !disk::IsDirectory(dir + "/" + n); });
  return names;
}

// A folder's place: "<account>/folders/A/subfolders/B" for "A/B".
std::string PlaceOf(const std::string& root, std::string_view dir) {
  std::string place = root + "/folders";
  for (std::size_t start = 0; start <= dir.size();) {
    std::size_t slash = std::min(dir.find('/', start), dir.size());
    place += (start == 0 ? "/" : "/subfolders/") + std::string(dir.substr(start, slash - start));
    start = slash + 1;
  }
  return place;
}

// The account directory and the full name of the folder at `place`: the
// nearest directory above it that holds the account's folders.db.
std::pair<std::string, std::string> Account(const std::string& place) {
  std::string account = place, name;
  for (int depth = 0; depth < 2 * kMaxDepth + 2; ++depth) {
    std::size_t cut = account.rfind('/');
    if (cut == std::string::npos || cut == 0) break;
    std::string part = account.substr(cut + 1);
    account.resize(cut);
    if (part == "folders" && access((account + "/folders.db").c_str(), F_OK) == 0)
      return {account, name};
    if (part != "subfolders") name = name.empty() ? part : part + "/" + name;
  }
  return {"", ""};
}

void Walk(const std::string& path, const std::string& prefix, int depth, TreeScan* out) {
  if (depth > kMaxDepth) return;
  for (const auto& name : Subdirectories(path)) {
    std::string folder = prefix + name;
    out->dirs.push_back(folder);
    std::string sub = path + "/" + name + "/subfolders";
    if (disk::IsDirectory(sub)) Walk(sub, folder + "/", depth + 1, out);
  }
}

struct State {
  bool read = false, deleted = false;
};

// Evolution's own flag bits of a message (camel's CamelMessageFlags).
constexpr std::int64_t kCamelDeleted = 1 << 1, kCamelSeen = 1 << 4;

// The table of folder `fullName`'s messages in the schema of Evolution 3.58
// on (its development series 3.57): the folders table gives each folder a
// folder_id, and its messages are rows of "messages_<folder_id>", their state
// in the flag bits of `flags`. Empty for a database of the older schema or a
// folder it does not list. Evolution looks folders up by name regardless of
// case; an exact match comes first.
std::string IdTableOf(const ReadOnlyDb& db, const std::string& fullName) {
  if (!db.HasColumn("folders", "folder_id")) return "";
  Statement q(db.get(),
              "SELECT folder_id FROM folders WHERE folder_name = ?1 COLLATE NOCASE"
              " AND typeof(folder_id) = 'integer' ORDER BY folder_name = ?1 DESC LIMIT 1");
  q.Bind(1, fullName);
  if (!q.ok() || q.Step() != SQLITE_ROW) return "";
  std::string table = "messages_" + std::to_string(q.Int(0));
  return db.HasColumn(table.c_str(), "flags") ? table : "";
}

// The state folders.db keeps of the folder `fullName`, by uid: from its
// messages_<id> table where there is one, else from the table named by the
// folder (older Evolution: `read` and `deleted` columns).
std::unordered_map<std::string, State> ReadStates(const std::string& account,
                                                  const std::string& fullName) {
  std::unordered_map<std::string, State> states;
  ReadOnlyDb db(account + "/folders.db");
  if (!db.get()) return states;
  char* sql = nullptr;
  if (std::string table = IdTableOf(db, fullName); !table.empty()) {
    sql = sqlite3_mprintf("SELECT uid, flags & %lld, flags & %lld FROM %Q",
                          static_cast<long long>(kCamelSeen), static_cast<long long>(kCamelDeleted),
                          table.c_str());
  } else if (db.HasColumn(fullName.c_str(), "read")) {
    sql = sqlite3_mprintf("SELECT uid, read, %s FROM %Q",
                          db.HasColumn(fullName.c_str(), "deleted") ? "deleted" : "0",
                          fullName.c_str());
  } else {
    return states;
  }
  Statement q(db.get(), sql);
  sqlite3_free(sql);
  while (q.ok() && q.Step() == SQLITE_ROW)
    states[std::string(q.View(0))] = {q.Int(1) != 0, q.Int(2) != 0};
  return states;
}

class CacheFormat final : public MessageFormat {
 public:
  HRESULT Sync(Store& store, const FolderInfo& f, bool) const override {
    if (!store.db()) return E_FAIL;
    const std::string place = store.FolderPath(f.dir);
    auto [account, fullName] = Account(place);
    const auto states =
        account.empty() ? decltype(ReadStates("", "")){} : ReadStates(account, fullName);
    struct File {
      std::string uid, name;
      std::uint64_t number;
    };
    std::vector<File> found;
    for (const auto& bucket : Subdirectories(place + "/cur")) {
      DIR* d = opendir((place + "/cur/" + bucket).c_str());
      if (!d) continue;
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string_view uid(e->d_name);
        std::uint64_t n = UINT64_MAX;
        std::from_chars(uid.data(), uid.data() + uid.size(), n);
        found.push_back({std::string(uid), bucket + "/" + std::string(uid), n});
      }
      closedir(d);
    }
    // IMAP gives uids in the order of arrival.
    std::sort(found.begin(), found.end(), [](const File& a, const File& b) {
      return a.number != b.number ? a.number < b.number : a.uid < b.uid;
    });
    struct Known {
      MESSAGEID id;
      std::int64_t size, mtime;
      DWORD flags;
      bool seen = false;
    };
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
    if (FAILED(store.Begin())) return E_FAIL;
    bool changed = false;
    ReaderState reader;
    for (const File& file : found) {
      auto st = states.find(file.uid);
      if (st != states.end() && st->second.deleted) continue;
      DWORD flags = st != states.end() && st->second.read ? MSG_FLAG_READ : 0;
      std::string path = place + "/cur/" + file.name;
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      struct stat sb;
      bool regular = fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode);
      auto it = known.find(file.uid);
      if (regular && it != known.end() && it->second.size == sb.st_size &&
          it->second.mtime == MTimeOf(sb)) {
        close(fd);
        it->second.seen = true;
        if ((it->second.flags & ~MSG_FLAG_ATTACHMENT) != flags) {
          store.Query("UPDATE messages SET flags = (flags & ?2) | ?3 WHERE id = ?1")
              .Bind(1, it->second.id)
              .Bind(2, MSG_FLAG_ATTACHMENT)
              .Bind(3, flags)
              .Step();
          changed = true;
        }
        continue;
      }
      bool ok = regular && ReadHeaderBlock(fd, &reader.headers);
      close(fd);
      if (!ok) continue;
      Summary sum = ParseHeaderBlock(reader.headers, &reader.addresses);
      std::int64_t received = disk::UnixToTicks(sb.st_mtim.tv_sec);
      Statement& s = store.Query(
          "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
          " subject, norm_subject, disp_from, disp_to, message_id)"
          " VALUES(?1, ?2, 0, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"
          " ON CONFLICT(folder, uniq) DO UPDATE SET name = excluded.name, flags = excluded.flags,"
          " size = excluded.size, mtime = excluded.mtime, received = excluded.received,"
          " sent = excluded.sent, subject = excluded.subject, norm_subject ="
          " excluded.norm_subject, disp_from = excluded.disp_from, disp_to = excluded.disp_to,"
          " message_id = excluded.message_id");
      s.Bind(1, f.id)
          .Bind(2, file.uid)
          .Bind(3, file.name)
          .Bind(4, flags | (sum.attachment ? MSG_FLAG_ATTACHMENT : 0))
          .Bind(5, static_cast<std::int64_t>(sb.st_size))
          .Bind(6, MTimeOf(sb))
          .Bind(7, received)
          .Bind(8, sum.sentSeconds ? disk::UnixToTicks(*sum.sentSeconds) : received)
          .Bind(9, sum.subject)
          .Bind(10, sum.normalSubject)
          .Bind(11, sum.displayFrom)
          .Bind(12, sum.displayTo)
          .Bind(13, sum.messageId);
      std::int64_t id = store.UpsertMessageRow(s, f.id, file.uid);
      if (id <= 0 || id > kMaxId) {
        store.Rollback();
        return E_FAIL;
      }
      if (it != known.end()) it->second.seen = true;
      changed = true;
    }
    for (const auto& [uid, k] : known) {
      if (k.seen) continue;
      store.Query("DELETE FROM messages WHERE id = ?").Bind(1, k.id).Step();
      changed = true;
    }
    if (changed) store.BumpGeneration(f.id);
    return store.Commit();
  }

  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override {
    if (!IsMessageInterface(riid)) return E_NOINTERFACE;
    std::string name;
    if (HRESULT hr = store.StoredName(f, id, &name); FAILED(hr)) return hr;
    return OpenWholeMessageFile(store.FolderPath(f.dir) + "/cur/" + name, riid, ppv);
  }
};

const CacheFormat kCache;

class CacheLayout final : public FolderLayout {
 public:
  explicit CacheLayout(std::string inbox) : inbox_(std::move(inbox)) {}

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    *out = TreeScan();
    out->start = disk::NowNs();
    // No one directory time vouches for the tree: it is read each time.
    out->times.emplace_back("", -1);
    Walk(root + "/folders", "", 0, out);
    std::sort(out->dirs.begin(), out->dirs.end());
    out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
  }
  const std::string& inboxDir() const override { return inbox_; }
  std::optional<std::string> ParentDir(std::string_view dir) const override {
    std::size_t cut = dir.rfind('/');
    if (cut == std::string_view::npos || cut == 0) return std::nullopt;
    return std::string(dir.substr(0, cut));
  }
  std::string Name(std::string_view dir) const override {
    return maildir::ValidUtf8(dir.substr(dir.rfind('/') + 1));
  }
  char separator() const override { return '/'; }
  std::string Place(const std::string& root, std::string_view dir) const override {
    return dir.empty() ? root + "/folders" : PlaceOf(root, dir);
  }
  const MessageFormat* FormatOf(const std::string&, std::string_view) const override {
    return &kCache;
  }
  std::vector<const MessageFormat*> Formats() const override { return {&kCache}; }
  bool foreign() const override { return true; }
  std::string IndexPath(const std::string& root) const override { return mbox::IndexPathFor(root); }
  std::string Describe(const std::string& root) const override {
    return "Mail store: Evolution's offline copy of an IMAP account " + root +
           " (read only: nothing is written to it)";
  }

 private:
  std::string inbox_;
};

}  // namespace

bool IsImapCache(const std::string& root) {
  return disk::IsDirectory(root + "/folders") && access((root + "/folders.db").c_str(), F_OK) == 0;
}

std::unique_ptr<FolderLayout> DetectImapCache(const std::string& root, TreeScan* scan) {
  if (!IsImapCache(root)) return nullptr;
  CacheLayout probe("/");
  probe.Scan(root, TreeScan(), scan);
  std::string inbox = "/";
  for (const auto& dir : scan->dirs)
    if (dir.size() == 5 && strncasecmp(dir.c_str(), "inbox", 5) == 0) inbox = dir;
  return std::make_unique<CacheLayout>(inbox);
}

}  // namespace store::evolution
