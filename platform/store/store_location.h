// SPDX-License-Identifier: LGPL-2.1-or-later
// Where the user's mail is: the store's root, found the same way by the
// store when it opens and by the programs that tell the user which store it
// is.
//   1. $MAILDIR when set: a Maildir tree, an mbox file or directory, a
//      Thunderbird profile, or a profiles directory (~/.thunderbird), which
//      stands for its default profile;
//   2. else ~/Maildir when it is a directory;
//   3. else the default Thunderbird profile (thunderbird/profiles.h);
//   4. else the demo store scripts/run makes when it finds none of these
//      ($XDG_DATA_HOME/mailquarry/demo-Maildir), when it exists, so that every
//      program finds what scripts/run showed;
//   5. else ~/Maildir all the same, which does not exist (the store then
//      answers that it cannot open).
#pragma once

#include <string>

namespace store {

struct StoreLocation {
  std::string root;
  bool profile = false;  // root is a Thunderbird profile: its accounts are the top folders
  bool found = false;    // root exists
  bool demo = false;     // root is the demo store, found for want of any other
  bool all = false;      // root is the home directory: every store found, as one tree
};

// The home directory: $HOME, else the password database's.
std::string HomeDirectory();

// Where scripts/run makes the demo store: $XDG_DATA_HOME/mailquarry/demo-Maildir.
std::string DemoStorePath();

// Reads $MAILDIR and $HOME (the password database when HOME is unset).
StoreLocation LocateStore();

// One line for the user: which store, of which kind, and whether it is only read.
std::string DescribeStore(const StoreLocation& location);

}  // namespace store
