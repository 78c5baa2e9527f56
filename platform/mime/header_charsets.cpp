// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/header_charsets.h"

#include "platform/com/codepage.h"

namespace mime {
namespace {

// Calls `visit` with the position and length of every charset label of
// `raw`: after "=?" up to "?" or "*" (a language), and after "*=" up to "'".
template <class Visit>
void ForEachLabel(std::string_view raw, Visit&& visit) {
  for (std::size_t at = 0; at + 1 < raw.size(); ++at) {
    const bool word = raw[at] == '=' && raw[at + 1] == '?';
    const bool extended = raw[at] == '*' && raw[at + 1] == '=';
    if (!word && !extended) continue;
    const std::size_t start = at + 2;
    const std::size_t end = raw.find_first_of(word ? "?*" : "'", start);
    // A label is short; anything longer is not one.
    if (end == std::string_view::npos || end - start > 40) continue;
    visit(start, end - start);
    at = end;
  }
}

}  // namespace

bool HasLatin1Label(std::string_view raw) {
  bool found = false;
  ForEachLabel(raw, [&](std::size_t at, std::size_t length) {
    found = found || codepage::IsLatin1OrAsciiLabel(raw.substr(at, length));
  });
  return found;
}

std::string DecodeHeaderText(std::string_view raw,
                             const std::function<std::string(const std::string&)>& decode) {
  std::string relabelled;
  std::size_t copied = 0;
  bool found = false;
  ForEachLabel(raw, [&](std::size_t at, std::size_t length) {
    if (!codepage::IsLatin1OrAsciiLabel(raw.substr(at, length))) return;
    relabelled.append(raw.substr(copied, at - copied)).append("iso-8859-1");
    copied = at + length;
    found = true;
  });
  if (!found) return decode(std::string(raw));
  relabelled.append(raw.substr(copied));
  return codepage::Latin1ReadAsWindows1252(decode(relabelled));
}

}  // namespace mime
