// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/database_book.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>

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
  // Stamps are taken before the read: a write during it changes them, so
  // the next look reads again.
  // The connection opens every listed card right after its row: within a
  // short while of the last look, the files are not looked at again.
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (snapshot_ && now - checked_ < kRecheckAfter) return snapshot_;
  }
  FileStamp database = StampOfPath(path_);
  FileStamp log = StampOfPath(path_ + "-wal");
  {
    std::lock_guard<std::mutex> hold(mutex_);
    checked_ = now;
    if (!snapshot_) snapshot_ = Remembered(path_, nullptr);
    if (snapshot_ && snapshot_->database == database && snapshot_->log == log) return snapshot_;
  }
  std::vector<StoredCard> stored;
  if (!ReadDatabase(path_, reader_, &stored)) {
    // A database that cannot be read now (a writer held it too long) keeps
    // the cards of the last read.
    std::lock_guard<std::mutex> hold(mutex_);
    return snapshot_;
  }
  std::shared_ptr<const Snapshot> previous;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    previous = snapshot_;
  }
  auto file = std::make_shared<LoadedFile>();
  auto snapshot = std::make_shared<Snapshot>();
  file->name = name_;
  file->cards.reserve(stored.size());
  snapshot->texts.reserve(stored.size());
  for (StoredCard& s : stored) {
    LoadedCard card;
    card.span = {0, 0};
    if (s.text.size() > kMaxCardBytes || !ReusedOrRead(previous.get(), s, &card.contact)) continue;
    card.key.fileName = name_;
    if (!s.identity.empty() && !snapshot->byKey.count(s.identity)) {
      card.key.keyKind = 'U';
      card.key.key = std::move(s.identity);
    } else {
      card.key.keyKind = 'F';
      card.key.key = Fingerprint(s.text);
    }
    if (!snapshot->byKey.emplace(card.key.key, file->cards.size()).second) continue;
    file->cards.push_back(std::move(card));
    snapshot->texts.push_back(std::move(s.text));
  }
  snapshot->file = std::move(file);
  snapshot->database = database;
  snapshot->log = log;
  Remembered(path_, snapshot);
  std::lock_guard<std::mutex> hold(mutex_);
  snapshot_ = snapshot;
  return snapshot_;
}

bool DatabaseBook::ReusedOrRead(const Snapshot* previous, const StoredCard& stored,
                                Contact* contact) {
  // An owner that writes one card changes the whole file: the cards whose
  // text is byte for byte as last read keep what that read made of them.
  if (previous && !stored.identity.empty()) {
    auto it = previous->byKey.find(stored.identity);
    if (it != previous->byKey.end() && previous->texts[it->second] == stored.text &&
        previous->file->cards[it->second].key.keyKind == 'U') {
      *contact = previous->file->cards[it->second].contact;
      return true;
    }
  }
  return ReadContact(stored.text, contact);
}

std::shared_ptr<const DatabaseBook::Snapshot> DatabaseBook::Remembered(
    const std::string& path, std::shared_ptr<const Snapshot> latest) {
  // The address book is opened afresh on every Refresh; the last read of
  // each database stays for the process, so an unchanged one is not parsed
  // again. A handful of books at most; past that, the oldest go.
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const Snapshot>> byPath;
  constexpr std::size_t kMaxBooks = 32;
  std::lock_guard<std::mutex> hold(mutex);
  if (!latest) {
    auto it = byPath.find(path);
    return it == byPath.end() ? nullptr : it->second;
  }
  if (byPath.size() >= kMaxBooks && !byPath.count(path)) byPath.clear();
  byPath[path] = latest;
  return latest;
}

std::shared_ptr<const LoadedFile> DatabaseBook::Load(const std::string& name) {
  if (name != name_) return nullptr;
  auto snapshot = Current();
  return snapshot ? snapshot->file : nullptr;
}

HRESULT DatabaseBook::Find(const CardKey& key, std::shared_ptr<const LoadedFile>* file,
                           const LoadedCard** card) {
  if (key.fileName != name_) return MAPI_E_NOT_FOUND;
  auto snapshot = Current();
  if (!snapshot) return MAPI_E_NOT_FOUND;
  auto it = snapshot->byKey.find(key.key);
  if (it == snapshot->byKey.end() || snapshot->file->cards[it->second].key != key)
    return MAPI_E_NOT_FOUND;
  *file = snapshot->file;
  *card = &snapshot->file->cards[it->second];
  return S_OK;
}

}  // namespace wab
