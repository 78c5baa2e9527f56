// SPDX-License-Identifier: LGPL-2.1-or-later
// Wall time and this process's CPU time (user + system, summed over all its
// threads), for the timing programs. On a shared machine the CPU ratios are
// the steadier ones; where work runs on several threads, wall time is what a
// user waits for and CPU time what the machine pays.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

struct Span {
  double wall = 0, cpu = 0;
};

inline double CpuNow() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Timer {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = CpuNow();
  Span Stop() const {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
            CpuNow() - cpu};
  }
};

// A field of /proc/self/status in kB ("RssAnon:", "VmHWM:"), or -1.
inline long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return -1;
}

// The run of median wall time, with its own CPU time.
inline Span MedianByWall(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.wall < b.wall; });
  return spans[spans.size() / 2];
}

// A baseline for walks of a tree: lstat of every entry below `dir`; answers
// how many there are.
inline std::size_t StatTree(const std::string& dir) {
  std::size_t n = 0;
  DIR* d = opendir(dir.c_str());
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
    std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    ++n;
    if (S_ISDIR(st.st_mode)) n += StatTree(path);
  }
  closedir(d);
  return n;
}

}  // namespace bench
