// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary properties of an old-style Thunderbird card (before cards
// kept their whole vCard) to the building of its vCard: records separated by
// NUL, each "name=value" (the value may hold anything but NUL). The card built
// must be exactly one card that the address book reads back as a mail user,
// and a mailing list's group card one that reads back as a group.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/wab/card_splitter.h"
#include "platform/wab/thunderbird_card.h"
#include "platform/wab/vcard_mapping.h"
#include "platform/wab/wab.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_log_set_handler(
      "libebook-contacts", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK & ~G_LOG_LEVEL_ERROR),
      [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  return 0;
}

namespace {

void ReadsBackAs(const std::string& card, ULONG objectType) {
  if (wab::SplitCards(card).size() != 1) std::abort();
  wab::Contact contact;
  if (!wab::ReadContact(card, &contact) || contact.objectType != objectType) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  wab::CardProperties properties;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\0', start);
    if (end == std::string_view::npos) end = input.size();
    std::string_view record = input.substr(start, end - start);
    std::size_t equals = record.find('=');
    if (equals != std::string_view::npos)
      properties.emplace_back(record.substr(0, equals), record.substr(equals + 1));
    start = end + 1;
  }
  const std::string uid = properties.empty() ? "" : properties.front().second;
  ReadsBackAs(wab::CardFromProperties(properties, uid), MAPI_MAILUSER);
  const std::string name = properties.size() > 1 ? properties[1].second : "";
  ReadsBackAs(wab::GroupCard(uid, name, name, uid), MAPI_DISTLIST);
  return 0;
}
