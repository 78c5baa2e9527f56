// SPDX-License-Identifier: LGPL-2.1-or-later
// What a read of another program's book database made of its cards, kept on
// disk between runs so that a new process parses only the cards that changed
// (the vCard library's parse and our mapping cost far more than reading the
// card texts). One file per book under $XDG_CACHE_HOME (else ~/.cache)
// /mailquarry/, mode 0600, replaced whole; never beside the book itself.
//
// The file is only a cache: one that cannot be read, is damaged (its
// checksum), names another book, or was written by another build of this
// module or of the vCard library is ignored and written anew; a cache
// directory that cannot be written only costs speed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wab/card_source.h"

namespace wab {

// A 128-bit hash of a card's text, seeded per cache (the seed is random and
// kept in the file, so nobody can make two texts collide ahead of time).
struct CardHash {
  std::uint64_t low = 0, high = 0;
  bool operator==(const CardHash&) const = default;
};
CardHash HashCard(std::string_view text, std::uint64_t seed);
std::uint64_t NewCardHashSeed();

// What a cache says of the read it holds.
struct CardCacheStamps {
  std::uint64_t seed = 0;
  FileStamp database, log;  // the database's files as they were before the read
  // Whether equal stamps alone show the database unchanged: they were taken
  // late enough after the files' last change that a later write could not
  // leave them the same (file times tick).
  bool settled = false;
};

struct CachedCards {
  CardCacheStamps stamps;
  std::vector<LoadedCard> cards;  // each card's key.fileName is left empty
  std::vector<CardHash> hashes;   // by card
};

// Whether stamps taken at `takenAt` (CoarseRealTimeNow) of files last
// changed as `database` and `log` say are settled.
long long CoarseRealTimeNow();
bool StampsSettled(const FileStamp& database, const FileStamp& log, long long takenAt);

// The cache file of the book database at `bookPath`; empty when there is no
// cache directory (no home).
std::string CardCacheFile(const std::string& bookPath);

// The cards cached for `bookPath`; false when there is no usable cache.
bool LoadCardCache(const std::string& bookPath, CachedCards* out);
// Replaces the cache of `bookPath`; failures are ignored.
void StoreCardCache(const std::string& bookPath, const CardCacheStamps& stamps,
                    const std::vector<LoadedCard>& cards, const std::vector<CardHash>& hashes);

// The file's bytes: a header naming the book and this build, the cards, and
// a checksum of everything before it. Apart for the fuzz target.
std::string CardCacheHeader(std::string_view bookPath);
std::string EncodeCardCache(std::string_view bookPath, const CardCacheStamps& stamps,
                            const std::vector<LoadedCard>& cards,
                            const std::vector<CardHash>& hashes);
void SealCardCache(std::string* bytes);  // appends the checksum
// The cards' texts are views of `bytes`, which `owner` keeps.
bool DecodeCardCache(std::string_view bytes, const std::shared_ptr<const void>& owner,
                     std::string_view bookPath, CachedCards* out);

}  // namespace wab
