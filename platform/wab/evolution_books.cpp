// SPDX-License-Identifier: LGPL-2.1-or-later
// Evolution Data Server's address books (Evolution, GNOME Contacts): one
// directory per book under ~/.local/share/evolution/addressbook/, holding
// contacts.db. The book's name is the DisplayName of its source file,
// ~/.config/evolution/sources/<book>.source (the personal book's directory is
// "system", its source "system-address-book"). The contacts table and its
// columns differ between versions: a table with "uid" and "vcard" columns
// (EBookSqlite, named after the folder), or ECacheObjects with "ECacheUID"
// and "ECacheOBJ" (EBookCache); the columns are found by name.
#include <dirent.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/wab/card_charsets.h"
#include "platform/wab/database_book.h"
#include "platform/wab/found_books.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

namespace wab {
namespace {

constexpr const char kPersonalDirectory[] = "system";
constexpr const char kPersonalSource[] = "system-address-book";
// ECacheState of a contact deleted locally and not yet removed on the server.
constexpr int kLocallyDeleted = 3;

struct CardColumns {
  std::string table, uid, vcard, state;
};

bool FindCardColumns(sqlite3* db, CardColumns* out) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                         -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return false;
  }
  std::vector<std::string> tables;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(statement, 0);
    if (name) tables.emplace_back(reinterpret_cast<const char*>(name));
  }
  sqlite3_finalize(statement);
  const struct {
    const char *uid, *vcard, *state;
  } shapes[] = {{"uid", "vcard", nullptr}, {"ECacheUID", "ECacheOBJ", "ECacheState"}};
  for (const std::string& table : tables) {
    std::vector<std::string> columns = ColumnsOf(db, table);
    auto has = [&](const char* name) -> const std::string* {
      for (const std::string& c : columns)
        if (!strcasecmp(c.c_str(), name)) return &c;
      return nullptr;
    };
    for (const auto& shape : shapes) {
      const std::string* uid = has(shape.uid);
      const std::string* vcard = has(shape.vcard);
      if (!uid || !vcard) continue;
      const std::string* state = shape.state ? has(shape.state) : nullptr;
      *out = {table, *uid, *vcard, state ? *state : ""};
      return true;
    }
  }
  return false;
}

std::string Quoted(const std::string& name) {
  char* quoted = sqlite3_mprintf("\"%w\"", name.c_str());
  std::string out = quoted ? quoted : "";
  sqlite3_free(quoted);
  return out;
}

std::string DisplayNameOf(const std::string& sourceFile) {
  GKeyFile* file = g_key_file_new();
  std::string name;
  if (g_key_file_load_from_file(file, sourceFile.c_str(), G_KEY_FILE_NONE, nullptr)) {
    gchar* value = g_key_file_get_string(file, "Data Source", "DisplayName", nullptr);
    if (value) name = Utf8OrWindows1252(value);
    g_free(value);
  }
  g_key_file_free(file);
  return name;
}

}  // namespace

bool ReadEvolutionCards(sqlite3* db, std::vector<StoredCard>* cards) {
  CardColumns columns;
  if (!FindCardColumns(db, &columns)) return false;
  std::string sql = "SELECT " + Quoted(columns.uid) + ", " + Quoted(columns.vcard) + " FROM " +
                    Quoted(columns.table);
  if (!columns.state.empty())
    sql += " WHERE " + Quoted(columns.state) + " IS NOT " + std::to_string(kLocallyDeleted);
  sqlite3_stmt* statement = nullptr;
  for (const char* order : {" ORDER BY rowid", ""}) {
    if (sqlite3_prepare_v2(db, (sql + order).c_str(), -1, &statement, nullptr) == SQLITE_OK) break;
    sqlite3_finalize(statement);
    statement = nullptr;
  }
  if (!statement) return false;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const unsigned char* uid = sqlite3_column_text(statement, 0);
    const unsigned char* vcard = sqlite3_column_text(statement, 1);
    if (!vcard) continue;  // a contact stored without its card
    cards->push_back({uid ? reinterpret_cast<const char*>(uid) : "",
                      std::string(reinterpret_cast<const char*>(vcard),
                                  static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)))});
  }
  sqlite3_finalize(statement);
  return rc == SQLITE_DONE;
}

std::vector<FoundBook> EvolutionBooks(const UserDirectories& dirs) {
  std::vector<FoundBook> out;
  if (dirs.data.empty()) return out;
  const std::string root = dirs.data + "/evolution/addressbook";
  std::vector<std::string> names;
  if (DIR* dir = opendir(root.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      struct stat st;
      if (name.empty() || name[0] == '.' || name == "trash") continue;
      if (stat((root + "/" + name + "/contacts.db").c_str(), &st) == 0 && S_ISREG(st.st_mode))
        names.push_back(std::move(name));
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    bool pa = a == kPersonalDirectory, pb = b == kPersonalDirectory;
    return pa != pb ? pa : a < b;
  });
  for (const std::string& name : names) {
    std::string source = name == kPersonalDirectory ? kPersonalSource : name;
    std::string shown =
        dirs.config.empty()
            ? ""
            : DisplayNameOf(dirs.config + "/evolution/sources/" + source + ".source");
    if (shown.empty()) shown = name == kPersonalDirectory ? "Personal" : Utf8OrWindows1252(name);
    std::string path = root + "/" + name + "/contacts.db";
    out.push_back({"evolution:" + name, "Evolution", shown, path,
                   std::make_shared<DatabaseBook>(path, ReadEvolutionCards)});
  }
  return out;
}

}  // namespace wab
