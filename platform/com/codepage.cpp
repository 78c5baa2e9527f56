// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/codepage.h"

#include <strings.h>

#include <array>
#include <cstdint>

namespace codepage {
namespace {

// 0x80 to 0x9F in Windows-1252.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t FromWindows1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

// The length of the valid UTF-8 sequence at `at` (1 to 4), or 0 when the
// bytes there are not one (overlong forms and surrogates included).
std::size_t Utf8SequenceAt(std::string_view s, std::size_t at) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - at < length) return 0;
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(i) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsLatin1OrAsciiLabel(std::string_view charset) {
  static constexpr std::string_view kLabels[] = {
      "iso-8859-1", "iso8859-1", "iso_8859-1", "iso-8859-1:1987", "iso_8859-1:1987", "latin1",
      "latin-1",    "l1",        "cp819",      "ibm819",          "iso-ir-100",      "csisolatin1",
      "us-ascii",   "ascii",     "us",         "ansi_x3.4-1968",  "iso646-us",       "csascii"};
  while (!charset.empty() && (charset.front() == ' ' || charset.front() == '"'))
    charset.remove_prefix(1);
  while (!charset.empty() && (charset.back() == ' ' || charset.back() == '"'))
    charset.remove_suffix(1);
  for (std::string_view label : kLabels) {
    if (label.size() == charset.size() &&
        strncasecmp(label.data(), charset.data(), label.size()) == 0)
      return true;
  }
  return false;
}

bool ReadAsWindows1252(std::string_view charset, std::string_view bytes) {
  if (!IsLatin1OrAsciiLabel(charset)) return false;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 && byte < 0xA0) return true;
  }
  return false;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) AppendUtf8(FromWindows1252(static_cast<unsigned char>(c)), out);
  return out;
}

std::string Utf8OrWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (std::size_t n = Utf8SequenceAt(bytes, at)) {
      out.append(bytes.data() + at, n);
      at += n;
    } else {
      AppendUtf8(FromWindows1252(static_cast<unsigned char>(bytes[at++])), out);
    }
  }
  return out;
}

std::string Latin1ReadAsWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    // U+0080 to U+009F are C2 80 to C2 9F.
    const auto next = at + 1 < utf8.size() ? static_cast<unsigned char>(utf8[at + 1]) : 0;
    if (static_cast<unsigned char>(utf8[at]) == 0xC2 && next >= 0x80 && next < 0xA0) {
      AppendUtf8(kHigh[next - 0x80], out);
      ++at;
    } else {
      out += utf8[at];
    }
  }
  return out;
}

}  // namespace codepage
