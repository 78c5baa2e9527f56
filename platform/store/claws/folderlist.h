// SPDX-License-Identifier: LGPL-2.1-or-later
// Claws Mail's and Sylpheed's folderlist.xml: the mailboxes the program
// shows, each a <folder> element (type "mh" for a local MH mailbox, "imap",
// "news", ...) with its name, its path (relative to the home directory, or
// absolute) and its folder items. A pure reader: no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace store::claws {

struct Mailbox {
  std::string type;       // "mh", "imap", "news", ...
  std::string name;       // as the program shows it (UTF-8)
  std::string path;       // an MH mailbox's directory; empty for the others
  std::string inbox;      // the path below it of its folder item of type "inbox"
  std::string accountId;  // an IMAP mailbox's account
};

inline constexpr std::size_t kMaxMailboxes = 256;

// The mailboxes in the file's order; what stands before an error in the
// XML is kept. Texts that are not valid UTF-8 leave their mailbox out.
std::vector<Mailbox> ParseFolderList(std::string_view xml);

}  // namespace store::claws
