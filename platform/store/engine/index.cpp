// SPDX-License-Identifier: LGPL-2.1-or-later
// The index: its schema, prepared statements and transactions, opening the
// store, and compaction.
#include "platform/store/engine/store_engine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/summary.h"

namespace store {
using namespace engine;

namespace {

// How long a process waits on another that holds the index.
constexpr int kBusyMs = 30000;

// Puts the index in WAL mode. When two processes make a new index at once,
// the switch can answer "busy" without waiting on the busy handler, so it is
// tried again for as long as that handler would have waited.
int UseWal(sqlite3* db) {
  for (int waited = 0;; waited += 10) {
    const int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || waited >= kBusyMs) return rc;
    usleep(10 * 1000);
  }
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
  TreeScan scan;
  std::unique_ptr<FolderLayout> layout = DetectLayout(root, &scan);
  if (!layout) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
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
      for (const auto& t : trash) disk::RemoveTree(t);
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
  std::string path = layout_->IndexPath(root_);
  readOnly_ = access(root_.c_str(), W_OK) != 0;
  bool indexWritable = !readOnly_;
  if (layout_->foreign()) {
    // Another program owns the files: nothing is written into the tree, and
    // the index lives in a directory of ours.
    readOnly_ = true;
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
      sqlite3_busy_timeout(db_, kBusyMs);
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
  if (UseWal(db_) != SQLITE_OK ||
      FAILED(
          Exec("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-8192; PRAGMA mmap_size=268435456;")))
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
  for (const MessageFormat* format : layout_->Formats()) {
    if (SUCCEEDED(hr) && format->IndexTables()) hr = Exec(format->IndexTables());
    if (SUCCEEDED(hr)) hr = format->UpgradeIndex(*this, version);
  }
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
  return layout_->Place(root_, dir);
}

// ---------------------------------------------------------------- compaction

HRESULT Store::Compact() {
  if (layout_->foreign()) return E_ACCESSDENIED;  // the files are another program's to compact
  if (readOnly_) return S_OK;
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  const std::int64_t cutoff = disk::NowNs() - kStaleTmpNs;
  for (const auto& [id, f] : folders_) f.format->Compact(*this, f, cutoff);
  statements_.clear();  // VACUUM needs no statement in progress
  Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  Exec("VACUUM");
  return S_OK;
}

}  // namespace store
