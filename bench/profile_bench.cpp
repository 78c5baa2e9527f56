// SPDX-License-Identifier: LGPL-2.1-or-later
// Opening a Thunderbird profile that did not change since the last open,
// against a plain walk of the profile's files (readdir and stat of each), as
// a ratio measured in one run.
//
//   profile_bench DIR [MEGABYTES] [ROUNDS]
//
// Writes, in a new directory below DIR, a home holding one profile found as
// a user's would be (~/.thunderbird, profiles.ini, installs.ini, prefs.js):
// 5 accounts (Local Folders and four IMAP accounts) of 40 folders each, some
// nested in .sbd directories, 200 mbox files holding MEGABYTES in all
// (default 2048) in messages of about 50 KB, each with its .msf. The index
// goes to a cache directory beside the home. Then:
//   (a) the first open: Initialize, a walk of the folder tree with counts,
//       and the first listing of every folder (reads every byte once);
//   (b) ROUNDS (default 7) later opens: Initialize and the walk with counts,
//       as a caller lists the folders; the median is reported;
//   (c) the same later open, with every folder's messages enumerated too;
//   (d) the baseline: readdir and stat of every entry of the profile.
// Goal: (b) below 0.1 s.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/span_timer.h"
#include "platform/com/memory.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"

namespace {

using bench::MedianByWall;
using bench::Span;
using bench::StatTree;
using bench::Timer;

void MakeDirs(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

// One mbox file of about `bytes`, messages of about 50 KB with distinct subjects.
void WriteMbox(const std::string& path, std::size_t bytes, unsigned* counter) {
  std::ofstream out(path, std::ios::binary);
  std::string line(76, 'x');
  line += "\r\n";
  std::string body;
  while (body.size() < 50 * 1024) body += line;
  for (std::size_t written = 0; written < bytes;) {
    unsigned n = ++*counter;
    std::string m =
        "From - Sun Mar 05 14:07:09 2006\r\nX-Mozilla-Status: 0001\r\n"
        "X-Mozilla-Status2: 00000000\r\nFrom: a@example.org\r\nTo: b@example.org\r\n"
        "Subject: message " +
        std::to_string(n) + "\r\nMessage-ID: <" + std::to_string(n) +
        "@bench>\r\nDate: Sun, 05 Mar 2006 14:07:09 +0000\r\n\r\n" + body + "\r\n";
    out << m;
    written += m.size();
  }
  std::ofstream(path + ".msf") << "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n";
}

std::size_t Walk(IStoreNamespace* ns, STOREFOLDERID parent, bool messages) {
  std::size_t n = 0;
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE e = nullptr;
  for (HRESULT hr = ns->GetFirstSubFolder(parent, &props, &e); hr == S_OK;
       hr = ns->GetNextSubFolder(e, &props)) {
    n += 1 + Walk(ns, props.dwFolderId, messages);
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

Span Open(std::size_t expected, bool messages) {
  Timer timer;
  com::ComPtr<IStoreNamespace> ns;
  if (store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress()) != S_OK ||
      ns->Initialize(nullptr, 0) != S_OK) {
    std::fprintf(stderr, "cannot open the profile\n");
    std::exit(1);
  }
  std::size_t n = Walk(ns.Get(), FOLDERID_ROOT, messages);
  ns.Reset();
  Span s = timer.Stop();
  if (n != expected) {
    std::fprintf(stderr, "%zu folders, expected %zu\n", n, expected);
    std::exit(1);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: profile_bench DIR [MEGABYTES] [ROUNDS]\n");
    return 2;
  }
  const std::size_t megabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2048;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
  std::string base = std::string(argv[1]) + "/profile-bench-XXXXXX";
  if (!mkdtemp(base.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string home = base + "/home", profiles = home + "/.thunderbird";
  const std::string profile = profiles + "/bench.default-release";
  MakeDirs(profile);
  std::ofstream(profiles + "/profiles.ini")
      << "[Profile0]\nName=default-release\nIsRelative=1\nPath=bench.default-release\n";
  std::ofstream(profiles + "/installs.ini")
      << "[4F96D1932A9F858E]\nDefault=bench.default-release\n";
  std::string prefs, accounts;
  const int kAccounts = 5, kFoldersPerAccount = 40;
  const std::size_t perFolder = megabytes * 1024 * 1024 / (kAccounts * kFoldersPerAccount);
  unsigned counter = 0;
  Timer writing;
  for (int a = 1; a <= kAccounts; ++a) {
    std::string n = std::to_string(a);
    std::string dir = a == 1 ? "Mail/Local Folders" : "ImapMail/imap" + n + ".example.com";
    accounts += (a > 1 ? "," : "") + std::string("account") + n;
    prefs += "user_pref(\"mail.account.account" + n + ".server\", \"server" + n + "\");\n";
    prefs += "user_pref(\"mail.server.server" + n + ".directory-rel\", \"[ProfD]" + dir + "\");\n";
    prefs += "user_pref(\"mail.server.server" + n + ".name\", \"account " + n + "\");\n";
    // 40 folders: INBOX, 29 at the top, 10 below the tenth in its .sbd.
    std::string root = profile + "/" + dir;
    MakeDirs(root + "/Folder10.sbd");
    for (int f = 0; f < kFoldersPerAccount; ++f) {
      std::string path = f == 0   ? root + "/INBOX"
                         : f < 30 ? root + "/Folder" + std::to_string(f)
                                  : root + "/Folder10.sbd/Sub" + std::to_string(f);
      WriteMbox(path, perFolder, &counter);
    }
  }
  prefs += "user_pref(\"mail.accountmanager.accounts\", \"" + accounts + "\");\n";
  std::ofstream(profile + "/prefs.js") << prefs;
  Span wrote = writing.Stop();
  unsetenv("MAILDIR");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
  const std::size_t folders = kAccounts * (1 + kFoldersPerAccount);
  std::printf("%d accounts, %d mbox folders, %u messages, %zu MB, written in %.1f s, in %s\n",
              kAccounts, kAccounts * kFoldersPerAccount, counter, megabytes, wrote.wall,
              base.c_str());

  Span first = Open(folders, true);
  std::vector<Span> later, laterMessages, baseline;
  std::size_t entries = 0;
  for (int r = 0; r < rounds; ++r) {
    later.push_back(Open(folders, false));
    laterMessages.push_back(Open(folders, true));
    Timer t;
    entries = StatTree(profile);
    baseline.push_back(t.Stop());
  }
  Span b = MedianByWall(baseline), l = MedianByWall(later), lm = MedianByWall(laterMessages);
  std::printf("(a) first open, every folder listed:   wall %8.3f s  cpu %8.3f s\n", first.wall,
              first.cpu);
  std::printf(
      "(b) later open, tree with counts:      wall %8.4f s  cpu %8.4f s  %6.1fx (d)  goal < 0.1 s: "
      "%s\n",
      l.wall, l.cpu, l.wall / b.wall, l.wall < 0.1 ? "met" : "MISSED");
  std::printf("(c) later open, every folder listed:   wall %8.4f s  cpu %8.4f s  %6.1fx (d)\n",
              lm.wall, lm.cpu, lm.wall / b.wall);
  std::printf("(d) readdir + stat of %zu entries:    wall %8.4f s  cpu %8.4f s\n", entries, b.wall,
              b.cpu);
  return 0;
}
