// SPDX-License-Identifier: LGPL-2.1-or-later
// Finding every store of a home and opening them again as one tree, against
// the stat of the same known places and a walk of the home's files, as
// ratios measured in one run.
//
//   all_stores_bench DIR [MESSAGES] [ROUNDS]
//
// Writes, in a new directory below DIR, a home holding ~/Maildir, a
// Thunderbird profile, Evolution's and KMail's local folders, a Claws Mail
// MH mailbox, a Geary account, Evolution's copy of an IMAP account and a mail
// spool (home_fixture.h), 14
// message folders holding MESSAGES in all (default 50,000). Then:
//   (a) discovery: finding the stores (LocateStore), ROUNDS (default 7)
//       times, the median; goal < 20 ms;
//   (b) its baseline: a stat of each store's root;
//   (c) the first open: Initialize and every folder listed;
//   (d) later opens of the unchanged tree: Initialize and a walk with
//       counts, the median; goal < 0.2 s;
//   (e) its baseline: readdir and stat of every entry below the home.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/span_timer.h"
#include "platform/com/memory.h"
#include "platform/store/home/discovery.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"
#include "platform/store/store_location.h"
#include "platform/store/testing/home_fixture.h"

namespace {

using bench::MedianByWall;
using bench::Span;
using bench::StatTree;
using bench::Timer;

std::size_t Walk(IStoreNamespace* ns, STOREFOLDERID parent, bool messages, std::size_t* count) {
  std::size_t n = 0;
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE e = nullptr;
  for (HRESULT hr = ns->GetFirstSubFolder(parent, &props, &e); hr == S_OK;
       hr = ns->GetNextSubFolder(e, &props)) {
    *count += props.cMessage;
    n += 1 + Walk(ns, props.dwFolderId, messages, count);
    if (!messages) continue;
    com::ComPtr<IStoreFolder> folder;
    if (ns->OpenFolder(props.dwFolderId, 0, folder.ReleaseAndGetAddressOf()) != S_OK) continue;
    MESSAGEPROPS m{};
    m.cbSize = MESSAGEPROPS_SIZE;
    HENUMSTORE me = nullptr;
    for (HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &m, &me); hr == S_OK;
         hr = folder->GetNextMessage(me, 0, &m))
      folder->FreeMessageProps(&m);
    if (me) folder->GetMessageClose(me);
  }
  if (e) ns->GetSubFolderClose(e);
  return n;
}

Span Open(bool messages, std::size_t* folders, std::size_t* count) {
  Timer timer;
  com::ComPtr<IStoreNamespace> ns;
  if (store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress()) != S_OK ||
      ns->Initialize(nullptr, 0) != S_OK) {
    std::fprintf(stderr, "cannot open the stores\n");
    std::exit(1);
  }
  *count = 0;
  *folders = Walk(ns.Get(), FOLDERID_ROOT, messages, count);
  ns.Reset();
  return timer.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: all_stores_bench DIR [MESSAGES] [ROUNDS]\n");
    return 2;
  }
  const long messages = argc > 2 ? std::atol(argv[2]) : 50000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
  std::string base = std::string(argv[1]) + "/all-stores-bench-XXXXXX";
  if (!mkdtemp(base.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string home = base + "/home";
  mkdir(home.c_str(), 0700);
  constexpr int kFolders = 14;  // folders that hold messages
  Timer writing;
  const std::string spool =
      store::testing::WriteHomeStores(home, {}, static_cast<int>(messages / kFolders));
  Span wrote = writing.Stop();
  unsetenv("MAILDIR");
  setenv("HOME", home.c_str(), 1);
  setenv("MAIL", spool.c_str(), 1);
  setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
  std::printf("%d folders, %ld messages written in %.1f s, in %s\n", kFolders,
              messages / kFolders * kFolders, wrote.wall, base.c_str());

  std::vector<Span> find, stat1, later, walk;
  std::size_t stores = 0;
  for (int r = 0; r < rounds; ++r) {
    Timer t;
    store::StoreLocation where = store::LocateStore();
    find.push_back(t.Stop());
    if (!where.all) return 1;
    auto places = store::home::FindStores(home);
    stores = places.size();
    Timer s;
    for (const auto& p : places) {
      struct stat st;
      stat(p.root.c_str(), &st);
    }
    stat1.push_back(s.Stop());
  }
  std::size_t folders = 0, count = 0;
  Span first = Open(true, &folders, &count);
  std::printf("%zu stores, %zu folders in the tree\n", stores, folders);
  std::size_t entries = 0;
  for (int r = 0; r < rounds; ++r) {
    later.push_back(Open(false, &folders, &count));
    if (r == 0) std::printf("later opens: %zu folders, %zu messages counted\n", folders, count);
    Timer t;
    entries = StatTree(home);
    walk.push_back(t.Stop());
  }
  Span f = MedianByWall(find), b = MedianByWall(stat1), l = MedianByWall(later),
       w = MedianByWall(walk);
  std::printf(
      "(a) discovery:                        wall %8.4f s  cpu %8.4f s  %6.1fx (b)  goal < 0.02 "
      "s\n",
      f.wall, f.cpu, f.wall / b.wall);
  std::printf("(b) stat of each store's root:        wall %8.6f s\n", b.wall);
  std::printf("(c) first open, every folder listed:  wall %8.3f s  cpu %8.3f s\n", first.wall,
              first.cpu);
  std::printf(
      "(d) later open, tree with counts:     wall %8.4f s  cpu %8.4f s  %6.2fx (e)  goal < 0.2 s\n",
      l.wall, l.cpu, l.wall / w.wall);
  std::printf("(e) readdir and stat of the home:     wall %8.4f s  (%zu entries)\n", w.wall,
              entries);
  return 0;
}
