// The folder tree: reading it from the store root, and creating, renaming,
// moving and deleting folders on disk.
#include "platform/store/engine.h"

#include <dirent.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/store/engine_internal.h"
#include "platform/store/maildir.h"

namespace store {
namespace md = maildir;
using namespace engine;

namespace {

struct DirEntry {
  std::string name;
  int sub;
};

// Lists the message files of cur/ and new/ (names not starting with ".").
void ListMessages(const std::string& dir, std::vector<DirEntry>* out) {
  for (int sub = 0; sub < 2; ++sub) {
    DIR* d = opendir((dir + "/" + SubDir(sub)).c_str());
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      out->push_back({e->d_name, sub});
    }
    closedir(d);
  }
}

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
  std::vector<std::string> dirs;
  if (DIR* d = opendir(root_.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view n(e->d_name);
      if (n == oldDir || (n.size() > oldDir.size() && n.substr(0, oldDir.size()) == oldDir &&
                          n[oldDir.size()] == '.'))
        dirs.emplace_back(n);
    }
    closedir(d);
  }
  for (const auto& d : dirs) {
    std::string target = newDir + d.substr(oldDir.size());
    // A target that exists already stays as it is; the source keeps its name.
    md::RenameNoReplace(FolderPath(d), FolderPath(target));
  }
  md::FsyncDirectory(root_);
  if (FAILED(Begin())) return E_FAIL;
  std::string oldPrefix = oldDir + ".";
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
  rootMtime_ = kUntrusted;
  return Commit();
}

HRESULT Store::SyncFolders() {
  {
    Statement& q = Query("SELECT count(*) FROM folder_moves");
    bool pending = q.Step() == SQLITE_ROW && q.Int(0) > 0;
    q.Reset();
    if (pending && !readOnly_ && FAILED(ApplyFolderMoves())) return E_FAIL;
  }
  std::int64_t start = md::NowNs();
  std::int64_t mtime = md::MTimeNs(root_);
  if (mtime < 0) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
  if (mtime == rootMtime_ && !folders_.empty()) return S_OK;

  std::vector<std::string> onDisk{""};
  if (DIR* d = opendir(root_.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') continue;
      if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      auto parts = md::SplitFolderDir(e->d_name);
      if (!parts || parts->empty()) continue;
      if (e->d_type != DT_DIR && !md::IsDirectory(root_ + "/" + e->d_name)) continue;
      // Maildir++ does not need the parents of a folder to exist: the
      // missing ones are folders without messages.
      std::string dir;
      for (const auto& p : *parts) {
        dir += "." + p;
        onDisk.push_back(dir);
      }
    }
    closedir(d);
  }
  std::sort(onDisk.begin(), onDisk.end());
  onDisk.erase(std::unique(onDisk.begin(), onDisk.end()), onDisk.end());

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
    if (dir.empty()) {
      f.name = "Inbox";
      f.parent = FOLDERID_ROOT;
    } else {
      std::size_t dot = dir.rfind('.');
      f.name = md::DisplayName(std::string_view(dir).substr(dot + 1));
      std::string parentDir = dir.substr(0, dot);
      auto it = known.find(parentDir);
      f.parent = (dot == 0 || it == known.end()) ? FOLDERID_ROOT : it->second;
    }
    f.sortKey = SortKey(f.name);
    folders_.emplace(id, std::move(f));
  }
  rootMtime_ = mtime < start - kMtimeMarginNs ? mtime : kUntrusted;
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
  HRESULT hr = SyncFolders();
  if (FAILED(hr)) return hr;
  if (parent != FOLDERID_ROOT && !folders_.count(parent)) return kNotFound;
  out->clear();
  for (const auto& [id, f] : folders_)
    if (f.parent == parent) out->push_back(f);
  std::sort(out->begin(), out->end(), [](const FolderInfo& a, const FolderInfo& b) {
    bool ia = a.dir.empty(), ib = b.dir.empty();
    if (ia != ib) return ia;
    if (a.sortKey != b.sortKey) return a.sortKey < b.sortKey;
    return a.name < b.name;
  });
  return S_OK;
}

HRESULT Store::FillFolderProps(const FolderInfo& f, FOLDERPROPS* props) {
  DWORD size = props->cbSize;
  std::memset(props, 0, sizeof *props);
  props->cbSize = size;
  props->dwFolderId = f.id;
  props->sfType = f.dir.empty() ? FOLDER_INBOX : FOLDER_NOTSPECIAL;
  for (const auto& [id, other] : folders_)
    if (other.parent == f.id) ++props->cSubFolders;
  // Counted from the directories, so a count never waits for an index update.
  std::vector<DirEntry> entries;
  ListMessages(FolderPath(f.dir), &entries);
  props->cMessage = static_cast<DWORD>(entries.size());
  for (const auto& e : entries)
    if (!(md::FlagsFromInfo(md::ParseFileName(e.name).info) & MSG_FLAG_READ)) ++props->cUnread;
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
    if (p.dir.empty()) return E_INVALIDARG;  // Inbox holds no folders in Maildir++
    parentDir = p.dir;
  } else if (g_ascii_strcasecmp(name, "Inbox") == 0) {
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  }
  std::string dir = parentDir + "." + md::EncodeName(name);
  if (dir.size() > 255) return E_INVALIDARG;
  if (DirTaken(dir)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  hr = md::MakeMaildir(FolderPath(dir), true);
  if (hr == com::HResultFromErrno(EEXIST)) return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (FAILED(hr)) return hr;
  md::FsyncDirectory(root_);
  rootMtime_ = kUntrusted;
  hr = SyncFolders();
  if (FAILED(hr)) return hr;
  for (const auto& [fid, f] : folders_)
    if (f.dir == dir) {
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
  if (f.dir.empty()) return E_INVALIDARG;  // Inbox is the store's root directory
  std::string dir = f.dir.substr(0, f.dir.rfind('.')) + "." + md::EncodeName(name);
  if (f.parent == FOLDERID_ROOT && g_ascii_strcasecmp(name, "Inbox") == 0)
    return HRESULT_FROM_WIN32_ALREADY_EXISTS;
  if (dir == f.dir) return S_OK;
  return RelocateFolder(f.dir, dir);
}

// Renames and moves share this: the move is journalled before the directory
// tree moves, so the next opener finishes one that a killed process left halfway.
HRESULT Store::RelocateFolder(const std::string& oldDir, const std::string& newDir) {
  if (newDir.size() > 255) return E_INVALIDARG;
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
  if (f.dir.empty()) return E_INVALIDARG;
  std::string parentDir;
  if (parent != FOLDERID_ROOT) {
    FolderInfo p;
    hr = FindFolder(parent, &p);
    if (FAILED(hr)) return hr;
    if (p.dir.empty()) return E_INVALIDARG;
    // Not into itself or below itself.
    if (p.dir == f.dir || p.dir.compare(0, f.dir.size() + 1, f.dir + ".") == 0) return E_INVALIDARG;
    parentDir = p.dir;
  }
  std::string leaf = f.dir.substr(f.dir.rfind('.'));
  std::string dir = parentDir + leaf;
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
  if (f.dir.empty()) return E_INVALIDARG;
  std::vector<std::string> dirs;
  if (DIR* d = opendir(root_.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string_view n(e->d_name);
      if (n == f.dir || (n.size() > f.dir.size() && n.compare(0, f.dir.size(), f.dir) == 0 &&
                         n[f.dir.size()] == '.'))
        dirs.emplace_back(n);
    }
    closedir(d);
  }
  // Deepest first, and each folder leaves the tree in one rename: a killed
  // process leaves whole folders, never a folder with part of its messages.
  std::sort(dirs.begin(), dirs.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const auto& d : dirs) {
    std::string trash = root_ + "/" + kTrashPrefix + md::NewUniqueName();
    if (rename(FolderPath(d).c_str(), trash.c_str()) != 0) {
      if (errno == ENOENT) continue;
      HRESULT err = Errno();
      rootMtime_ = kUntrusted;
      SyncFolders();
      return err;
    }
    md::RemoveTree(trash);
  }
  md::FsyncDirectory(root_);
  rootMtime_ = kUntrusted;
  return SyncFolders();
}

}  // namespace store
