// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/testing/evolution_fixture.h"

#include <sqlite3.h>

namespace store::testing {

namespace {

// Evolution's flag bits: deleted, seen.
constexpr int kDeleted = 1 << 1, kSeen = 1 << 4;

std::string Quoted(const std::string& text) {
  char* q = sqlite3_mprintf("%Q", text.c_str());
  std::string out = q;
  sqlite3_free(q);
  return out;
}

}  // namespace

bool WriteEvolutionFoldersDb(const std::string& path, EvolutionSchema schema,
                             const EvolutionFolders& folders) {
  const bool ids = schema == EvolutionSchema::kIdTables;
  std::string sql =
      "BEGIN;CREATE TABLE folders (folder_name TEXT PRIMARY KEY, version INTEGER, flags INTEGER,"
      " nextuid INTEGER, time NUMERIC, saved_count INTEGER, unread_count INTEGER, bdata TEXT";
  sql += ids ? ", folder_id INTEGER);CREATE TABLE keys (key TEXT PRIMARY KEY, value TEXT);"
               "INSERT INTO keys VALUES ('csdb::folders_version', '1'),"
               " ('csdb::messages_version', '1');"
             : ");";
  int id = 3;  // ids that are not the folders' positions
  for (const auto& [name, messages] : folders) {
    std::string table = ids ? "messages_" + std::to_string(id) : Quoted(name);
    sql += "INSERT INTO folders(folder_name, version, saved_count" +
           std::string(ids ? ", folder_id" : "") + ") VALUES (" + Quoted(name) + ", 3, " +
           std::to_string(messages.size()) + (ids ? ", " + std::to_string(id) : "") + ");";
    sql += "CREATE TABLE " + table +
           (ids ? " (uid TEXT, flags INTEGER, msg_type INTEGER, dirty INTEGER, size INTEGER,"
                  " subject TEXT, PRIMARY KEY (uid));"
                : " (uid TEXT PRIMARY KEY, flags INTEGER, msg_type INTEGER, read INTEGER,"
                  " deleted INTEGER, size INTEGER, subject TEXT);");
    for (const EvolutionMessage& m : messages) {
      int flags = (m.read ? kSeen : 0) | (m.deleted ? kDeleted : 0);
      sql += "INSERT INTO " + table + "(uid, flags" + (ids ? "" : ", read, deleted") +
             ") VALUES (" + Quoted(m.uid) + ", " + std::to_string(flags) +
             (ids ? "" : ", " + std::to_string(m.read) + ", " + std::to_string(m.deleted)) + ");";
    }
    id += 2;
  }
  sql += "COMMIT;";
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

}  // namespace store::testing
