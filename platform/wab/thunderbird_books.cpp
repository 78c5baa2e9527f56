// SPDX-License-Identifier: LGPL-2.1-or-later
// Thunderbird's address books: SQLite files in the profile, named in prefs.js.
//   ldap_2.servers.<key>.filename     the file, in the profile directory
//   ldap_2.servers.<key>.description  the name shown (a chrome:// address for
//                                      the two built-in books)
//   ldap_2.servers.<key>.dirType      101 a local book, 102 a CardDAV book
//                                      (kept locally in the same form); others
//                                      (LDAP) are not local books
// The built-in books "pab" (abook.sqlite) and "history" (history.sqlite) are
// in Thunderbird's defaults, so prefs.js names them only when changed.
// A database holds properties(card, name, value), one row per property of a
// card; since Thunderbird 102 a card's whole vCard is its _vCard property,
// older cards have only separate properties. Mailing lists are rows of
// lists(uid, name, nickName, description).
#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string_view>
#include <unordered_map>

#include "platform/store/thunderbird/prefs_js.h"
#include "platform/store/thunderbird/profiles.h"
#include "platform/wab/database_book.h"
#include "platform/wab/found_books.h"
#include "platform/wab/thunderbird_card.h"

namespace wab {
namespace {

constexpr std::size_t kMaxPrefsBytes = 16 << 20;
constexpr const char kPersonal[] = "abook.sqlite";
constexpr const char kCollected[] = "history.sqlite";

std::string Text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

// A column's text as SQLite holds it, valid until the next step.
std::string_view View(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string_view(reinterpret_cast<const char*>(text),
                                 static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
              : std::string_view();
}

// Hashes strings and views alike, so a row's card is looked up without a copy.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>()(text);
  }
};

// Prepares `sql` in listing order, else without the order (a table without
// a rowid).
sqlite3_stmt* PrepareOrdered(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, (sql + " ORDER BY rowid").c_str(), -1, &statement, nullptr) ==
      SQLITE_OK)
    return statement;
  sqlite3_finalize(statement);
  statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) return statement;
  sqlite3_finalize(statement);
  return nullptr;
}

int IndexOf(const std::vector<std::string>& columns, const char* name) {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (!strcasecmp(columns[i].c_str(), name)) return static_cast<int>(i);
  return -1;
}

bool ReadLists(sqlite3* db, std::vector<StoredCard>* cards) {
  std::vector<std::string> columns = ColumnsOf(db, "lists");
  if (columns.empty()) return true;  // a book without lists
  int uid = IndexOf(columns, "uid"), name = IndexOf(columns, "name"),
      nick = IndexOf(columns, "nickName"), description = IndexOf(columns, "description");
  if (uid < 0 || name < 0) return true;
  sqlite3_stmt* statement = PrepareOrdered(db, "SELECT * FROM lists");
  if (!statement) return false;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    std::string id = Text(statement, uid);
    cards->push_back(
        {"list:" + id, GroupCard(id, Text(statement, name), nick < 0 ? "" : Text(statement, nick),
                                 description < 0 ? "" : Text(statement, description))});
  }
  sqlite3_finalize(statement);
  return rc == SQLITE_DONE;
}

// Numbers in names compared as numbers: abook-2 before abook-10.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) &&
        std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool ReadThunderbirdCards(sqlite3* db, std::vector<StoredCard>* cards) {
  std::vector<std::string> columns = ColumnsOf(db, "properties");
  if (IndexOf(columns, "card") < 0 || IndexOf(columns, "name") < 0 || IndexOf(columns, "value") < 0)
    return false;
  sqlite3_stmt* statement = PrepareOrdered(db, "SELECT card, name, value FROM properties");
  if (!statement) return false;
  // Cards in the order their first property was stored. A card with its
  // whole vCard needs nothing else; the others keep every property.
  struct Found {
    std::string uid;
    CardProperties properties;
    std::string whole;
  };
  std::vector<Found> found;
  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> index;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const std::string_view card = View(statement, 0);
    // A card's properties mostly stand together: the last card is looked at first.
    std::size_t at = found.size() - 1;
    if (found.empty() || found[at].uid != card) {
      auto it = index.find(card);
      if (it == index.end()) {
        it = index.emplace(std::string(card), found.size()).first;
        found.push_back({it->first, {}, {}});
      }
      at = it->second;
    }
    Found& entry = found[at];
    const std::string_view name = View(statement, 1), value = View(statement, 2);
    if (name == "_vCard" && !value.empty()) {
      entry.whole.assign(value);
      CardProperties().swap(entry.properties);
    } else if (entry.whole.empty()) {
      entry.properties.emplace_back(name, value);
    }
  }
  sqlite3_finalize(statement);
  if (rc != SQLITE_DONE) return false;
  cards->reserve(found.size());
  for (Found& card : found) {
    std::string text =
        card.whole.empty() ? CardFromProperties(card.properties, card.uid) : std::move(card.whole);
    cards->push_back({std::move(card.uid), std::move(text)});
  }
  return ReadLists(db, cards);
}

std::vector<FoundBook> ThunderbirdBooks(const std::string& profile) {
  std::vector<FoundBook> out;
  if (profile.empty()) return out;
  // file name → name shown, from the built-in books and prefs.js.
  std::map<std::string, std::string> books = {{kPersonal, "Personal Address Book"},
                                              {kCollected, "Collected Addresses"}};
  std::optional<std::string> text =
      store::thunderbird::ReadSmallFile(profile + "/prefs.js", kMaxPrefsBytes);
  store::thunderbird::Prefs prefs = store::thunderbird::ParsePrefs(text ? *text : "");
  const std::string prefix = "ldap_2.servers.", suffix = ".filename";
  for (const auto& [pref, file] : prefs.values) {
    if (pref.size() <= prefix.size() + suffix.size() || pref.compare(0, prefix.size(), prefix) ||
        pref.compare(pref.size() - suffix.size(), suffix.size(), suffix))
      continue;
    std::string key = pref.substr(0, pref.size() - suffix.size());
    const std::string* type = prefs.Get(key + ".dirType");
    if (type && *type != "101" && *type != "102") continue;
    // Only a plain file name of the profile directory.
    if (file.empty() || file.find('/') != std::string::npos || file[0] == '.') continue;
    const std::string* description = prefs.Get(key + ".description");
    if (description && !description->empty() && description->rfind("chrome://", 0) != 0)
      books[file] = *description;
    else if (!books.count(file))
      books[file] = file;
  }
  std::vector<std::string> files;
  for (const auto& [file, name] : books)
    if (IsRegularFile(profile + "/" + file)) files.push_back(file);
  auto rank = [](const std::string& f) { return f == kPersonal ? 0 : f == kCollected ? 2 : 1; };
  std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) {
    return rank(a) != rank(b) ? rank(a) < rank(b) : NaturalLess(a, b);
  });
  for (const std::string& file : files) {
    std::string path = profile + "/" + file;
    out.push_back({"thunderbird:" + file, "Thunderbird", books[file], path,
                   std::make_shared<DatabaseBook>(path, ReadThunderbirdCards)});
  }
  return out;
}

std::string ThunderbirdProfileFor(const std::string& home) {
  namespace tb = store::thunderbird;
  const char* maildir = std::getenv("MAILDIR");
  if (maildir && *maildir) {
    std::string root = maildir;
    if (tb::IsProfilesDirectory(root)) {
      if (auto profile = tb::DefaultProfileIn(root)) return *profile;
    }
    if (tb::IsProfile(root)) return root;
  }
  if (home.empty()) return {};
  return tb::FindDefaultProfile(home).value_or("");
}

}  // namespace wab
