// SPDX-License-Identifier: LGPL-2.1-or-later
// Thunderbird's cards stored as separate properties (before Thunderbird 102
// kept each card's whole vCard as its _vCard property), made into vCard text
// for the one card reader, and its mailing lists made into group cards.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wab {

// (name, value) pairs as the properties table holds them; the last value of
// a name wins. Values that are not UTF-8 are read as Windows-1252.
using CardProperties = std::vector<std::pair<std::string, std::string>>;

// A vCard 3.0 card (CRLF lines) of the properties, UID `uid`. Properties
// that no vCard property holds are left out.
std::string CardFromProperties(const CardProperties& properties, const std::string& uid);

// A group card (KIND:group) for a mailing list.
std::string GroupCard(const std::string& uid, const std::string& name, const std::string& nickName,
                      const std::string& description);

}  // namespace wab
