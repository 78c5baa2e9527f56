// SPDX-License-Identifier: LGPL-2.1-or-later
// What the engine's entry identifiers hold. After the four flag bytes of every
// identifier, one byte tells what it names:
//   'P'  the personal address book (the book itself)
//   'M'  the template for new mail users, 'D' for new distribution lists
//   'C'  a card: its file name, a NUL, then 'U' and the card's UID when the
//        UID names exactly one card of the file, else 'F' and a fingerprint
//        of the card's bytes.
//   'B'  a card of another program's book: the book's identifier, a NUL,
//        then the card as after 'C'. Our own book's cards keep the 'C' form.
// A card identifier stays valid while the file holds a card with that UID (or
// those exact bytes), so a stale one finds nothing rather than another card.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/com/types.h"

namespace wab {

enum class EntryKind { kInvalid, kBook, kMailUserTemplate, kDistListTemplate, kCard };

struct CardKey {
  std::string fileName;
  char keyKind = 0;  // 'U' or 'F'
  std::string key;
  bool operator==(const CardKey&) const = default;
};

std::string MakeEntryId(EntryKind kind);  // not for kCard
// A card of our own book when `book` is empty, else of the found book of
// that identifier.
std::string MakeCardEntryId(const CardKey& card, std::string_view book = {});

// What `bytes` names; for a card also fills `card` and `book` (empty for our
// own book). Anything malformed is kInvalid.
EntryKind ParseEntryId(const BYTE* bytes, ULONG size, CardKey* card, std::string* book = nullptr);

}  // namespace wab
