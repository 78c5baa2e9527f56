// SPDX-License-Identifier: LGPL-2.1-or-later
// Text of cards as phones and older programs wrote it, made UTF-8 for the
// vCard library: values in a declared charset, undeclared 8-bit text, and
// whole files in UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace wab {

// Text whose charset nobody declared (codepage::Utf8OrWindows1252).
std::string Utf8OrWindows1252(std::string_view bytes);

// A value's bytes in the charset its card declares (any name iconv knows),
// as UTF-8. A byte that is not of that charset becomes U+FFFD; a charset
// iconv does not know, and a declared UTF-8, are read as undeclared text; a
// Latin-1 or ASCII label over Windows-1252 bytes reads them as that
// (codepage::ReadAsWindows1252).
std::string DeclaredToUtf8(std::string_view bytes, std::string_view charset);

// The byte order of a file that starts with a UTF-16 byte-order mark.
enum class FileEncoding { kBytes, kUtf16LittleEndian, kUtf16BigEndian };
FileEncoding EncodingOf(std::string_view file);

// UTF-16 text (whole code units, no byte-order mark needed) as UTF-8;
// unpaired surrogates become U+FFFD. And UTF-8 text in UTF-16.
std::string Utf16ToUtf8(std::string_view bytes, FileEncoding encoding);
std::string Utf8ToUtf16(std::string_view text, FileEncoding encoding);

}  // namespace wab
