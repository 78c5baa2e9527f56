// SPDX-License-Identifier: LGPL-2.1-or-later
// What the store reads from one mbox message's text: the content key that
// names it for good, and the state that mail programs keep in its headers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/store/store.h"

namespace store::mbox {

struct MessageFacts {
  // A hash of the text less the headers that mail programs rewrite in place
  // or on compaction (X-Mozilla-*, Status, X-Status, X-UID, X-Keywords,
  // Content-Length): the same message has it before and after a rewrite.
  std::uint64_t hash = 0;
  std::size_t headerEnd = 0;  // the header block's length, its empty line included
  DWORD flags = 0;            // MSG_FLAG_READ, _REPLIED, _FLAGGED, _DRAFT, _TRASHED
  bool deleted = false;       // deleted in Thunderbird, waiting for the folder's compaction
};

// Reads the facts of a message text (as stored: quoting makes no difference
// to them).
MessageFacts ReadFacts(std::string_view text);

// The key of the `occurrence`-th message (from 0) with this hash in a file:
// exact copies of a message are told apart by their order.
std::string MessageKey(std::uint64_t hash, unsigned occurrence);

}  // namespace store::mbox
