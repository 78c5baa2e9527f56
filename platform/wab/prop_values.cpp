// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/prop_values.h"

#include <glib.h>

#include <cstring>

#include "platform/wab/allocator.h"

namespace wab {
namespace {

constexpr std::size_t Align(std::size_t n) {
  return (n + 15) & ~std::size_t{15};
}

// UTF-16 of UTF-8 text (invalid sequences dropped by the conversion failing:
// then the text is given as far as it converts, which is nothing).
std::u16string Utf16(std::string_view text) {
  glong written = 0;
  gunichar2* wide =
      g_utf8_to_utf16(text.data(), static_cast<glong>(text.size()), nullptr, &written, nullptr);
  if (!wide) return {};
  std::u16string out(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(written));
  g_free(wide);
  return out;
}

}  // namespace

SPropValue* PackProps(const std::vector<PropOut>& values) {
  // UTF-16 copies only where a text is asked for as PT_UNICODE.
  std::vector<std::u16string> wide;
  std::size_t size = Align(values.size() * sizeof(SPropValue));
  for (std::size_t i = 0; i < values.size(); ++i) {
    switch (PROP_TYPE(values[i].tag)) {
      case PT_STRING8:
        size += Align(values[i].bytes.size() + 1);
        break;
      case PT_BINARY:
        size += Align(values[i].bytes.size());
        break;
      case PT_UNICODE:
        if (wide.empty()) wide.resize(values.size());
        wide[i] = Utf16(values[i].bytes);
        size += Align((wide[i].size() + 1) * sizeof(char16_t));
        break;
      default:
        break;
    }
  }
  auto* base = static_cast<char*>(AllocateRoot(size ? size : 1));
  if (!base) return nullptr;
  auto* props = reinterpret_cast<SPropValue*>(base);
  char* heap = base + Align(values.size() * sizeof(SPropValue));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const PropOut& v = values[i];
    SPropValue& p = props[i];
    p.ulPropTag = v.tag;
    switch (PROP_TYPE(v.tag)) {
      case PT_STRING8:
        std::memcpy(heap, v.bytes.data(), v.bytes.size());
        heap[v.bytes.size()] = '\0';
        p.Value.lpszA = heap;
        heap += Align(v.bytes.size() + 1);
        break;
      case PT_UNICODE:
        std::memcpy(heap, wide[i].c_str(), (wide[i].size() + 1) * sizeof(char16_t));
        p.Value.lpszW = reinterpret_cast<OLECHAR*>(heap);
        heap += Align((wide[i].size() + 1) * sizeof(char16_t));
        break;
      case PT_BINARY:
        std::memcpy(heap, v.bytes.data(), v.bytes.size());
        p.Value.bin.cb = static_cast<ULONG>(v.bytes.size());
        p.Value.bin.lpb = reinterpret_cast<BYTE*>(heap);
        heap += Align(v.bytes.size());
        break;
      case PT_LONG:
        p.Value.ul = v.number;
        break;
      case PT_SYSTIME:
        p.Value.ft.dwLowDateTime = static_cast<DWORD>(v.time & 0xFFFFFFFF);
        p.Value.ft.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(v.time) >> 32);
        break;
      case PT_ERROR:
        p.Value.err = v.error;
        break;
      default:
        break;
    }
  }
  return props;
}

std::vector<PropOut> SelectProps(const std::vector<PropOut>& available, const SPropTagArray* tags,
                                 bool* missing) {
  *missing = false;
  if (!tags) return available;
  std::vector<PropOut> out;
  out.reserve(tags->cValues);
  for (ULONG i = 0; i < tags->cValues; ++i) {
    ULONG wanted = tags->aulPropTag[i];
    const PropOut* found = nullptr;
    for (const PropOut& v : available) {
      if (PROP_ID(v.tag) == PROP_ID(wanted)) {
        found = &v;
        break;
      }
    }
    ULONG type = PROP_TYPE(wanted);
    ULONG has = found ? PROP_TYPE(found->tag) : 0;
    bool text = has == PT_STRING8 && (type == PT_UNICODE || type == PT_STRING8);
    if (found && (type == PT_UNSPECIFIED || type == has || text)) {
      PropOut v = *found;
      if (text) v.tag = CHANGE_PROP_TYPE(v.tag, type);
      out.push_back(std::move(v));
    } else {
      PropOut error;
      error.tag = CHANGE_PROP_TYPE(wanted, PT_ERROR);
      error.error = MAPI_E_NOT_FOUND;
      out.push_back(std::move(error));
      *missing = true;
    }
  }
  return out;
}

HRESULT AnswerGetProps(const std::vector<PropOut>& available, const SPropTagArray* tags,
                       ULONG* count, SPropValue** values) {
  if (!count || !values) return MAPI_E_INVALID_PARAMETER;
  *count = 0;
  *values = nullptr;
  if (tags && tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
  bool missing = false;
  std::vector<PropOut> selected;
  if (tags) selected = SelectProps(available, tags, &missing);
  const std::vector<PropOut>& answer = tags ? selected : available;
  SPropValue* packed = PackProps(answer);
  if (!packed) return MAPI_E_NOT_ENOUGH_MEMORY;
  *count = static_cast<ULONG>(answer.size());
  *values = packed;
  return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

}  // namespace wab
