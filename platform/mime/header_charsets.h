// SPDX-License-Identifier: LGPL-2.1-or-later
// The code-page rule (platform/com/codepage.h) applied to header text, whose
// charset labels sit inside it: RFC 2047 encoded words ("=?iso-8859-1?q?...?=")
// and RFC 2231 parameter values ("filename*=iso-8859-1''...").
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mime {

// True when a label of `raw` is a Latin-1 or ASCII one.
bool HasLatin1Label(std::string_view raw);

// `raw` decoded by `decode` (a library's header decoding) so that text under
// a Latin-1 or ASCII label reads as Windows-1252 where it holds the bytes
// 0x80 to 0x9F: such labels are handed to `decode` as ISO-8859-1 (every byte
// arrives, none is dropped as not ASCII), and the C1 controls that gives are
// turned into their Windows-1252 characters.
std::string DecodeHeaderText(std::string_view raw,
                             const std::function<std::string(const std::string&)>& decode);

}  // namespace mime
