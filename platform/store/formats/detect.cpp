// SPDX-License-Identifier: LGPL-2.1-or-later
// The layouts a store may have, in the order they are tried when it opens.
// To add a mail program's store: a folder of its own holding its layout (and
// its message format where its files differ from every format here), whose
// detector goes into this table before any layout that would also take its
// tree.
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "platform/store/apple/mail_layout.h"
#include "platform/store/engine/folder_layout.h"
#include "platform/store/evolution/imap_cache.h"
#include "platform/store/evolution/local_layout.h"
#include "platform/store/geary/layout.h"
#include "platform/store/home/all_stores_layout.h"
#include "platform/store/kmail/layout.h"
#include "platform/store/maildir/layouts.h"
#include "platform/store/mbox/layout.h"
#include "platform/store/mh/layout.h"
#include "platform/store/store_location.h"
#include "platform/store/takeout/label_layout.h"
#include "platform/store/thunderbird/profile_layout.h"
#include "platform/store/thunderbird/profiles.h"

namespace store {
namespace {

// A profile's and an mbox directory's files may be mail archives whose
// messages carry labels, and its directories Thunderbird's per-message folders.
std::unique_ptr<FolderLayout> Profile(const std::string& root, TreeScan* scan) {
  auto layout = thunderbird::DetectProfileLayout(root, scan, takeout::ArchiveFormat());
  return layout ? takeout::WithLabels(std::move(layout)) : nullptr;
}

std::unique_ptr<FolderLayout> Mbox(const std::string& root, TreeScan* scan) {
  auto layout =
      mbox::DetectLayout(root, scan, takeout::ArchiveFormat(), thunderbird::PerMessageFormat());
  return layout ? takeout::WithLabels(std::move(layout)) : nullptr;
}

// With MAILDIR unset, the home directory stands for every store found there.
std::unique_ptr<FolderLayout> AllStores(const std::string& root, TreeScan* scan) {
  const char* maildir = std::getenv("MAILDIR");
  if (maildir && *maildir) return nullptr;
  std::string home = HomeDirectory();
  struct stat a, b;
  if (home.empty() || stat(root.c_str(), &a) != 0 || stat(home.c_str(), &b) != 0 ||
      a.st_dev != b.st_dev || a.st_ino != b.st_ino)
    return nullptr;
  return home::DetectAllStores(home, scan);
}

bool IsHome(const std::string& root) {
  const char* maildir = std::getenv("MAILDIR");
  return !(maildir && *maildir) && !root.empty() && root == HomeDirectory();
}

std::unique_ptr<FolderLayout> Mh(const std::string& root, TreeScan* scan) {
  return mh::DetectLayout(root, scan);
}

struct KnownLayout {
  LayoutDetector detect;
  // A root this layout claims is read as nothing else, even when its
  // detector finds no store there (null: it claims none).
  bool (*claims)(const std::string& root);
};

// A profile holds mbox files and per-message folders, so it goes first; a
// directory that is no Maildir tree may still be a directory of mbox files.
// An MH mailbox's folders are directories too, and Evolution's and KMail's
// trees are Maildirs another program keeps a summary of: each is told apart
// (by its numbered files and state files, its marker files, its
// ".X.directory" directories, Apple Mail's "Name.mbox" directories) before
// the tree is taken for a Maildir tree
// of our own.
constexpr KnownLayout kLayouts[] = {
    {AllStores, IsHome},
    {Profile, thunderbird::IsProfile},
    {Mh, nullptr},
    {evolution::DetectLocalLayout, nullptr},
    {kmail::DetectLayout, kmail::IsLocalMail},
    {apple::DetectLayout, apple::IsMailboxDirectory},
    {geary::DetectLayout, geary::IsAccount},
    {evolution::DetectImapCache, evolution::IsImapCache},
    {maildir::DetectLayout, nullptr},
    {Mbox, nullptr},
};

}  // namespace

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan) {
  for (const KnownLayout& known : kLayouts) {
    *scan = TreeScan();
    if (auto layout = known.detect(root, scan)) return layout;
    if (known.claims && known.claims(root)) break;
  }
  *scan = TreeScan();
  return nullptr;
}

}  // namespace store
