// SPDX-License-Identifier: LGPL-2.1-or-later
// Finding every mail store a user has, with MAILDIR unset: the stat of a few
// known places in the home directory, never a walk of it. In the order the
// tree shows them: ~/Maildir, the default Thunderbird profile, Evolution's
// local folders and its offline copies of IMAP accounts, KMail's local
// folders, the MH mailboxes of Claws Mail's and Sylpheed's
// folder lists, Geary's accounts, the mail spool ($MAIL, else /var/mail/$USER), and ~/Mail
// (mutt's and mailutils' folder directory) when no other store is there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/store/engine/folder_layout.h"

namespace store::home {

enum class Kind {
  kMaildir,
  kThunderbird,
  kEvolution,
  kEvolutionImap,
  kKMail,
  kMh,
  kGeary,
  kSpool,
  kMailDirectory
};

struct StorePlace {
  Kind kind;
  // Names the store for good in the one tree: a folder's dir there is its
  // store's key and its dir in the store. No ':' in it.
  std::string key;
  std::string name;  // for people: "Evolution: On This Computer"
  std::string root;
  std::string inboxHint;  // an MH mailbox's inbox, as its folder list names it
};

// The stores of the user whose home directory is `home` (reads $MAIL and
// $USER), each once however many ways lead to it.
std::vector<StorePlace> FindStores(const std::string& home);

// The layout of the store at `place`, its tree read into `scan`; null when
// it is no store after all.
std::unique_ptr<FolderLayout> OpenPlace(const StorePlace& place, TreeScan* scan);

}  // namespace store::home
