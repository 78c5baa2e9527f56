// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary databases to the store's readers of other mail programs'
// SQLite files: a Geary account's geary.db and an Evolution IMAP cache's
// folders.db (either of its schemas). An input is a database file as it
// stands, or, when it does not begin as one, SQL run into a new database:
// odd schemas, types and values come far sooner from SQL than from mutated
// pages. The store then opens each account as it opens a user's, lists every
// folder and reads every message. Aborts when the store writes anything
// beside the database it only reads.
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/com/unknown.h"
#include "platform/store/engine/store_engine.h"

namespace {

// Bounds on what one input may make the store do.
constexpr std::size_t kMaxMessagesRead = 64;
constexpr std::size_t kMaxBytesRead = 4 << 20;
constexpr int kMaxSqlSteps = 2'000'000;

void Check(bool ok) {
  if (!ok) abort();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) abort();
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

std::string ReadFile(const std::string& path) {
  std::string out;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  close(fd);
  return out;
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

void RemoveDatabase(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
}

// The SQL may make tables, rows and a journal mode; it may not reach another
// file or change how this process's SQLite behaves.
int Authorize(void*, int action, const char* a, const char*, const char*, const char*) {
  if (action == SQLITE_ATTACH || action == SQLITE_DETACH) return SQLITE_DENY;
  if (action == SQLITE_PRAGMA)
    return a && (std::strcmp(a, "journal_mode") == 0 || std::strcmp(a, "user_version") == 0 ||
                 std::strcmp(a, "page_size") == 0 || std::strcmp(a, "auto_vacuum") == 0)
               ? SQLITE_OK
               : SQLITE_DENY;
  if (action == SQLITE_FUNCTION && a && std::strcmp(a, "load_extension") == 0) return SQLITE_DENY;
  return SQLITE_OK;
}

int StopLongRuns(void* steps) {
  return ++*static_cast<int*>(steps) > kMaxSqlSteps / 1000;
}

// The database file the input stands for.
std::string Database(const std::string& scratch, std::string_view input) {
  static constexpr std::string_view kMagic("SQLite format 3\0", 16);
  if (input.substr(0, kMagic.size()) == kMagic) return std::string(input);
  RemoveDatabase(scratch);
  sqlite3* db = nullptr;
  if (sqlite3_open(scratch.c_str(), &db) == SQLITE_OK) {
    int steps = 0;
    sqlite3_set_authorizer(db, Authorize, nullptr);
    sqlite3_progress_handler(db, 1000, StopLongRuns, &steps);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
    std::string sql(input);
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  std::string bytes = ReadFile(scratch);
  RemoveDatabase(scratch);
  return bytes;
}

// Opens the store at `root` and reads all it lists.
void ReadStore(const std::string& root) {
  std::shared_ptr<store::Store> s;
  if (FAILED(store::Store::Open(root, &s))) return;
  std::size_t messages = 0, bytes = 0;
  const auto folders = s->folders();
  for (const auto& [id, folder] : folders) {
    if (FAILED(s->SyncMessages(folder, true))) continue;
    std::vector<MESSAGEID> ids;
    s->AllMessageIds(id, &ids);
    for (MESSAGEID m : ids) {
      if (++messages > kMaxMessagesRead) return;
      com::ComPtr<IStream> stream;
      if (FAILED(s->OpenMessage(id, m, IID_IStream, stream.ReleaseAndGetVoidAddress()))) continue;
      char buffer[65536];
      ULONG got = 0;
      while (bytes < kMaxBytesRead && SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) &&
             got > 0)
        bytes += got;
    }
  }
}

struct Place {
  std::string base, scratch, geary, evolution;

  Place() {
    // No cache: the store keeps its index in memory, as it does for a user
    // whose cache cannot be written.
    unsetenv("XDG_CACHE_HOME");
    unsetenv("HOME");
    char dir[] = "/tmp/mq-dbs-fuzz-XXXXXX";
    if (!mkdtemp(dir)) abort();
    base = dir;
    scratch = base + "/input.db";
    geary = base + "/jane@example.com";
    evolution = base + "/1a2b3c";
    mkdir(geary.c_str(), 0700);
    // Evolution's tree is on disk; only the database changes from input to input.
    const char* dirs[] = {"",
                          "/folders",
                          "/folders/INBOX",
                          "/folders/INBOX/cur",
                          "/folders/INBOX/cur/00",
                          "/folders/INBOX/subfolders",
                          "/folders/INBOX/subfolders/Lists",
                          "/folders/INBOX/subfolders/Lists/cur",
                          "/folders/INBOX/subfolders/Lists/cur/0a",
                          "/folders/Work",
                          "/folders/Work/cur",
                          "/folders/Work/cur/5e"};
    for (const char* d : dirs) mkdir((evolution + d).c_str(), 0700);
    const char* files[] = {"/folders/INBOX/cur/00/1", "/folders/INBOX/cur/00/2",
                           "/folders/INBOX/subfolders/Lists/cur/0a/3", "/folders/Work/cur/5e/4"};
    for (const char* f : files)
      WriteFile(evolution + f, "From: a@example.org\nSubject: s\n\nbody\n");
  }
  ~Place() {
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Place place;
  const std::string bytes =
      Database(place.scratch, std::string_view(reinterpret_cast<const char*>(data), size));
  for (const std::string& root : {place.geary, place.evolution}) {
    const std::string db = root + (root == place.geary ? "/geary.db" : "/folders.db");
    RemoveDatabase(db);
    WriteFile(db, bytes);
    const std::set<std::string> before = Entries(root);
    ReadStore(root);
    Check(Entries(root) == before);
    Check(ReadFile(db) == bytes);
  }
  return 0;
}
