// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mh/layout.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/store/engine/disk.h"
#include "platform/store/mbox/layout.h"
#include "platform/store/mh/format.h"

namespace store::mh {

namespace {

constexpr int kMaxDepth = 64;
// The files an MH program keeps in a folder beside its messages.
constexpr const char* kStateFiles[] = {".mh_sequences", ".claws_mark", ".sylpheed_mark",
                                       ".claws_cache", ".sylpheed_cache"};

// Reads the directories below `path` depth first, each once however many
// links lead to it; every one is a folder.
void Walk(const std::string& path, const std::string& prefix, int depth, DirectoryVisits* visits,
          TreeScan* out) {
  if (!visits->Enter(path, depth, prefix.empty() ? "" : prefix.substr(0, prefix.size() - 1)))
    return;
  DIR* d = opendir(path.c_str());
  if (!d) return;
  std::vector<std::string> children;
  while (dirent* e = readdir(d)) {
    // Hidden entries are the programs' own; numbered files are messages.
    if (e->d_name[0] == '.' || IsMessageName(e->d_name)) continue;
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
    children.emplace_back(e->d_name);
  }
  closedir(d);
  for (const auto& name : children) {
    std::string child = path + "/" + name;
    if (!disk::IsDirectory(child)) continue;
    out->dirs.push_back(prefix + name);
    Walk(child, prefix + name + "/", depth + 1, visits, out);
  }
}

bool HoldsMhFiles(const std::string& dir) {
  for (const char* state : kStateFiles) {
    struct stat st;
    if (stat((dir + "/" + state).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
  }
  // A numbered file is a message, unless it is an mbox folder (Thunderbird
  // names a folder "2025" as readily as "Inbox").
  bool numbered = false;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (IsMessageName(e->d_name) && (e->d_type == DT_REG || e->d_type == DT_UNKNOWN) &&
          !mbox::IsMboxFile(dir + "/" + e->d_name)) {
        numbered = true;
        break;
      }
    }
    closedir(d);
  }
  return numbered;
}

bool IsMaildirDir(const std::string& dir) {
  return disk::IsDirectory(dir + "/cur") && disk::IsDirectory(dir + "/new");
}

}  // namespace

bool IsMailbox(const std::string& root) {
  if (!disk::IsDirectory(root) || IsMaildirDir(root)) return false;
  bool mh = HoldsMhFiles(root);
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' || IsMessageName(e->d_name)) continue;
      std::string child = root + "/" + e->d_name;
      if (!disk::IsDirectory(child)) continue;
      // A Maildir folder makes the tree a Maildir tree, whatever else is there.
      if (IsMaildirDir(child)) {
        mh = false;
        break;
      }
      mh = mh || HoldsMhFiles(child);
    }
    closedir(d);
  }
  return mh;
}

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan,
                                           const std::string& inboxHint) {
  if (!IsMailbox(root)) return nullptr;
  MhLayout probe("/");
  probe.Scan(root, TreeScan(), scan);
  return std::make_unique<MhLayout>(FindInbox(scan->dirs, inboxHint));
}

void MhLayout::Scan(const std::string& root, const TreeScan&, TreeScan* out) const {
  DirectoryVisits visits(out, kMaxDepth);
  Walk(root, "", 0, &visits, out);
  SortDirs(out);
}

const MessageFormat* MhLayout::FormatOf(const std::string&, std::string_view) const {
  return Format();
}

std::vector<const MessageFormat*> MhLayout::Formats() const {
  return {Format()};
}

std::string MhLayout::Describe(const std::string& root) const {
  return "Mail store: the MH mailbox " + root + " (read only: nothing is written to it)";
}

}  // namespace store::mh
