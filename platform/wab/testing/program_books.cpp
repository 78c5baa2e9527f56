// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/testing/program_books.h"

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace wabtest {
namespace {

namespace fs = std::filesystem;

class Db {
 public:
  explicit Db(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    fs::remove(path);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open " + path);
  }
  ~Db() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string what = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(what + " in " + sql);
    }
  }
  // Runs `sql` once for each row of texts, bound in order (empty binds NULL
  // where `nullEmpty`).
  void Insert(const std::string& sql, const std::vector<std::vector<std::string>>& rows) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    for (const auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i)
        sqlite3_bind_text(statement, static_cast<int>(i + 1), row[i].data(),
                          static_cast<int>(row[i].size()), SQLITE_TRANSIENT);
      if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
      sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
  }

 private:
  sqlite3* db_ = nullptr;
};

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

void WriteThunderbirdBook(const std::string& path, const std::vector<ThunderbirdCard>& cards,
                          const std::vector<ThunderbirdList>& lists, bool wal) {
  Db db(path);
  if (wal) db.Exec("PRAGMA journal_mode = WAL");
  db.Exec(
      "PRAGMA user_version = 3;"
      "CREATE TABLE properties (card TEXT, name TEXT, value TEXT);"
      "CREATE TABLE lists (uid TEXT PRIMARY KEY, name TEXT, nickName TEXT, description TEXT);"
      "CREATE TABLE list_cards (list TEXT, card TEXT, PRIMARY KEY(list, card));"
      "CREATE INDEX properties_card ON properties(card);"
      "CREATE INDEX properties_name ON properties(name);"
      "BEGIN");
  std::vector<std::vector<std::string>> rows, listRows, members;
  for (const ThunderbirdCard& card : cards)
    for (const auto& [name, value] : card.properties) rows.push_back({card.uid, name, value});
  for (const ThunderbirdList& list : lists) {
    listRows.push_back({list.uid, list.name, list.nickName, list.description});
    for (const std::string& member : list.members) members.push_back({list.uid, member});
  }
  db.Insert("INSERT INTO properties VALUES (?, ?, ?)", rows);
  db.Insert("INSERT INTO lists VALUES (?, ?, ?, ?)", listRows);
  db.Insert("INSERT INTO list_cards VALUES (?, ?)", members);
  db.Exec("COMMIT");
}

ThunderbirdCard ThunderbirdVCardCard(const std::string& uid, const std::string& vcard,
                                     const std::string& displayName,
                                     const std::string& primaryEmail) {
  return {uid,
          {{"_vCard", vcard},
           {"DisplayName", displayName},
           {"PrimaryEmail", primaryEmail},
           {"PopularityIndex", "0"},
           {"LastModifiedDate", "1700000000"}}};
}

std::string WriteThunderbirdProfile(const std::string& home, const std::string& prefs) {
  fs::path root = fs::path(home) / ".thunderbird";
  WriteText(root / "profiles.ini",
            "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
            "[Profile0]\nName=default-release\nIsRelative=1\nPath=abcd1234.default-release\n"
            "Default=1\n");
  fs::path profile = root / "abcd1234.default-release";
  WriteText(profile / "prefs.js", prefs);
  return profile.string();
}

void WriteEvolutionBook(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& cards,
                        bool cacheShape, const std::vector<std::string>& deleted) {
  Db db(path);
  std::vector<std::vector<std::string>> rows;
  if (cacheShape) {
    db.Exec(
        "CREATE TABLE ECacheKeys (key TEXT PRIMARY KEY, value TEXT);"
        "CREATE TABLE ECacheObjects (ECacheUID TEXT PRIMARY KEY, ECacheREV TEXT, "
        "ECacheOBJ TEXT, ECacheState INTEGER, ECacheCustom TEXT, Cfile_as TEXT, "
        "Cfull_name TEXT, Cemail_1 TEXT)");
    for (const auto& [uid, vcard] : cards) rows.push_back({uid, "1", vcard, "0"});
    for (const std::string& uid : deleted)
      rows.push_back({uid, "1", "BEGIN:VCARD\r\nFN:Gone\r\nEND:VCARD\r\n", "3"});
    db.Insert(
        "INSERT INTO ECacheObjects (ECacheUID, ECacheREV, ECacheOBJ, ECacheState) "
        "VALUES (?, ?, ?, ?)",
        rows);
    return;
  }
  db.Exec(
      "CREATE TABLE folders (folder_id TEXT PRIMARY KEY, version INTEGER, multivalues TEXT, "
      "lc_collate TEXT, countrycode VARCHAR(2));"
      "INSERT INTO folders VALUES ('folder_id', 12, 'email;UF', 'en_US.UTF-8', 'US');"
      "CREATE TABLE keys (key TEXT PRIMARY KEY, value TEXT, folder_id TEXT);"
      "CREATE TABLE 'folder_id' (uid TEXT PRIMARY KEY, Rev TEXT, file_as TEXT, "
      "file_as_localized TEXT, nickname TEXT, full_name TEXT, given_name TEXT, "
      "family_name TEXT, is_list INTEGER, list_show_addresses INTEGER, wants_html INTEGER, "
      "x509Cert INTEGER, pgpCert INTEGER, vcard TEXT, bdata TEXT);"
      "CREATE TABLE 'folder_id_email_list' (uid TEXT NOT NULL, value TEXT)");
  for (const auto& [uid, vcard] : cards) rows.push_back({uid, "rev", vcard});
  db.Insert("INSERT INTO 'folder_id' (uid, Rev, vcard) VALUES (?, ?, ?)", rows);
}

void WriteEvolutionSource(const std::string& configHome, const std::string& uid,
                          const std::string& displayName) {
  WriteText(fs::path(configHome) / "evolution/sources" / (uid + ".source"),
            "[Data Source]\nDisplayName=" + displayName +
                "\nEnabled=true\nParent=local-stub\n\n[Address Book]\nBackendName=local\n");
}

}  // namespace wabtest
