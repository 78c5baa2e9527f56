// SPDX-License-Identifier: LGPL-2.1-or-later
// The folder tree: reading it from the store root, and creating, renaming,
// moving and deleting folders on disk.
#include "platform/store/engine/store_engine.h"

#include <dirent.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"

namespace store {
using namespace engine;

namespace {

std::string SortKey(const std::string& name) {
  gchar* folded = g_utf8_casefold(name.c_str(), -1);
  std::string key(folded);
  g_free(folded);
  return key;
}

bool ValidName(const char* name) {
  if (!name || !*name) return false;
  std::size_t len = std::strlen(name);
  if (len >= CCHMAX_FOLDER_NAME || !g_utf8_validate(name, static_cast<gssize>(len), nullptr))
    return false;
  // A name of blanks only cannot be told apart in any list.
  return std::any_of(name, name + len, [](char c) { return !g_ascii_isspace(c); });
}

// A name in the root for a folder on its way out, unique to this process and moment.
std::string TrashName() {
  static std::atomic<unsigned> counter{0};
  return std::string(kTrashPrefix) + std::to_string(disk::NowNs()) + "." +
         std::to_string(getpid()) + "." + std::to_string(++counter);
}

}  // namespace

// ---------------------------------------------------------------- folders

HRESULT Store::ApplyFolderMoves() {
  std::vector<std::pair<std::string, std::string>> moves;
  {
    Statement& q = Query("SELECT old, new FROM folder_moves");
    while (q.Step() == SQLITE_ROW) moves.emplace_back(q.Text(0), q.Text(1));
    q.Reset();
  }
  for (const auto& [oldDir, newDir] : moves) {
    if (FAILED(MoveTree(oldDir, newDir))) return E_FAIL;
  }
  return S_OK;
}

// Renames the directory `oldDir` and every folder below it, then updates the
// index. The journal row written before (by the caller) lets the next process
// finish the job if this one dies halfway: the renames are repeatable.
HRESULT Store::MoveTree(const std::string& oldDir, const std::string& newDir) {
  // Each directory of the folder's tree moves in one rename; a target that
  // exists already stays as it is, and the source keeps its name.
  for (const auto& d : layout_->SubtreeDirs(root_, oldDir))
    disk::RenameNoReplace(FolderPath(d), FolderPath(newDir + d.substr(oldDir.size())));
  for (const std::string& dir : {oldDir, newDir})
    disk::FsyncDirectory(FolderPath(layout_->EntryDir(dir)));
  if (FAILED(Begin())) return E_FAIL;
  std::string oldPrefix = oldDir + layout_->separator();
  Query(
      "UPDATE folders SET path = ?2 || substr(path, length(?1) + 1),"
      " cur_mtime = -2, new_mtime = -2"
      " WHERE path = ?1 OR substr(path, 1, length(?3)) = ?3")
      .Bind(1, oldDir)
      .Bind(2, newDir)
      .Bind(3, oldPrefix)
      .Step();
  Query("DELETE FROM folder_moves WHERE old = ? AND new = ?")
      .Bind(1, oldDir)
      .Bind(2, newDir)
      .Step();
  ForgetTreeTimes();
  return Commit();
}

bool Store::TreeUnchanged() const {
  if (!treeTrusted_) return false;
  for (const auto& [dir, mtime] : tree_.times)
    if (disk::MTimeNs(FolderPath(dir)) != mtime) return false;
  return true;
}

void Store::ForgetTreeTimes() {
  treeTrusted_ = false;
  openingScan_.reset();
}

// The tree is read again only when one of the directories it was read from
// changed. As with a Maildir's cur/ and new/ (maildir/listing.cpp), a directory time
// vouches for the reading only when it is older than the reading's start by
// more than the coarsest timestamp granularity.
HRESULT Store::SyncFolders() {
  {
    Statement& q = Query("SELECT count(*) FROM folder_moves");
    bool pending = q.Step() == SQLITE_ROW && q.Int(0) > 0;
    q.Reset();
    if (pending && !readOnly_ && FAILED(ApplyFolderMoves())) return E_FAIL;
  }
  TreeScan scan;
  if (openingScan_) {
    scan = std::move(*openingScan_);
    openingScan_.reset();
  } else {
    if (disk::MTimeNs(root_) < 0) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
    if (!folders_.empty() && TreeUnchanged()) return S_OK;
    layout_->Scan(root_, tree_, &scan);
  }
  std::vector<std::string> dirs = scan.dirs;
  layout_->AddDerivedDirs(*this, &dirs);
  HRESULT hr = ApplyTree(dirs);
  if (FAILED(hr)) return hr;
  tree_ = std::move(scan);
  bool trusted = std::all_of(tree_.times.begin(), tree_.times.end(), [&](const auto& t) {
    return t.second >= 0 && t.second < tree_.start - kMtimeMarginNs;
  });
  // Folders derived from messages (labels) appear once their files are
  // listed: the layout lists them (a stat each when unchanged).
  if (layout_->RefreshDerivedDirs(*this, tree_.dirs)) {
    dirs = tree_.dirs;
    layout_->AddDerivedDirs(*this, &dirs);
    hr = ApplyTree(dirs);
    if (FAILED(hr)) return hr;
  }
  treeTrusted_ = trusted;
  return S_OK;
}

HRESULT Store::ApplyTree(const std::vector<std::string>& onDisk) {
  std::map<std::string, STOREFOLDERID> known;
  {
    Statement& q = Query("SELECT id, path FROM folders");
    while (q.Step() == SQLITE_ROW) known.emplace(q.Text(1), static_cast<STOREFOLDERID>(q.Int(0)));
    q.Reset();
  }
  std::vector<std::string> added;
  for (const auto& dir : onDisk)
    if (!known.count(dir)) added.push_back(dir);
  std::vector<STOREFOLDERID> gone;
  for (const auto& [path, id] : known)
    if (!std::binary_search(onDisk.begin(), onDisk.end(), path)) gone.push_back(id);

  if (!added.empty() || !gone.empty()) {
    if (FAILED(Begin())) return E_FAIL;
    for (const auto& dir : added)
      Query("INSERT OR IGNORE INTO folders(path) VALUES(?)").Bind(1, dir).Step();
    for (STOREFOLDERID id : gone) {
      Query("DELETE FROM messages WHERE folder = ?").Bind(1, id).Step();
      Query("DELETE FROM folders WHERE id = ?").Bind(1, id).Step();
    }
    if (FAILED(Commit())) return E_FAIL;
    known.clear();
    Statement& q = Query("SELECT id, path FROM folders");
    while (q.Step() == SQLITE_ROW) known.emplace(q.Text(1), static_cast<STOREFOLDERID>(q.Int(0)));
    q.Reset();
  }

  folders_.clear();
  for (const auto& [dir, id] : known) {
    if (id == 0 || id > kMaxId) continue;
    FolderInfo f;
    f.id = id;
    f.dir = dir;
    f.inbox = dir == layout_->inboxDir();
    f.name = f.inbox ? "Inbox" : layout_->Name(dir);
    f.parent = FOLDERID_ROOT;
    if (auto parentDir = layout_->ParentDir(dir)) {
      auto it = known.find(*parentDir);
      if (it != known.end()) f.parent = it->second;
    }
    f.sortKey = layout_->FixedSortKey(dir).value_or(SortKey(f.name));
    f.format = layout_->FormatOf(root_, dir);
    folders_.emplace(id, std::move(f));
  }
  return S_OK;
}

HRESULT Store::FolderByIdLocked(STOREFOLDERID id, FolderInfo* out) {
  auto it = folders_.find(id);
  if (it == folders_.end()) return kNotFound;
  *out = it->second;
  return S_OK;
}

HRESULT Store::FindFolder(STOREFOLDERID id, FolderInfo* out) {
  if (id == FOLDERID_ROOT || id == FOLDERID_INVALID) return E_INVALIDARG;
  if (SUCCEEDED(FolderByIdLocked(id, out))) return S_OK;
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  return FolderByIdLocked(id, out);
}

HRESULT Store::Children(STOREFOLDERID parent, std::vector<FolderInfo>* out) {
  if (parent == FOLDERID_ROOT || !folders_.count(parent)) {
    HRESULT hr = SyncFolders();
    if (FAILED(hr)) return hr;
    if (parent != FOLDERID_ROOT && !folders_.count(parent)) return kNotFound;
  }
  out->clear();
  for (const auto& [id, f] : folders_)
    if (f.parent == parent) out->push_back(f);
  std::sort(out->begin(), out->end(), [](const FolderInfo& a, const FolderInfo& b) {
    if (a.inbox != b.inbox) return a.inbox;
    if (a.sortKey != b.sortKey) return a.sortKey < b.sortKey;
    return a.name < b.name;
  });
  return S_OK;
}

HRESULT Store::FillFolderProps(const FolderInfo& f, FOLDERPROPS* props, bool current) {
  DWORD size = props->cbSize;
  std::memset(props, 0, sizeof *props);
  props->cbSize = size;
  props->dwFolderId = f.id;
  props->sfType = f.inbox                     ? FOLDER_INBOX
                  : layout_->IsAccount(f.dir) ? FOLDER_ACCOUNT
                                              : FOLDER_NOTSPECIAL;
  for (const auto& [id, other] : folders_)
    if (other.parent == f.id) ++props->cSubFolders;
  if (f.format) f.format->Count(*this, f, current, &props->cMessage, &props->cUnread);
  // Cut at a character boundary so that the name stays valid UTF-8.
  std::size_t len = std::min(f.name.size(), std::size_t{CCHMAX_FOLDER_NAME - 1});
  while (len > 0 && len < f.name.size() && (f.name[len] & 0xC0) == 0x80) --len;
  std::memcpy(props->szName, f.name.data(), len);
  props->szName[len] = '\0';
  return S_OK;
}

bool Store::DirTaken(const std::string& dir) {
  for (const auto& [id, f] : folders_)
    if (f.dir == dir) return true;
  struct stat st;
  return lstat(FolderPath(dir).c_str(), &st) == 0;
}

HRESULT Store::CreateFolder(STOREFOLDERID parent, const char* name, STOREFOLDERID* id) {
  if (!ValidName(name)) return E_INVALIDARG;
  if (readOnly_) return E_ACCESSDENIED;
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  std::string parentDir;
  if (parent != FOLDERID_ROOT) {
    FolderInfo p;
    if (FAILED(FolderByIdLocked(parent, &p))) return kNotFound;
    if (!layout_->HoldsFolders(p.dir)) return E_INVALIDARG;
    // A parent that is not there yet (a nested tree's INBOX) is made first.
    if (layout_->ChildInsideParent() && !disk::IsDirectory(FolderPath(p.dir))) {
      hr = p.format->EnsurePlace(FolderPath(p.dir), layout_->MarksFolders() && !p.inbox);
      if (FAILED(hr)) return hr;
    }
    parentDir = p.dir;
  } else if (g_ascii_strcasecmp(name, "Inbox") == 0) {
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  }
  auto dir = layout_->ChildDir(parentDir, name);
  if (!dir) return E_INVALIDARG;
  if (DirTaken(*dir)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  hr = FormatFor(*dir)->MakePlace(FolderPath(*dir), layout_->MarksFolders());
  if (FAILED(hr)) return hr;
  disk::FsyncDirectory(FolderPath(layout_->EntryDir(*dir)));
  ForgetTreeTimes();
  hr = SyncFolders();
  if (FAILED(hr)) return hr;
  for (const auto& [fid, f] : folders_)
    if (f.dir == *dir) {
      if (id) *id = fid;
      return S_OK;
    }
  return E_FAIL;
}

HRESULT Store::RenameFolder(STOREFOLDERID id, const char* name) {
  if (!ValidName(name)) return E_INVALIDARG;
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(id, &f);
  if (FAILED(hr)) return hr;
  if (f.inbox) return E_INVALIDARG;
  auto dir = layout_->ChildDir(layout_->ParentDir(f.dir).value_or(""), name);
  if (!dir) return E_INVALIDARG;
  if (f.parent == FOLDERID_ROOT && g_ascii_strcasecmp(name, "Inbox") == 0)
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (*dir == f.dir) return S_OK;
  return RelocateFolder(f.dir, *dir);
}

// Renames and moves share this: the move is journalled before the directory
// tree moves, so the next opener finishes one that a killed process left halfway.
HRESULT Store::RelocateFolder(const std::string& oldDir, const std::string& newDir) {
  if (DirTaken(newDir)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (FAILED(Begin())) return E_FAIL;
  Query("INSERT INTO folder_moves(old, new) VALUES(?, ?)").Bind(1, oldDir).Bind(2, newDir).Step();
  if (FAILED(Commit())) return E_FAIL;
  HRESULT hr = MoveTree(oldDir, newDir);
  if (FAILED(hr)) return hr;
  return SyncFolders();
}

HRESULT Store::MoveFolder(STOREFOLDERID id, STOREFOLDERID parent) {
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(id, &f);
  if (FAILED(hr)) return hr;
  if (f.inbox) return E_INVALIDARG;
  std::string parentDir;
  if (parent != FOLDERID_ROOT) {
    FolderInfo p;
    hr = FindFolder(parent, &p);
    if (FAILED(hr)) return hr;
    if (!layout_->HoldsFolders(p.dir)) return E_INVALIDARG;
    if (layout_->AtOrBelow(p.dir, f.dir)) return E_INVALIDARG;  // not into itself or below
    parentDir = p.dir;
  }
  auto moved = layout_->MovedDir(f.dir, parentDir);
  if (!moved) return E_INVALIDARG;
  const std::string& dir = *moved;
  if (dir == f.dir) return S_OK;
  if (parent == FOLDERID_ROOT && g_ascii_strcasecmp(f.name.c_str(), "Inbox") == 0)
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  return RelocateFolder(f.dir, dir);
}

HRESULT Store::DeleteFolder(STOREFOLDERID id) {
  if (readOnly_) return E_ACCESSDENIED;
  FolderInfo f;
  HRESULT hr = FindFolder(id, &f);
  if (FAILED(hr)) return hr;
  if (f.inbox) return E_INVALIDARG;
  // A tree of several stores holds folders of other programs beside ours.
  if (!f.format || !f.format->writable()) return E_ACCESSDENIED;
  std::vector<std::string> dirs = layout_->SubtreeDirs(root_, f.dir);
  // Deepest first, and each folder leaves the tree in one rename: a killed
  // process leaves whole folders, never a folder with part of its messages.
  std::sort(dirs.begin(), dirs.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const auto& d : dirs) {
    std::string trash = root_ + "/" + TrashName();
    if (rename(FolderPath(d).c_str(), trash.c_str()) != 0) {
      if (errno == ENOENT) continue;
      HRESULT err = Errno();
      ForgetTreeTimes();
      SyncFolders();
      return err;
    }
    disk::RemoveTree(trash);
  }
  disk::FsyncDirectory(root_);
  disk::FsyncDirectory(FolderPath(layout_->EntryDir(f.dir)));
  ForgetTreeTimes();
  return SyncFolders();
}

const MessageFormat* Store::FormatFor(const std::string& dir) const {
  return layout_->FormatOf(root_, dir);
}

}  // namespace store
