// SPDX-License-Identifier: LGPL-2.1-or-later
// The top-level header block of a message file, read and judged before any
// full parse: a message whose header block settles that it is one text part
// cannot carry an attachment, and needs no parse at all.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mime::detail {

// The header block at the start of `fd` up to and including the empty line
// that ends it, read in pages. False when none ends within the first 64 KB
// or the file cannot be read.
bool ReadTopHeaderBlock(int fd, std::string* out);
// The same through `read`, which reads up to `len` bytes at `at` like pread.
bool ReadTopHeaderBlock(const std::function<long(char* buf, std::size_t len, std::size_t at)>& read,
                        std::string* out);

// True when the full parse would give the message as one text leaf that is
// its own text: every line a plain "Name: value" header or a continuation;
// Content-Type absent or text/plain or text/html without a name parameter;
// no Content-Disposition; a Content-Transfer-Encoding, if any, of 7bit,
// 8bit, binary, quoted-printable or base64; none of the three given twice.
// Anything unusual answers false, and the message is parsed.
bool IsSingleTextPart(std::string_view headerBlock);

// A Content-Type value that names the type "text" without a subtype ("text",
// "text; charset=us-ascii") written as text/plain with the same parameters,
// as MIME reads a subtype it does not know; nullopt for any other value.
std::optional<std::string> BareTextAsPlain(std::string_view value);

}  // namespace mime::detail
