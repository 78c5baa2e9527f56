// SPDX-License-Identifier: LGPL-2.1-or-later
// Address books written as other programs write them, for tests and
// benchmarks: Thunderbird's SQLite books and profile, Evolution Data
// Server's contacts.db and source file, a KDE vCard directory.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wabtest {

struct ThunderbirdCard {
  std::string uid;
  std::vector<std::pair<std::string, std::string>> properties;  // (name, value)
};
struct ThunderbirdList {
  std::string uid, name, nickName, description;
  std::vector<std::string> members;  // card uids
};

// A book database with Thunderbird's schema (properties, lists, list_cards);
// `wal` puts it in write-ahead-log mode. Replaces any file at `path`.
void WriteThunderbirdBook(const std::string& path, const std::vector<ThunderbirdCard>& cards,
                          const std::vector<ThunderbirdList>& lists = {}, bool wal = false);

// The properties Thunderbird 102 and later store for a card kept as a vCard.
ThunderbirdCard ThunderbirdVCardCard(const std::string& uid, const std::string& vcard,
                                     const std::string& displayName,
                                     const std::string& primaryEmail);

// ~/.thunderbird with profiles.ini naming one default profile, whose
// directory (returned) holds `prefs` as prefs.js.
std::string WriteThunderbirdProfile(const std::string& home, const std::string& prefs);

// A contacts.db as Evolution Data Server writes it: EBookSqlite's folder
// table (uid, summary columns, vcard) or, with `cacheShape`, EBookCache's
// ECacheObjects; (uid, vCard) pairs. `deleted` uids are stored as locally
// deleted (cache shape only).
void WriteEvolutionBook(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& cards,
                        bool cacheShape = false, const std::vector<std::string>& deleted = {});

// ~/.config/evolution/sources/<uid>.source naming an address book.
void WriteEvolutionSource(const std::string& configHome, const std::string& uid,
                          const std::string& displayName);

}  // namespace wabtest
