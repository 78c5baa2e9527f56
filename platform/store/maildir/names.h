// SPDX-License-Identifier: LGPL-2.1-or-later
// Maildir vocabulary: folder-name encoding, message file names and their
// flags, unique names: pure functions, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"

namespace store::maildir {

// One folder name component <-> its on-disk form. The on-disk form is IMAP
// modified UTF-7, as Courier and Dovecot write it: printable ASCII stands for
// itself, "&" is "&-", everything else is "&" + modified base64 of UTF-16 +
// "-". The hierarchy separator "." and the path separator "/" cannot stand for
// themselves inside a component, so they are encoded like non-ASCII text
// ("." is "&AC4-", "/" is "&AC8-"); every UTF-8 name therefore round-trips.
std::string EncodeName(std::string_view utf8);
// nullopt when `onDisk` is not well-formed modified UTF-7.
std::optional<std::string> DecodeName(std::string_view onDisk);
// The name shown for an on-disk component: decoded, or the raw bytes made valid
// UTF-8 when it does not decode.
std::string DisplayName(std::string_view onDisk);
// The bytes as valid UTF-8 (invalid sequences replaced).
std::string ValidUtf8(std::string_view bytes);

// Splits the on-disk directory name of a folder (".A.A1") into its components;
// empty for Inbox (""); nullopt when it is not a folder directory name.
std::optional<std::vector<std::string>> SplitFolderDir(std::string_view dir);

// A message file name: the unique part before ":2," and the info letters.
struct FileName {
  std::string_view uniq;
  std::string_view info;  // the letters after ":2,", empty when none
  bool hasInfo = false;
};
FileName ParseFileName(std::string_view name);

// The part of a unique name that names the message for good: the unique name
// without mbsync's ",U=<uid>", which that program adds, changes and drops as
// it syncs. Returns `uniq` itself when it carries none, else the name built in
// `buffer`.
std::string_view MessageKey(std::string_view uniq, std::string* buffer);

// MSG_FLAG_* bits from the info letters, and info letters for flag bits (the
// letters we do not know are kept, sorted as Maildir asks).
DWORD FlagsFromInfo(std::string_view info);
std::string InfoWithFlags(std::string_view oldInfo, DWORD flags);
// uniq + ":2," + info.
std::string CurName(std::string_view uniq, std::string_view info);

// A new unique name: "<seconds>.M<micros>P<pid>Q<counter>R<random>.<host>".
std::string NewUniqueName();
// The delivery time in the unique name's leading "<seconds>.", when there is one.
std::optional<std::int64_t> DeliverySeconds(std::string_view uniq);

}  // namespace store::maildir
