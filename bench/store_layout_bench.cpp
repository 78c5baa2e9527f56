// SPDX-License-Identifier: LGPL-2.1-or-later
// Opening a nested tree against the same tree in Maildir++ form, as a ratio
// measured in one run.
//
//   store_layout_bench DIR [ROUNDS]
//
// Makes, in a new directory below DIR, ROUNDS (default 7) copies of a tree of
// 200 folders (at most 10 levels deep, 3 small messages each) in each layout:
// Maildir++ (".A.B" in a Maildir root) and nested as mbsync writes it
// ("INBOX/", "A/B/" in a root that is no Maildir). Every copy is opened once,
// so each first open meets a tree no process has opened before. Reports, for
// the median round, the wall and CPU time of
//   (a) a first open: Initialize (which writes the index) and a walk of the
//       whole folder tree with message counts, as a caller lists it;
//   (b) a later open of the same copy, the index in place.
// Goal: nested within 1.5x of Maildir++.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
using bench::Timer;

void MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}
void MakeMaildir(const std::string& path) {
  MakeDir(path);
  for (const char* sub : {"/cur", "/new", "/tmp"}) MakeDir(path + sub);
}
void PutMessages(const std::string& folder, int n, unsigned* counter) {
  for (int i = 0; i < n; ++i) {
    unsigned c = ++*counter;
    std::ofstream(folder + "/cur/" + std::to_string(1700000000 + c) + ".M" + std::to_string(c) +
                  "P1.bench:2,S")
        << "From: a@example.org\r\nSubject: message " << c << "\r\n\r\nHello.\r\n";
  }
}

// The tree: folder i's parent (-1 for the top) and name.
struct Folder {
  int parent;
  std::string name;
  int depth;
};
std::vector<Folder> MakeShape() {
  std::mt19937 rng(42);
  std::vector<Folder> folders;
  for (int i = 0; i < 200; ++i) {
    int parent = -1;
    if (i >= 8) {
      do parent = static_cast<int>(rng() % folders.size());
      while (folders[parent].depth >= 9);
    }
    folders.push_back(
        {parent, "Folder " + std::to_string(i), parent < 0 ? 0 : folders[parent].depth + 1});
  }
  return folders;
}

void WriteMaildirPlusPlus(const std::string& root, const std::vector<Folder>& shape) {
  unsigned counter = 0;
  MakeMaildir(root);
  PutMessages(root, 3, &counter);
  std::vector<std::string> dirs;
  for (const auto& f : shape) {
    std::string dir = (f.parent < 0 ? std::string() : dirs[f.parent]) + "." + f.name;
    dirs.push_back(dir);
    MakeMaildir(root + "/" + dir);
    std::ofstream(root + "/" + dir + "/maildirfolder");
    PutMessages(root + "/" + dir, 3, &counter);
  }
}

void WriteNested(const std::string& root, const std::vector<Folder>& shape) {
  unsigned counter = 0;
  MakeDir(root);
  MakeMaildir(root + "/INBOX");
  PutMessages(root + "/INBOX", 3, &counter);
  std::vector<std::string> dirs;
  for (const auto& f : shape) {
    std::string dir = (f.parent < 0 ? root : dirs[f.parent]) + "/" + f.name;
    dirs.push_back(dir);
    MakeMaildir(dir);
    PutMessages(dir, 3, &counter);
  }
}

std::size_t Walk(IStoreNamespace* ns, STOREFOLDERID parent) {
  std::size_t n = 0;
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE e = nullptr;
  HRESULT hr = ns->GetFirstSubFolder(parent, &props, &e);
  while (hr == S_OK) {
    n += 1 + Walk(ns, props.dwFolderId);
    hr = ns->GetNextSubFolder(e, &props);
  }
  if (e) ns->GetSubFolderClose(e);
  return n;
}

// Opens the store at `root` and lists its tree; returns the time taken.
Span OpenAndWalk(const std::string& root, std::size_t expected) {
  setenv("MAILDIR", root.c_str(), 1);
  Timer timer;
  com::ComPtr<IStoreNamespace> ns;
  if (store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress()) != S_OK ||
      ns->Initialize(nullptr, 0) != S_OK) {
    std::fprintf(stderr, "cannot open %s\n", root.c_str());
    std::exit(1);
  }
  std::size_t n = Walk(ns.Get(), FOLDERID_ROOT);
  ns = nullptr;
  Span s = timer.Stop();
  if (n != expected) {
    std::fprintf(stderr, "%s: %zu folders, expected %zu\n", root.c_str(), n, expected);
    std::exit(1);
  }
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Report(const char* what, const std::vector<Span>& plus, const std::vector<Span>& nested) {
  std::vector<double> pw, pc, nw, nc;
  for (const auto& s : plus) pw.push_back(s.wall), pc.push_back(s.cpu);
  for (const auto& s : nested) nw.push_back(s.wall), nc.push_back(s.cpu);
  std::printf(
      "%s\n  Maildir++ %.2f ms wall, %.2f ms cpu\n  nested    %.2f ms wall, %.2f ms cpu\n"
      "  ratio     %.2fx wall, %.2fx cpu (goal <= 1.5x)\n",
      what, Median(pw) * 1e3, Median(pc) * 1e3, Median(nw) * 1e3, Median(nc) * 1e3,
      Median(nw) / Median(pw), Median(nc) / Median(pc));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: store_layout_bench DIR [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  std::string base = std::string(argv[1]) + "/layout-" + std::to_string(getpid()) + "-" +
                     std::to_string(std::time(nullptr));
  MakeDir(base);
  auto shape = MakeShape();
  int deepest = 0;
  for (const auto& f : shape) deepest = std::max(deepest, f.depth + 1);
  std::printf("%zu folders, %d levels deep at most, %d rounds, in %s\n", shape.size(), deepest,
              rounds, base.c_str());
  std::vector<std::string> plusRoots, nestedRoots;
  for (int r = 0; r < rounds; ++r) {
    plusRoots.push_back(base + "/plus" + std::to_string(r));
    nestedRoots.push_back(base + "/nested" + std::to_string(r));
    WriteMaildirPlusPlus(plusRoots.back(), shape);
    WriteNested(nestedRoots.back(), shape);
  }
  sync();
  // A tree younger than the file system's coarsest timestamp tick (2 s) is
  // read again at every walk, in both layouts, until its directory times can
  // vouch for it; a user's tree is older than that.
  sleep(3);
  const std::size_t expected = shape.size() + 1;  // and the Inbox
  std::vector<Span> firstPlus, firstNested, laterPlus, laterNested;
  // The sides take turns, so that a noisy moment hurts both.
  for (int r = 0; r < rounds; ++r) {
    firstPlus.push_back(OpenAndWalk(plusRoots[r], expected));
    firstNested.push_back(OpenAndWalk(nestedRoots[r], expected));
    laterPlus.push_back(OpenAndWalk(plusRoots[r], expected));
    laterNested.push_back(OpenAndWalk(nestedRoots[r], expected));
  }
  Report("(a) first open and folder walk", firstPlus, firstNested);
  Report("(b) later open and folder walk", laterPlus, laterNested);
  return 0;
}
