// SPDX-License-Identifier: LGPL-2.1-or-later
// Gmail labels as a Takeout archive writes them: each message carries an
// X-Gmail-Labels header, a comma-separated list of its labels, where a label
// holding a comma is written in double quotes ("Work, old"). A user label
// "Work/Projects" is the label Projects nested under Work.
//
// Each label is shown as a folder. The folder names of Gmail's own labels:
//   Inbox, Sent, Drafts, Starred, Important, Spam, Trash   as Gmail shows them
//                                                           ("Draft" as Drafts)
//   Opened, Unread, Archived   the labels Takeout adds for read and archived
//                              messages, each a folder of its own
//   Chat                       chat transcripts: a folder of their own, so they
//                              are neither lost nor mixed into the mail
//   Category Personal, …       Gmail's inbox tabs, as Categories/Personal,
//                              Categories/Social, Categories/Promotions,
//                              Categories/Updates, Categories/Forums
// Gmail's own names are recognised in any case; every other label is a user
// label, its path taken apart at '/'.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace store::gmail {

inline constexpr char kLabelsHeader[] = "X-Gmail-Labels";

// Folders deeper than this keep the rest of the label's path in the last name
// (with U+2215 for '/', as no folder name holds a '/').
inline constexpr std::size_t kMaxLabelDepth = 16;
// Labels read from one header, at most; a longer label is not a label.
inline constexpr std::size_t kMaxLabels = 512;
inline constexpr std::size_t kMaxLabelBytes = 1024;

// The raw value of the X-Gmail-Labels header in a message's header block
// (its continuation lines included); nullopt when there is none.
std::optional<std::string_view> FindLabelsHeader(std::string_view headerBlock);

// The folder paths of the labels in a raw header value, each joined with
// '/' ("Categories/Social"), in order and each once; `unread` tells whether
// the message is labelled Unread.
std::vector<std::string> LabelFolderPaths(std::string_view raw, bool* unread);

// The header's raw value unfolded, RFC 2047 encoded words decoded (Takeout
// encodes non-ASCII labels, sometimes the whole list in one encoded word), as
// valid UTF-8.
std::string DecodeLabelsHeader(std::string_view raw);

// The labels in a decoded header value, in order, each once, without quotes
// and surrounding white space; empty labels are dropped.
std::vector<std::string> SplitLabels(std::string_view decoded);

// The folder path that shows a label, from the top: {"Inbox"},
// {"Categories", "Social"}, {"Work", "Projects"}. Never empty for a label
// that SplitLabels gave; no name is empty or holds '/' or a control
// character (a label of slashes or blanks only is the folder "_").
std::vector<std::string> LabelFolder(std::string_view label);

}  // namespace store::gmail
