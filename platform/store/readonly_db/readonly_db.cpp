// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/readonly_db/readonly_db.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>

namespace store {

namespace {

// How long a read waits for a writer that holds the whole database (a
// rollback journal's commit); in WAL mode readers never wait.
constexpr int kBusyMs = 5000;

bool ClosedWalDatabase(const std::string& path) {
  unsigned char header[20];
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool wal = pread(fd, header, sizeof header, 0) == sizeof header && header[18] == 2;
  close(fd);
  return wal && access((path + "-wal").c_str(), F_OK) != 0;
}

std::string Uri(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri + (ClosedWalDatabase(path) ? "?mode=ro&immutable=1" : "?mode=ro");
}

}  // namespace

ReadOnlyDb::ReadOnlyDb(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0 ||
      sqlite3_open_v2(Uri(path).c_str(), &db_,
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return;
  }
  sqlite3_busy_timeout(db_, kBusyMs);
}

ReadOnlyDb::~ReadOnlyDb() {
  sqlite3_close_v2(db_);
}

bool ReadOnlyDb::HasColumn(const char* table, const char* column) const {
  sqlite3_stmt* q = nullptr;
  bool found = db_ &&
               sqlite3_prepare_v2(db_, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?", -1, &q,
                                  nullptr) == SQLITE_OK &&
               sqlite3_bind_text(q, 1, table, -1, SQLITE_TRANSIENT) == SQLITE_OK &&
               sqlite3_bind_text(q, 2, column, -1, SQLITE_TRANSIENT) == SQLITE_OK &&
               sqlite3_step(q) == SQLITE_ROW;
  sqlite3_finalize(q);
  return found;
}

bool ReadOnlyDb::HasTable(const std::string& table) const {
  sqlite3_stmt* q = nullptr;
  bool found =
      db_ &&
      sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", -1,
                         &q, nullptr) == SQLITE_OK &&
      sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
      sqlite3_step(q) == SQLITE_ROW;
  sqlite3_finalize(q);
  return found;
}

}  // namespace store
