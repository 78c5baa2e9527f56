// SPDX-License-Identifier: LGPL-2.1-or-later
// Times the whole-store attachment export with options against today's
// per-folder exports of the same folders, all through the real command line:
//   mailsift attachments --all --skip-embedded --skip-duplicates --report R DIR
//     against  mailsift attachments --folder-index i DIR_i, for every folder, added up
//   the same with --new-only, run a second time over the unchanged store,
//     against  its first run
// over a store of several folders whose HTML messages carry a cid: logo (the
// same bytes in each) and a PDF, every tenth PDF a forward of an earlier one.
//   the same with --unpack-winmail --nested, on a store without winmail.dat
//     or attached messages, against it without them: what listing each
//     message's files through the MIME layer's file walk costs (goal ≤ 1.1×);
//     six runs a side, alternating, medians of wall and CPU time
// Every run writes into a fresh, never-used directory; each side of the first
// two runs twice, the best counts.
// Usage: export_options_bench [messages, default 20000] [attachment KB, default 100]
//                             [folders, default 5] [unpack: that comparison only]
// Needs the modules in the program's own directory.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

fs::path g_root;
int g_fresh = 0;

std::string FreshDir(const std::string& what) {
  fs::path dir = g_root / "out" / (what + "-" + std::to_string(++g_fresh));
  fs::create_directories(dir);
  return dir.string();
}

bool Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s %s failed\n", argv[0].c_str(), argv.size() > 1 ? argv[1].c_str() : "");
    return false;
  }
  return true;
}

double Seconds(const std::function<void()>& run) {
  sync();
  auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Base64 text of about `kb` KB whose first line names `seed`, so that each
// seed decodes to other bytes.
std::string Attachment(int seed, int kb) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (int l = 0, lines = kb * 1024 / 78; l < lines; ++l) {
    std::string line;
    unsigned x = static_cast<unsigned>(seed) * 2654435761u + static_cast<unsigned>(l);
    for (int c = 0; c < 76; ++c) {
      x = x * 1103515245u + 12345u;
      line += kAlphabet[(x >> 16) & 63];
    }
    text += line + "\r\n";
  }
  return text;
}

void MakeFolder(const fs::path& dir, int first, int count, int kb, const std::string& logo) {
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(dir / sub);
  for (int i = first; i < first + count; ++i) {
    // Every tenth message forwards the PDF of the message ten before it.
    const int pdf = i % 10 == 9 ? i - 9 : i;
    std::ofstream out(dir / "cur" / ("1167707045.M" + std::to_string(i) + "P1.bench:2,S"),
                      std::ios::binary);
    out << "From: Sender " << i % 50 << " <s" << i % 50 << "@example.org>\r\nSubject: Invoice " << i
        << "\r\nDate: Mon, 01 Jan 2024 10:00:00 +0000\r\nMessage-ID: <" << i
        << "@bench>\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
           "--m\r\nContent-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\n"
           "Content-Type: text/html\r\n\r\n<p>Your invoice.</p><img src=\"cid:logo@x\">\r\n"
           "--r\r\nContent-Type: image/png; name=\"image001.png\"\r\nContent-ID: <logo@x>\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n"
        << logo
        << "--r--\r\n--m\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"invoice.pdf\"\r\n\r\n"
        << Attachment(pdf, kb) << "--m--\r\n";
  }
}

// Wall and CPU seconds (user and system, of the children that ended).
struct Times {
  double wall = 0, cpu = 0;
};

double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Times Timed(const std::function<void()>& run) {
  const double cpu = ChildrenCpu();
  Times t;
  t.wall = Seconds(run);
  t.cpu = ChildrenCpu() - cpu;
  return t;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Ratio(const char* what, double ours, const char* baseline, double theirs) {
  std::printf("  %-34s %8.2f s   %-30s %8.2f s   ratio %.3f\n", what, ours, baseline, theirs,
              ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int kb = argc > 2 ? std::atoi(argv[2]) : 100;
  const int folderCount = argc > 3 ? std::atoi(argv[3]) : 5;
  char base[] = "/tmp/export-options-bench-XXXXXX";
  g_root = mkdtemp(base);
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  setenv("MAILQUARRY_REGISTRY", (g_root / "registry").c_str(), 1);
  setenv("MAILDIR", (g_root / "Maildir").c_str(), 1);
  setenv("MAILQUARRY_ADDRESSBOOK", (g_root / "book").c_str(), 1);
  fs::create_directories(g_root / "book");
  for (const char* module : {"MailStore.so", "Mailquarry.ocx", "AddressBook.so"})
    if (!Run({(bin / "regsvr").string(), (bin / module).string()})) return 1;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("making %d messages with %d KB PDFs in %d folders in %s\n", messages, kb, folderCount,
              g_root.c_str());
  const std::string logo = Attachment(-1, 4);
  MakeFolder(g_root / "Maildir", 0, 0, kb, logo);  // the Inbox, empty
  for (int f = 0; f < folderCount; ++f)
    MakeFolder(g_root / "Maildir" / (".Folder" + std::to_string(f)), f * messages / folderCount,
               messages / folderCount, kb, logo);
  const std::string mailsift = (bin / "Mailsift").string();
  // The store indexes every folder once and the files reach the page cache.
  Run({mailsift, "attachments", "--quiet", "--all", "--type", "none", FreshDir("warm")});

  auto perFolder = [&] {
    return Seconds([&] {
      for (int f = 1; f <= folderCount; ++f)
        Run({mailsift, "attachments", "--quiet", "--folder-index", std::to_string(f),
             FreshDir("folder")});
    });
  };
  auto options = [&](std::vector<std::string> extra, const std::string& dir) {
    std::vector<std::string> args = {mailsift,   "attachments",     "--quiet",
                                     "--all",    "--skip-embedded", "--skip-duplicates",
                                     "--report", dir + ".csv"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(dir);
    return Seconds([&] { Run(args); });
  };
  // The file walk of the MIME layer against the part list.
  auto compareUnpack = [&] {
    // Alternating, each side first every other round, so that a change of
    // the machine's load and the writes of the run before fall on both.
    std::vector<double> wallOff, cpuOff, wallOn, cpuOn;
    for (int round = 0; round < 6; ++round) {
      for (bool on : {round % 2 == 1, round % 2 == 0}) {
        std::vector<std::string> args = {
            mailsift,          "attachments",       "--quiet",  "--all",
            "--skip-embedded", "--skip-duplicates", "--report", FreshDir("report") + ".csv"};
        if (on) args.insert(args.end(), {"--unpack-winmail", "--nested"});
        args.push_back(FreshDir(on ? "unpack" : "plain"));
        const Times t = Timed([&] { Run(args); });
        (on ? wallOn : wallOff).push_back(t.wall);
        (on ? cpuOn : cpuOff).push_back(t.cpu);
        std::printf("  round %d %-8s wall %7.2f s  cpu %7.2f s\n", round + 1, on ? "on" : "off",
                    t.wall, t.cpu);
      }
    }
    Ratio("--unpack-winmail --nested, wall", Median(wallOn), "without them", Median(wallOff));
    Ratio("--unpack-winmail --nested, CPU", Median(cpuOn), "without them", Median(cpuOff));
  };
  if (argc > 4 && std::string(argv[4]) == "unpack") {
    compareUnpack();
    fs::remove_all(g_root);
    return 0;
  }
  const double a = perFolder(), b = options({}, FreshDir("options"));
  const double c = options({}, FreshDir("options")), d = perFolder();
  Ratio("--all, embedded, duplicates, report", std::min(b, c), "per-folder exports added up",
        std::min(a, d));

  double first = 1e9, second = 1e9;
  for (int round = 0; round < 2; ++round) {
    const std::string dir = FreshDir("new-only");
    first = std::min(first, options({"--new-only"}, dir));
    second = std::min(second, options({"--new-only"}, dir));
  }
  Ratio("second --new-only run", second, "its first run", first);
  Ratio("first --new-only run", first, "per-folder exports added up", std::min(a, d));
  compareUnpack();
  fs::remove_all(g_root);
  return 0;
}
