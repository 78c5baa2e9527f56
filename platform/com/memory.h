// SPDX-License-Identifier: LGPL-2.1-or-later
// Task memory: buffers that one module allocates and another frees.
#pragma once

#include <cstddef>

void* CoTaskMemAlloc(std::size_t size);
void* CoTaskMemRealloc(void* p, std::size_t size);
void CoTaskMemFree(void* p);

namespace com {
// A NUL-terminated copy of `text` in task memory, or null when out of memory.
char* CoTaskStrDup(const char* text, std::size_t length);
}  // namespace com
