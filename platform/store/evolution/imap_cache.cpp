// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/evolution/imap_cache.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/readonly_listing.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/readonly_db/readonly_db.h"
#include "platform/store/readonly_tree/layout.h"

namespace store::evolution {

namespace {
using namespace engine;

constexpr int kMaxDepth = 32;

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
    ReadOnlyListing listing(store, f);
    ReaderState reader;
    if (FAILED(listing.Begin())) return E_FAIL;
    for (const File& file : found) {
      auto st = states.find(file.uid);
      if (st != states.end() && st->second.deleted) continue;  // its row, if any, goes
      DWORD flags = st != states.end() && st->second.read ? MSG_FLAG_READ : 0;
      if (FAILED(listing.PutFile(file.uid, file.name, place + "/cur/" + file.name, flags, &reader)))
        return E_FAIL;
    }
    return listing.Finish();
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

class CacheLayout final : public ReadOnlyTreeLayout {
 public:
  using ReadOnlyTreeLayout::ReadOnlyTreeLayout;

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    *out = TreeScan();
    out->start = disk::NowNs();
    // No one directory time vouches for the tree: it is read each time.
    out->times.emplace_back("", -1);
    Walk(root + "/folders", "", 0, out);
    SortDirs(out);
  }
  std::string Place(const std::string& root, std::string_view dir) const override {
    return dir.empty() ? root + "/folders" : PlaceOf(root, dir);
  }
  const MessageFormat* FormatOf(const std::string&, std::string_view) const override {
    return &kCache;
  }
  std::vector<const MessageFormat*> Formats() const override { return {&kCache}; }
  std::string Describe(const std::string& root) const override {
    return "Mail store: Evolution's offline copy of an IMAP account " + root +
           " (read only: nothing is written to it)";
  }
};

}  // namespace

bool IsImapCache(const std::string& root) {
  return disk::IsDirectory(root + "/folders") && access((root + "/folders.db").c_str(), F_OK) == 0;
}

std::unique_ptr<FolderLayout> DetectImapCache(const std::string& root, TreeScan* scan) {
  if (!IsImapCache(root)) return nullptr;
  CacheLayout probe("/");
  probe.Scan(root, TreeScan(), scan);
  return std::make_unique<CacheLayout>(FindInbox(scan->dirs));
}

}  // namespace store::evolution
