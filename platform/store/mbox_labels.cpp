// The label folders of an mbox file whose messages carry Gmail labels (a
// Takeout archive): which there are, and the listing of each.
//
// A file's listing (mbox_listing.cpp) records the labels of its new messages
// in mbox_labels and mbox_label_folders. A label folder's messages are rows of
// their own, copied from the file's folder: the same keys, so each keeps its
// id while its bytes stay, and the same spans, so they open as the file's do.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "platform/store/engine.h"
#include "platform/store/engine_internal.h"
#include "platform/store/gmail_labels.h"

namespace store {
using namespace engine;

namespace {

// Takeout writes the header near the top of every message: the start of the
// file tells whether its messages carry labels.
constexpr std::size_t kLabelsProbeBytes = 16 * 1024;

bool HoldsLabels(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  std::string head(kLabelsProbeBytes, '\0');
  ssize_t n = pread(fd, head.data(), head.size(), 0);
  close(fd);
  if (n <= 0) return false;
  head.resize(static_cast<std::size_t>(n));
  std::string name = std::string("\n") + gmail::kLabelsHeader + ":";
  return memmem(head.data(), head.size(), name.data(), name.size()) != nullptr;
}

}  // namespace

void Store::AddLabelDirs(std::vector<std::string>* dirs) {
  std::vector<std::string> labels;
  Statement& q =
      Query("SELECT f.path, l.path FROM mbox_label_folders l JOIN folders f ON f.id = l.folder");
  while (q.Step() == SQLITE_ROW) {
    std::string file = q.Text(0);
    if (file.find(kLabelMark) != std::string::npos ||
        !std::binary_search(dirs->begin(), dirs->end(), file))
      continue;  // a file no longer there has no label folders
    std::string path = q.Text(1);
    // The label and every label it is nested in.
    for (std::size_t cut = path.find('/');; cut = path.find('/', cut + 1)) {
      labels.push_back(file + kLabelMark + path.substr(0, cut));
      if (cut == std::string::npos) break;
    }
  }
  q.Reset();
  dirs->insert(dirs->end(), labels.begin(), labels.end());
  std::sort(dirs->begin(), dirs->end());
  dirs->erase(std::unique(dirs->begin(), dirs->end()), dirs->end());
}

bool Store::ListLabelledFiles() {
  std::vector<FolderInfo> files;
  for (const auto& [id, f] : folders_)
    if (!f.perMessage && f.dir.find(kLabelMark) == std::string::npos &&
        HoldsLabels(FolderPath(f.dir)))
      files.push_back(f);
  if (files.empty()) return false;
  std::vector<std::string> before = tree_.dirs, after = tree_.dirs;
  AddLabelDirs(&before);
  for (const FolderInfo& f : files) SyncMessages(f, false);
  AddLabelDirs(&after);
  return before != after;
}

HRESULT Store::SyncLabelFolder(const FolderInfo& f, bool force) {
  const std::size_t mark = f.dir.find(kLabelMark);
  const std::string fileDir = f.dir.substr(0, mark), label = f.dir.substr(mark + 1);
  auto file = std::find_if(folders_.begin(), folders_.end(),
                           [&](const auto& entry) { return entry.second.dir == fileDir; });
  if (file == folders_.end()) return kNotFound;
  const FolderInfo fileFolder = file->second;
  HRESULT hr = SyncMessages(fileFolder, force);
  if (FAILED(hr)) return hr;
  if (!force) {
    // Up to date while the file's listing is the one this copy was made from.
    Statement& q = Query(
        "SELECT 1 FROM mbox_files a JOIN mbox_files b ON a.device = b.device AND"
        " a.inode = b.inode AND a.size = b.size AND a.mtime = b.mtime"
        " WHERE a.folder = ? AND b.folder = ?");
    q.Bind(1, fileFolder.id).Bind(2, f.id);
    bool same = q.Step() == SQLITE_ROW;
    q.Reset();
    if (same) return S_OK;
  }
  if (FAILED(Begin())) return E_FAIL;
  const char* steps[] = {
      // Messages that lost the label, or left the file.
      "DELETE FROM messages WHERE folder = ?1 AND uniq NOT IN (SELECT m.uniq FROM messages m"
      " JOIN mbox_labels l ON l.id = m.id AND l.path = ?3 WHERE m.folder = ?2)",
      // New ones, in file order.
      "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent, subject,"
      " norm_subject, disp_from, disp_to, message_id)"
      " SELECT ?1, m.uniq, m.sub, m.name, m.flags, m.size, m.mtime, m.received, m.sent,"
      " m.subject, m.norm_subject, m.disp_from, m.disp_to, m.message_id FROM messages m"
      " JOIN mbox_labels l ON l.id = m.id AND l.path = ?3 JOIN mbox_spans s ON s.id = m.id"
      " WHERE m.folder = ?2 AND NOT EXISTS"
      " (SELECT 1 FROM messages x WHERE x.folder = ?1 AND x.uniq = m.uniq) ORDER BY s.text_start",
      // The state and place in the file of every one, as the file's folder has them.
      "UPDATE messages SET flags = (SELECT m.flags FROM messages m WHERE m.folder = ?2 AND"
      " m.uniq = messages.uniq) WHERE folder = ?1 AND ?3 IS NOT NULL",
      "INSERT OR REPLACE INTO mbox_spans(id, text_start, text_end, quoted)"
      " SELECT x.id, s.text_start, s.text_end, s.quoted FROM messages x JOIN messages m"
      " ON m.folder = ?2 AND m.uniq = x.uniq JOIN mbox_spans s ON s.id = m.id"
      " WHERE x.folder = ?1 AND ?3 IS NOT NULL",
      "INSERT OR REPLACE INTO mbox_files(folder, device, inode, size, mtime, head_from,"
      " head_hash, head_length, tail_from, tail_hash, tail_length)"
      " SELECT ?1, device, inode, size, mtime, head_from, head_hash, head_length, tail_from,"
      " tail_hash, tail_length FROM mbox_files WHERE folder = ?2 AND ?3 IS NOT NULL",
  };
  for (const char* sql : steps) {
    Statement& s = Query(sql);
    s.Bind(1, f.id).Bind(2, fileFolder.id).Bind(3, label);
    int rc = s.Step();
    s.Reset();
    if (rc != SQLITE_DONE) {
      Rollback();
      return E_FAIL;
    }
  }
  return Commit();
}

}  // namespace store
