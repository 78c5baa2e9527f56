// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/kmail/layout.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/store/engine/disk.h"
#include "platform/store/evolution/local_layout.h"
#include "platform/store/maildir/files.h"
#include "platform/store/readonly_tree/layout.h"

namespace store::kmail {

namespace {

constexpr int kMaxDepth = 64;
constexpr std::string_view kSuffix = ".directory";

// ".X.directory" -> "X"; empty for any other name.
std::string_view SubfoldersOf(std::string_view name) {
  if (name.size() <= 1 + kSuffix.size() || name[0] != '.' ||
      name.substr(name.size() - kSuffix.size()) != kSuffix)
    return {};
  return name.substr(1, name.size() - 1 - kSuffix.size());
}

// Reads the folders in the directory `path` (the root or a ".X.directory"),
// their dirs beginning with `prefix`.
void Walk(const std::string& path, const std::string& prefix, int depth, DirectoryVisits* visits,
          TreeScan* out) {
  if (!visits->Enter(path, depth, prefix.empty() ? "" : prefix.substr(0, prefix.size() - 1)))
    return;
  std::vector<std::string> folders, subfolderDirs;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view name(e->d_name);
      if (name == "." || name == "..") continue;
      if (!SubfoldersOf(name).empty())
        subfolderDirs.emplace_back(name);
      else if (name[0] != '.')
        folders.emplace_back(name);
    }
    closedir(d);
  }
  for (const auto& name : folders)
    if (maildir::IsMaildir(path + "/" + name)) out->dirs.push_back(prefix + name);
  for (const auto& name : subfolderDirs) {
    // A folder whose own Maildir is gone still holds its subfolders.
    std::string folder = prefix + std::string(SubfoldersOf(name));
    std::size_t before = out->dirs.size();
    Walk(path + "/" + name, folder + "/", depth + 1, visits, out);
    if (out->dirs.size() > before) out->dirs.push_back(folder);
  }
}

class LocalMailLayout final : public ReadOnlyTreeLayout {
 public:
  using ReadOnlyTreeLayout::ReadOnlyTreeLayout;

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    DirectoryVisits visits(out, kMaxDepth);
    Walk(root, "", 0, &visits, out);
    SortDirs(out);
  }
  // "a/b/c" -> "<root>/.a.directory/.b.directory/c".
  std::string Place(const std::string& root, std::string_view dir) const override {
    std::string place = root;
    for (std::size_t start = 0;;) {
      std::size_t slash = dir.find('/', start);
      if (slash == std::string_view::npos) {
        place += "/";
        place += dir.substr(start);
        return place;
      }
      place += "/.";
      place += dir.substr(start, slash - start);
      place += kSuffix;
      start = slash + 1;
    }
  }
  const MessageFormat* FormatOf(const std::string&, std::string_view) const override {
    return evolution::ReadOnlyMaildir();
  }
  std::vector<const MessageFormat*> Formats() const override {
    return {evolution::ReadOnlyMaildir()};
  }
  std::string Describe(const std::string& root) const override {
    return "Mail store: KMail's local folders " + root + " (read only: nothing is written to them)";
  }
};

}  // namespace

bool IsLocalMail(const std::string& root) {
  if (!disk::IsDirectory(root) || maildir::IsMaildir(root)) return false;
  std::string_view path(root);
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.size() >= 11 && path.substr(path.size() - 11) == "/local-mail") return true;
  bool found = false;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view folder = SubfoldersOf(e->d_name);
      if (!folder.empty() && maildir::IsMaildir(root + "/" + std::string(folder))) {
        found = true;
        break;
      }
    }
    closedir(d);
  }
  return found;
}

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan) {
  if (!IsLocalMail(root)) return nullptr;
  LocalMailLayout probe("/");
  probe.Scan(root, TreeScan(), scan);
  return std::make_unique<LocalMailLayout>(FindInbox(scan->dirs));
}

}  // namespace store::kmail
