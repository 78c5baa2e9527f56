// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the address book as a card file: split it into
// cards (UTF-16 files too), read each through its charsets, the vCard library
// and the mapping, write the mapped contact as a new card and read that back.
// Every card span must lie inside the input, and a written card must read
// back as one card with the same display name and object type.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/wab/card_charsets.h"
#include "platform/wab/card_splitter.h"
#include "platform/wab/vcard_mapping.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

// The vCard library's warnings about odd input would flood the output (the
// address book drops them too).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_log_set_handler(
      "libebook-contacts", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK & ~G_LOG_LEVEL_ERROR),
      [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view file(reinterpret_cast<const char*>(data), size);
  const bool unicode = wab::EncodingOf(file) != wab::FileEncoding::kBytes;
  std::size_t end = 0;
  for (const wab::CardSpan& span : wab::SplitCards(file)) {
    if (span.offset < end || span.offset + span.length > file.size()) std::abort();
    // A UTF-16 file is cut between whole code units only.
    if (unicode && (span.offset % 2 || span.length % 2)) std::abort();
    end = span.offset + span.length;
    std::string card = wab::CardTextOf(file, span);
    if (!unicode && wab::JoinSoftLineBreaks(card).size() > card.size()) std::abort();
    wab::Contact contact;
    if (!wab::ReadContact(card, &contact, unicode)) continue;
    std::string written = wab::WriteNewCard(contact.properties, contact.objectType, "fuzz-uid");
    auto cards = wab::SplitCards(written);
    if (cards.size() != 1) std::abort();
    wab::Contact again;
    if (!wab::ReadContact(written, &again)) std::abort();
    if (again.objectType != contact.objectType || again.uid != "fuzz-uid") std::abort();
  }
  return 0;
}
