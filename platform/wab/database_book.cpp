// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/database_book.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <unordered_set>

namespace wab {
namespace {

// How long a look at the database's files holds for further looks.
constexpr std::chrono::milliseconds kRecheckAfter(100);

// A card text longer than this is no contact (a stray blob); it is left out.
constexpr std::size_t kMaxCardBytes = 16 << 20;

// How long a read waits for a writer that holds the database's lock.
constexpr int kBusyMilliseconds = 2000;

// A path as an SQLite file: URI (RFC 3986 escapes for the characters that a
// URI path treats specially).
std::string FileUri(const std::string& path) {
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x21 || c >= 0x7F) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri + "?mode=ro";
}

// Whether the database is in write-ahead-log mode (its header's read and
// write versions are 2).
bool InWalMode(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  unsigned char header[20] = {};
  bool wal = pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
             header[18] == 2 && header[19] == 2;
  close(fd);
  return wal;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool ReadOnce(const std::string& uri, const CardReader& reader, std::vector<StoredCard>* cards) {
  cards->clear();
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(uri.c_str(), &db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  bool ok = rc == SQLITE_OK;
  if (ok) {
    sqlite3_busy_timeout(db, kBusyMilliseconds);
    // One read transaction: every statement sees the same state.
    ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok) {
      ok = reader(db, cards);
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
  }
  sqlite3_close_v2(db);  // releases every lock; null is harmless
  if (!ok) cards->clear();
  return ok;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ReadDatabase(const std::string& path, const CardReader& reader,
                  std::vector<StoredCard>* cards) {
  // A database in write-ahead-log mode whose owner has it closed has no log:
  // even a read-only connection would leave an empty log and its index
  // behind. Every committed write is then in the database file itself, and
  // an owner that starts meanwhile writes to a new log, changing the file
  // only when it copies the log back; so the file is read as unchanging and
  // the read kept when the file did not change during it.
  if (InWalMode(path) && !Exists(path + "-wal")) {
    FileStamp before = StampOfPath(path);
    if (ReadOnce(FileUri(path) + "&immutable=1", reader, cards) && StampOfPath(path) == before)
      return true;
  }
  return ReadOnce(FileUri(path), reader, cards);
}

std::vector<std::string> ColumnsOf(sqlite3* db, const std::string& table) {
  std::vector<std::string> out;
  char* sql = sqlite3_mprintf("PRAGMA table_info(%Q)", table.c_str());
  sqlite3_stmt* statement = nullptr;
  if (sql && sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(statement, 1);
      if (name) out.emplace_back(reinterpret_cast<const char*>(name));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_free(sql);
  return out;
}

DatabaseBook::DatabaseBook(std::string path, CardReader reader)
    : path_(std::move(path)), name_(BaseName(path_)), reader_(std::move(reader)) {}

HRESULT DatabaseBook::ListFiles(std::vector<std::string>* names) const {
  names->clear();
  struct stat st;
  if (stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names->push_back(name_);
  return S_OK;
}

std::shared_ptr<const DatabaseBook::Snapshot> DatabaseBook::Current() {
  // The connection opens every listed card right after its row: within a
  // short while of the last look, the files are not looked at again.
  const auto now = std::chrono::steady_clock::now();
  std::shared_ptr<const Snapshot> previous;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (snapshot_ && now - checked_ < kRecheckAfter) return snapshot_;
    checked_ = now;
    previous = snapshot_ ? snapshot_ : Remembered(path_, nullptr);
  }
  // Stamps are taken before the read: a write during it changes them, so
  // the next look reads again.
  CardCacheStamps stamps;
  stamps.settled = true;  // decided by the read
  const long long takenAt = CoarseRealTimeNow();
  stamps.database = StampOfPath(path_);
  stamps.log = StampOfPath(path_ + "-wal");
  // A new process starts from the cards an earlier run cached.
  bool fromCache = false;
  if (!previous) {
    CachedCards cached;
    if (LoadCardCache(path_, &cached)) {
      previous = MakeSnapshot(std::move(cached));
      fromCache = true;
    }
  }
  std::shared_ptr<const Snapshot> latest;
  if (previous && previous->stamps.settled && previous->stamps.database == stamps.database &&
      previous->stamps.log == stamps.log) {
    latest = fromCache ? Remembered(path_, previous) : previous;
  } else {
    stamps.seed = previous ? previous->stamps.seed : NewCardHashSeed();
    stamps.settled = StampsSettled(stamps.database, stamps.log, takenAt);
    latest = Reread(previous.get(), fromCache, stamps);
    // A database that cannot be read now (a writer held it too long) keeps
    // the cards of the last read.
    if (!latest) latest = previous;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  snapshot_ = latest;
  return snapshot_;
}

std::shared_ptr<const DatabaseBook::Snapshot> DatabaseBook::Reread(const Snapshot* previous,
                                                                   bool takeFromPrevious,
                                                                   CardCacheStamps stamps) {
  std::vector<StoredCard> stored;
  if (!ReadDatabase(path_, reader_, &stored)) return nullptr;
  std::erase_if(stored, [](const StoredCard& s) { return s.text.size() > kMaxCardBytes; });
  std::vector<CardHash> hashes;
  hashes.reserve(stored.size());
  for (const StoredCard& s : stored) hashes.push_back(HashCard(s.text, stamps.seed));
  const bool sameStamps = previous && previous->stamps.database == stamps.database &&
                          previous->stamps.log == stamps.log &&
                          previous->stamps.settled == stamps.settled;

  // The same cards as last read, in the same order (the owner wrote
  // something else, or the last read was too close to a write to be sure):
  // they are shared, only the stamps are new.
  if (previous) {
    const Cards& last = *previous->cards;
    bool same = last.file->cards.size() == stored.size();
    for (std::size_t i = 0; same && i < stored.size(); ++i) {
      const CardKey& key = last.file->cards[i].key;
      same = key.keyKind == 'U' && key.key == stored[i].identity && last.hashes[i] == hashes[i];
    }
    if (same) {
      if (!sameStamps) StoreCardCache(path_, stamps, last.file->cards, last.hashes);
      auto snapshot = std::make_shared<Snapshot>(Snapshot{previous->cards, stamps});
      return Remembered(path_, snapshot);
    }
  }

  CachedCards fresh;
  fresh.stamps = stamps;
  fresh.cards.reserve(stored.size());
  fresh.hashes.reserve(stored.size());
  std::unordered_set<std::string_view> keys;
  keys.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    StoredCard& s = stored[i];
    LoadedCard card;
    card.span = {0, 0};
    // An owner that writes one card changes the whole file: the cards whose
    // text is as last read keep what that read made of them.
    // Only a card named by its identity alone (the first of that identity)
    // can be the card of that identity last read.
    const bool named = !s.identity.empty() && !keys.count(s.identity);
    LoadedCard* known = nullptr;
    if (previous && named) {
      const Cards& last = *previous->cards;
      auto it = last.ByKey().find(s.identity);
      if (it != last.ByKey().end() && last.hashes[it->second] == hashes[i] &&
          last.file->cards[it->second].key.keyKind == 'U')
        known = &last.file->cards[it->second];
    }
    if (known && takeFromPrevious)
      card.contact = std::move(known->contact);
    else if (known)
      card.contact = known->contact;
    else if (!ReadContact(s.text, &card.contact))
      continue;
    if (named) {
      card.key.keyKind = 'U';
      card.key.key = std::move(s.identity);
    } else {
      card.key.keyKind = 'F';
      card.key.key = Fingerprint(s.text);
    }
    if (keys.count(card.key.key)) continue;
    card.key.fileName = name_;
    fresh.cards.push_back(std::move(card));
    fresh.hashes.push_back(hashes[i]);
    // A view of the key where it stays: the cards were reserved in full.
    keys.insert(fresh.cards.back().key.key);
  }
  StoreCardCache(path_, fresh.stamps, fresh.cards, fresh.hashes);
  return Remembered(path_, MakeSnapshot(std::move(fresh)));
}

std::shared_ptr<const DatabaseBook::Snapshot> DatabaseBook::MakeSnapshot(CachedCards cached) const {
  auto cards = std::make_shared<Cards>();
  cards->file = std::make_shared<LoadedFile>();
  cards->file->name = name_;
  cards->file->cards = std::move(cached.cards);
  for (LoadedCard& card : cards->file->cards) card.key.fileName = name_;
  cards->hashes = std::move(cached.hashes);
  return std::make_shared<Snapshot>(Snapshot{std::move(cards), cached.stamps});
}

namespace {

// The last read of each database in this process: the address book is
// opened afresh on every Refresh, and an unchanged database is not read
// again. A handful of books at most; past that, the oldest go.
std::mutex rememberedMutex;
std::map<std::string, std::shared_ptr<const void>> remembered;

}  // namespace

std::shared_ptr<const DatabaseBook::Snapshot> DatabaseBook::Remembered(
    const std::string& path, std::shared_ptr<const Snapshot> latest) {
  constexpr std::size_t kMaxBooks = 32;
  std::lock_guard<std::mutex> hold(rememberedMutex);
  if (!latest) {
    auto it = remembered.find(path);
    return it == remembered.end() ? nullptr : std::static_pointer_cast<const Snapshot>(it->second);
  }
  if (remembered.size() >= kMaxBooks && !remembered.count(path)) remembered.clear();
  remembered[path] = latest;
  return latest;
}

void DatabaseBook::ForgetReads() {
  std::lock_guard<std::mutex> hold(rememberedMutex);
  remembered.clear();
}

std::shared_ptr<const LoadedFile> DatabaseBook::Load(const std::string& name) {
  if (name != name_) return nullptr;
  auto snapshot = Current();
  return snapshot ? snapshot->cards->file : nullptr;
}

HRESULT DatabaseBook::Find(const CardKey& key, std::shared_ptr<const LoadedFile>* file,
                           const LoadedCard** card) {
  if (key.fileName != name_) return MAPI_E_NOT_FOUND;
  auto snapshot = Current();
  if (!snapshot) return MAPI_E_NOT_FOUND;
  const Cards& cards = *snapshot->cards;
  const std::vector<LoadedCard>& all = cards.file->cards;
  std::size_t at = nextFind_.load(std::memory_order_relaxed);
  if (at >= all.size() || all[at].key != key) {
    auto it = cards.ByKey().find(key.key);
    if (it == cards.ByKey().end() || all[it->second].key != key) return MAPI_E_NOT_FOUND;
    at = it->second;
  }
  nextFind_.store(at + 1, std::memory_order_relaxed);
  *file = cards.file;
  *card = &all[at];
  return S_OK;
}

const std::unordered_map<std::string_view, std::size_t>& DatabaseBook::Cards::ByKey() const {
  std::call_once(indexed_, [this] {
    byKey_.reserve(file->cards.size());
    for (std::size_t i = 0; i < file->cards.size(); ++i) byKey_.emplace(file->cards[i].key.key, i);
  });
  return byKey_;
}

}  // namespace wab
