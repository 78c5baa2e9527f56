// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/card_cache.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "platform/shell/files.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook-contacts/libebook-contacts.h>
#pragma GCC diagnostic pop

namespace wab {
namespace {

constexpr char kMagic[8] = {'M', 'Q', 'C', 'A', 'R', 'D', 'S', '\n'};
// Changes whenever the layout below changes.
constexpr std::uint32_t kFormat = 3;
// A cache larger than this is not read: a card takes under a kilobyte, so a
// book of a hundred thousand cards is far below it, and what reading it
// allocates stays bounded.
constexpr off_t kMaxCacheBytes = off_t{256} << 20;
// How long before a stamp a file's last change must be for the stamp to
// settle. File times come from the kernel's coarse real-time clock, which the
// stamp's time is taken from too (CoarseRealTimeNow), so on a file system
// with nanosecond times a write after the stamp is always seen to be later;
// a little slack covers the clock's ticks. File systems with whole-second
// times (FAT, some network file systems: every time a whole second) round
// them down, so a write up to two seconds later can show the same time.
constexpr long long kSettleSlackFine = 10'000'000LL;
constexpr long long kSettleSlackCoarse = 2'000'000'000LL;

// The build whose parse a cache holds: this module's file and the vCard
// library's, as installed. Another build may map cards differently.
std::uint64_t BuildIdentity() {
  static const std::uint64_t identity = [] {
    XXH3_state_t state;
    XXH3_64bits_reset(&state);
    XXH3_64bits_update(&state, &kFormat, sizeof kFormat);
    for (void* code : {reinterpret_cast<void*>(&HashCard), reinterpret_cast<void*>(&e_vcard_new)}) {
      Dl_info info{};
      struct stat st {};
      if (dladdr(code, &info) && info.dli_fname && stat(info.dli_fname, &st) == 0) {
        const long long facts[] = {static_cast<long long>(st.st_ino), st.st_size,
                                   st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
        XXH3_64bits_update(&state, info.dli_fname, std::strlen(info.dli_fname));
        XXH3_64bits_update(&state, facts, sizeof facts);
      }
    }
    return XXH3_64bits_digest(&state);
  }();
  return identity;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string out = real ? real : path;
  std::free(real);
  return out;
}

std::string CacheDirectory() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
    return std::string(xdg) + "/mailquarry";
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    return std::string(home) + "/.cache/mailquarry";
  return {};
}

// Fixed-size values are stored as this machine lays them out: the cache
// never leaves it.
class Writer {
 public:
  explicit Writer(std::string* out) : out_(out) {}
  template <typename T>
  void Put(T value) {
    out_->append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void Text(std::string_view text) {
    Put(static_cast<std::uint32_t>(text.size()));
    out_->append(text);
  }
  void Bytes(std::string_view bytes) { out_->append(bytes); }
  void Stamp(const FileStamp& s) {
    Put<std::uint64_t>(s.device);
    Put<std::uint64_t>(s.inode);
    Put<std::int64_t>(s.size);
    Put<std::int64_t>(s.modified);
    Put<std::int64_t>(s.changed);
  }

 private:
  std::string* out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  template <typename T>
  bool Get(T* value) {
    if (in_.size() < sizeof(T)) return false;
    std::memcpy(value, in_.data(), sizeof(T));
    in_.remove_prefix(sizeof(T));
    return true;
  }
  bool View(std::string_view* text) {
    std::uint32_t size = 0;
    if (!Get(&size) || in_.size() < size) return false;
    *text = in_.substr(0, size);
    in_.remove_prefix(size);
    return true;
  }
  bool Text(std::string* text) {
    std::string_view view;
    if (!View(&view)) return false;
    text->assign(view);
    return true;
  }
  bool Stamp(FileStamp* s) {
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modified = 0, changed = 0;
    if (!Get(&device) || !Get(&inode) || !Get(&size) || !Get(&modified) || !Get(&changed))
      return false;
    s->device = static_cast<dev_t>(device);
    s->inode = static_cast<ino_t>(inode);
    s->size = static_cast<off_t>(size);
    s->modified = modified;
    s->changed = changed;
    return true;
  }
  std::size_t Left() const { return in_.size(); }
  std::string_view Rest() const { return in_; }
  bool Skip(std::size_t size) {
    if (in_.size() < size) return false;
    in_.remove_prefix(size);
    return true;
  }

 private:
  std::string_view in_;
};

// The smallest a stored card can be, to bound the count read from the file
// before anything is reserved for the cards.
constexpr std::size_t kMinCardBytes = 1 + 4 + 16 + 4 + 4 + 4;

// A card's properties are their block (property_list.h) as it is, after
// their count: read back as a view of the file's bytes (`in`'s).
bool ReadCard(Reader& in, LoadedCard* card, CardHash* hash) {
  std::uint8_t kind = 0;
  std::uint32_t type = 0, count = 0;
  if (!in.Get(&kind) || (kind != 'U' && kind != 'F') || !in.Text(&card->key.key) ||
      card->key.key.empty() || !in.Get(&hash->low) || !in.Get(&hash->high) || !in.Get(&type) ||
      (type != MAPI_MAILUSER && type != MAPI_DISTLIST) || !in.Text(&card->contact.uid) ||
      !in.Get(&count))
    return false;
  card->key.keyKind = static_cast<char>(kind);
  card->contact.objectType = type;
  std::size_t used = 0;
  return card->contact.properties.View(in.Rest(), count, &used) && in.Skip(used);
}

// Memory for the `size` bytes of a cache file as it is read. A large one is
// mapped apart, in huge pages where the system gives them: the read touches
// every page of it for the first time, and a fault per small page costs
// more than the copy.
std::shared_ptr<char> ReadBuffer(std::size_t size) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size < kHuge) {
    char* small = new (std::nothrow) char[size ? size : 1];
    return small ? std::shared_ptr<char>(small, std::default_delete<char[]>()) : nullptr;
  }
  // Whole huge pages, from a boundary of one.
  const std::size_t pages = (size + kHuge - 1) / kHuge * kHuge;
  const std::size_t mapped = pages + kHuge;
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  char* aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) &
                                          ~std::uintptr_t{kHuge - 1});
  madvise(aligned, pages, MADV_HUGEPAGE);
  return std::shared_ptr<char>(aligned, [p, mapped](char*) { munmap(p, mapped); });
}

}  // namespace

CardHash HashCard(std::string_view text, std::uint64_t seed) {
  const XXH128_hash_t h = XXH3_128bits_withSeed(text.data(), text.size(), seed);
  return {h.low64, h.high64};
}

std::uint64_t NewCardHashSeed() {
  std::uint64_t seed = 0;
  if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    seed = XXH3_64bits_withSeed(&now, sizeof now, static_cast<std::uint64_t>(getpid()));
  }
  return seed;
}

long long CoarseRealTimeNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

bool StampsSettled(const FileStamp& database, const FileStamp& log, long long takenAt) {
  const long long times[] = {database.modified, database.changed, log.modified, log.changed};
  bool wholeSeconds = true;
  for (long long t : times) wholeSeconds = wholeSeconds && t % 1000000000LL == 0;
  const long long slack = wholeSeconds ? kSettleSlackCoarse : kSettleSlackFine;
  return *std::max_element(std::begin(times), std::end(times)) < takenAt - slack;
}

std::string CardCacheFile(const std::string& bookPath) {
  const std::string directory = CacheDirectory();
  if (directory.empty()) return {};
  const std::string key = RealPath(bookPath);
  char name[48];
  std::snprintf(name, sizeof name, "/book-%016llx.cards",
                static_cast<unsigned long long>(XXH3_64bits(key.data(), key.size())));
  return directory + name;
}

std::string CardCacheHeader(std::string_view bookPath) {
  std::string out(kMagic, sizeof kMagic);
  Writer w(&out);
  w.Put(kFormat);
  w.Put(BuildIdentity());
  w.Text(bookPath);
  return out;
}

void SealCardCache(std::string* bytes) {
  Writer(bytes).Put<std::uint64_t>(XXH3_64bits(bytes->data(), bytes->size()));
}

std::string EncodeCardCache(std::string_view bookPath, const CardCacheStamps& stamps,
                            const std::vector<LoadedCard>& cards,
                            const std::vector<CardHash>& hashes) {
  std::string out = CardCacheHeader(bookPath);
  out.reserve(out.size() + 128 + cards.size() * 512);
  Writer w(&out);
  w.Put(stamps.seed);
  w.Stamp(stamps.database);
  w.Stamp(stamps.log);
  w.Put<std::uint8_t>(stamps.settled);
  w.Put(static_cast<std::uint32_t>(cards.size()));
  for (std::size_t i = 0; i < cards.size(); ++i) {
    const LoadedCard& card = cards[i];
    w.Put<std::uint8_t>(card.key.keyKind);
    w.Text(card.key.key);
    w.Put(hashes[i].low);
    w.Put(hashes[i].high);
    w.Put<std::uint32_t>(card.contact.objectType);
    w.Text(card.contact.uid);
    w.Put(static_cast<std::uint32_t>(card.contact.properties.size()));
    w.Bytes(card.contact.properties.Block());
  }
  SealCardCache(&out);
  return out;
}

bool DecodeCardCache(std::string_view bytes, const std::shared_ptr<const void>& owner,
                     std::string_view bookPath, CachedCards* out) {
  *out = CachedCards{};
  const std::string header = CardCacheHeader(bookPath);
  std::uint64_t sum = 0;
  if (bytes.size() < header.size() + sizeof sum || bytes.compare(0, header.size(), header) != 0)
    return false;
  std::memcpy(&sum, bytes.data() + bytes.size() - sizeof sum, sizeof sum);
  bytes.remove_suffix(sizeof sum);
  if (XXH3_64bits(bytes.data(), bytes.size()) != sum) return false;
  Reader in(bytes.substr(header.size()));
  std::uint8_t settled = 0;
  std::uint32_t count = 0;
  if (!in.Get(&out->stamps.seed) || !in.Stamp(&out->stamps.database) ||
      !in.Stamp(&out->stamps.log) || !in.Get(&settled) || settled > 1 || !in.Get(&count) ||
      count > in.Left() / kMinCardBytes)
    return false;
  out->stamps.settled = settled;
  out->cards.resize(count);
  out->hashes.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    out->cards[i].span = {0, 0};
    if (!ReadCard(in, &out->cards[i], &out->hashes[i])) {
      *out = CachedCards{};
      return false;
    }
    out->cards[i].contact.texts = owner;
  }
  if (in.Left() != 0) {
    *out = CachedCards{};
    return false;
  }
  return true;
}

bool LoadCardCache(const std::string& bookPath, CachedCards* out) {
  const std::string file = CardCacheFile(bookPath);
  if (file.empty()) return false;
  files::UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  struct stat st {};
  // Only a file of our own: another user's could say anything.
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      st.st_size > kMaxCacheBytes)
    return false;
  // Read, not mapped: a file cut short by someone meanwhile must not fault.
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  std::shared_ptr<char> bytes = ReadBuffer(size);
  if (!bytes) return false;
  std::size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd.get(), bytes.get() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  // The cards' texts are views of these bytes, which they keep.
  return DecodeCardCache(std::string_view(bytes.get(), size), bytes, RealPath(bookPath), out);
}

void StoreCardCache(const std::string& bookPath, const CardCacheStamps& stamps,
                    const std::vector<LoadedCard>& cards, const std::vector<CardHash>& hashes) {
  const std::string file = CardCacheFile(bookPath);
  if (file.empty()) return;
  const std::string directory = file.substr(0, file.rfind('/'));
  // Contacts are private: the directories made here and the file are the
  // user's alone.
  if (g_mkdir_with_parents(directory.c_str(), 0700) != 0) return;
  const std::string bytes = EncodeCardCache(RealPath(bookPath), stamps, cards, hashes);
  // Written beside and renamed over the old one, so a reader sees one whole
  // file or the other. Not synced to the disk: a cache that a crash leaves
  // cut short fails its checksum and is written anew, and a sync would make
  // every changed book wait for the disk.
  std::string temp = directory + "/.book-XXXXXX";
  files::UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));  // mode 0600
  if (!fd) return;
  if (files::WriteAll(fd.get(), bytes) != 0 || fd.Close() != 0 ||
      rename(temp.c_str(), file.c_str()) != 0)
    unlink(temp.c_str());
}

}  // namespace wab
