// SPDX-License-Identifier: LGPL-2.1-or-later
// XXH3-64 of a message's content, fed a piece at a time. The processor's
// widest vectors do the work (AVX2 where it has them, SSE2 otherwise); every
// choice gives the same value for the same bytes, so message keys stay as
// they are stored whatever the machine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace store::mbox {

class ContentHash {
 public:
  ContentHash();
  void Update(const char* data, std::size_t size);
  std::uint64_t Digest() const;

  // XXH3's streaming state, whose layout is fixed by the one xxhash.h that
  // every implementation here is built from.
  static constexpr std::size_t kStateSize = 576;

 private:
  alignas(64) unsigned char state_[kStateSize];
};

namespace detail {
// XXH3_64bits_update built for AVX2 (content_hash_avx2.cpp); `state` is an
// XXH3_state_t.
void UpdateAvx2(void* state, const void* data, std::size_t size);
}  // namespace detail

}  // namespace store::mbox
