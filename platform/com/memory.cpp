// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/memory.h"

#include <cstdlib>
#include <cstring>

// Every module shares the process heap, so a buffer from one module can be
// freed by another.
void* CoTaskMemAlloc(std::size_t size) {
  return std::malloc(size ? size : 1);
}
void* CoTaskMemRealloc(void* p, std::size_t size) {
  return std::realloc(p, size ? size : 1);
}
void CoTaskMemFree(void* p) {
  std::free(p);
}

namespace com {
char* CoTaskStrDup(const char* text, std::size_t length) {
  auto* copy = static_cast<char*>(CoTaskMemAlloc(length + 1));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}
}  // namespace com
