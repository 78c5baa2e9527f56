// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/typelib.h"

#include <strings.h>

#include <string>

namespace com::tlb {

const TypeInfo* Library::Find(const GUID& guid) const {
  for (const TypeInfo& type : types)
    if (type.guid == guid) return &type;
  return nullptr;
}

const TypeInfo* Library::Find(std::string_view name) const {
  for (const TypeInfo& type : types) {
    std::string_view candidate(type.name);
    if (candidate.size() == name.size() &&
        strncasecmp(candidate.data(), name.data(), name.size()) == 0)
      return &type;
  }
  return nullptr;
}

bool SameName(const OLECHAR* text, const char* name) {
  if (!text) return false;
  for (;; ++text, ++name) {
    char16_t a = *text;
    auto b = static_cast<unsigned char>(*name);
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
    if (!a) return true;
  }
}

}  // namespace com::tlb
