// SPDX-License-Identifier: LGPL-2.1-or-later
// Times the address-book export over a Thunderbird book as a client runs it:
// Contacts.Refresh, then Count and FindEmail for every index, by name through
// IDispatch, with 10,000 cards in the profile's abook.sqlite (each its
// _vCard, about 600 bytes, with the properties Thunderbird stores beside it),
// against the sqlite3 program reading the same _vCard values into /dev/null,
// in one run. Medians of several runs, CPU (this process and the programs it
// waited for) and wall.
//   - the first listing in a new process (a child run of this program, which
//     creates the control while the profile is out of sight, so the control's
//     own start is not counted, then lists): with no card cache (the first
//     run ever), with the cache of an unchanged book, and after one card of
//     the book changed;
//   - in one process: after the database changed without its cards changing,
//     and unchanged since the last Refresh.
// Usage: thunderbird_books_bench [card count, default 10000] [runs, default 5]
// Needs MailStore.so, AddressBook.so and Mailquarry.ocx beside it (bin/), and
// the sqlite3 program. $MQ_BENCH_PROFILE, when set, is put before the first
// timed child run with the card cache of an unchanged book (a profiler's
// command: "perf record -g -o FILE --").
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/span_timer.h"
#include "platform/activation/activation.h"
#include "platform/com/testing/automation_client.h"
#include "platform/testing/registered_modules.h"
#include "platform/ui/control_host.h"
#include "platform/wab/testing/program_books.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<wabtest::ThunderbirdCard> Cards(int count, int edition = 0) {
  std::vector<wabtest::ThunderbirdCard> cards;
  for (int i = 0; i < count; ++i) {
    char uid[64];
    std::snprintf(uid, sizeof uid, "c0ffee%02d-%04d-4bcd-9e21-%012d", i % 97, i % 10000, i);
    const std::string n = std::to_string(i), email = "person" + n + "@example.org";
    std::string vcard =
        "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:" + std::string(uid) + "\r\nFN:Person Number " + n +
        "\r\nN:Number " + n + ";Person;Middle;Dr.;\r\nEMAIL;PREF=1:" + email + "\r\nEMAIL:other" +
        n + "@example.net\r\nTEL;TYPE=work;VALUE=TEXT:+1 555 01" + std::to_string(i % 100) +
        "\r\nTEL;TYPE=home;VALUE=TEXT:+1 555 02" + std::to_string(i % 100) +
        "\r\nTEL;TYPE=cell;VALUE=TEXT:+1 555 03" + std::to_string(i % 100) +
        "\r\nADR;TYPE=work:;Suite " + std::to_string(i % 50) +
        ";1 Long Street Name;Springfield;Some State;12345;Country\r\n" + "ORG:Company Number " +
        std::to_string(i % 300) + ";Department " + std::to_string(i % 7) + "\r\nTITLE:Title " +
        std::to_string(i % 11) + "\r\nURL;TYPE=work;VALUE=URL:https://www.example.org/people/" + n +
        "\r\nNOTE:A short note about this contact\\, to bring the card to the "
        "usual size" +
        (i == 0 ? std::string(edition, '.') : "") + "\r\nEND:VCARD\r\n";
    cards.push_back(wabtest::ThunderbirdVCardCard(uid, vcard, "Person Number " + n, email));
  }
  return cards;
}

// CPU time of this process and of its waited-for children, in seconds.
double CpuWithChildren() {
  struct rusage children {};
  getrusage(RUSAGE_CHILDREN, &children);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return bench::CpuNow() + seconds(children.ru_utime) + seconds(children.ru_stime);
}

bench::Span Time(const std::function<void()>& work) {
  const auto start = Clock::now();
  const double cpu = CpuWithChildren();
  work();
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuWithChildren() - cpu};
}

bench::Span Median(std::vector<bench::Span> runs) {
  auto middle = [&](auto field) {
    std::vector<double> v;
    for (const bench::Span& s : runs) v.push_back(s.*field);
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  return {middle(&bench::Span::wall), middle(&bench::Span::cpu)};
}

// Refresh, Count and FindEmail for every index; the addresses found.
long ExportAll(IDispatch* contacts) {
  mqtest::Call(contacts, "Refresh");
  const LONG n = mqtest::Get(contacts, "Count").Long();
  long found = 0;
  for (LONG i = 0; i < n; ++i) found += !mqtest::Call(contacts, "FindEmail", i).Str().empty();
  return found;
}

bool CreateControl(ui::ControlHost& host) {
  CLSID clsid{};
  return SUCCEEDED(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid)) &&
         SUCCEEDED(host.Create(clsid)) &&
         SUCCEEDED(host.Activate(nullptr, ui::Rect::FromSize(0, 0, 1, 1)));
}

// The child run: the control is created while the Thunderbird profile is out
// of sight (its start is not what is timed), then the first listing of the
// book in this process is timed. Prints "wall cpu found".
int Child() {
  const std::string home = std::getenv("HOME");
  fs::rename(home + "/.thunderbird", home + "/.thunderbird-hidden");
  ui::ControlHost host(/*userMode=*/true);
  const bool created = CreateControl(host);
  fs::rename(home + "/.thunderbird-hidden", home + "/.thunderbird");
  if (!created) return 1;
  auto contacts = mqtest::Get(host.Dispatch(), "Contacts").Object();
  long found = 0;
  const bench::Span span = Time([&] { found = ExportAll(contacts.Get()); });
  std::printf("%.6f %.6f %ld\n", span.wall, span.cpu, found);
  host.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--child") return Child();
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  if (!std::getenv("MQ_BIN_DIR")) setenv("MQ_BIN_DIR", fs::path(self).parent_path().c_str(), 1);
  char baseName[] = "/tmp/mq-tbbooks-bench-XXXXXX";
  if (!mkdtemp(baseName)) return 1;
  const fs::path base = baseName;
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(base / "Maildir" / sub);
  const std::string profile = wabtest::WriteThunderbirdProfile((base / "home").string(), "");
  const std::string book = profile + "/abook.sqlite";
  wabtest::WriteThunderbirdBook(book, Cards(count));
  setenv("MAILDIR", (base / "Maildir").c_str(), 1);
  setenv("HOME", (base / "home").c_str(), 1);
  setenv("XDG_DATA_HOME", (base / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (base / "cache").c_str(), 1);
  unsetenv("MAILQUARRY_ADDRESSBOOK");

  mqtest::RegisteredModules registry({"MailStore.so", "AddressBook.so", "Mailquarry.ocx"});
  if (!registry.Ok()) {
    std::fprintf(stderr, "registration failed:\n%s", registry.Log().c_str());
    return 1;
  }

  const std::string sqlite = "sqlite3 'file:" + book +
                             "?mode=ro' \"SELECT value FROM properties WHERE name = '_vCard'\" "
                             "> /dev/null";
  std::vector<bench::Span> sqliteRuns;
  auto runSqlite = [&] {
    sqliteRuns.push_back(Time([&] {
      if (std::system(sqlite.c_str()) != 0) std::fprintf(stderr, "sqlite3 failed\n");
    }));
  };
  bool allFound = true;
  // One child run; its own figures (the listing only).
  auto child = [&](const char* wrapper = nullptr) {
    const std::string command =
        (wrapper ? std::string(wrapper) + " " : "") + "'" + std::string(self) + "' --child";
    bench::Span span{-1, -1};
    long found = 0;
    if (FILE* out = popen(command.c_str(), "r")) {
      if (std::fscanf(out, "%lf %lf %ld", &span.wall, &span.cpu, &found) != 3) span = {-1, -1};
      pclose(out);
    }
    allFound = allFound && found == count;
    return span;
  };
  // The database's files last changed long enough ago that their stamps
  // settle (file times tick coarsely; card_cache.h).
  auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); };
  auto changeOneCard = [&](int edition) {
    wabtest::WriteThunderbirdBook(book, Cards(count, edition));
  };

  std::vector<bench::Span> noCache, oneChanged, warmCache;
  for (int r = 0; r < runs; ++r) {
    runSqlite();
    fs::remove_all(base / "cache");
    noCache.push_back(child());
  }
  for (int r = 0; r < runs; ++r) {
    runSqlite();
    changeOneCard(r + 1);
    oneChanged.push_back(child());
  }
  settle();
  child();  // the first read after the database settled records that
  for (int r = 0; r < runs; ++r) {
    runSqlite();
    warmCache.push_back(child(r == 0 ? std::getenv("MQ_BENCH_PROFILE") : nullptr));
  }

  // In this process: the control reads the book when it starts.
  ui::ControlHost host(/*userMode=*/true);
  bench::Span created = Time([&] { allFound = CreateControl(host) && allFound; });
  auto contacts = mqtest::Get(host.Dispatch(), "Contacts").Object();
  std::vector<bench::Span> touched, warm;
  for (int r = 0; r < runs; ++r) {
    // The database changed (its time moved on), none of its cards.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000 + r, 0}};
    utimensat(AT_FDCWD, book.c_str(), times, 0);
    settle();
    runSqlite();
    touched.push_back(Time([&] { allFound = ExportAll(contacts.Get()) == count && allFound; }));
  }
  for (int r = 0; r < runs; ++r) {
    runSqlite();
    warm.push_back(Time([&] { allFound = ExportAll(contacts.Get()) == count && allFound; }));
  }
  host.Close();

  const bench::Span base3 = Median(sqliteRuns);
  std::printf("%d cards in abook.sqlite, every e-mail address read: %s; medians of %d runs\n",
              count, allFound ? "yes" : "NO", runs);
  std::printf("                                              wall                CPU\n");
  std::printf("%-44s%7.4f s         %7.4f s\n", "sqlite3 reading the _vCard values", base3.wall,
              base3.cpu);
  auto line = [&](const char* what, const bench::Span& t) {
    std::printf("%-44s%7.4f s %5.2fx  %7.4f s %5.2fx sqlite3\n", what, t.wall, t.wall / base3.wall,
                t.cpu, t.cpu / base3.cpu);
  };
  std::printf("Refresh + FindEmail (all), first in a new process:\n");
  line("  no card cache (first run ever)", Median(noCache));
  line("  card cache, book unchanged", Median(warmCache));
  line("  card cache, one card changed", Median(oneChanged));
  std::printf("In one process:\n");
  line("  control created (with its first read)", created);
  line("  database changed, no card changed", Median(touched));
  line("  unchanged since the last Refresh", Median(warm));
  fs::remove_all(base);
  return allFound ? 0 : 2;
}
