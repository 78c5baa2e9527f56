// The index: its schema, prepared statements and transactions, opening the
// store, and compaction.
#include "platform/store/engine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/store/engine_internal.h"
#include "platform/store/maildir.h"
#include "platform/store/summary.h"

namespace store {
namespace md = maildir;
using namespace engine;

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
  FolderLayout layout;
  TreeScan scan;
  if (!FolderLayout::Detect(root, &layout, &scan)) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
  EnsureGMime();
  std::shared_ptr<Store> s(new Store);
  s->root_ = root;
  while (s->root_.size() > 1 && s->root_.back() == '/') s->root_.pop_back();
  s->layout_ = std::move(layout);
  s->openingScan_ = std::move(scan);
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

std::string MboxIndexPath(const std::string& root) {
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    cache = std::string(home) + "/.cache";
  } else {
    return {};
  }
  char* real = realpath(root.c_str(), nullptr);
  std::string key = real ? real : root;
  free(real);
  // FNV-1a: the name only has to be the same on every run and differ
  // between stores.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : key) hash = (hash ^ c) * 0x100000001b3ULL;
  char name[64];
  std::snprintf(name, sizeof name, "/mailquarry/mbox-%016llx.sqlite",
                static_cast<unsigned long long>(hash));
  return cache + name;
}

HRESULT Store::OpenIndex() {
  std::string path = root_ + "/" + kIndexName;
  readOnly_ = access(root_.c_str(), W_OK) != 0;
  bool indexWritable = !readOnly_;
  if (mbox()) {
    // Another program owns the files: nothing is written into the tree.
    readOnly_ = true;
    path = MboxIndexPath(root_);
    std::string dir = path.substr(0, path.rfind('/'));
    indexWritable = !path.empty() &&
                    (mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700) == 0 || errno == EEXIST);
    indexWritable = indexWritable && (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
  }
  for (int attempt = 0; attempt < 2 && indexWritable; ++attempt) {
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
  // An index we cannot write: keep the ids for this process only.
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
  std::int64_t version = 0;
  {
    Statement q(db_, "PRAGMA user_version");
    if (q.Step() == SQLITE_ROW) version = q.Int(0);
  }
  if (version == 1 &&
      FAILED(Exec("ALTER TABLE folders ADD COLUMN gen INTEGER NOT NULL DEFAULT 0"))) {
    Rollback();
    return E_FAIL;
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
      "PRAGMA user_version=3;");
  if (SUCCEEDED(hr) && mbox())
    hr = Exec(
        "CREATE TABLE IF NOT EXISTS mbox_files(folder INTEGER PRIMARY KEY,"
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
        " path TEXT NOT NULL, PRIMARY KEY(folder, path)) WITHOUT ROWID;");
  if (SUCCEEDED(hr) && version < 3) hr = KeyMessagesWithoutUids();
  if (FAILED(hr)) {
    Rollback();
    return hr;
  }
  return Commit();
}

// Indexes before version 3 keyed a message by its whole unique name, so an
// mbsync run that added ",U=<uid>" gave its files new rows; rows are now keyed
// without it (maildir::MessageKey). Where two rows meet on one key, the older
// row (the lower id) keeps it.
HRESULT Store::KeyMessagesWithoutUids() {
  std::vector<std::pair<std::int64_t, std::string>> rows;
  {
    Statement q(db_, "SELECT id, uniq FROM messages WHERE instr(uniq, ',U=') > 0 ORDER BY id");
    std::string buffer;
    while (q.Step() == SQLITE_ROW) {
      std::string_view uniq = q.View(1);
      std::string_view key = md::MessageKey(uniq, &buffer);
      if (key != uniq) rows.emplace_back(q.Int(0), std::string(key));
    }
  }
  for (const auto& [id, key] : rows) {
    Statement update(db_, "UPDATE OR IGNORE messages SET uniq = ? WHERE id = ?");
    if (update.Bind(1, key).Bind(2, id).Step() != SQLITE_DONE) return E_FAIL;
    if (sqlite3_changes(db_) > 0) continue;
    Statement taken(db_,
                    "SELECT id FROM messages WHERE folder = (SELECT folder FROM messages"
                    " WHERE id = ?1) AND uniq = ?2");
    if (taken.Bind(1, id).Bind(2, key).Step() != SQLITE_ROW) return E_FAIL;
    std::int64_t other = taken.Int(0);
    // The younger row goes; the file it named is listed again under the key.
    Statement drop(db_, "DELETE FROM messages WHERE id = ?");
    drop.Bind(1, std::max(id, other)).Step();
    if (other > id) {
      Statement retry(db_, "UPDATE messages SET uniq = ? WHERE id = ?");
      retry.Bind(1, key).Bind(2, id).Step();
    }
  }
  return S_OK;
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

std::int64_t Store::UpsertMessageRow(Statement& upsert, std::int64_t folder,
                                     const std::string& uniq) {
  // No RETURNING: SQLite buffers a RETURNING statement's rows and that costs
  // more than the insert itself. A new row's id is the last rowid; a row
  // that was there already (another process may have inserted it meanwhile)
  // keeps its own id, looked up.
  std::int64_t lastBefore = sqlite3_last_insert_rowid(db_);
  std::int64_t id = upsert.Step() == SQLITE_DONE ? sqlite3_last_insert_rowid(db_) : -1;
  upsert.Reset();
  if (id == lastBefore) {
    Statement& q = Query("SELECT id FROM messages WHERE folder = ? AND uniq = ?");
    q.Bind(1, folder).Bind(2, uniq);
    id = q.Step() == SQLITE_ROW ? q.Int(0) : -1;
    q.Reset();
  }
  return id;
}

void Store::BumpGeneration(STOREFOLDERID folder) {
  Query("UPDATE folders SET gen = gen + 1 WHERE id = ?").Bind(1, folder).Step();
}

std::string Store::FolderPath(const std::string& dir) const {
  // A label folder's messages are in its file.
  std::string_view file = std::string_view(dir).substr(0, dir.find(kLabelMark));
  if (!file.empty() && file[0] == '/') return std::string(file);  // a profile's outside account
  return file.empty() ? root_ : root_ + "/" + std::string(file);
}

// ---------------------------------------------------------------- compaction

HRESULT Store::Compact() {
  if (mbox()) return E_ACCESSDENIED;  // the files are another program's to compact
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

}  // namespace store
