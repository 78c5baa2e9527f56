// SPDX-License-Identifier: LGPL-2.1-or-later
// Finding the folders of an mbox store: one mbox file, or a directory of
// them with Thunderbird's ".sbd" subfolder directories.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/store/mbox/layout.h"

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/names.h"

namespace store::mbox {

namespace {

constexpr int kMaxDepth = 64;
constexpr std::string_view kSbd = ".sbd";

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() > tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool IsInboxName(std::string_view name) {
  return name.size() == 5 && strncasecmp(name.data(), "INBOX", 5) == 0;
}

std::int64_t MTimeOf(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Reads a directory tree of mbox files depth first; each directory once,
// however many links lead to it.
class MboxWalk {
 public:
  explicit MboxWalk(TreeScan* out) : out_(out) {}

  // Adds the folders below the directory `path`; their paths begin with
  // `prefix`. Returns whether it found any.
  bool Walk(const std::string& path, const std::string& prefix, int depth) {
    struct stat st;
    if (depth > kMaxDepth || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        !visited_.insert({st.st_dev, st.st_ino}).second)
      return false;
    out_->times.emplace_back(prefix.empty() ? "" : prefix.substr(0, prefix.size() - 1),
                             MTimeOf(st));
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    bool found = false;
    for (const auto& name : names) {
      std::string child = path + "/" + name;
      struct stat cst;
      if (stat(child.c_str(), &cst) != 0) continue;
      if (S_ISDIR(cst.st_mode) && !EndsWith(name, kSbd) && IsPerMessageFolder(child)) {
        // A folder of Thunderbird's per-message store; its subfolders are in
        // "<name>.sbd" beside it, as for a file.
        out_->dirs.push_back(prefix + name);
        found = true;
      } else if (S_ISDIR(cst.st_mode)) {
        // "<name>.sbd" holds the subfolders of the folder <name>, whether or
        // not its file is there; another directory is a folder when it holds one.
        std::string folder = prefix + name;
        if (EndsWith(name, kSbd)) folder.resize(folder.size() - kSbd.size());
        bool holds = Walk(child, prefix + name + "/", depth + 1);
        if (holds || EndsWith(name, kSbd)) {
          out_->dirs.push_back(folder);
          found = true;
        }
      } else if (S_ISREG(cst.st_mode) && IsMboxFile(child)) {
        out_->dirs.push_back(prefix + name);
        found = true;
      }
    }
    return found;
  }

 private:
  TreeScan* out_;
  std::set<std::pair<dev_t, ino_t>> visited_;
};

void SortUnique(std::vector<std::string>* dirs) {
  std::sort(dirs->begin(), dirs->end());
  dirs->erase(std::unique(dirs->begin(), dirs->end()), dirs->end());
}

}  // namespace

bool IsPerMessageFolder(const std::string& path) {
  return disk::IsDirectory(path + "/cur") && disk::IsDirectory(path + "/tmp");
}

bool IsMboxFile(const std::string& path) {
  std::string_view name(path);
  name = name.substr(name.rfind('/') + 1);
  if (name.empty() || name[0] == '.' || EndsWith(name, ".msf")) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  char head[5];
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ssize_t n = regular ? pread(fd, head, sizeof head, 0) : -1;
  close(fd);
  if (!regular) return false;
  if (st.st_size == 0) return access((path + ".msf").c_str(), F_OK) == 0;
  return n == 5 && std::memcmp(head, "From ", 5) == 0;
}

void ScanDirectory(const std::string& path, const std::string& prefix, TreeScan* out) {
  MboxWalk(out).Walk(path, prefix, 0);
}

std::string IndexPathFor(const std::string& root) {
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    cache = std::string(home) + "/.cache";
  } else {
    return {};
  }
  char* real = realpath(root.c_str(), nullptr);
  std::string key = real ? real : root;
  free(real);
  // FNV-1a: the name only has to be the same on every run and differ
  // between stores.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : key) hash = (hash ^ c) * 0x100000001b3ULL;
  char name[64];
  std::snprintf(name, sizeof name, "/mailquarry/mbox-%016llx.sqlite",
                static_cast<unsigned long long>(hash));
  return cache + name;
}

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan,
                                           const MessageFormat* files,
                                           const MessageFormat* perMessage) {
  if (!disk::IsDirectory(root)) {
    if (!IsMboxFile(root)) return nullptr;
    auto layout = std::make_unique<DirectoryLayout>(true, "", files, perMessage);
    layout->Scan(root, TreeScan(), scan);
    return layout;
  }
  auto probe = std::make_unique<DirectoryLayout>(false, "/", files, perMessage);
  probe->Scan(root, TreeScan(), scan);
  if (scan->dirs.empty()) return nullptr;
  // A file named Inbox (in any case) at the top is the Inbox; the exact
  // spellings win over others. "/" names no folder: no Inbox.
  std::string inbox = "/";
  for (const auto& dir : scan->dirs) {
    if (!IsInboxName(dir) || !IsMboxFile(root + "/" + dir)) continue;
    if (inbox == "/" || dir == "Inbox" || dir == "INBOX") inbox = dir;
  }
  return std::make_unique<DirectoryLayout>(false, inbox, files, perMessage);
}

void DirectoryLayout::Scan(const std::string& root, const TreeScan&, TreeScan* out) const {
  *out = TreeScan();
  out->start = disk::NowNs();
  if (oneFile_) {
    out->dirs.push_back("");
    out->times.emplace_back("", disk::MTimeNs(root));
    return;
  }
  ScanDirectory(root, "", out);
  SortUnique(&out->dirs);
}

std::optional<std::string> DirectoryLayout::ParentDir(std::string_view dir) const {
  std::optional<std::string> parent = PlaceBefore(dir, '/');
  // A Thunderbird subfolder lives in its parent's "<name>.sbd" directory.
  if (parent && EndsWith(*parent, kSbd)) parent->resize(parent->size() - kSbd.size());
  return parent;
}

std::string DirectoryLayout::Name(std::string_view dir) const {
  return maildir::ValidUtf8(dir.substr(dir.rfind('/') + 1));
}

const MessageFormat* DirectoryLayout::FormatOf(const std::string& root,
                                               std::string_view dir) const {
  return IsPerMessageFolder(Place(root, dir)) ? perMessage_ : files_;
}

std::vector<const MessageFormat*> DirectoryLayout::Formats() const {
  return {files_, perMessage_};
}

std::string DirectoryLayout::IndexPath(const std::string& root) const {
  return IndexPathFor(root);
}

std::string DirectoryLayout::Describe(const std::string& root) const {
  if (oneFile_)
    return "Mail store: the mbox file " + root + " (read only: nothing is written to it)";
  return "Mail store: the mbox folders in " + root + " (read only: nothing is written to them)";
}

}  // namespace store::mbox
