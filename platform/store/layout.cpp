#include "platform/store/layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/store/engine_internal.h"
#include "platform/store/maildir.h"
#include "platform/store/thunderbird_profile.h"

namespace store {
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

bool FolderLayout::Detect(const std::string& root, FolderLayout* layout, TreeScan* scan) {
  *layout = FolderLayout();
  *scan = TreeScan();
  if (!md::IsDirectory(root)) return DetectMbox(root, layout, scan);
  if (thunderbird::IsProfile(root)) return DetectProfile(root, layout, scan);
  if (md::IsMaildir(root)) {
    // Maildir++ folders decide; without them, folders in directories of
    // their own make the tree nested; an empty store is Maildir++.
    layout->ScanMaildirPlusPlus(root, scan);
    if (scan->dirs.size() > 1) return true;
    FolderLayout nested;
    nested.nested_ = true;
    TreeScan nestedScan;
    nested.ScanNested(root, nullptr, &nestedScan);
    if (nestedScan.dirs.size() > 1) {
      *layout = nested;
      *scan = std::move(nestedScan);
    }
    return true;
  }
  layout->nested_ = true;
  layout->inboxDir_ = "INBOX";
  bool hasInbox = false;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      if (!IsInboxName(e->d_name) || !IsDirAt(dirfd(d), e)) continue;
      // The exact spelling wins over another case of it.
      if (!hasInbox || std::strcmp(e->d_name, "INBOX") == 0) layout->inboxDir_ = e->d_name;
      hasInbox = true;
    }
    closedir(d);
  }
  layout->ScanNested(root, nullptr, scan);
  if (hasInbox || scan->dirs.size() > 1) return true;
  return DetectMbox(root, layout, scan);
}

void FolderLayout::Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const {
  *out = TreeScan();
  if (profile())
    ScanProfile(root, out);
  else if (mbox_)
    ScanMbox(root, out);
  else if (nested_)
    ScanNested(root, &previous, out);
  else
    ScanMaildirPlusPlus(root, out);
}

void FolderLayout::ScanMaildirPlusPlus(const std::string& root, TreeScan* out) const {
  out->start = md::NowNs();
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

void FolderLayout::ScanNested(const std::string& root, const TreeScan* previous,
                              TreeScan* out) const {
  out->start = md::NowNs();
  // The Inbox is always there, as in Maildir++, even before its directory is.
  out->dirs.push_back(inboxDir_);
  NestedWalk(previous, out).Walk(root, "", 0);
  std::sort(out->dirs.begin(), out->dirs.end());
  out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
}

std::optional<std::string> FolderLayout::ParentDir(std::string_view dir) const {
  if (std::size_t mark = dir.find(kLabelMark); mark != std::string_view::npos) {
    // A label folder: below its parent label, or below its file.
    std::size_t cut = dir.rfind('/');
    return std::string(dir.substr(0, cut != std::string_view::npos && cut > mark ? cut : mark));
  }
  if (const auto* account = AccountOf(dir); account && account->first == dir) return std::nullopt;
  // In a profile the default account's Inbox stands first at the top, as a
  // Maildir's Inbox does, so a program that starts on the first folder starts
  // on the mail that came in, not on an account that holds no messages.
  if (profile() && dir == inboxDir_) return std::nullopt;
  std::size_t cut = dir.rfind(separator());
  if (cut == std::string_view::npos || cut == 0) return std::nullopt;
  std::string_view parent = dir.substr(0, cut);
  // A Thunderbird subfolder lives in its parent's "<name>.sbd" directory.
  constexpr std::string_view kSbd = ".sbd";
  if (mbox_ && parent.size() > kSbd.size() && parent.substr(parent.size() - kSbd.size()) == kSbd)
    parent.remove_suffix(kSbd.size());
  return std::string(parent);
}

std::string FolderLayout::Name(std::string_view dir) const {
  if (std::size_t mark = dir.find(kLabelMark); mark != std::string_view::npos) {
    std::size_t cut = dir.rfind('/');
    return md::ValidUtf8(
        dir.substr((cut != std::string_view::npos && cut > mark ? cut : mark) + 1));
  }
  if (const auto* account = AccountOf(dir)) {
    if (account->first == dir) return account->second;
    // Thunderbird shows every account's Inbox (IMAP's INBOX too) as "Inbox".
    std::string_view rest = dir.substr(account->first.size() + 1);
    if (rest.size() == 5 && strncasecmp(rest.data(), "INBOX", 5) == 0) return "Inbox";
  }
  std::string_view leaf = dir.substr(dir.rfind(separator()) + 1);
  return nested_ || mbox_ ? md::ValidUtf8(leaf) : md::DisplayName(leaf);
}

std::optional<std::string> FolderLayout::ChildDir(const std::string& parentDir,
                                                  std::string_view name) const {
  if (mbox_) return std::nullopt;  // read only: no folder is made here
  if (!nested_) {
    std::string dir = parentDir + "." + md::EncodeName(name);
    if (dir.size() > 255) return std::nullopt;
    return dir;
  }
  // The name is the directory's name: it cannot hold a "/", hide itself
  // behind a leading "." or stand for a Maildir's own subdirectories.
  if (name.empty() || name.size() > 255 || name.find('/') != std::string_view::npos ||
      name[0] == '.' || MessageSubdir(name))
    return std::nullopt;
  return Join(parentDir, name);
}

std::string FolderLayout::MovedDir(const std::string& dir, const std::string& parentDir) const {
  if (!nested_) return parentDir + dir.substr(dir.rfind('.'));
  return Join(parentDir, std::string_view(dir).substr(dir.rfind('/') + 1));
}

bool FolderLayout::AtOrBelow(std::string_view dir, std::string_view ancestor) const {
  if (dir.size() < ancestor.size() || dir.compare(0, ancestor.size(), ancestor) != 0) return false;
  return dir.size() == ancestor.size() || dir[ancestor.size()] == separator();
}

}  // namespace store
