// SPDX-License-Identifier: LGPL-2.1-or-later
// BSTR: UTF-16 text behind a 32-bit byte-length prefix, NUL-terminated, with
// embedded NULs kept. A null BSTR is the empty text.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/types.h"

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zero-filled
BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
// Reallocates *text as a copy of `source`; FALSE when out of memory.
BOOL SysReAllocString(BSTR* text, const OLECHAR* source);

namespace com {

// UTF-8 <-> UTF-16, never failing: invalid UTF-8 and unpaired surrogates
// become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// A new BSTR holding `utf8` (null only when out of memory).
BSTR BstrFromUtf8(std::string_view utf8);
// The text of a BSTR as UTF-8 (all of it, embedded NULs included).
std::string Utf8FromBstr(BSTR text);
std::u16string_view BstrView(BSTR text);

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) : b_(BstrFromUtf8(utf8)) {}
  explicit Bstr(std::u16string_view utf16)
      : b_(SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()))) {}
  Bstr(const Bstr& other)
      : b_(other.b_ ? SysAllocStringLen(other.b_, SysStringLen(other.b_)) : nullptr) {}
  Bstr(Bstr&& other) noexcept : b_(other.Detach()) {}
  Bstr& operator=(Bstr other) noexcept {
    std::swap(b_, other.b_);
    return *this;
  }
  ~Bstr() { SysFreeString(b_); }

  static Bstr Attach(BSTR b) {
    Bstr r;
    r.b_ = b;
    return r;
  }
  BSTR Detach() {
    BSTR b = b_;
    b_ = nullptr;
    return b;
  }
  BSTR Get() const { return b_; }
  BSTR* ReleaseAndGetAddressOf() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  UINT Length() const { return SysStringLen(b_); }
  std::string Utf8() const { return Utf8FromBstr(b_); }
  std::u16string_view View() const { return BstrView(b_); }

 private:
  BSTR b_ = nullptr;
};

}  // namespace com
