// SPDX-License-Identifier: LGPL-2.1-or-later
// Address-book reading speed, as ratios against baselines measured in the
// same run.
//
//   wab_bench [DIR] [COUNT]
//
// DIR (default: a new directory under $TMPDIR or /tmp) gets COUNT (default
// 10,000) single-card files of about 600 bytes each (several phones, an
// address, an organisation), generated once and reused by later runs. Then,
// three rounds of each, the best round reported:
//   (a) `cat` of the files to /dev/null (the baseline; goal: (b) <= 2x this);
//   (b) WABOpen and reading every row with all its properties as the
//       connection does: GetPAB, OpenEntry, GetContentsTable, SetColumns,
//       SeekRow, then per row QueryRows(1), OpenEntry, GetProps of all;
//   (c) `khard email --parsable` over the same directory, when khard exists
//       (and WAB_BENCH_NO_KHARD is not set).
// With WAB_BENCH_ONLY_BOOK set it only reads the book, three times (for a
// profiler).
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/wab/wab.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time (user + system) of this process or of its waited-for children:
// on a shared machine the steadier measure.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 1e9;
  double cpu = 1e9;
  void Keep(double w, double c) {
    wall = std::min(wall, w);
    cpu = std::min(cpu, c);
  }
};

std::string Card(int i) {
  char buf[1024];
  std::snprintf(buf, sizeof buf,
                "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bench-%05d-0000-4000-8000-000000000000\r\n"
                "FN:Person Number %05d\r\nN:Number %05d;Person;Q.;Dr.;\r\n"
                "EMAIL;TYPE=INTERNET,PREF:person%05d@example.org\r\n"
                "EMAIL;TYPE=INTERNET:p%05d@home.example.net\r\n"
                "TEL;TYPE=WORK,VOICE:+1 555 %04d\r\nTEL;TYPE=HOME,VOICE:+1 555 %04d\r\n"
                "TEL;TYPE=CELL:+1 555 %04d\r\nTEL;TYPE=WORK,FAX:+1 555 %04d\r\n"
                "ADR;TYPE=WORK:;Suite %d;%d Long Street Name;Springfield;IL;62%03d;USA\r\n"
                "ORG:Example Corporation %d;Department %d\r\nTITLE:Senior Example Officer\r\n"
                "URL;TYPE=WORK:https://www.example.org/people/%05d\r\n"
                "X-EVOLUTION-OFFICE:Building %d\r\nNOTE:Met at the conference in %d.\r\n"
                "END:VCARD\r\n",
                i, i, i, i, i, i % 10000, (i + 1) % 10000, (i + 2) % 10000, (i + 3) % 10000,
                i % 100, i % 1000, i % 1000, i % 50, i % 20, i, i % 9, 2000 + i % 25);
  return buf;
}

void Generate(const fs::path& dir, int count) {
  fs::create_directories(dir);
  if (fs::exists(dir / ".complete")) return;
  std::size_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "card-%05d.vcf", i);
    std::string card = Card(i);
    bytes += card.size();
    std::ofstream(dir / name, std::ios::binary) << card;
  }
  std::ofstream(dir / ".complete") << count;
  std::printf("generated %d cards, %.0f bytes each on average\n", count,
              static_cast<double>(bytes) / count);
}

void TimeShell(const std::string& command, Timing* t) {
  double cpu = CpuSeconds(RUSAGE_CHILDREN);
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return;
  t->Keep(Seconds(start), CpuSeconds(RUSAGE_CHILDREN) - cpu);
}

// Reads the book as the connection does; returns the seconds taken and the
// number of contacts and property values seen.
double ReadBook(LPWABOPEN open, const std::string& dir, long* contacts, long* values) {
  auto start = Clock::now();
  *contacts = *values = 0;
  IAddrBook* ab = nullptr;
  IWABObject* wab = nullptr;
  WAB_PARAM param{};
  param.cbSize = WAB_PARAM_SIZE;
  param.szFileName = const_cast<char*>(dir.c_str());
  if (open(&ab, &wab, &param, 0) != S_OK) return -1;
  ULONG cb = 0;
  LPENTRYID pabId = nullptr;
  ab->GetPAB(&cb, &pabId);
  ULONG type = 0;
  IUnknown* unknown = nullptr;
  ab->OpenEntry(cb, pabId, nullptr, 0, &type, &unknown);
  wab->FreeBuffer(pabId);
  IABContainer* pab = nullptr;
  unknown->QueryInterface(IID_IABContainer, reinterpret_cast<void**>(&pab));
  unknown->Release();
  IMAPITable* table = nullptr;
  pab->GetContentsTable(0, &table);
  SizedSPropTagArray<3> columns{3, {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE}};
  table->SetColumns(columns.Get(), 0);
  table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
  while (true) {
    LPSRowSet rows = nullptr;
    if (FAILED(table->QueryRows(1, 0, &rows)) || !rows || rows->cRows == 0) {
      wab->FreeBuffer(rows);
      break;
    }
    const SPropValue* row = rows->aRow[0].lpProps;
    if (row[2].Value.ul == MAPI_MAILUSER) {
      IUnknown* user = nullptr;
      if (SUCCEEDED(ab->OpenEntry(row[0].Value.bin.cb,
                                  reinterpret_cast<LPENTRYID>(row[0].Value.bin.lpb), nullptr, 0,
                                  &type, &user))) {
        ULONG count = 0;
        LPSPropValue props = nullptr;
        IMailUser* mailUser = nullptr;
        user->QueryInterface(IID_IMailUser, reinterpret_cast<void**>(&mailUser));
        if (mailUser && SUCCEEDED(mailUser->GetProps(nullptr, 0, &count, &props))) {
          ++*contacts;
          *values += count;
          wab->FreeBuffer(props);
        }
        if (mailUser) mailUser->Release();
        user->Release();
      }
    }
    wab->FreeBuffer(rows->aRow[0].lpProps);
    wab->FreeBuffer(rows);
  }
  table->Release();
  pab->Release();
  ab->Release();
  wab->Release();
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  if (argc > 1) {
    dir = argv[1];
  } else {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/wab-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    dir = pattern;
  }
  int count = argc > 2 ? std::atoi(argv[2]) : 10000;
  fs::path cards = fs::path(dir) / "cards";
  Generate(cards, count);

  fs::path self = fs::canonical("/proc/self/exe").parent_path();
  auto start = Clock::now();
  void* module = dlopen((self / "AddressBook.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "cannot load AddressBook.so: %s\n", dlerror());
    return 1;
  }
  double load = Seconds(start);
  auto open = reinterpret_cast<LPWABOPEN>(dlsym(module, WAB_OPEN_ENTRY_POINT));

  fs::path config = fs::path(dir) / "khard.conf";
  std::ofstream(config)
      << "[addressbooks]\n[[bench]]\npath = " << cards.string()
      << "\n[general]\ndefault_action = list\neditor = vi\nmerge_editor = vimdiff\n"
      << "[contact table]\ndisplay = first_name\n";
  bool khard =
      !std::getenv("WAB_BENCH_NO_KHARD") && std::system("command -v khard > /dev/null 2>&1") == 0;

  std::string catCommand = "cat " + cards.string() + "/*.vcf > /dev/null";
  std::string khardCommand =
      "khard -c " + config.string() + " email --parsable > /dev/null 2> /dev/null";
  if (std::getenv("WAB_BENCH_ONLY_BOOK")) {  // for profiling the engine alone
    long contacts = 0, values = 0;
    for (int round = 0; round < 3; ++round) ReadBook(open, cards.string(), &contacts, &values);
    return 0;
  }
  Timing warm, cat, book, kh;
  TimeShell(catCommand, &warm);  // warms the page cache
  long contacts = 0, values = 0;
  for (int round = 0; round < 3; ++round) {
    TimeShell(catCommand, &cat);
    double cpu = CpuSeconds(RUSAGE_SELF);
    double wall = ReadBook(open, cards.string(), &contacts, &values);
    book.Keep(wall, CpuSeconds(RUSAGE_SELF) - cpu);
    if (khard) TimeShell(khardCommand, &kh);
  }
  std::printf("module load (once, not in the ratios): %.3f s\n", load);
  std::printf("                                           wall      cpu\n");
  std::printf("(a) cat of %d files:                    %.3f s  %.3f s\n", count, cat.wall, cat.cpu);
  std::printf(
      "(b) WABOpen + rows + OpenEntry + GetProps: %.3f s  %.3f s  (%ld contacts, %ld values)\n",
      book.wall, book.cpu, contacts, values);
  std::printf("    ratio (b)/(a): wall %.2fx, cpu %.2fx  (goal <= 2x)\n", book.wall / cat.wall,
              book.cpu / cat.cpu);
  if (khard) {
    std::printf("(c) khard email --parsable:              %.3f s  %.3f s\n", kh.wall, kh.cpu);
    std::printf("    ratio (b)/(c): wall %.3fx, cpu %.3fx  (khard takes %.0fx as long)\n",
                book.wall / kh.wall, book.cpu / kh.cpu, kh.wall / book.wall);
  }
  return 0;
}
