// SPDX-License-Identifier: LGPL-2.1-or-later
// A home directory holding the stores of several mail programs at once, each
// written as its program writes it: ~/Maildir (Maildir++), a Thunderbird
// profile (Local Folders), Evolution's local folders (with its "..maildir++"
// marker and escaped names) and its offline copy of an IMAP account (named in
// its source file, the read state in folders.db as Evolution 3.58 keeps it),
// KMail's local folders (".X.directory"), Claws Mail's MH mailbox ~/Mail
// listed in its folderlist.xml (.claws_mark), a Geary account's database,
// and a mail spool (an mbox file, named by $MAIL). Every folder holds
// `perFolder` messages (subjects "<store> <folder> <n>"), the first one read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace store::testing {

// A 32-bit number as Claws Mail's mark files keep it on a little-endian host.
inline std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// A Thunderbird profile's prefs.js with Local Folders its one account.
inline const char kLocalFoldersPrefs[] =
    "user_pref(\"mail.account.account1.server\", \"server1\");\n"
    "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n"
    "user_pref(\"mail.accountmanager.defaultaccount\", \"account1\");\n"
    "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
    "user_pref(\"mail.server.server1.name\", \"Local Folders\");\n"
    "user_pref(\"mail.server.server1.type\", \"none\");\n";

// The tables of Geary's database a listing reads.
inline const char kGearyTables[] =
    "CREATE TABLE FolderTable (id INTEGER PRIMARY KEY, name TEXT, parent_id INTEGER);"
    "CREATE TABLE MessageTable (id INTEGER PRIMARY KEY, header TEXT, body TEXT, flags TEXT);"
    "CREATE TABLE MessageLocationTable (id INTEGER PRIMARY KEY, message_id INTEGER,"
    " folder_id INTEGER, ordering INTEGER, remove_marker INTEGER DEFAULT 0);";

// An mbox file of `texts`, each after an envelope line, its "From " lines quoted.
std::string MboxText(const std::vector<std::string>& texts);
// Claws Mail's .claws_mark: its version, then (message number, flags) pairs.
std::string ClawsMarks(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries);
// The rows of a message in Geary's database, its text split into header and
// body at the empty line.
std::string GearyMessageSql(int id, int folder, int ordering, const std::string& text,
                            const char* flags, bool removed = false);

struct HomeStores {
  bool maildir = true, thunderbird = true, evolution = true, evolutionImap = true, kmail = true,
       claws = true, geary = true, spool = true;
};

// Writes the stores below `home`; returns the spool's path.
std::string WriteHomeStores(const std::string& home, const HomeStores& which = {},
                            int perFolder = 2);

}  // namespace store::testing
