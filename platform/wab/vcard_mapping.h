// SPDX-License-Identifier: LGPL-2.1-or-later
// The one table between vCard properties and the address book's property
// tags, and the two directions over it: a card's text to the properties of a
// contact, and a new contact's properties to a vCard 3.0 card. Parsing and
// writing are the vCard library's (libebook-contacts); this file only decides
// which vCard property feeds which tag.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/wab/property_list.h"

namespace wab {

struct Contact {
  ULONG objectType = 0;  // MAPI_MAILUSER or MAPI_DISTLIST
  std::string uid;       // the card's UID, empty when it has none
  // Each tag at most once, in ascending tag order; PR_DISPLAY_NAME always.
  PropertyList properties;
  // What the properties are a view of: one buffer, never changed while it is
  // shared, so copies of a contact share it (a contact read from the card
  // cache keeps the cache's bytes).
  std::shared_ptr<const void> texts;

  // Makes `owned` (in its order) the properties, their texts copied into one
  // buffer of this contact's own.
  void SetProperties(const std::vector<OwnedProperty>& owned);
  std::optional<std::string_view> Find(ULONG tag) const;
  std::string DisplayName() const;
};

// Reads one card (the exact bytes of one BEGIN..END block; UTF-8 text when
// `textIsUnicode`, as a UTF-16 file's cards are given). False when the
// library finds no card in it.
bool ReadContact(std::string_view cardText, Contact* out, bool textIsUnicode = false);

// A vCard 3.0 card (CRLF lines) for a new entry: UID `uid`, the object type
// (a group is written as KIND:group) and every non-empty property that the
// table can write. Properties the table does not know are not written.
std::string WriteNewCard(const PropertyList& properties, ULONG objectType, const std::string& uid);

// Whether SetProps can store a property of this tag (the table writes it).
bool IsWritableTag(ULONG tag);

// The field label shown for a tag in the details dialog ("E-mail address"),
// or null for tags that are not shown.
const char* FieldLabel(ULONG tag);

// FILETIME ticks of a calendar date; false for dates that cannot be.
bool DateToFileTime(int year, int month, int day, LONGLONG* ticks);
// "YYYY-MM-DD" of FILETIME ticks; empty when they are no date.
std::string DateText(LONGLONG ticks);

}  // namespace wab
