// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/content_hash.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace store::mbox {
namespace {

static_assert(sizeof(XXH3_state_t) <= ContentHash::kStateSize && alignof(XXH3_state_t) <= 64);

XXH3_state_t* State(void* p) {
  return static_cast<XXH3_state_t*>(p);
}

void UpdateSse2(void* state, const void* data, std::size_t size) {
  XXH3_64bits_update(State(state), data, size);
}

using Update = void (*)(void*, const void*, std::size_t);
const Update kUpdate = [] {
#if defined(MQ_HAVE_AVX2_HASH)
  __builtin_cpu_init();  // this may run before the library's own initialisation
  if (__builtin_cpu_supports("avx2")) return detail::UpdateAvx2;
#endif
  return UpdateSse2;
}();

}  // namespace

ContentHash::ContentHash() {
  XXH3_64bits_reset(State(state_));
}

void ContentHash::Update(const char* data, std::size_t size) {
  if (size) kUpdate(state_, data, size);
}

std::uint64_t ContentHash::Digest() const {
  return XXH3_64bits_digest(reinterpret_cast<const XXH3_state_t*>(state_));
}

}  // namespace store::mbox
