// SPDX-License-Identifier: LGPL-2.1-or-later
// Store enumeration speed, as ratios against baselines measured in the same run.
//
//   store_bench DIR [COUNT]
//
// DIR becomes a Maildir++ store with one folder "Bench" of COUNT (default
// 100,000) messages of 2-20 KB, generated once and reused by later runs.
// Reports:
//   (a) first enumeration without an index vs reading the first 4 KB of every
//       message file (goal <= 3x);
//   (b) a later enumeration, nothing changed, vs a bare SQLite query of the
//       same summary rows (goal <= 2x and < 0.5 s), with its peak memory;
//   (c) an enumeration after one new message arrived vs (b) (goal <= 1.2x).
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/span_timer.h"
#include "platform/com/memory.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"

namespace {

using bench::Span;
using bench::StatusKb;
using bench::Timer;

volatile std::size_t g_sink = 0;  // keeps the compiler from dropping the reads

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void SetOld(const std::string& path) {
  struct timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  utimensat(AT_FDCWD, path.c_str(), old, 0);
}

const char* kWords[] = {"meeting",  "report",  "quarterly", "invoice",   "project",  "update",
                        "schedule", "review",  "budget",    "draft",     "proposal", "team",
                        "customer", "release", "notes",     "follow-up", "question", "lunch"};
const char* kNames[] = {"Alice Martin",  "Bob Schäfer",  "Chen Wei",     "Dana O'Neil",
                        "Élodie Dubois", "Frank Miller", "Grace Hopper", "Hiro Tanaka"};

std::string Generate(std::mt19937& rng, int i, std::int64_t when) {
  auto pick = [&](auto& arr) { return arr[rng() % (sizeof arr / sizeof arr[0])]; };
  std::string subject;
  int words = 2 + static_cast<int>(rng() % 6);
  for (int w = 0; w < words; ++w) subject += std::string(w ? " " : "") + pick(kWords);
  if (rng() % 4 == 0) subject = "Re: " + subject;
  if (rng() % 10 == 0) subject = "=?UTF-8?Q?" + subject.substr(0, 8) + "_=C3=A9t=C3=A9?= rest";
  char date[64];
  time_t t = static_cast<time_t>(when);
  strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", gmtime(&t));
  std::string m;
  for (int r = 0; r < 3; ++r)
    m += "Received: from mx" + std::to_string(r) + ".example.net (mx.example.net [192.0.2." +
         std::to_string(r) + "])\r\n\tby mail.example.org with ESMTPS id " + std::to_string(rng()) +
         "\r\n\tfor " + "<user@example.org>; " + date + "\r\n";
  m += "From: \"" + std::string(pick(kNames)) + "\" <sender" + std::to_string(rng() % 500) +
       "@example.com>\r\n";
  m += "To: \"" + std::string(pick(kNames)) + "\" <user@example.org>, team@example.org\r\n";
  if (rng() % 3 == 0) m += "Cc: " + std::string(pick(kNames)) + " <cc@example.org>\r\n";
  m += "Subject: " + subject + "\r\n";
  m += std::string("Date: ") + date + "\r\n";
  m += "Message-ID: <" + std::to_string(i) + "." + std::to_string(rng()) + "@example.com>\r\n";
  m += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
       "Content-Transfer-Encoding: 8bit\r\nX-Mailer: bench\r\n\r\n";
  std::size_t size = 2048 + rng() % (18 * 1024);
  while (m.size() < size) {
    for (int w = 0; w < 12; ++w) m += std::string(pick(kWords)) + " ";
    m += "\r\n";
  }
  return m;
}

void WriteFile(const std::string& path, const std::string& bytes, std::int64_t when) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::exit(1);
  struct timespec ts[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  futimens(fd, ts);
  close(fd);
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> files;
  for (const char* sub : {"/cur/", "/new/"}) {
    DIR* d = opendir((dir + sub).c_str());
    if (!d) continue;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir + sub + e->d_name);
    closedir(d);
  }
  return files;
}

Span ReadHeads(const std::vector<std::string>& files) {
  Timer t;
  char buf[4096];
  std::size_t total = 0;
  for (const auto& f : files) {
    int fd = open(f.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) total += static_cast<std::size_t>(n);
    close(fd);
  }
  Span s = t.Stop();
  if (total == 0) std::puts("nothing read");
  return s;
}

// Enumerates the folder through the store interfaces; returns seconds.
Span Enumerate(IStoreFolder* folder, std::size_t* count) {
  Timer t;
  MESSAGEPROPS p{};
  p.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE e = nullptr;
  std::size_t n = 0, chars = 0;
  HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &p, &e);
  while (hr == S_OK) {
    ++n;
    if (p.pszNormalSubject) chars += std::strlen(p.pszNormalSubject);
    folder->FreeMessageProps(&p);
    hr = folder->GetNextMessage(e, 0, &p);
  }
  if (e) folder->GetMessageClose(e);
  Span s = t.Stop();
  if (hr < 0) std::printf("enumeration failed: 0x%08x\n", static_cast<unsigned>(hr));
  g_sink = g_sink + chars;
  *count = n;
  return s;
}

Span BareQuery(const std::string& root, std::size_t* count) {
  sqlite3* db = nullptr;
  sqlite3_open_v2((root + "/mailquarry-index.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  // The same engine settings the store uses for its index.
  sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
  Timer t;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT id, size, flags, received, sent, subject, norm_subject, disp_from,"
                     " disp_to, message_id FROM messages"
                     " WHERE folder = (SELECT id FROM folders WHERE path = '.Bench')"
                     " AND sub < 2 ORDER BY id",
                     -1, &st, nullptr);
  std::size_t n = 0, chars = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++n;
    for (int c = 5; c < 10; ++c) chars += static_cast<std::size_t>(sqlite3_column_bytes(st, c));
    chars += static_cast<std::size_t>(sqlite3_column_int64(st, 0));
  }
  sqlite3_finalize(st);
  Span s = t.Stop();
  sqlite3_close(db);
  g_sink = g_sink + chars;
  *count = n;
  return s;
}

// Median of wall and of CPU time, each on its own.
Span Median(std::vector<Span> v) {
  std::vector<double> w, c;
  for (const auto& s : v) {
    w.push_back(s.wall);
    c.push_back(s.cpu);
  }
  std::sort(w.begin(), w.end());
  std::sort(c.begin(), c.end());
  return {w[w.size() / 2], c[c.size() / 2]};
}

void Report(const char* what, Span a, const char* vs, Span b, const char* goal) {
  std::printf("%s vs %s: wall %.3f / %.3f s = %.2fx, cpu %.3f / %.3f s = %.2fx (goal %s)\n", what,
              vs, a.wall, b.wall, a.wall / b.wall, a.cpu, b.cpu, a.cpu / b.cpu, goal);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [COUNT]\n", argv[0]);
    return 2;
  }
  std::string root = argv[1];
  int count = argc > 2 ? std::atoi(argv[2]) : 100000;
  std::string folder = root + "/.Bench";
  mkdir(root.c_str(), 0700);
  for (const char* sub : {"/cur", "/new", "/tmp"}) mkdir((root + sub).c_str(), 0700);
  if (access((folder + "/cur").c_str(), F_OK) != 0) {
    Timer t;
    mkdir(folder.c_str(), 0700);
    for (const char* sub : {"/cur", "/new", "/tmp"}) mkdir((folder + sub).c_str(), 0700);
    std::mt19937 rng(42);
    std::int64_t when = 1600000000;
    for (int i = 0; i < count; ++i) {
      when += 1 + rng() % 600;
      std::string uniq = std::to_string(when) + ".M" + std::to_string(i) + "P1.bench";
      WriteFile(folder + "/cur/" + uniq + ":2," + (rng() % 3 ? "S" : ""), Generate(rng, i, when),
                when);
    }
    std::printf("generated %d messages in %.1f s\n", count, t.Stop().wall);
  }
  // Mail that has been sitting there: directory times in the past.
  SetOld(folder + "/cur");
  SetOld(folder + "/new");
  for (const char* suffix : {"", "-wal", "-shm"})
    unlink((root + "/mailquarry-index.sqlite" + suffix).c_str());
  setenv("MAILDIR", root.c_str(), 1);

  auto files = ListFiles(folder);
  ReadHeads(files);  // warm the page cache for both sides
  Span heads = ReadHeads(files);

  com::ComPtr<IStoreNamespace> ns;
  store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress());
  Timer firstTimer;
  if (ns->Initialize(nullptr, 0) != S_OK) return 1;
  FOLDERPROPS fp{};
  fp.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE e = nullptr;
  STOREFOLDERID benchId = 0;
  for (HRESULT hr = ns->GetFirstSubFolder(0, &fp, &e); hr == S_OK;
       hr = ns->GetNextSubFolder(e, &fp))
    if (std::string(fp.szName) == "Bench") benchId = fp.dwFolderId;
  ns->GetSubFolderClose(e);
  com::ComPtr<IStoreFolder> bench;
  if (ns->OpenFolder(benchId, 0, bench.ReleaseAndGetAddressOf()) != S_OK) return 1;
  std::size_t n = 0;
  Enumerate(bench.Get(), &n);
  Span first = firstTimer.Stop();
  std::printf("files: %zu, enumerated: %zu\n", files.size(), n);
  Report("(a) first enumeration, no index", first, "reading 4 KB of every file", heads, "<= 3x");

  std::vector<Span> later, bare;
  long baseline = StatusKb("VmRSS:");
  ResetPeak();
  for (int i = 0; i < 5; ++i) {
    later.push_back(Enumerate(bench.Get(), &n));
    std::size_t m = 0;
    bare.push_back(BareQuery(root, &m));
    if (m != n) std::printf("row counts differ: %zu vs %zu\n", n, m);
  }
  long peak = StatusKb("VmHWM:");
  Span b = Median(later), q = Median(bare);
  Report("(b) enumeration, nothing changed", b, "bare SQLite query", q, "<= 2x, < 0.5 s");
  std::printf("    peak memory above baseline: %.1f MB (goal <= 64)\n", (peak - baseline) / 1024.0);

  std::vector<Span> arrived;
  std::mt19937 rng(7);
  for (int i = 0; i < 5; ++i) {
    std::int64_t now = time(nullptr);
    std::string uniq = std::to_string(now) + ".M" + std::to_string(i) + "P2.arrival";
    WriteFile(folder + "/new/" + uniq, Generate(rng, count + i, now), now);
    arrived.push_back(Enumerate(bench.Get(), &n));
  }
  Report("(c) enumeration after one arrival", Median(arrived), "(b)", b, "<= 1.2x");
  // Leave the generated store as it was: drop the arrivals.
  for (const auto& f : ListFiles(folder))
    if (f.find("P2.arrival") != std::string::npos) unlink(f.c_str());
  return 0;
}
