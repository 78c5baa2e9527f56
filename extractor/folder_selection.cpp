// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/folder_selection.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace mailsift {
namespace {

constexpr std::size_t kMaxNameBytes = 200;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// `text` cut to `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

bool IsJunkOrTrash(const std::string& folderName) {
  static const std::set<std::string> kNames = {
      "junk",         "junk e-mail",   "junk email", "spam",          "bulk mail",
      "bulk",         "trash",         "deleted",    "deleted items", "deleted messages",
      "[gmail]/spam", "[gmail]/trash", "bin"};
  return kNames.count(Lower(folderName)) > 0;
}

std::string SafeDirectoryName(const std::string& folderName) {
  std::string name;
  for (char c : folderName) {
    const auto u = static_cast<unsigned char>(c);
    name += c == '/' || c == '\\' || u < 0x20 || u == 0x7F ? '_' : c;
  }
  name = CutUtf8(name, kMaxNameBytes);
  if (name.empty() || name == "." || name == "..") name = "_" + name;
  return name;
}

std::vector<ChosenFolder> ChooseFolders(const std::vector<StoreFolder>& folders, int start,
                                        const ExportOptions& options) {
  std::vector<ChosenFolder> chosen;
  if (start < 0 || start >= static_cast<int>(folders.size())) return chosen;
  if (options.scope == FolderScope::kOne) {
    chosen.push_back({start, ""});
    return chosen;
  }
  const int first = options.scope == FolderScope::kAll ? 0 : start;
  const int top = options.scope == FolderScope::kAll ? 0 : folders[start].depth;
  // Each level's directory, by depth, made unique among its siblings.
  std::vector<std::string> directories;
  std::set<std::string> used;
  int skipBelow = -1;  // the depth of a junk folder whose tree is left out
  for (int i = first; i < static_cast<int>(folders.size()); ++i) {
    const StoreFolder& f = folders[i];
    if (i > start && options.scope == FolderScope::kSubtree && f.depth <= folders[start].depth)
      break;
    if (skipBelow >= 0 && f.depth > skipBelow) continue;
    skipBelow = -1;
    if (i != start && !options.includeJunk && IsJunkOrTrash(f.name)) {
      skipBelow = f.depth;
      continue;
    }
    const int level = f.depth - top;
    directories.resize(level);
    const std::string parent = level > 0 ? directories[level - 1] + "/" : "";
    std::string dir = parent + SafeDirectoryName(f.name);
    for (int n = 2; used.count(Lower(dir)); ++n)
      dir = parent + SafeDirectoryName(f.name) + " (" + std::to_string(n) + ")";
    used.insert(Lower(dir));
    directories.push_back(dir);
    chosen.push_back({i, options.flat ? std::string() : dir});
  }
  return chosen;
}

}  // namespace mailsift
