// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary cards to the reader of the address book's card cache: the
// input is a cache file's cards, after a header that names the book and this
// build, sealed with its checksum (so the reading gets past both). Whatever
// it accepts must write back to the same bytes and read back the same. The
// input unsealed must be refused.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/wab/card_cache.h"

namespace {

constexpr std::string_view kBook = "/home/user/.thunderbird/x.default/abook.sqlite";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string file = wab::CardCacheHeader(kBook);
  file.append(input);
  wab::CachedCards cards;
  // Not sealed: the checksum does not match (unless the input ends as one would).
  wab::DecodeCardCache(file, nullptr, kBook, &cards);
  wab::SealCardCache(&file);
  if (!wab::DecodeCardCache(file, nullptr, kBook, &cards)) return 0;
  if (cards.cards.size() != cards.hashes.size()) std::abort();
  const std::string again = wab::EncodeCardCache(kBook, cards.stamps, cards.cards, cards.hashes);
  if (again != file) std::abort();
  wab::CachedCards reread;
  if (!wab::DecodeCardCache(again, nullptr, kBook, &reread) ||
      reread.cards.size() != cards.cards.size())
    std::abort();
  // Another book's path is never accepted.
  if (wab::DecodeCardCache(file, nullptr, "/elsewhere/abook.sqlite", &reread)) std::abort();
  return 0;
}
