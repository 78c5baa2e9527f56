// SPDX-License-Identifier: LGPL-2.1-or-later
// Property tag names: the standard name of each property identifier a contact
// can carry, as the address book's published tags list them.
#pragma once

#include "platform/com/types.h"

namespace mq {

// The name of a property tag's identifier (its upper 16 bits; the type in the
// lower 16 bits plays no part), "PR_EMAIL_ADDRESS" say. Any identifier without
// a standard name gives "Unknown property tag 0x<id>" in lower-case
// hexadecimal. That text lives in one buffer shared by all lookups and is
// valid only until the next lookup of an unknown identifier: copy it at once.
const char* PropertyTagName(ULONG tag);

}  // namespace mq
