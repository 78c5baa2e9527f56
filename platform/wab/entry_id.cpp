// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/entry_id.h"

namespace wab {
namespace {
constexpr std::string_view kFlags("\0\0\0\0", 4);
}

std::string MakeEntryId(EntryKind kind) {
  std::string id(kFlags);
  switch (kind) {
    case EntryKind::kBook:
      id += 'P';
      break;
    case EntryKind::kMailUserTemplate:
      id += 'M';
      break;
    case EntryKind::kDistListTemplate:
      id += 'D';
      break;
    default:
      id += '?';
      break;
  }
  return id;
}

std::string MakeCardEntryId(const CardKey& card, std::string_view book) {
  std::string id(kFlags);
  if (book.empty()) {
    id += 'C';
  } else {
    id += 'B';
    id += book;
    id += '\0';
  }
  id += card.fileName;
  id += '\0';
  id += card.keyKind;
  id += card.key;
  return id;
}

EntryKind ParseEntryId(const BYTE* bytes, ULONG size, CardKey* card, std::string* book) {
  if (!bytes || size < 5) return EntryKind::kInvalid;
  std::string_view id(reinterpret_cast<const char*>(bytes), size);
  if (id.substr(0, 4) != kFlags) return EntryKind::kInvalid;
  char kind = id[4];
  std::string_view rest = id.substr(5);
  std::string_view bookId;
  if (kind == 'B') {
    std::size_t end = rest.find('\0');
    if (end == std::string_view::npos || end == 0) return EntryKind::kInvalid;
    bookId = rest.substr(0, end);
    rest = rest.substr(end + 1);
    kind = 'C';
  }
  if (kind != 'C') {
    if (!rest.empty()) return EntryKind::kInvalid;
    if (kind == 'P') return EntryKind::kBook;
    if (kind == 'M') return EntryKind::kMailUserTemplate;
    if (kind == 'D') return EntryKind::kDistListTemplate;
    return EntryKind::kInvalid;
  }
  std::size_t nul = rest.find('\0');
  if (nul == std::string_view::npos || nul == 0 || nul + 1 >= rest.size())
    return EntryKind::kInvalid;
  std::string_view name = rest.substr(0, nul);
  char keyKind = rest[nul + 1];
  std::string_view key = rest.substr(nul + 2);
  // A card identifier names a file of the book, never a path elsewhere.
  if (name.find('/') != std::string_view::npos || name == "." || name == "..")
    return EntryKind::kInvalid;
  if ((keyKind != 'U' && keyKind != 'F') || key.empty()) return EntryKind::kInvalid;
  if (card) *card = {std::string(name), keyKind, std::string(key)};
  if (book) *book = std::string(bookId);
  return EntryKind::kCard;
}

}  // namespace wab
