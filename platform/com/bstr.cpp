// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/bstr.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

// The allocation: [uint32 byte length][text bytes][two NUL bytes]. The BSTR
// points just past the length. The length word sits 4 bytes before the text;
// the allocation starts 8 bytes before it to keep the text 8-byte aligned.
constexpr std::size_t kHeader = 8;

BSTR AllocateBytes(const void* bytes, std::size_t byteLength) {
  if (byteLength > std::numeric_limits<std::uint32_t>::max() - kHeader - 2) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kHeader + byteLength + 2));
  if (!block) return nullptr;
  auto length = static_cast<std::uint32_t>(byteLength);
  std::memcpy(block + kHeader - 4, &length, 4);
  unsigned char* text = block + kHeader;
  if (bytes)
    std::memcpy(text, bytes, byteLength);
  else
    std::memset(text, 0, byteLength);
  text[byteLength] = 0;
  text[byteLength + 1] = 0;
  return reinterpret_cast<BSTR>(text);
}

std::uint32_t ByteLength(BSTR text) {
  std::uint32_t length;
  std::memcpy(&length, reinterpret_cast<unsigned char*>(text) - 4, 4);
  return length;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  std::size_t n = 0;
  while (text[n]) ++n;
  return AllocateBytes(text, n * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return AllocateBytes(text, std::size_t(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength) {
  return AllocateBytes(bytes, byteLength);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - kHeader);
}

UINT SysStringLen(BSTR text) {
  return text ? ByteLength(text) / sizeof(OLECHAR) : 0;
}

UINT SysStringByteLen(BSTR text) {
  return text ? ByteLength(text) : 0;
}

BOOL SysReAllocString(BSTR* text, const OLECHAR* source) {
  if (!text) return FALSE;
  BSTR fresh = SysAllocString(source);
  if (source && !fresh) return FALSE;
  SysFreeString(*text);
  *text = fresh;
  return TRUE;
}

namespace com {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// How many code units at the start of `text` are ASCII.
template <typename Char>
std::size_t AsciiPrefix(std::basic_string_view<Char> text) {
  std::size_t n = 0;
  while (n < text.size() && static_cast<std::make_unsigned_t<Char>>(text[n]) < 0x80) ++n;
  return n;
}

// Decodes one UTF-8 sequence at s[i]; advances i past what it consumed. A
// malformed sequence (overlong, surrogate, out of range, truncated) gives
// U+FFFD and consumes only its first byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t c;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return c;
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  // Most texts are ASCII throughout: that part is widened in one step.
  const std::size_t ascii = AsciiPrefix(utf8);
  std::u16string out(ascii, u'\0');
  std::copy(utf8.begin(), utf8.begin() + ascii, out.begin());
  out.reserve(utf8.size());
  for (std::size_t i = ascii; i < utf8.size();) AppendUtf16(out, DecodeUtf8(utf8, i));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  const std::size_t ascii = AsciiPrefix(utf16);
  std::string out(ascii, '\0');
  std::copy(utf16.begin(), utf16.begin() + ascii, out.begin());
  out.reserve(utf16.size());
  for (std::size_t i = ascii; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

BSTR BstrFromUtf8(std::string_view utf8) {
  if (AsciiPrefix(utf8) == utf8.size() && utf8.size() <= std::numeric_limits<UINT>::max() / 2) {
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(utf8.size()));
    if (out) std::copy(utf8.begin(), utf8.end(), out);
    return out;
  }
  std::u16string wide = Utf8ToUtf16(utf8);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

std::string Utf8FromBstr(BSTR text) {
  return Utf16ToUtf8(BstrView(text));
}

}  // namespace com
