// SPDX-License-Identifier: LGPL-2.1-or-later
// Times the address-book export over a Thunderbird book as a client runs it:
// Contacts.Refresh, then Count and FindEmail for every index, by name through
// IDispatch, with 10,000 cards in the profile's abook.sqlite (each its
// _vCard, about 600 bytes, with the properties Thunderbird stores beside it),
// against the sqlite3 program reading the same _vCard values into /dev/null,
// in one run.
// Usage: thunderbird_books_bench [card count, default 10000]
// Needs MailStore.so, AddressBook.so and Mailquarry.ocx beside it (bin/), and
// the sqlite3 program.
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

std::vector<wabtest::ThunderbirdCard> Cards(int count) {
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
        "usual size.\r\nEND:VCARD\r\n";
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

// The best wall time and the best CPU time (this process and the programs it
// ran) of `runs` runs of `work`, in seconds: on a shared machine the CPU
// ratios are the steadier ones.
bench::Span Best(int runs, const std::function<void()>& work) {
  bench::Span best{1e9, 1e9};
  for (int r = 0; r < runs; ++r) {
    const auto start = Clock::now();
    const double cpu = CpuWithChildren();
    work();
    best.cpu = std::min(best.cpu, CpuWithChildren() - cpu);
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (!std::getenv("MQ_BIN_DIR")) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
      setenv("MQ_BIN_DIR", fs::path(self).parent_path().c_str(), 1);
  }
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
  unsetenv("MAILQUARRY_ADDRESSBOOK");

  mqtest::RegisteredModules registry({"MailStore.so", "AddressBook.so", "Mailquarry.ocx"});
  if (!registry.Ok()) {
    std::fprintf(stderr, "registration failed:\n%s", registry.Log().c_str());
    return 1;
  }
  ui::ControlHost host(/*userMode=*/true);
  CLSID clsid{};
  // The control reads the book when it starts: the first read in a process,
  // with nothing of an earlier read to keep, is timed with it.
  bool created = false;
  const bench::Span first = Best(1, [&] {
    created = SUCCEEDED(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid)) &&
              SUCCEEDED(host.Create(clsid)) &&
              SUCCEEDED(host.Activate(nullptr, ui::Rect::FromSize(0, 0, 1, 1)));
  });
  if (!created) {
    std::fprintf(stderr, "cannot create the control\n");
    return 1;
  }
  auto contacts = mqtest::Get(host.Dispatch(), "Contacts").Object();

  const std::string sqlite = "sqlite3 'file:" + book +
                             "?mode=ro' \"SELECT value FROM properties WHERE name = '_vCard'\" "
                             "> /dev/null";
  const bench::Span sqliteTime = Best(5, [&] {
    if (std::system(sqlite.c_str()) != 0) std::fprintf(stderr, "sqlite3 failed\n");
  });
  long found = 0;
  auto exportAll = [&] {
    mqtest::Call(contacts, "Refresh");
    const LONG n = mqtest::Get(contacts, "Count").Long();
    found = 0;
    for (LONG i = 0; i < n; ++i) found += !mqtest::Call(contacts, "FindEmail", i).Str().empty();
  };
  // Cold: the database changed since it was last read (its time is moved on),
  // so it is read again; cards whose text is unchanged keep their parse.
  // Warm: unchanged since the last Refresh, whose parse is kept.
  const bench::Span cold = Best(3, [&] {
    utimensat(AT_FDCWD, book.c_str(), nullptr, 0);
    exportAll();
  });
  const bench::Span warm = Best(5, exportAll);
  const bench::Span refresh = Best(5, [&] { mqtest::Call(contacts, "Refresh"); });

  std::printf("%d cards in abook.sqlite, %ld e-mail addresses read\n", count, found);
  std::printf("                                     wall            CPU\n");
  std::printf("sqlite3 reading the _vCard values   %7.3f s        %7.3f s\n", sqliteTime.wall,
              sqliteTime.cpu);
  auto line = [&](const char* what, const bench::Span& t) {
    std::printf("%-36s%7.3f s %5.2fx %7.3f s %5.2fx sqlite3\n", what, t.wall,
                t.wall / sqliteTime.wall, t.cpu, t.cpu / sqliteTime.cpu);
  };
  line("control created (first read)", first);
  line("Refresh + FindEmail (all), cold", cold);
  line("Refresh + FindEmail (all), warm", warm);
  line("  of which Refresh (warm)", refresh);
  host.Close();
  fs::remove_all(base);
  return found == count ? 0 : 2;
}
