// SPDX-License-Identifier: LGPL-2.1-or-later
// Built with -mavx2 and called only where the processor has AVX2: nothing
// but xxhash.h's own (internal) functions is compiled here, so no code of
// another file can end up taking an AVX2 copy of a shared inline function.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "platform/store/mbox/content_hash.h"

static_assert(XXH_VECTOR == XXH_AVX2, "build this file with -mavx2");

namespace store::mbox::detail {

void UpdateAvx2(void* state, const void* data, std::size_t size) {
  XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, size);
}

}  // namespace store::mbox::detail
