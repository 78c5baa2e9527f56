// SPDX-License-Identifier: LGPL-2.1-or-later
// What the MIME layer decides and does about one part of a parsed tree,
// shared by its message objects.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/hresult.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <gmime/gmime.h>

namespace mime::detail {

// The leaves that a client's attachment walk confirms (GetAttachments, then
// IsBodyType with IBT_ATTACHMENT), in its order.
std::vector<GMimeObject*> AttachmentLeaves(GMimeObject* root);

// The part's display name, as IMimeBody::GetDisplayName gives it.
std::string PartDisplayName(GMimeObject* part);

// Receives decoded bytes; answers 0 or an errno value, which ends the decoding.
using ByteSink = std::function<int(const char* data, std::size_t size)>;

// Decodes a leaf's content (base64, quoted-printable, uuencode) into `write`.
int DecodePart(GMimePart* part, const ByteSink& write);

// Writes the part as IMimeBody::SaveToFile does: a leaf decoded, an attached
// message as its bytes.
HRESULT SavePart(GMimeObject* part, bool crlf, const char* path);

// Creates `path` as a plain file (no link followed, nothing but a regular
// file written to), has `write` fill it (0 or an errno value), and removes it
// again when that fails: a partly written file would pass for the whole one.
HRESULT SaveToPath(const char* path, const std::function<int(int fd)>& write);

}  // namespace mime::detail
