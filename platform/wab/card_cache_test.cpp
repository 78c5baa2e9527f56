// SPDX-License-Identifier: LGPL-2.1-or-later
// The card cache of another program's book: whatever happened to the book or
// to the cache between runs, a run that starts from the cache lists exactly
// what a run without it lists.
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "platform/wab/card_cache.h"
#include "platform/wab/database_book.h"
#include "platform/wab/found_books.h"
#include "platform/wab/testing/program_books.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;
using wab::DatabaseBook;

std::string Card(const std::string& uid, const std::string& name) {
  return "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:" + uid + "\r\nFN:" + name + "\r\nEMAIL:" + uid +
         "@example.org\r\nTEL;TYPE=cell:+1 555 0100\r\nBDAY:19800102\r\nEND:VCARD\r\n";
}

void Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

// Replaces a text in card a1's values, in the database as it stands.
void Rename(const std::string& path, const std::string& from, const std::string& to) {
  Sql(path, "UPDATE properties SET value = replace(value, '" + from + "', '" + to +
                "') WHERE card = 'a1'");
}

class CardCache : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteThunderbirdBook(book,
                         {ThunderbirdVCardCard("a1", Card("a1", "Alice"), "Alice", ""),
                          {"b2", {{"DisplayName", "Bob"}, {"PrimaryEmail", "b@example.org"}}},
                          ThunderbirdVCardCard("c3", Card("c3", "Carol"), "Carol", "")},
                         {{"l1", "Friends", "", "", {"a1", "b2"}}});
  }

  // Every card as a run that starts now lists it: with the cache, or (as the
  // truth) with no usable cache directory.
  std::vector<std::string> Run(bool withCache) {
    DatabaseBook::ForgetReads();
    std::optional<mqtest::ScopedEnv> noCache;
    if (!withCache) noCache.emplace("XDG_CACHE_HOME", "/proc/no-cache-here");
    DatabaseBook source(book, wab::ReadThunderbirdCards);
    std::vector<std::string> out;
    auto file = source.Load("abook.sqlite");
    for (const wab::LoadedCard& c : file ? file->cards : std::vector<wab::LoadedCard>{}) {
      std::string d = c.key.fileName + " " + c.key.keyKind + c.key.key + " " +
                      std::to_string(c.contact.objectType) + " " + c.contact.uid;
      for (const auto& p : c.contact.properties)
        d += " " + std::to_string(p.tag) + "=" + std::string(p.text) + "@" + std::to_string(p.time);
      out.push_back(d);
    }
    DatabaseBook::ForgetReads();
    return out;
  }
  std::string CacheFile() { return wab::CardCacheFile(book); }

  TempDir root;
  std::string book = root / "abook.sqlite";
  mqtest::ScopedEnv cacheEnv{"XDG_CACHE_HOME", root / "cache"};
};

TEST_F(CardCache, ARunFromTheCacheListsWhatARunWithoutItLists) {
  const std::string other = root / "other.sqlite";
  WriteThunderbirdBook(other, {ThunderbirdVCardCard("z9", Card("z9", "Zoe"), "Zoe", "")});
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"first run", [] {}},
      {"unchanged", [] {}},
      // Same length, in place, right after a run: the file's times may not
      // have moved on.
      {"edited in place", [&] { Rename(book, "Alice", "Alina"); }},
      {"edited again", [&] { Rename(book, "Alina", "Alize"); }},
      {"card added",
       [&] {
         Sql(book, "INSERT INTO properties VALUES ('d4', '_vCard', '" + Card("d4", "Dan") + "')");
       }},
      {"card deleted", [&] { Sql(book, "DELETE FROM properties WHERE card = 'c3'"); }},
      {"book replaced",
       [&] {
         WriteThunderbirdBook(book, {{"b2", {{"DisplayName", "Bobby"}}}});
       }},
      {"cache damaged",
       [&] {
         std::string bytes = ReadFile(CacheFile());
         bytes[bytes.size() / 2] ^= 0x20;
         WriteFile(CacheFile(), bytes);
       }},
      {"cache cut short", [&] { fs::resize_file(CacheFile(), fs::file_size(CacheFile()) / 2); }},
      {"another book's cache",
       [&] {
         DatabaseBook(other, wab::ReadThunderbirdCards).Load("other.sqlite");
         fs::copy_file(wab::CardCacheFile(other), CacheFile(),
                       fs::copy_options::overwrite_existing);
       }},
  };
  for (const auto& [what, step] : steps) {
    step();
    std::vector<std::string> truth = Run(false);
    EXPECT_EQ(Run(true), truth) << what;
    EXPECT_EQ(Run(true), truth) << what << ", from the cache just written";
  }
  // The cache is the user's alone, and nothing is written anywhere else.
  struct stat st {};
  ASSERT_EQ(stat(CacheFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((root / "cache/mailquarry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root.path()))
    if (!e.is_directory()) files.insert(fs::relative(e.path(), root.path()));
  EXPECT_EQ(files, (std::set<std::string>{"abook.sqlite", "other.sqlite",
                                          fs::relative(CacheFile(), root.path()),
                                          fs::relative(wab::CardCacheFile(other), root.path())}));
}

// A book that has not changed since a run long enough ago is taken from the
// cache as it is: the database is not read (a doctored cache shows through).
TEST_F(CardCache, ASettledUnchangedBookIsNotReadAgain) {
  ASSERT_EQ(Run(true).size(), 4u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Run(true);  // records that the book settled
  wab::CachedCards cached;
  ASSERT_TRUE(wab::LoadCardCache(book, &cached));
  ASSERT_TRUE(cached.stamps.settled);
  cached.cards[0].contact.uid = "doctored";
  std::string bytes = wab::EncodeCardCache(fs::canonical(book).string(), cached.stamps,
                                           cached.cards, cached.hashes);
  WriteFile(CacheFile(), bytes);
  EXPECT_NE(Run(true)[0].find("doctored"), std::string::npos);
  // Once the card changes, it is read again.
  Rename(book, "Alice", "Alicia");
  EXPECT_EQ(Run(true)[0].find("doctored"), std::string::npos);
}

}  // namespace
