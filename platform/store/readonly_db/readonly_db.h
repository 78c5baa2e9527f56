// SPDX-License-Identifier: LGPL-2.1-or-later
// Another program's SQLite database, opened read only for one reading and
// closed right after it, so that no lock of ours outlasts a read and the
// program, writing meanwhile, never waits for us. A database that keeps a
// write-ahead log which is not there now (its program is not running and
// left it whole) is read as it stands: a reader would otherwise create the
// log and its index beside it and could not remove them.
#pragma once

#include <sqlite3.h>

#include <string>

namespace store {

class ReadOnlyDb {
 public:
  explicit ReadOnlyDb(const std::string& path);
  ~ReadOnlyDb();
  ReadOnlyDb(const ReadOnlyDb&) = delete;
  ReadOnlyDb& operator=(const ReadOnlyDb&) = delete;
  // Null when the file could not be opened.
  sqlite3* get() const { return db_; }
  bool HasColumn(const char* table, const char* column) const;
  bool HasTable(const std::string& table) const;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace store
