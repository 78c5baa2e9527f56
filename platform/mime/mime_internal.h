// SPDX-License-Identifier: LGPL-2.1-or-later
// Pieces of the MIME layer that are worth testing on their own.
#pragma once

#include <string>
#include <string_view>

namespace mime::detail {

// Turns a name taken from a mail header (hostile input) into a plain file
// name: valid UTF-8, no control characters, no directory part, at most
// kMaxNameBytes bytes. Returns an empty string when nothing usable is left
// (empty, "." or ".."); the caller then makes up a name.
std::string SanitizeFileName(std::string_view raw);

// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t limit);

// "attachment" plus an extension that fits the media type ("attachment.pdf").
std::string GeneratedName(std::string_view type, std::string_view subtype);

// Long enough for any real name, short enough that a directory in front of it
// still leaves the file creatable (NAME_MAX is 255 bytes).
constexpr std::size_t kMaxNameBytes = 200;

}  // namespace mime::detail
