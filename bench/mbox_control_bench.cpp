// SPDX-License-Identifier: LGPL-2.1-or-later
// The first listing of a large mbox file as a client sees it: a new control
// (activated through the registry, by ProgID) on MAILDIR=FILE, its Inbox
// selected, up to Messages.Count, against `grep -c '^From ' FILE` into a pipe
// (into /dev/null grep stops at its first match), the page cache warm for
// both. Goal: <= 2x grep.
//
//   mbox_control_bench DIR [RUNS] [COUNT] [MB]
//
// DIR must be a fresh directory (or one this program made with the same
// COUNT and MB: the file is reused). It gets DIR/big.mbox of COUNT (default
// 10,000) messages making MB (default 1024) megabytes; every run lists it
// with an index directory of its own. RUNS (default 5) pairs of grep and
// listing are timed alternately; the medians are reported. Wall and CPU time
// (this process's threads, and grep's children) are both given: on a shared
// machine the CPU ratio is the steadier one.
// Needs MailStore.so, AddressBook.so and Mailquarry.ocx beside it (bin/).
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/mbox_file.h"
#include "bench/span_timer.h"
#include "platform/activation/activation.h"
#include "platform/com/testing/automation_client.h"
#include "platform/testing/registered_modules.h"
#include "platform/ui/control_host.h"

namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A new control on the file, up to Messages.Count; -1 when a step failed.
// `created` is the part until the control is active (activation, the store
// opened, its folder tree read).
long ListThroughControl(const CLSID& clsid, bench::Span* span, bench::Span* created) {
  bench::Timer t;
  ui::ControlHost host(/*userMode=*/true);
  long count = -1;
  if (SUCCEEDED(host.Create(clsid)) &&
      SUCCEEDED(host.Activate(nullptr, ui::Rect::FromSize(0, 0, 1, 1)))) {
    *created = t.Stop();
    com::ComPtr<IDispatch> control = host.Dispatch();
    if (mqtest::Put(control, "Folder", SHORT{0}).Ok())
      count = mqtest::Get(mqtest::Get(control, "Messages").Object(), "Count").Long();
  }
  *span = t.Stop();
  host.Close();
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mbox_control_bench DIR [RUNS] [COUNT] [MB]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const unsigned count = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 10000;
  const std::size_t mb = argc > 4 ? static_cast<std::size_t>(std::atoi(argv[4])) : 1024;
  if (!std::getenv("MQ_BIN_DIR")) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
      setenv("MQ_BIN_DIR", fs::path(self).parent_path().c_str(), 1);
  }
  fs::create_directories(dir);
  const std::string file = (dir / "big.mbox").string();
  const std::string stamp =
      (dir / ("made-" + std::to_string(count) + "-" + std::to_string(mb))).string();
  if (!fs::exists(stamp)) {
    bench::Timer writing;
    bench::WriteMessages(file, 0, count, mb * 1024 * 1024 / count, false);
    // Old enough that no listing doubts the file's time.
    struct timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    utimensat(AT_FDCWD, file.c_str(), old, 0);
    std::ofstream{stamp};
    std::printf("wrote %u messages in %.1f s\n", count, writing.Stop().wall);
  }
  std::printf("%s: %.0f MB\n", file.c_str(), static_cast<double>(fs::file_size(file)) / 1048576);

  fs::create_directories(dir / "book");
  setenv("MAILDIR", file.c_str(), 1);
  setenv("MAILQUARRY_ADDRESSBOOK", (dir / "book").c_str(), 1);
  mqtest::RegisteredModules registry({"MailStore.so", "AddressBook.so", "Mailquarry.ocx"});
  CLSID clsid{};
  if (!registry.Ok() || FAILED(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid))) {
    std::fprintf(stderr, "registration failed:\n%s", registry.Log().c_str());
    return 1;
  }

  const std::string grep = "grep -c '^From ' '" + file + "' | cat > /dev/null";
  std::vector<double> grepWall, grepCpu, ourWall, ourCpu, wallRatio, cpuRatio;
  long listed = 0;
  for (int r = 0; r < runs; ++r) {
    fs::remove_all(dir / "cache");
    fs::create_directories(dir / "cache");
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    bench::Warm(file);
    const bench::Span g = bench::Shell(grep);
    bench::Warm(file);
    bench::Span ours, created;
    listed = ListThroughControl(clsid, &ours, &created);
    std::printf(
        "run %d: grep %.3f s wall %.3f s CPU; control %.3f s wall %.3f s CPU (active after"
        " %.3f s wall %.3f s CPU), %ld messages; %.2fx wall %.2fx CPU\n",
        r + 1, g.wall, g.cpu, ours.wall, ours.cpu, created.wall, created.cpu, listed,
        ours.wall / g.wall, ours.cpu / g.cpu);
    grepWall.push_back(g.wall);
    grepCpu.push_back(g.cpu);
    ourWall.push_back(ours.wall);
    ourCpu.push_back(ours.cpu);
    wallRatio.push_back(ours.wall / g.wall);
    cpuRatio.push_back(ours.cpu / g.cpu);
  }
  fs::remove_all(dir / "cache");
  std::printf("medians of %d runs: grep %.3f s wall %.3f s CPU; control %.3f s wall %.3f s CPU\n",
              runs, Median(grepWall), Median(grepCpu), Median(ourWall), Median(ourCpu));
  std::printf("first listing through the control / grep = %.2fx wall, %.2fx CPU (goal <= 2x)\n",
              Median(wallRatio), Median(cpuRatio));
  return listed == static_cast<long>(count) ? 0 : 3;
}
