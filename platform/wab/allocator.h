// SPDX-License-Identifier: LGPL-2.1-or-later
// The address book's buffers: AllocateBuffer gives a root buffer,
// AllocateMore hangs further buffers on a root, and freeing the root frees
// everything hung on it. Buffers are plain heap blocks behind a small header,
// so any module that holds an IWABObject can free what the engine handed out.
#pragma once

#include <cstddef>

namespace wab {

// A root buffer of `size` bytes (zeroed), or null when out of memory.
void* AllocateRoot(std::size_t size);
// A buffer that lives as long as the root buffer `parent`; null when out of
// memory or when `parent` is not a live buffer of this allocator.
void* AllocateLinked(std::size_t size, void* parent);
// Frees a root buffer with everything linked to it; null is allowed. A
// buffer from AllocateLinked is freed only with its root (freeing it on its
// own does nothing), so a careless caller cannot free it twice.
void FreeRoot(void* buffer);

}  // namespace wab
