// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/maildir/layouts.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/format.h"
#include "platform/store/maildir/names.h"

namespace store::maildir {
namespace md = maildir;

namespace {

// Deeper trees are not read further: the walk over another program's
// directories must end.
constexpr int kMaxDepth = 64;

// Maildir++ directories that other programs keep in the store root.
bool OtherProgramsDir(std::string_view name) {
  return name == ".notmuch" || name == ".mu";
}

bool MessageSubdir(std::string_view name) {
  return name == "cur" || name == "new" || name == "tmp";
}

bool IsInboxName(std::string_view name) {
  constexpr std::string_view kInbox = "INBOX";
  if (name.size() != kInbox.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if ((name[i] & ~0x20) != kInbox[i]) return false;  // ASCII letters in either case
  return true;
}

std::int64_t MTimeOf(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool IsDirAt(int dirFd, const dirent* e) {
  if (e->d_type == DT_DIR) return true;
  if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) return false;
  struct stat st;
  return fstatat(dirFd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& parent, std::string_view leaf) {
  if (parent.empty()) return std::string(leaf);
  std::string dir = parent;
  dir += '/';
  dir += leaf;
  return dir;
}

// Reads a nested tree depth first. A directory is a folder when it is a
// Maildir or holds a folder; each directory is read once, however many
// symbolic links lead to it, and not at all when the previous reading's
// listing of it still holds.
class NestedWalk {
 public:
  NestedWalk(const TreeScan* previous, TreeScan* out) : previous_(previous), out_(out) {}

  // Returns whether the directory `rel` (at `path`) is a folder or holds one.
  bool Walk(const std::string& path, const std::string& rel, int depth) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        !visited_.insert({st.st_dev, st.st_ino}).second)
      return false;
    std::int64_t mtime = MTimeOf(st);
    out_->times.emplace_back(rel, mtime);
    DirListing& listing = out_->listings[rel];
    const DirListing* known = Previous(rel);
    if (known && known->trusted && known->mtime == mtime && known->device == st.st_dev &&
        known->inode == st.st_ino)
      listing = *known;
    else if (!Read(path, rel, depth, &listing)) {
      out_->listings.erase(rel);
      return false;
    }
    listing.device = st.st_dev;
    listing.inode = st.st_ino;
    listing.mtime = mtime;
    listing.trusted = listing.trusted || mtime < out_->start - engine::kMtimeMarginNs;
    bool holds = false;
    for (const auto& c : listing.children) {
      std::string crel = Join(rel, c);
      if (Walk(path + "/" + c, crel, depth + 1)) {
        out_->dirs.push_back(crel);
        holds = true;
      }
    }
    return listing.maildir || holds;
  }

 private:
  const DirListing* Previous(const std::string& rel) const {
    if (!previous_) return nullptr;
    auto it = previous_->listings.find(rel);
    return it == previous_->listings.end() ? nullptr : &it->second;
  }

  static bool Read(const std::string& path, const std::string& rel, int depth, DirListing* out) {
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    int subdirs = 0;
    while (dirent* e = readdir(d)) {
      std::string_view name(e->d_name);
      if (name[0] == '.') continue;  // ".", "..", and other programs' (.notmuch, .mu)
      if (rel.empty() && name.substr(0, sizeof engine::kTrashPrefix - 1) == engine::kTrashPrefix)
        continue;
      if (!IsDirAt(dirfd(d), e)) continue;
      if (MessageSubdir(name))
        ++subdirs;
      else if (depth < kMaxDepth)
        out->children.emplace_back(name);
    }
    closedir(d);
    out->maildir = subdirs == 3;
    out->trusted = false;
    return true;
  }

  const TreeScan* previous_;
  TreeScan* out_;
  std::set<std::pair<dev_t, ino_t>> visited_;
};

}  // namespace

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan) {
  if (!disk::IsDirectory(root)) return nullptr;
  if (IsMaildir(root)) {
    // Maildir++ folders decide; without them, folders in directories of
    // their own make the tree nested; an empty store is Maildir++.
    auto plusPlus = std::make_unique<PlusPlusLayout>();
    plusPlus->Scan(root, TreeScan(), scan);
    if (scan->dirs.size() > 1) return plusPlus;
    auto nested = std::make_unique<NestedLayout>("");
    TreeScan nestedScan;
    nested->Scan(root, TreeScan(), &nestedScan);
    if (nestedScan.dirs.size() <= 1) return plusPlus;
    *scan = std::move(nestedScan);
    return nested;
  }
  std::string inbox = "INBOX";
  bool hasInbox = false;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      if (!IsInboxName(e->d_name) || !IsDirAt(dirfd(d), e)) continue;
      // The exact spelling wins over another case of it.
      if (!hasInbox || std::strcmp(e->d_name, "INBOX") == 0) inbox = e->d_name;
      hasInbox = true;
    }
    closedir(d);
  }
  auto nested = std::make_unique<NestedLayout>(inbox);
  nested->Scan(root, TreeScan(), scan);
  if (hasInbox || scan->dirs.size() > 1) return nested;
  return nullptr;
}

const MessageFormat* TreeLayout::FormatOf(const std::string&, std::string_view) const {
  return Format();
}

std::vector<const MessageFormat*> TreeLayout::Formats() const {
  return {Format()};
}

std::string TreeLayout::Describe(const std::string& root) const {
  return "Mail store: the Maildir " + root;
}

// ---------------------------------------------------------------- Maildir++

void PlusPlusLayout::Scan(const std::string& root, const TreeScan&, TreeScan* out) const {
  *out = TreeScan();
  out->start = disk::NowNs();
  out->dirs.push_back("");
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0) out->times.emplace_back("", MTimeOf(st));
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    return;
  }
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.' || OtherProgramsDir(e->d_name)) continue;
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
    auto parts = md::SplitFolderDir(e->d_name);
    if (!parts || parts->empty()) continue;
    if (e->d_type != DT_DIR && !IsDirAt(dirfd(d), e)) continue;
    // Maildir++ does not need the parents of a folder to exist: the missing
    // ones are folders without messages.
    std::string dir;
    for (const auto& p : *parts) {
      dir += "." + p;
      out->dirs.push_back(dir);
    }
  }
  closedir(d);
  std::sort(out->dirs.begin(), out->dirs.end());
  out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
}

std::optional<std::string> PlusPlusLayout::ParentDir(std::string_view dir) const {
  return PlaceBefore(dir, '.');
}

std::string PlusPlusLayout::Name(std::string_view dir) const {
  return md::DisplayName(dir.substr(dir.rfind('.') + 1));
}

std::optional<std::string> PlusPlusLayout::ChildDir(const std::string& parentDir,
                                                    std::string_view name) const {
  std::string dir = parentDir + "." + md::EncodeName(name);
  if (dir.size() > 255) return std::nullopt;
  return dir;
}

std::optional<std::string> PlusPlusLayout::MovedDir(const std::string& dir,
                                                    const std::string& parentDir) const {
  std::string moved = parentDir + dir.substr(dir.rfind('.'));
  if (moved.size() > 255) return std::nullopt;  // no directory name is longer
  return moved;
}

std::vector<std::string> PlusPlusLayout::SubtreeDirs(const std::string& root,
                                                     const std::string& dir) const {
  std::vector<std::string> dirs;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d))
      if (AtOrBelow(e->d_name, dir)) dirs.emplace_back(e->d_name);
    closedir(d);
  }
  return dirs;
}

// ---------------------------------------------------------------- nested

void NestedLayout::Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const {
  *out = TreeScan();
  out->start = disk::NowNs();
  // The Inbox is always there, as in Maildir++, even before its directory is.
  out->dirs.push_back(inbox_);
  NestedWalk(&previous, out).Walk(root, "", 0);
  std::sort(out->dirs.begin(), out->dirs.end());
  out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
}

std::optional<std::string> NestedLayout::ParentDir(std::string_view dir) const {
  return PlaceBefore(dir, '/');
}

std::string NestedLayout::Name(std::string_view dir) const {
  return md::ValidUtf8(dir.substr(dir.rfind('/') + 1));
}

std::optional<std::string> NestedLayout::ChildDir(const std::string& parentDir,
                                                  std::string_view name) const {
  // The name is the directory's name: it cannot hold a "/", hide itself
  // behind a leading "." or stand for a Maildir's own subdirectories.
  if (name.empty() || name.size() > 255 || name.find('/') != std::string_view::npos ||
      name[0] == '.' || MessageSubdir(name))
    return std::nullopt;
  return Join(parentDir, name);
}

std::optional<std::string> NestedLayout::MovedDir(const std::string& dir,
                                                  const std::string& parentDir) const {
  return Join(parentDir, std::string_view(dir).substr(dir.rfind('/') + 1));
}

}  // namespace store::maildir
