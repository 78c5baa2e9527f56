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

}  // namespace com::tlb
