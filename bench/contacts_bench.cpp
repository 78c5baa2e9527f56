// SPDX-License-Identifier: LGPL-2.1-or-later
// Times the address-book export as a client runs it: Contacts.Refresh, then
// Count and FindEmail for every index, by name through IDispatch, over a book
// of single-card files (about 600 bytes each, several phones, an address, an
// organisation), against `cat` of the same files and `khard email --parsable`
// on the same directory, all in one run.
// Usage: contacts_bench [card count, default 10000] [khard runs, default 1]
// Needs MailStore.so, AddressBook.so and Mailquarry.ocx beside it (bin/).
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/activation/activation.h"
#include "platform/com/testing/automation_client.h"
#include "platform/testing/registered_modules.h"
#include "platform/ui/control_host.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void WriteCards(const fs::path& dir, int count) {
  fs::create_directories(dir);
  for (int i = 0; i < count; ++i) {
    char uid[64];
    std::snprintf(uid, sizeof uid, "c0ffee%02d-%04d-4bcd-9e21-%012d", i % 97, i % 10000, i);
    std::ofstream out(dir / (std::string(uid) + ".vcf"), std::ios::binary);
    out << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" << uid << "\r\nFN:Person Number " << i
        << "\r\nN:Number " << i << ";Person;Middle;Dr.;\r\nEMAIL;TYPE=INTERNET,pref:person" << i
        << "@example.org\r\nEMAIL;TYPE=INTERNET:other" << i << "@example.net\r\n"
        << "TEL;TYPE=WORK,VOICE:+1 555 01" << i % 100 << "\r\nTEL;TYPE=HOME,VOICE:+1 555 02"
        << i % 100 << "\r\nTEL;TYPE=CELL:+1 555 03" << i % 100 << "\r\n"
        << "ADR;TYPE=WORK:;Suite " << i % 50
        << ";1 Long Street Name;Springfield;Some State;12345;Country\r\n"
        << "ORG:Company Number " << i % 300 << ";Department " << i % 7 << "\r\nTITLE:Title "
        << i % 11 << "\r\nURL;TYPE=WORK:https://www.example.org/people/" << i
        << "\r\nNOTE:A short note about this contact\\, to bring the card to the usual size.\r\n"
        << "END:VCARD\r\n";
  }
}

// The best of `runs` timings of `work`, in seconds.
double Best(int runs, const std::function<void()>& work) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int khardRuns = argc > 2 ? std::atoi(argv[2]) : 1;
  if (!std::getenv("MQ_BIN_DIR")) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
      setenv("MQ_BIN_DIR", fs::path(self).parent_path().c_str(), 1);
  }
  char baseName[] = "/tmp/mq-contacts-bench-XXXXXX";
  if (!mkdtemp(baseName)) return 1;
  const fs::path base = baseName;
  const fs::path book = base / "book";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(base / "Maildir" / sub);
  WriteCards(book, count);
  setenv("MAILDIR", (base / "Maildir").c_str(), 1);
  setenv("MAILQUARRY_ADDRESSBOOK", book.c_str(), 1);
  std::ofstream(base / "khard.conf")
      << "[addressbooks]\n[[bench]]\npath = " << book.string() << "\n";

  mqtest::RegisteredModules registry({"MailStore.so", "AddressBook.so", "Mailquarry.ocx"});
  if (!registry.Ok()) {
    std::fprintf(stderr, "registration failed:\n%s", registry.Log().c_str());
    return 1;
  }
  ui::ControlHost host(/*userMode=*/true);
  CLSID clsid{};
  if (FAILED(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid)) ||
      FAILED(host.Create(clsid)) ||
      FAILED(host.Activate(nullptr, ui::Rect::FromSize(0, 0, 1, 1)))) {
    std::fprintf(stderr, "cannot create the control\n");
    return 1;
  }
  auto contacts = mqtest::Get(host.Dispatch(), "Contacts").Object();

  const std::string cat = "cat " + book.string() + "/*.vcf > /dev/null";
  const double catSeconds = Best(5, [&] {
    if (std::system(cat.c_str()) != 0) std::fprintf(stderr, "cat failed\n");
  });
  long found = 0;
  const double ourSeconds = Best(5, [&] {
    mqtest::Call(contacts, "Refresh");
    const LONG n = mqtest::Get(contacts, "Count").Long();
    found = 0;
    for (LONG i = 0; i < n; ++i) found += !mqtest::Call(contacts, "FindEmail", i).Str().empty();
  });
  // Where the time goes: the reload alone, and the lookups alone.
  const double refreshSeconds = Best(5, [&] { mqtest::Call(contacts, "Refresh"); });
  const double findSeconds = Best(5, [&] {
    const LONG n = mqtest::Get(contacts, "Count").Long();
    for (LONG i = 0; i < n; ++i) mqtest::Call(contacts, "FindEmail", i);
  });
  const std::string khard =
      "khard -c " + (base / "khard.conf").string() + " email --parsable > /dev/null 2>&1";
  const double khardSeconds = khardRuns > 0 ? Best(khardRuns,
                                                   [&] {
                                                     if (std::system(khard.c_str()) != 0)
                                                       std::fprintf(stderr, "khard failed\n");
                                                   })
                                            : 0;

  std::printf("%d single-card files, %ld e-mail addresses read\n", count, found);
  std::printf("cat of the files            %8.3f s\n", catSeconds);
  std::printf("Refresh + FindEmail (all)   %8.3f s   %.2f x cat\n", ourSeconds,
              ourSeconds / catSeconds);
  std::printf("  of which Refresh           %8.3f s\n  of which FindEmail (all)  %8.3f s\n",
              refreshSeconds, findSeconds);
  if (khardRuns > 0)
    std::printf("khard email --parsable      %8.3f s   ours is %.3f x khard\n", khardSeconds,
                ourSeconds / khardSeconds);
  host.Close();
  fs::remove_all(base);
  return found == count ? 0 : 2;
}
