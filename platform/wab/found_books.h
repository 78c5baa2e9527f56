// SPDX-License-Identifier: LGPL-2.1-or-later
// The address books other programs keep for this user, found where each
// program keeps them, read-only. The contact list shows our own book first,
// then these in a fixed order:
//   1. Thunderbird's books in its default profile (found as the mail store
//      finds it): the personal book (abook.sqlite), the books prefs.js names
//      (abook-N.sqlite and others) by file name with numbers compared as
//      numbers, then the collected addresses (history.sqlite);
//   2. Evolution Data Server's books (Evolution, GNOME Contacts): every
//      ~/.local/share/evolution/addressbook/<book>/contacts.db, the personal
//      book ("system") first, then by directory name;
//   3. KDE's personal contacts, the vCard directory ~/.local/share/contacts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/wab/card_source.h"

struct sqlite3;

namespace wab {

struct FoundBook {
  std::string id;       // stable from run to run: "thunderbird:abook.sqlite", "evolution:system"
  std::string program;  // "Thunderbird", "Evolution", "KDE"
  std::string name;     // the name the program shows
  std::string path;     // its database or directory
  std::shared_ptr<CardSource> source;
};

// Where the user's files are: $XDG_DATA_HOME and $XDG_CONFIG_HOME when set
// to absolute paths, else under $HOME.
struct UserDirectories {
  std::string home, data, config;
};
UserDirectories UserDirectoriesFromEnvironment();

// One line for the user per book that the address book lists, our own
// first: which program's, its name and where it is.
std::vector<std::string> DescribeAddressBooks();

// Every book found, in the order above.
std::vector<FoundBook> FindOtherBooks(const UserDirectories& dirs);

// Each program's books, in its part of that order.
std::vector<FoundBook> ThunderbirdBooks(const std::string& profile);
std::vector<FoundBook> EvolutionBooks(const UserDirectories& dirs);
std::vector<FoundBook> KdeBooks(const UserDirectories& dirs);

// The profile whose books are read: the one $MAILDIR names when it is a
// Thunderbird profile (or profiles directory), else the default profile
// under `home`; empty when there is none.
std::string ThunderbirdProfileFor(const std::string& home);

// The card readers of each program's database.
bool ReadThunderbirdCards(sqlite3* db, std::vector<struct StoredCard>* cards);
bool ReadEvolutionCards(sqlite3* db, std::vector<struct StoredCard>* cards);

}  // namespace wab
