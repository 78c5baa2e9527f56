#include "platform/store/engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "platform/com/memory.h"
#include "platform/store/file_reader.h"
#include "platform/store/maildir.h"
#include "platform/store/summary.h"

namespace store {
namespace md = maildir;

namespace {

constexpr char kIndexName[] = "mailquarry-index.sqlite";
constexpr char kTrashPrefix[] = "mailquarry-trash-";
constexpr std::int64_t kUntrusted = -2;
// A directory whose mtime is at least this much older than the moment we began
// listing it is trusted to change its mtime on any later change, whatever the
// file system's timestamp granularity (1 s on some, 2 s on FAT).
constexpr std::int64_t kMtimeMarginNs = 2'000'000'000;
constexpr std::int64_t kStaleTmpNs = 36LL * 3600 * 1'000'000'000;
constexpr std::int64_t kMaxId = 0xFFFFFFFE;
constexpr DWORD kMaildirFlags = MSG_FLAG_READ | MSG_FLAG_REPLIED | MSG_FLAG_FLAGGED |
                                MSG_FLAG_DRAFT | MSG_FLAG_TRASHED | MSG_FLAG_PASSED;
constexpr int kBatch = 2000;
const HRESULT kNotFound = MakeHResult(0x80070490);  // ERROR_NOT_FOUND

const char* SubDir(int sub) {
  return sub == 0 ? "cur" : sub == 1 ? "new" : "tmp";
}

HRESULT Errno() {
  return com::HResultFromErrno(errno);
}

struct DirEntry {
  std::string name;
  int sub;
};

// Lists the message files of cur/ and new/ (names not starting with ".").
void ListMessages(const std::string& dir, std::vector<DirEntry>* out) {
  for (int sub = 0; sub < 2; ++sub) {
    DIR* d = opendir((dir + "/" + SubDir(sub)).c_str());
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      out->push_back({e->d_name, sub});
    }
    closedir(d);
  }
}

std::string SortKey(const std::string& name) {
  gchar* folded = g_utf8_casefold(name.c_str(), -1);
  std::string key(folded);
  g_free(folded);
  return key;
}

bool ValidName(const char* name) {
  if (!name || !*name) return false;
  std::size_t len = std::strlen(name);
  if (len >= CCHMAX_FOLDER_NAME || !g_utf8_validate(name, static_cast<gssize>(len), nullptr))
    return false;
  // A name of blanks only cannot be told apart in any list.
  return std::any_of(name, name + len, [](char c) { return !g_ascii_isspace(c); });
}

}  // namespace

// ---------------------------------------------------------------- Statement

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK)
    stmt_ = nullptr;
}
Statement::~Statement() {
  sqlite3_finalize(stmt_);
}
Statement& Statement::Bind(int i, std::int64_t v) {
  sqlite3_bind_int64(stmt_, i, v);
  return *this;
}
Statement& Statement::Bind(int i, std::string_view v) {
  sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  return *this;
}
Statement& Statement::Bind(int i, const std::optional<std::string>& v) {
  return v ? Bind(i, std::string_view(*v)) : BindNull(i);
}
Statement& Statement::BindNull(int i) {
  sqlite3_bind_null(stmt_, i);
  return *this;
}
int Statement::Step() {
  return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}
void Statement::Reset() {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}
std::string_view Statement::View(int col) const {
  const char* t = Text(col);
  return t ? std::string_view(t, sqlite3_column_bytes(stmt_, col)) : std::string_view();
}

// ---------------------------------------------------------------- opening

HRESULT Store::Open(const std::string& root, std::shared_ptr<Store>* out) {
  if (!md::IsMaildir(root)) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
  EnsureGMime();
  std::shared_ptr<Store> s(new Store);
  s->root_ = root;
  while (s->root_.size() > 1 && s->root_.back() == '/') s->root_.pop_back();
  HRESULT hr = s->OpenIndex();
  if (FAILED(hr)) return hr;
  if (!s->readOnly_) {
    // Folders whose deletion a killed process left half done.
    if (DIR* d = opendir(s->root_.c_str())) {
      std::vector<std::string> trash;
      while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, kTrashPrefix, sizeof kTrashPrefix - 1) == 0)
          trash.push_back(s->root_ + "/" + e->d_name);
      closedir(d);
      for (const auto& t : trash) md::RemoveTree(t);
    }
    hr = s->ApplyFolderMoves();
    if (FAILED(hr)) return hr;
  }
  hr = s->SyncFolders();
  if (FAILED(hr)) return hr;
  *out = std::move(s);
  return S_OK;
}

Store::~Store() {
  statements_.clear();
  if (db_) sqlite3_close_v2(db_);
}

HRESULT Store::OpenIndex() {
  std::string path = root_ + "/" + kIndexName;
  readOnly_ = access(root_.c_str(), W_OK) != 0;
  for (int attempt = 0; attempt < 2 && !readOnly_; ++attempt) {
    int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(db_, 30000);
      if (SUCCEEDED(CreateSchema())) return S_OK;
      rc = sqlite3_errcode(db_);
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB) {
      // The index holds nothing the Maildir cannot give again: rebuild it.
      for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
      continue;
    }
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return E_FAIL;
    break;
  }
  // A store we cannot write: keep the ids for this process only.
  readOnly_ = true;
  if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK)
    return E_FAIL;
  return CreateSchema();
}

HRESULT Store::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT Store::CreateSchema() {
  if (FAILED(Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-8192;"
                  "PRAGMA mmap_size=268435456;")))
    return E_FAIL;
  if (FAILED(Begin())) return E_FAIL;
  {
    Statement version(db_, "PRAGMA user_version");
    if (version.Step() == SQLITE_ROW && version.Int(0) == 1 &&
        FAILED(Exec("ALTER TABLE folders ADD COLUMN gen INTEGER NOT NULL DEFAULT 0"))) {
      Rollback();
      return E_FAIL;
    }
  }
  HRESULT hr = Exec(
      "CREATE TABLE IF NOT EXISTS folders("
      " id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL UNIQUE,"
      " cur_mtime INTEGER NOT NULL DEFAULT -2, new_mtime INTEGER NOT NULL DEFAULT -2,"
      " gen INTEGER NOT NULL DEFAULT 0);"
      "CREATE TABLE IF NOT EXISTS messages("
      " id INTEGER PRIMARY KEY AUTOINCREMENT, folder INTEGER NOT NULL,"
      " uniq TEXT NOT NULL, sub INTEGER NOT NULL, name TEXT NOT NULL,"
      " size INTEGER NOT NULL DEFAULT 0, mtime INTEGER NOT NULL DEFAULT 0,"
      " flags INTEGER NOT NULL DEFAULT 0, received INTEGER NOT NULL DEFAULT 0,"
      " sent INTEGER NOT NULL DEFAULT 0, subject TEXT, norm_subject TEXT, disp_from TEXT,"
      " disp_to TEXT, message_id TEXT, UNIQUE(folder, uniq));"
      "CREATE INDEX IF NOT EXISTS messages_order ON messages(folder, id);"
      "CREATE TABLE IF NOT EXISTS folder_moves(old TEXT NOT NULL, new TEXT NOT NULL);"
      // Every change to a folder's rows moves its generation, so a process
      // can tell whether the rows it keeps in memory are still current.
      // Inserts bump it themselves (BumpGeneration), once per transaction.
      "DROP TRIGGER IF EXISTS messages_ins;"
      "CREATE TRIGGER IF NOT EXISTS messages_upd AFTER UPDATE ON messages BEGIN"
      " UPDATE folders SET gen = gen + 1 WHERE id IN (OLD.folder, NEW.folder); END;"
      "CREATE TRIGGER IF NOT EXISTS messages_del AFTER DELETE ON messages BEGIN"
      " UPDATE folders SET gen = gen + 1 WHERE id = OLD.folder; END;"
      "PRAGMA user_version=2;");
  if (FAILED(hr)) {
    Rollback();
    return hr;
  }
  return Commit();
}

HRESULT Store::Begin() {
  return Exec("BEGIN IMMEDIATE");
}
HRESULT Store::Commit() {
  if (SUCCEEDED(Exec("COMMIT"))) return S_OK;
  Rollback();
  return E_FAIL;
}
void Store::Rollback() {
  if (!sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
}

Statement& Store::Query(const char* sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<Statement>(db_, sql);
  slot->Reset();
  return *slot;
}

void Store::BumpGeneration(STOREFOLDERID folder) {
  Query("UPDATE folders SET gen = gen + 1 WHERE id = ?").Bind(1, folder).Step();
}

std::string Store::FolderPath(const std::string& dir) const {
  return dir.empty() ? root_ : root_ + "/" + dir;
}

// ---------------------------------------------------------------- folders

HRESULT Store::ApplyFolderMoves() {
  std::vector<std::pair<std::string, std::string>> moves;
  {
    Statement& q = Query("SELECT old, new FROM folder_moves");
    while (q.Step() == SQLITE_ROW) moves.emplace_back(q.Text(0), q.Text(1));
    q.Reset();
  }
  for (const auto& [oldDir, newDir] : moves) {
    if (FAILED(MoveTree(oldDir, newDir))) return E_FAIL;
  }
  return S_OK;
}

// Renames the directory `oldDir` and every folder below it, then updates the
// index. The journal row written before (by the caller) lets the next process
// finish the job if this one dies halfway: the renames are repeatable.
HRESULT Store::MoveTree(const std::string& oldDir, const std::string& newDir) {
  std::vector<std::string> dirs;
  if (DIR* d = opendir(root_.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view n(e->d_name);
      if (n == oldDir || (n.size() > oldDir.size() && n.substr(0, oldDir.size()) == oldDir &&
                          n[oldDir.size()] == '.'))
        dirs.emplace_back(n);
    }
    closedir(d);
  }
  for (const auto& d : dirs) {
    std::string target = newDir + d.substr(oldDir.size());
    // A target that exists already stays as it is; the source keeps its name.
    md::RenameNoReplace(FolderPath(d), FolderPath(target));
  }
  md::FsyncDirectory(root_);
  if (FAILED(Begin())) return E_FAIL;
  std::string oldPrefix = oldDir + ".";
  Query(
      "UPDATE folders SET path = ?2 || substr(path, length(?1) + 1),"
      " cur_mtime = -2, new_mtime = -2"
      " WHERE path = ?1 OR substr(path, 1, length(?3)) = ?3")
      .Bind(1, oldDir)
      .Bind(2, newDir)
      .Bind(3, oldPrefix)
      .Step();
  Query("DELETE FROM folder_moves WHERE old = ? AND new = ?")
      .Bind(1, oldDir)
      .Bind(2, newDir)
      .Step();
  rootMtime_ = kUntrusted;
  return Commit();
}

HRESULT Store::SyncFolders() {
  {
    Statement& q = Query("SELECT count(*) FROM folder_moves");
    bool pending = q.Step() == SQLITE_ROW && q.Int(0) > 0;
    q.Reset();
    if (pending && !readOnly_ && FAILED(ApplyFolderMoves())) return E_FAIL;
  }
  std::int64_t start = md::NowNs();
  std::int64_t mtime = md::MTimeNs(root_);
  if (mtime < 0) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
  if (mtime == rootMtime_ && !folders_.empty()) return S_OK;

  std::vector<std::string> onDisk{""};
  if (DIR* d = opendir(root_.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') continue;
      if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      auto parts = md::SplitFolderDir(e->d_name);
      if (!parts || parts->empty()) continue;
      if (e->d_type != DT_DIR && !md::IsDirectory(root_ + "/" + e->d_name)) continue;
      // Maildir++ does not need the parents of a folder to exist: the
      // missing ones are folders without messages.
      std::string dir;
      for (const auto& p : *parts) {
        dir += "." + p;
        onDisk.push_back(dir);
      }
    }
    closedir(d);
  }
  std::sort(onDisk.begin(), onDisk.end());
  onDisk.erase(std::unique(onDisk.begin(), onDisk.end()), onDisk.end());

  std::map<std::string, STOREFOLDERID> known;
  {
    Statement& q = Query("SELECT id, path FROM folders");
    while (q.Step() == SQLITE_ROW) known.emplace(q.Text(1), static_cast<STOREFOLDERID>(q.Int(0)));
    q.Reset();
  }
  std::vector<std::string> added;
  for (const auto& dir : onDisk)
    if (!known.count(dir)) added.push_back(dir);
  std::vector<STOREFOLDERID> gone;
  for (const auto& [path, id] : known)
    if (!std::binary_search(onDisk.begin(), onDisk.end(), path)) gone.push_back(id);

  if (!added.empty() || !gone.empty()) {
    if (FAILED(Begin())) return E_FAIL;
    for (const auto& dir : added)
      Query("INSERT OR IGNORE INTO folders(path) VALUES(?)").Bind(1, dir).Step();
    for (STOREFOLDERID id : gone) {
      Query("DELETE FROM messages WHERE folder = ?").Bind(1, id).Step();
      Query("DELETE FROM folders WHERE id = ?").Bind(1, id).Step();
    }
    if (FAILED(Commit())) return E_FAIL;
    known.clear();
    Statement& q = Query("SELECT id, path FROM folders");
    while (q.Step() == SQLITE_ROW) known.emplace(q.Text(1), static_cast<STOREFOLDERID>(q.Int(0)));
    q.Reset();
  }

  folders_.clear();
  for (const auto& [dir, id] : known) {
    if (id == 0 || id > kMaxId) continue;
    FolderInfo f;
    f.id = id;
    f.dir = dir;
    if (dir.empty()) {
      f.name = "Inbox";
      f.parent = FOLDERID_ROOT;
    } else {
      std::size_t dot = dir.rfind('.');
      f.name = md::DisplayName(std::string_view(dir).substr(dot + 1));
      std::string parentDir = dir.substr(0, dot);
      auto it = known.find(parentDir);
      f.parent = (dot == 0 || it == known.end()) ? FOLDERID_ROOT : it->second;
    }
    f.sortKey = SortKey(f.name);
    folders_.emplace(id, std::move(f));
  }
  rootMtime_ = mtime < start - kMtimeMarginNs ? mtime : kUntrusted;
  return S_OK;
}

HRESULT Store::FolderByIdLocked(STOREFOLDERID id, FolderInfo* out) {
  auto it = folders_.find(id);
  if (it == folders_.end()) return kNotFound;
  *out = it->second;
  return S_OK;
}

HRESULT Store::FindFolder(STOREFOLDERID id, FolderInfo* out) {
  if (id == FOLDERID_ROOT || id == FOLDERID_INVALID) return E_INVALIDARG;
  if (SUCCEEDED(FolderByIdLocked(id, out))) return S_OK;
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  return FolderByIdLocked(id, out);
}

HRESULT Store::Children(STOREFOLDERID parent, std::vector<FolderInfo>* out) {
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  if (parent != FOLDERID_ROOT && !folders_.count(parent)) return kNotFound;
  out->clear();
  for (const auto& [id, f] : folders_)
    if (f.parent == parent) out->push_back(f);
  std::sort(out->begin(), out->end(), [](const FolderInfo& a, const FolderInfo& b) {
    bool ia = a.dir.empty(), ib = b.dir.empty();
    if (ia != ib) return ia;
    if (a.sortKey != b.sortKey) return a.sortKey < b.sortKey;
    return a.name < b.name;
  });
  return S_OK;
}

HRESULT Store::FillFolderProps(const FolderInfo& f, FOLDERPROPS* props) {
  DWORD size = props->cbSize;
  std::memset(props, 0, sizeof *props);
  props->cbSize = size;
  props->dwFolderId = f.id;
  props->sfType = f.dir.empty() ? FOLDER_INBOX : FOLDER_NOTSPECIAL;
  for (const auto& [id, other] : folders_)
    if (other.parent == f.id) ++props->cSubFolders;
  // Counted from the directories, so a count never waits for an index update.
  std::vector<DirEntry> entries;
  ListMessages(FolderPath(f.dir), &entries);
  props->cMessage = static_cast<DWORD>(entries.size());
  for (const auto& e : entries)
    if (!(md::FlagsFromInfo(md::ParseFileName(e.name).info) & MSG_FLAG_READ)) ++props->cUnread;
  // Cut at a character boundary so that the name stays valid UTF-8.
  std::size_t len = std::min(f.name.size(), std::size_t{CCHMAX_FOLDER_NAME - 1});
  while (len > 0 && len < f.name.size() && (f.name[len] & 0xC0) == 0x80) --len;
  std::memcpy(props->szName, f.name.data(), len);
  props->szName[len] = '\0';
  return S_OK;
}

bool Store::DirTaken(const std::string& dir) {
  for (const auto& [id, f] : folders_)
    if (f.dir == dir) return true;
  struct stat st;
  return lstat(FolderPath(dir).c_str(), &st) == 0;
}

HRESULT Store::CreateFolder(STOREFOLDERID parent, const char* name, STOREFOLDERID* id) {
  if (!ValidName(name)) return E_INVALIDARG;
  if (readOnly_) return E_ACCESSDENIED;
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  std::string parentDir;
  if (parent != FOLDERID_ROOT) {
    FolderInfo p;
    if (FAILED(FolderByIdLocked(parent, &p))) return kNotFound;
    if (p.dir.empty()) return E_INVALIDARG;  // Inbox holds no folders in Maildir++
    parentDir = p.dir;
  } else if (g_ascii_strcasecmp(name, "Inbox") == 0) {
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  }
  std::string dir = parentDir + "." + md::EncodeName(name);
  if (dir.size() > 255) return E_INVALIDARG;
  if (DirTaken(dir)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  hr = md::MakeMaildir(FolderPath(dir), true);
  if (hr == com::HResultFromErrno(EEXIST)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (FAILED(hr)) return hr;
  md::FsyncDirectory(root_);
  rootMtime_ = kUntrusted;
  hr = SyncFolders();
  if (FAILED(hr)) return hr;
  for (const auto& [fid, f] : folders_)
    if (f.dir == dir) {
      if (id) *id = fid;
      return S_OK;
    }
  return E_FAIL;
}

HRESULT Store::RenameFolder(STOREFOLDERID id, const char* name) {
  if (!ValidName(name)) return E_INVALIDARG;
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(id, &f);
  if (FAILED(hr)) return hr;
  if (f.dir.empty()) return E_INVALIDARG;  // Inbox is the store's root directory
  std::string dir = f.dir.substr(0, f.dir.rfind('.')) + "." + md::EncodeName(name);
  if (f.parent == FOLDERID_ROOT && g_ascii_strcasecmp(name, "Inbox") == 0)
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (dir == f.dir) return S_OK;
  return RelocateFolder(f.dir, dir);
}

// Renames and moves share this: the move is journalled before the directory
// tree moves, so the next opener finishes one that a killed process left halfway.
HRESULT Store::RelocateFolder(const std::string& oldDir, const std::string& newDir) {
  if (newDir.size() > 255) return E_INVALIDARG;
  if (DirTaken(newDir)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (FAILED(Begin())) return E_FAIL;
  Query("INSERT INTO folder_moves(old, new) VALUES(?, ?)").Bind(1, oldDir).Bind(2, newDir).Step();
  if (FAILED(Commit())) return E_FAIL;
  HRESULT hr = MoveTree(oldDir, newDir);
  if (FAILED(hr)) return hr;
  return SyncFolders();
}

HRESULT Store::MoveFolder(STOREFOLDERID id, STOREFOLDERID parent) {
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(id, &f);
  if (FAILED(hr)) return hr;
  if (f.dir.empty()) return E_INVALIDARG;
  std::string parentDir;
  if (parent != FOLDERID_ROOT) {
    FolderInfo p;
    hr = FindFolder(parent, &p);
    if (FAILED(hr)) return hr;
    if (p.dir.empty()) return E_INVALIDARG;
    // Not into itself or below itself.
    if (p.dir == f.dir || p.dir.compare(0, f.dir.size() + 1, f.dir + ".") == 0) return E_INVALIDARG;
    parentDir = p.dir;
  }
  std::string leaf = f.dir.substr(f.dir.rfind('.'));
  std::string dir = parentDir + leaf;
  if (dir == f.dir) return S_OK;
  if (parent == FOLDERID_ROOT && g_ascii_strcasecmp(f.name.c_str(), "Inbox") == 0)
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  return RelocateFolder(f.dir, dir);
}

HRESULT Store::DeleteFolder(STOREFOLDERID id) {
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(id, &f);
  if (FAILED(hr)) return hr;
  if (f.dir.empty()) return E_INVALIDARG;
  std::vector<std::string> dirs;
  if (DIR* d = opendir(root_.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view n(e->d_name);
      if (n == f.dir || (n.size() > f.dir.size() && n.compare(0, f.dir.size(), f.dir) == 0 &&
                         n[f.dir.size()] == '.'))
        dirs.emplace_back(n);
    }
    closedir(d);
  }
  // Deepest first, and each folder leaves the tree in one rename: a killed
  // process leaves whole folders, never a folder with part of its messages.
  std::sort(dirs.begin(), dirs.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const auto& d : dirs) {
    std::string trash = root_ + "/" + kTrashPrefix + md::NewUniqueName();
    if (rename(FolderPath(d).c_str(), trash.c_str()) != 0) {
      if (errno == ENOENT) continue;
      HRESULT err = Errno();
      rootMtime_ = kUntrusted;
      SyncFolders();
      return err;
    }
    md::RemoveTree(trash);
  }
  md::FsyncDirectory(root_);
  rootMtime_ = kUntrusted;
  return SyncFolders();
}

HRESULT Store::Compact() {
  if (readOnly_) return S_OK;
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  std::int64_t cutoff = md::NowNs() - kStaleTmpNs;
  for (const auto& [id, f] : folders_) {
    std::string tmp = FolderPath(f.dir) + "/tmp";
    DIR* d = opendir(tmp.c_str());
    if (!d) continue;
    std::vector<std::string> stale;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string path = tmp + "/" + e->d_name;
      struct stat st;
      if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
      std::int64_t m =
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      if (m < cutoff) stale.push_back(path);
    }
    closedir(d);
    for (const auto& p : stale) unlink(p.c_str());
  }
  // Reserved ids whose file is gone (removed above, or by a crash).
  std::vector<std::pair<MESSAGEID, std::string>> reserved;
  {
    Statement& q = Query(
        "SELECT m.id, f.path, m.name FROM messages m JOIN folders f ON f.id = m.folder"
        " WHERE m.sub = 2");
    while (q.Step() == SQLITE_ROW)
      reserved.emplace_back(static_cast<MESSAGEID>(q.Int(0)),
                            FolderPath(q.Text(1)) + "/tmp/" + q.Text(2));
    q.Reset();
  }
  for (const auto& [mid, path] : reserved) {
    if (access(path.c_str(), F_OK) == 0) continue;
    Query("DELETE FROM messages WHERE id = ? AND sub = 2").Bind(1, mid).Step();
  }
  statements_.clear();  // VACUUM needs no statement in progress
  Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  Exec("VACUUM");
  return S_OK;
}

// ---------------------------------------------------------------- messages

// Brings the index of one folder in line with its cur/ and new/ directories.
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
HRESULT Store::SyncMessages(const FolderInfo& f, bool force) {
  std::string dir = FolderPath(f.dir);
  std::int64_t start = md::NowNs();
  std::int64_t observed[2] = {md::MTimeNs(dir + "/cur"), md::MTimeNs(dir + "/new")};
  std::int64_t stored[2];
  std::int64_t gen = 0;
  {
    Statement& q = Query("SELECT cur_mtime, new_mtime, gen FROM folders WHERE id = ?");
    q.Bind(1, f.id);
    if (q.Step() != SQLITE_ROW) {
      q.Reset();
      return kNotFound;
    }
    stored[0] = q.Int(0);
    stored[1] = q.Int(1);
    gen = q.Int(2);
    q.Reset();
  }
  bool list[2];
  for (int sub = 0; sub < 2; ++sub)
    list[sub] = force || stored[sub] == kUntrusted || stored[sub] != observed[sub];
  if (!list[0] && !list[1]) return S_OK;
  // The rows of the folder, kept between listings while no process changed
  // them (the folder's generation, bumped by triggers on every row change).
  FolderFiles& cache = files_[f.id];
  if (cache.gen != gen) {
    cache.byUniq.clear();
    Statement& q =
        Query("SELECT id, uniq, sub, name, size, mtime FROM messages WHERE folder = ? ORDER BY id");
    q.Bind(1, f.id);
    cache.count[0] = cache.count[1] = cache.count[2] = 0;
    while (q.Step() == SQLITE_ROW) {
      int sub = std::clamp(static_cast<int>(q.Int(2)), 0, 2);
      cache.byUniq.emplace(std::string(q.View(1)),
                           KnownFile{static_cast<MESSAGEID>(q.Int(0)), sub, std::string(q.View(3)),
                                     q.Int(4), q.Int(5), 0});
      ++cache.count[sub];
    }
    q.Reset();
    cache.gen = gen;
  }
  const std::uint32_t pass = ++cache.pass;
  std::size_t seen[2] = {0, 0};

  struct Renamed {
    MESSAGEID id;
    int sub;
    std::string name;
    DWORD flags;
    std::unique_ptr<FileSummary> reparsed;
  };
  std::vector<Renamed> renamed;
  // Files the index does not know: their names only, until their batch is read.
  struct NewFile {
    std::string name;
    std::size_t uniqLength;
    int sub;
    std::int64_t delivered = 0;
    std::string_view uniq() const { return std::string_view(name).substr(0, uniqLength); }
  };
  std::vector<NewFile> added;
  ReaderState renamedReader;  // renamed files whose content changed are read again
  bool listed[2] = {false, false};
  auto listSub = [&](int sub) {
    listed[sub] = true;
    DIR* d = opendir((dir + "/" + SubDir(sub)).c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      std::string_view name(e->d_name);
      md::FileName fn = md::ParseFileName(name);
      auto it = cache.byUniq.find(fn.uniq);
      if (it == cache.byUniq.end()) {
        added.push_back({std::string(name), fn.uniq.size(), sub});
        continue;
      }
      KnownFile& k = it->second;
      if (k.seen == pass) continue;  // the same unique name twice: the first one counts
      k.seen = pass;
      if (k.sub < 2) ++seen[k.sub];
      if (k.sub == sub && k.name == name) continue;
      Renamed r{k.id, sub, std::string(name), md::FlagsFromInfo(fn.info), nullptr};
      std::string path = dir + "/" + SubDir(sub) + "/" + r.name;
      struct stat st;
      bool changed =
          k.sub == 2 || stat(path.c_str(), &st) != 0 || st.st_size != k.size ||
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec != k.mtime;
      if (changed) {
        r.reparsed = std::make_unique<FileSummary>();
        r.reparsed->uniq = std::string(fn.uniq);
        ReadFileSummary(path, r.reparsed.get(), &renamedReader);
        if (!r.reparsed->ok) continue;  // vanished meanwhile: the next listing sees it
      }
      renamed.push_back(std::move(r));
    }
    closedir(d);
  };
  // Only a directory whose mtime moved is listed. A file moved between cur/
  // and new/ changes both, so after listing one the other is looked at again:
  // a move that raced with the listing shows there, and that directory is
  // listed too (so the moved file is never taken for a removed one).
  for (bool more = true; more;) {
    more = false;
    for (int sub = 0; sub < 2; ++sub) {
      if (!list[sub] || listed[sub]) continue;
      listSub(sub);
      int other = 1 - sub;
      if (!list[other]) {
        std::int64_t now = md::MTimeNs(dir + "/" + SubDir(other));
        if (now != observed[other]) {
          observed[other] = now;
          list[other] = more = true;
        }
      }
    }
  }
  struct Removed {
    MESSAGEID id;
    std::string uniq, name;
  };
  std::vector<Removed> removed;
  // Every row of the listed directories seen: nothing was removed, and the
  // (large) table need not be walked.
  if ((listed[0] && seen[0] < cache.count[0]) || (listed[1] && seen[1] < cache.count[1])) {
    for (const auto& [uniq, k] : cache.byUniq)
      if (k.seen != pass && k.sub != 2 && listed[k.sub]) removed.push_back({k.id, uniq, k.name});
  }
  // The directory times this listing may vouch for (see above).
  auto recordDirectoryTimes = [&] {
    auto trusted = [&](std::int64_t m) {
      return m < start - kMtimeMarginNs || m < 0 ? m : kUntrusted;
    };
    Query("UPDATE folders SET cur_mtime = ?, new_mtime = ? WHERE id = ?")
        .Bind(1, listed[0] ? trusted(observed[0]) : stored[0])
        .Bind(2, listed[1] ? trusted(observed[1]) : stored[1])
        .Bind(3, f.id)
        .Step();
  };
  if (added.empty() && renamed.empty() && removed.empty()) {
    recordDirectoryTimes();  // nothing else to write
    return S_OK;
  }

  // Ids follow the order of delivery. A unique name listed twice (a file
  // that moved from new/ to cur/ while the directories were read) is one
  // message: the one in cur/ counts.
  for (auto& n : added) n.delivered = md::DeliverySeconds(n.uniq()).value_or(0);
  std::sort(added.begin(), added.end(), [](const NewFile& a, const NewFile& b) {
    if (a.delivered != b.delivered) return a.delivered < b.delivered;
    if (a.uniq() != b.uniq()) return a.uniq() < b.uniq();
    return a.sub < b.sub;
  });
  added.erase(std::unique(added.begin(), added.end(),
                          [](const NewFile& a, const NewFile& b) { return a.uniq() == b.uniq(); }),
              added.end());

  if (readOnly_ && db_ == nullptr) return E_FAIL;
  auto writeSummary = [](Statement& s, int first, const FileSummary& p) {
    s.Bind(first, p.size)
        .Bind(first + 1, p.mtime)
        .Bind(first + 2, p.received)
        .Bind(first + 3, p.sent)
        .Bind(first + 4, p.sum.subject)
        .Bind(first + 5, p.sum.normalSubject)
        .Bind(first + 6, p.sum.displayFrom)
        .Bind(first + 7, p.sum.displayTo)
        .Bind(first + 8, p.sum.messageId);
  };

  auto genOf = [&] {
    Statement& q = Query("SELECT gen FROM folders WHERE id = ?");
    q.Bind(1, f.id);
    std::int64_t g = q.Step() == SQLITE_ROW ? q.Int(0) : -1;
    q.Reset();
    return g;
  };
  // A large listing (a first one) writes many batches: checkpoint once at the
  // end rather than every few batches, each with its fsync.
  bool bulk = added.size() > static_cast<std::size_t>(kBatch);
  if (bulk) Exec("PRAGMA wal_autocheckpoint=0");
  struct RestoreCheckpoints {
    Store* self;
    bool bulk;
    ~RestoreCheckpoints() {
      if (!bulk) return;
      self->Exec("PRAGMA wal_autocheckpoint=1000");
      self->Exec("PRAGMA wal_checkpoint(PASSIVE)");
    }
  } restore{this, bulk};
  struct SubDirFds {
    int fd[2] = {-1, -1};
    ~SubDirFds() {
      for (int d : fd)
        if (d >= 0) close(d);
    }
  } subFds;
  for (int sub = 0; sub < 2; ++sub)
    if (std::any_of(added.begin(), added.end(), [&](const NewFile& n) { return n.sub == sub; }))
      subFds.fd[sub] = open((dir + "/" + SubDir(sub)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  auto readOne = [&](FileSummary& p, ReaderState& reader) {
    if (subFds.fd[p.sub] >= 0)
      ReadFileSummaryAt(subFds.fd[p.sub], p.name, &p, &reader);
    else
      ReadFileSummary(dir + "/" + SubDir(p.sub) + "/" + p.name, &p, &reader);
    p.flags |= md::FlagsFromInfo(md::ParseFileName(p.name).info);
  };
  // Headers are read outside the transaction, a batch at a time, so other
  // processes wait for the index only while rows are written; the next batch
  // is read while this one is written.
  std::vector<ReaderState> readers(ReaderCount(added.size()));
  auto readBatch = [&](std::size_t from, std::vector<FileSummary>* out) {
    std::size_t to = std::min(added.size(), from + kBatch);
    out->clear();
    out->resize(to - from);
    for (std::size_t i = from; i < to; ++i) {
      FileSummary& p = (*out)[i - from];
      p.uniq = std::string(added[i].uniq());
      p.name = std::move(added[i].name);
      p.sub = added[i].sub;
    }
    ReadAll(*out, readers, readOne);
  };
  std::size_t next = 0;
  bool first = true;
  std::vector<FileSummary> batch, upcoming;
  readBatch(0, &batch);
  while (first || next < added.size()) {
    std::size_t end = next + batch.size();
    Background reading;
    if (end < added.size()) reading.Run([&, end] { readBatch(end, &upcoming); });
    if (FAILED(Begin())) return E_FAIL;
    // The cache follows our own writes only if nobody else wrote since it was read.
    bool cacheValid = genOf() == cache.gen;
    std::vector<MESSAGEID> ids(end - next, 0);
    for (const FileSummary& p : batch) {
      if (!p.ok) continue;
      // No RETURNING: SQLite buffers a RETURNING statement's rows and that
      // costs more than the insert itself. A new row's id is the last rowid;
      // a row another process inserted meanwhile keeps its own id, looked up.
      std::int64_t lastBefore = sqlite3_last_insert_rowid(db_);
      Statement& s = Query(
          "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
          " subject, norm_subject, disp_from, disp_to, message_id)"
          " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)"
          " ON CONFLICT(folder, uniq) DO UPDATE SET sub = excluded.sub, name = excluded.name,"
          " flags = excluded.flags, size = excluded.size, mtime = excluded.mtime,"
          " received = excluded.received, sent = excluded.sent, subject = excluded.subject,"
          " norm_subject = excluded.norm_subject, disp_from = excluded.disp_from,"
          " disp_to = excluded.disp_to, message_id = excluded.message_id");
      s.Bind(1, f.id).Bind(2, p.uniq).Bind(3, p.sub).Bind(4, p.name).Bind(5, p.flags);
      writeSummary(s, 6, p);
      std::int64_t id = s.Step() == SQLITE_DONE ? sqlite3_last_insert_rowid(db_) : -1;
      s.Reset();
      if (id == lastBefore) {
        Statement& q = Query("SELECT id FROM messages WHERE folder = ? AND uniq = ?");
        q.Bind(1, f.id).Bind(2, p.uniq);
        id = q.Step() == SQLITE_ROW ? q.Int(0) : -1;
        q.Reset();
      }
      if (id <= 0 || id > kMaxId) {
        Rollback();
        cache.gen = -1;
        return E_FAIL;  // a failed write, or the 32-bit id space is spent
      }
      ids[&p - batch.data()] = static_cast<MESSAGEID>(id);
    }
    if (end > next) BumpGeneration(f.id);
    if (first) {
      for (const auto& r : renamed) {
        if (r.reparsed) {
          const FileSummary& p = *r.reparsed;
          Statement& s = Query(
              "UPDATE messages SET sub = ?2, name = ?3, flags = ?4, size = ?5, mtime = ?6,"
              " received = ?7, sent = ?8, subject = ?9, norm_subject = ?10, disp_from = ?11,"
              " disp_to = ?12, message_id = ?13 WHERE id = ?1");
          s.Bind(1, r.id).Bind(2, r.sub).Bind(3, r.name).Bind(4, r.flags | p.flags);
          writeSummary(s, 5, p);
          s.Step();
        } else {
          Query("UPDATE messages SET sub = ?2, name = ?3, flags = (flags & ?5) | ?4 WHERE id = ?1")
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
      for (const auto& r : removed)
        Query("DELETE FROM messages WHERE id = ? AND name = ? AND sub < 2")
            .Bind(1, r.id)
            .Bind(2, r.name)
            .Step();
    }
    if (end >= added.size()) recordDirectoryTimes();
    std::int64_t genAfter = genOf();
    if (FAILED(Commit())) {
      cache.gen = -1;
      return E_FAIL;
    }
    if (!cacheValid) {
      cache.gen = -1;
    } else {
      // The batch is done with: its names move into the cache.
      for (std::size_t i = 0; i < batch.size(); ++i) {
        FileSummary& p = batch[i];
        if (!p.ok) continue;
        auto [it, fresh] = cache.byUniq.try_emplace(std::move(p.uniq));
        if (!fresh) --cache.count[it->second.sub];
        it->second = KnownFile{ids[i], p.sub, std::move(p.name), p.size, p.mtime, pass};
        ++cache.count[p.sub];
      }
      if (first) {
        for (const auto& r : renamed) {
          auto it = cache.byUniq.find(r.reparsed ? std::string_view(r.reparsed->uniq)
                                                 : md::ParseFileName(r.name).uniq);
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
        for (const auto& r : removed) {
          auto it = cache.byUniq.find(r.uniq);
          if (it == cache.byUniq.end()) continue;
          --cache.count[it->second.sub];
          cache.byUniq.erase(it);
        }
      }
      cache.gen = genAfter;
    }
    reading.Wait();
    std::swap(batch, upcoming);
    first = false;
    next = end;
  }
  return S_OK;
}

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

HRESULT Store::OpenMessagePath(STOREFOLDERID folder, MESSAGEID id,
                               const std::function<HRESULT(const std::string& path)>& open) {
  const HRESULT gone = com::HResultFromErrno(ENOENT);
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
  if (!md::IsMaildir(FolderPath(dst.dir))) {
    // A folder that exists only as the parent of others gets its directory.
    hr = md::MakeMaildir(FolderPath(dst.dir), true);
    if (FAILED(hr)) return hr;
  }
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
  std::string dir = FolderPath(f.dir);
  if (!md::IsMaildir(dir)) {
    hr = md::MakeMaildir(dir, true);
    if (FAILED(hr)) return hr;
  }
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
