// SPDX-License-Identifier: LGPL-2.1-or-later
// Property arrays as the interfaces hand them out: one buffer from the
// engine's allocator holding the SPropValue array and every string and byte
// string it points to, so FreeBuffer of the array frees them all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/wab/wab.h"

namespace wab {

// One value before packing. `tag` carries the type that decides which of the
// fields is used: bytes for PT_STRING8 (UTF-8 text), PT_UNICODE (the UTF-8
// text, converted when packed) and PT_BINARY; number for PT_LONG; time for
// PT_SYSTIME; error for PT_ERROR. `bytes` points into storage that the caller
// keeps until the values are packed.
struct PropOut {
  ULONG tag;
  std::string_view bytes;
  ULONG number = 0;
  LONGLONG time = 0;
  HRESULT error = S_OK;
};

// Packs the values into one buffer; null when out of memory.
SPropValue* PackProps(const std::vector<PropOut>& values);

// The values of `tags` (or, with null `tags`, all of `available`) in order:
// a text asked for as PT_UNICODE or PT_UNSPECIFIED comes in that form, a tag
// that is missing or of another type comes as PT_ERROR MAPI_E_NOT_FOUND and
// sets `*missing`.
std::vector<PropOut> SelectProps(const std::vector<PropOut>& available, const SPropTagArray* tags,
                                 bool* missing);

// Answers GetProps from `available`: S_OK, MAPI_W_ERRORS_RETURNED when some
// asked-for property is missing, or an error (nothing allocated).
HRESULT AnswerGetProps(const std::vector<PropOut>& available, const SPropTagArray* tags,
                       ULONG* count, SPropValue** values);

}  // namespace wab
