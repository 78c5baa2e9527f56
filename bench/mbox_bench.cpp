// SPDX-License-Identifier: LGPL-2.1-or-later
// Listing and reading a large mbox file, as ratios against baselines measured
// in the same run, with the page cache warm for every side (the file is read
// with cat before each).
//
//   mbox_bench DIR [COUNT] [MB]
//   mbox_bench --list FILE CACHE     (one listing, nothing else: for a profiler)
//
// DIR must be a fresh directory: it gets DIR/big.mbox, COUNT (default 20,000)
// messages making MB (default 2048) megabytes, each a text part with "From "
// and ">From " body lines and a base64 attachment; every listing gets an
// index directory of its own. Reports:
//   (a) the first listing vs `grep -c '^From ' FILE` (goal <= 3x) and vs
//       Python's mailbox.mbox reading every Subject (goal <= 0.1x), with the
//       growth of private memory (RssAnon) during it (goal < 64 MB);
//   (b) a later listing of the unchanged file (goal < 0.05 s);
//   (c) the listing after 100 messages are appended vs (a) (goal < 5 %);
//   (d) reading the last message as a stream vs reading the first (goal ~1x).
// Set MBOX_BENCH_NO_PYTHON=1 to leave out the Python side (minutes on 2 GB).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/mbox_file.h"
#include "bench/span_timer.h"
#include "platform/com/memory.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"

namespace {

using bench::Shell;
using bench::Span;
using bench::StatusKb;
using bench::Timer;
using bench::Warm;
using bench::WriteMessages;

// The highest RssAnon seen while it lives, sampled every few milliseconds.
class AnonPeak {
 public:
  AnonPeak() : peak_(StatusKb("RssAnon:")) {
    thread_ = std::thread([this] {
      while (!stop_) {
        long now = StatusKb("RssAnon:");
        if (now > peak_) peak_ = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  long Stop() {
    stop_ = true;
    thread_.join();
    return peak_;
  }

 private:
  std::atomic<long> peak_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Listing {
  Span span;
  long messages = 0;
};

Listing List(const std::string& file, const std::string& cache) {
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  setenv("MAILDIR", file.c_str(), 1);
  Timer t;
  com::ComPtr<IStoreNamespace> ns;
  store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress());
  Listing out;
  if (ns->Initialize(nullptr, 0) != S_OK) return out;
  com::ComPtr<IStoreFolder> inbox;
  ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.ReleaseAndGetAddressOf());
  MESSAGEPROPS p{};
  p.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE e = nullptr;
  for (HRESULT hr = inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &p, &e); hr == S_OK;
       hr = inbox->GetNextMessage(e, 0, &p)) {
    ++out.messages;
    inbox->FreeMessageProps(&p);
  }
  if (e) inbox->GetMessageClose(e);
  out.span = t.Stop();
  return out;
}

// Reads message `which` (0 first, 1 last) of the file's Inbox as a stream
// into a fresh file, `rounds` times.
Span ReadMessage(const std::string& file, const std::string& cache, bool last, int rounds,
                 const std::string& outDir) {
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  setenv("MAILDIR", file.c_str(), 1);
  com::ComPtr<IStoreNamespace> ns;
  store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress());
  ns->Initialize(nullptr, 0);
  com::ComPtr<IStoreFolder> inbox;
  ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.ReleaseAndGetAddressOf());
  std::vector<MESSAGEID> ids;
  MESSAGEPROPS p{};
  p.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE e = nullptr;
  for (HRESULT hr = inbox->GetFirstMessage(MSGPROPS_FAST, 0, MESSAGEID_FIRST, &p, &e); hr == S_OK;
       hr = inbox->GetNextMessage(e, MSGPROPS_FAST, &p))
    ids.push_back(p.dwMessageId);
  if (e) inbox->GetMessageClose(e);
  if (ids.empty()) return {};
  mkdir(outDir.c_str(), 0700);
  Timer t;
  for (int r = 0; r < rounds; ++r) {
    com::ComPtr<IStream> s;
    inbox->OpenMessage(last ? ids.back() : ids.front(), IID_IStream, s.ReleaseAndGetVoidAddress());
    int fd = open((outDir + "/" + std::to_string(r) + ".eml").c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    char buf[14095];
    ULONG n = 0;
    while (s && SUCCEEDED(s->Read(buf, sizeof buf, &n)) && n > 0)
      if (write(fd, buf, n) != static_cast<ssize_t>(n)) break;
    close(fd);
  }
  return t.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: mbox_bench DIR [COUNT] [MB]\n       mbox_bench --list FILE CACHE\n");
    return 2;
  }
  if (argc == 4 && std::strcmp(argv[1], "--list") == 0) {  // one listing alone, for a profiler
    Listing l = List(argv[2], argv[3]);
    std::printf("%ld messages, %.3f s wall, %.3f s CPU\n", l.messages, l.span.wall, l.span.cpu);
    return 0;
  }
  const std::string dir = argv[1];
  const unsigned count = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 20000;
  const std::size_t mb = argc > 3 ? static_cast<std::size_t>(std::atoi(argv[3])) : 2048;
  mkdir(dir.c_str(), 0700);
  const std::string file = dir + "/big.mbox";
  const std::size_t each = mb * 1024 * 1024 / count;
  Timer writing;
  WriteMessages(file, 0, count, each, false);
  struct stat st;
  stat(file.c_str(), &st);
  std::printf("wrote %u messages, %.0f MB, in %.1f s\n", count, st.st_size / 1048576.0,
              writing.Stop().wall);
  // Old enough that no listing doubts the file's time.
  struct timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  utimensat(AT_FDCWD, file.c_str(), old, 0);

  Warm(file);
  // Not to /dev/null: grep stops at the first match when its output goes there.
  Span grep = Shell("grep -c '^From ' '" + file + "' > '" + dir + "/grep.out'");
  std::printf("grep -c '^From ':       %7.3f s wall, %7.3f s CPU\n", grep.wall, grep.cpu);
  double pythonWall = 0;
  if (!std::getenv("MBOX_BENCH_NO_PYTHON")) {
    Warm(file);
    Span python = Shell(
        "/usr/bin/python3 -c \"import mailbox, sys\n"
        "n = 0\n"
        "for m in mailbox.mbox(sys.argv[1]):\n"
        "    n += m['subject'] is not None\n"
        "print(n)\" '" +
        file + "' > /dev/null");
    pythonWall = python.wall;
    std::printf("python mailbox.mbox:    %7.3f s wall, %7.3f s CPU\n", python.wall, python.cpu);
  }

  Warm(file);
  long anonBefore = StatusKb("RssAnon:");
  AnonPeak peak;
  Listing first = List(file, dir + "/cache-1");
  long anonPeak = peak.Stop();
  std::printf("first listing:          %7.3f s wall, %7.3f s CPU, %ld messages\n", first.span.wall,
              first.span.cpu, first.messages);
  std::printf("  RssAnon grew by %.1f MB at most (goal < 64 MB)\n",
              (anonPeak - anonBefore) / 1024.0);
  std::printf("  (a) first listing / grep = %.2fx wall, %.2fx CPU (goal <= 3x)\n",
              first.span.wall / grep.wall, first.span.cpu / grep.cpu);
  if (pythonWall > 0)
    std::printf("  (a) first listing / python = %.3fx wall (goal <= 0.1x)\n",
                first.span.wall / pythonWall);

  Listing again = List(file, dir + "/cache-1");
  std::printf("(b) unchanged listing:  %7.3f s wall, %7.3f s CPU (goal < 0.05 s), %ld messages\n",
              again.span.wall, again.span.cpu, again.messages);

  WriteMessages(file, count, 100, each, true);
  utimensat(AT_FDCWD, file.c_str(), old, 0);
  Warm(file);
  Listing grown = List(file, dir + "/cache-1");
  std::printf(
      "(c) after 100 appended: %7.3f s wall, %7.3f s CPU, %ld messages: %.1f %% of the first's "
      "wall, %.1f %% of its CPU (goal < 5 %%)\n",
      grown.span.wall, grown.span.cpu, grown.messages, 100.0 * grown.span.wall / first.span.wall,
      100.0 * grown.span.cpu / first.span.cpu);

  Warm(file);
  Span firstMessage = ReadMessage(file, dir + "/cache-1", false, 50, dir + "/out-first");
  Span lastMessage = ReadMessage(file, dir + "/cache-1", true, 50, dir + "/out-last");
  std::printf("(d) 50 reads of the first message %.4f s, of the last %.4f s: last/first = %.2fx\n",
              firstMessage.wall, lastMessage.wall, lastMessage.wall / firstMessage.wall);

  return 0;
}
