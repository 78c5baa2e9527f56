// SPDX-License-Identifier: LGPL-2.1-or-later
// The code-page rule that every reader of outside text shares: how 8-bit text
// that is not UTF-8 is read, and when a Latin-1 or ASCII label is not taken
// at its word. Mail programs and browsers read such labels as Windows-1252
// (its superset that Windows wrote under those names): bytes 0x80 to 0x9F are
// controls in Latin-1 and never text, but curly quotes, dashes and the euro
// sign in Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace codepage {

// ISO-8859-1, Latin-1 or US-ASCII under any of their usual names.
bool IsLatin1OrAsciiLabel(std::string_view charset);

// True when text labelled `charset` is read as Windows-1252: the label is a
// Latin-1 or ASCII one and `bytes` hold a byte 0x80 to 0x9F.
bool ReadAsWindows1252(std::string_view charset, std::string_view bytes);

// Windows-1252 bytes as UTF-8. The five bytes it leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) keep their Latin-1 (C1 control) meaning, as Windows
// converts them.
std::string Windows1252ToUtf8(std::string_view bytes);

// Text whose charset nobody declared: runs of valid UTF-8 stay as they are,
// every other byte is read as Windows-1252.
std::string Utf8OrWindows1252(std::string_view bytes);

// UTF-8 text that a decoder read as Latin-1: its C1 controls (U+0080 to
// U+009F, the bytes 0x80 to 0x9F) become the Windows-1252 characters of those
// bytes. Used where a library did the Latin-1 decoding.
std::string Latin1ReadAsWindows1252(std::string_view utf8);

}  // namespace codepage
