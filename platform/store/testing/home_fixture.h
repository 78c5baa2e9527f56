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

#include <string>

namespace store::testing {

struct HomeStores {
  bool maildir = true, thunderbird = true, evolution = true, evolutionImap = true, kmail = true,
       claws = true, geary = true, spool = true;
};

// Writes the stores below `home`; returns the spool's path.
std::string WriteHomeStores(const std::string& home, const HomeStores& which = {},
                            int perFolder = 2);

}  // namespace store::testing
