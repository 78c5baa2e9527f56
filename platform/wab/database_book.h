// SPDX-License-Identifier: LGPL-2.1-or-later
// A book that another program keeps in an SQLite database (Thunderbird's
// address books, Evolution Data Server's): read only, never written, never
// locked past a read. The database is opened with mode=ro for each read and
// read in one transaction, so the cards come from one consistent state even
// while the owner writes. What a read made of the cards is kept for the
// process and in the card cache (card_cache.h) for later runs: while the
// database and its write-ahead log are unchanged it is used as it is, and a
// read of a changed database parses only the cards whose text changed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/wab/card_cache.h"
#include "platform/wab/card_source.h"

struct sqlite3;

namespace wab {

// One card as the owner stores it: its identity in the database (stable
// while the card exists) and its vCard text.
struct StoredCard {
  std::string identity;
  std::string text;
};

// Reads every card of an open database, in the order they are listed. False
// when the database does not have the expected shape.
using CardReader = std::function<bool(sqlite3* db, std::vector<StoredCard>* cards)>;

class DatabaseBook final : public CardSource {
 public:
  DatabaseBook(std::string path, CardReader reader);

  bool ReadOnly() const override { return true; }
  // The database file, when it exists.
  HRESULT ListFiles(std::vector<std::string>* names) const override;
  std::shared_ptr<const LoadedFile> Load(const std::string& name) override;
  HRESULT Find(const CardKey& key, std::shared_ptr<const LoadedFile>* file,
               const LoadedCard** card) override;
  HRESULT Create(const std::string&, const std::string&, CardKey*) override {
    return MAPI_E_NO_ACCESS;
  }
  HRESULT Delete(const CardKey&) override { return MAPI_E_NO_ACCESS; }

  // Forgets what this process read of every book, as a new process starts
  // with only the card cache (for tests).
  static void ForgetReads();

 private:
  // The cards of a read, shared by later reads that find the same texts.
  struct Cards {
    std::shared_ptr<LoadedFile> file;
    std::vector<CardHash> hashes;  // each card's text's, by index
    // Card key (in file) → index, made when first needed: a listing that
    // opens the cards in order never needs it.
    const std::unordered_map<std::string_view, std::size_t>& ByKey() const;

   private:
    mutable std::once_flag indexed_;
    mutable std::unordered_map<std::string_view, std::size_t> byKey_;
  };
  struct Snapshot {
    std::shared_ptr<const Cards> cards;
    CardCacheStamps stamps;
  };
  std::shared_ptr<const Snapshot> Current();
  // The database read anew; cards whose text `previous` has read keep what
  // it made of them, taken from it when `takeFromPrevious` (nobody else holds
  // it). Null when it cannot be read.
  std::shared_ptr<const Snapshot> Reread(const Snapshot* previous, bool takeFromPrevious,
                                         CardCacheStamps stamps);
  std::shared_ptr<const Snapshot> MakeSnapshot(CachedCards cached) const;
  // The last snapshot of `path` in this process, or (given `latest`) keeps it.
  static std::shared_ptr<const Snapshot> Remembered(const std::string& path,
                                                    std::shared_ptr<const Snapshot> latest);

  std::string path_;
  std::string name_;
  CardReader reader_;
  std::mutex mutex_;
  std::shared_ptr<const Snapshot> snapshot_;
  std::chrono::steady_clock::time_point checked_;  // when the files were last looked at
  // Where Find looks first: the card after the one it last found (the
  // connection opens every card in the order the table lists them).
  std::atomic<std::size_t> nextFind_{0};
};

// Reads the database at `path` read-only (mode=ro, waiting briefly for a
// writer's lock) in one transaction with `reader`. False when it cannot be
// opened or read.
bool ReadDatabase(const std::string& path, const CardReader& reader,
                  std::vector<StoredCard>* cards);

// The names of the columns of `table`, as declared.
std::vector<std::string> ColumnsOf(sqlite3* db, const std::string& table);

}  // namespace wab
