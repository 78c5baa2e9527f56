// SPDX-License-Identifier: LGPL-2.1-or-later
// The label folders of mbox files whose messages carry Gmail labels (a
// Takeout archive): which there are, and the listing of each.
//
// A file's listing (mbox/listing.cpp) records the labels of its new messages
// in mbox_labels and mbox_label_folders. A label folder's messages are rows of
// their own, copied from the file's folder: the same keys, so each keeps its
// id while its bytes stay, and the same spans, so they open as the file's do.
#include "platform/store/takeout/label_layout.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/takeout/gmail_labels.h"

namespace store::takeout {
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

std::vector<std::string> GmailLabels(std::string_view headers, bool* unread) {
  auto raw = gmail::FindLabelsHeader(headers);
  if (!raw) return {};
  return gmail::LabelFolderPaths(*raw, unread);
}

const mbox::MboxFormat kArchive(GmailLabels);

// The dir of a label folder: its file's and the label's path.
std::string LabelDir(const std::string& fileDir, const std::string& path) {
  return fileDir.empty() ? path : fileDir + "/" + path;
}

// A folder of the messages of one file that carry one label.
class LabelFormat final : public MessageFormat {
 public:
  // Label folders of index versions before this one named their file and
  // label apart with a unit separator: they keep their ids under the new dirs.
  HRESULT UpgradeIndex(Store& store, std::int64_t) const override {
    return store.Exec(
        "UPDATE OR IGNORE folders SET path = CASE WHEN instr(path, char(31)) = 1"
        " THEN substr(path, 2) ELSE replace(path, char(31), '/') END"
        " WHERE instr(path, char(31)) > 0");
  }
  HRESULT Sync(Store& store, const FolderInfo& f, bool force) const override;
  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override {
    // Its messages are slices of the file, spans and all.
    return kArchive.Open(store, f, id, riid, ppv);
  }
};

const LabelFormat kLabelFolder;

class LabelLayout final : public FolderLayout {
 public:
  explicit LabelLayout(std::unique_ptr<FolderLayout> files) : files_(std::move(files)) {}

  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const override {
    files_->Scan(root, previous, out);
  }

  void AddDerivedDirs(Store& store, std::vector<std::string>* dirs) override {
    labels_ = Labels(store, *dirs);
    rootArchive_ = std::any_of(labels_.begin(), labels_.end(),
                               [](const auto& entry) { return entry.second.file.empty(); });
    // A root archive's Inbox is Gmail's Inbox label (none when no message
    // carries it): the file itself is All Mail.
    if (rootArchive_)
      inbox_ = labels_.count(kInboxLabel) ? kInboxLabel : kNoFolder;
    else
      inbox_ = files_->inboxDir();
    for (const auto& [dir, label] : labels_) dirs->push_back(dir);
    std::sort(dirs->begin(), dirs->end());
    dirs->erase(std::unique(dirs->begin(), dirs->end()), dirs->end());
  }

  // The label folders of a file appear once it is listed: list the files
  // whose messages carry labels (a stat each when unchanged).
  bool RefreshDerivedDirs(Store& store, const std::vector<std::string>& treeDirs) override {
    std::vector<FolderInfo> labelled;
    for (const auto& [id, f] : store.folders())
      if (!labels_.count(f.dir) && HoldsLabels(store.FolderPath(f.dir))) labelled.push_back(f);
    if (labelled.empty()) return false;
    auto before = Labels(store, treeDirs);
    for (const FolderInfo& f : labelled) store.SyncMessages(f, false);
    return Labels(store, treeDirs) != before;
  }

  const std::string& inboxDir() const override { return inbox_; }

  std::optional<std::string> ParentDir(std::string_view dir) const override {
    const Label* label = Find(dir);
    if (!label) return files_->ParentDir(dir);
    // Below its parent label, or below its file; a root archive's labels
    // stand beside the file, at the top.
    std::size_t cut = label->path.rfind('/');
    if (cut != std::string::npos) return LabelDir(label->file, label->path.substr(0, cut));
    if (label->file.empty()) return std::nullopt;
    return label->file;
  }

  std::string Name(std::string_view dir) const override {
    if (dir.empty() && rootArchive_) return kAllMail;
    const Label* label = Find(dir);
    if (!label) return files_->Name(dir);
    return label->path.substr(label->path.rfind('/') + 1);
  }

  std::optional<std::string> FixedSortKey(std::string_view dir) const override {
    // All Mail comes right after the Inbox, before the labels: the first
    // folder of an archive without an Inbox.
    if (dir.empty() && rootArchive_) return std::string();
    return Find(dir) ? std::nullopt : files_->FixedSortKey(dir);
  }
  bool IsAccount(std::string_view dir) const override {
    return !Find(dir) && files_->IsAccount(dir);
  }
  char separator() const override { return files_->separator(); }

  std::string Place(const std::string& root, std::string_view dir) const override {
    const Label* label = Find(dir);
    return files_->Place(root, label ? std::string_view(label->file) : dir);
  }
  const MessageFormat* FormatOf(const std::string& root, std::string_view dir) const override {
    return Find(dir) ? &kLabelFolder : files_->FormatOf(root, dir);
  }
  std::vector<const MessageFormat*> Formats() const override {
    auto formats = files_->Formats();
    formats.push_back(&kLabelFolder);
    return formats;
  }

  bool foreign() const override { return files_->foreign(); }
  std::string IndexPath(const std::string& root) const override { return files_->IndexPath(root); }
  std::string Describe(const std::string& root) const override { return files_->Describe(root); }

  struct Label {
    std::string file;  // its file's dir
    std::string path;  // its folder path below the file ("Work/Projects")
    bool operator==(const Label& o) const { return file == o.file && path == o.path; }
  };

  const Label* Find(std::string_view dir) const {
    auto it = labels_.find(std::string(dir));
    return it == labels_.end() ? nullptr : &it->second;
  }

 private:
  // The label folders the index knows of the files among `treeDirs` (sorted),
  // each label with every label it is nested in.
  static std::map<std::string, Label> Labels(Store& store,
                                             const std::vector<std::string>& treeDirs) {
    std::map<std::string, Label> labels;
    Statement& q = store.Query(
        "SELECT f.path, l.path FROM mbox_label_folders l JOIN folders f ON f.id = l.folder");
    while (q.Step() == SQLITE_ROW) {
      std::string file = q.Text(0);
      // A file no longer there has no label folders.
      if (!std::binary_search(treeDirs.begin(), treeDirs.end(), file)) continue;
      std::string path = q.Text(1);
      for (std::size_t cut = path.find('/');; cut = path.find('/', cut + 1)) {
        std::string part = path.substr(0, cut);
        labels.emplace(LabelDir(file, part), Label{file, part});
        if (cut == std::string::npos) break;
      }
    }
    q.Reset();
    return labels;
  }

  static constexpr const char* kInboxLabel = "Inbox";
  static constexpr const char* kNoFolder = "/";  // a dir no folder has
  static constexpr const char* kAllMail = "All Mail";

  std::unique_ptr<FolderLayout> files_;
  std::map<std::string, Label> labels_;  // by dir
  // Whether the root is itself a file whose messages carry labels: then it
  // is shown as Gmail shows every message of an account.
  bool rootArchive_ = false;
  std::string inbox_ = files_->inboxDir();
};

// The label folder's rows follow its file's folder.
HRESULT LabelFormat::Sync(Store& store, const FolderInfo& f, bool force) const {
  // Label folders are only ever of a label layout's store.
  const auto* layout = dynamic_cast<const LabelLayout*>(&store.layout());
  const LabelLayout::Label* label = layout ? layout->Find(f.dir) : nullptr;
  if (!label) return kNotFound;
  const std::string fileDir = label->file, label_ = label->path;
  const auto& folders = store.folders();
  auto file = std::find_if(folders.begin(), folders.end(),
                           [&](const auto& entry) { return entry.second.dir == fileDir; });
  if (file == folders.end()) return kNotFound;
  const FolderInfo fileFolder = file->second;
  HRESULT hr = store.SyncMessages(fileFolder, force);
  if (FAILED(hr)) return hr;
  if (!force) {
    // Up to date while the file's listing is the one this copy was made from.
    Statement& q = store.Query(
        "SELECT 1 FROM mbox_files a JOIN mbox_files b ON a.device = b.device AND"
        " a.inode = b.inode AND a.size = b.size AND a.mtime = b.mtime"
        " WHERE a.folder = ? AND b.folder = ?");
    q.Bind(1, fileFolder.id).Bind(2, f.id);
    bool same = q.Step() == SQLITE_ROW;
    q.Reset();
    if (same) return S_OK;
  }
  if (FAILED(store.Begin())) return E_FAIL;
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
    Statement& s = store.Query(sql);
    s.Bind(1, f.id).Bind(2, fileFolder.id).Bind(3, label_);
    int rc = s.Step();
    s.Reset();
    if (rc != SQLITE_DONE) {
      store.Rollback();
      return E_FAIL;
    }
  }
  return store.Commit();
}

}  // namespace

std::unique_ptr<FolderLayout> WithLabels(std::unique_ptr<FolderLayout> files) {
  return std::make_unique<LabelLayout>(std::move(files));
}

const mbox::MboxFormat* ArchiveFormat() {
  return &kArchive;
}

}  // namespace store::takeout
