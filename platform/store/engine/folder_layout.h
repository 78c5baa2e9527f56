// SPDX-License-Identifier: LGPL-2.1-or-later
// How a store's folder names map to places on disk: one of the two seams of
// the store engine (the other is message_format.h). The engine names every
// folder by its dir, a string below the store's root that only the folder's
// layout reads ("" for a root that is itself a folder); the index keeps dirs
// and gives them back. A layout answers every question about the tree, so the
// engine never asks which layout it has.
//
// A layout is found when a store opens (DetectLayout, formats/detect.cpp, tries each
// known layout in turn) and lives as long as the store. One whose folders are
// derived from what the index knows (the label folders of a mail archive)
// keeps them between the calls the engine makes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace store {

class MessageFormat;
class Store;

// What a reading of a tree learnt of one directory; the next reading takes it
// again without reading the directory while its time vouches for it.
struct DirListing {
  std::uint64_t device = 0, inode = 0;  // another directory put in its place is read anew
  std::int64_t mtime = -1;
  bool trusted = false;               // mtime older than the reading's start by the margin
  bool maildir = false;               // holds cur/, new/ and tmp/
  std::vector<std::string> children;  // subdirectories that may be folders
};

// The folder dirs found on disk, and the directory times that tell whether
// the tree changed since.
struct TreeScan {
  std::int64_t start = 0;                                   // when the reading began (ns)
  std::vector<std::string> dirs;                            // sorted, unique
  std::vector<std::pair<std::string, std::int64_t>> times;  // directory -> mtime when read
  std::unordered_map<std::string, DirListing> listings;     // a layout's own notes, by directory
};

class FolderLayout {
 public:
  virtual ~FolderLayout() = default;

  // ---- reading the tree

  // Reads the tree at `root` again, taking from `previous` what did not change.
  virtual void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const = 0;
  // Folders that are no place of their own but come from the index (label
  // folders): added to `dirs`, which stays sorted and unique.
  virtual void AddDerivedDirs(Store& store, std::vector<std::string>* dirs) {
    (void)store;
    (void)dirs;
  }
  // Lists what the derived folders come from, once the folders of `treeDirs`
  // are known to the store; true when the derived folders changed.
  virtual bool RefreshDerivedDirs(Store& store, const std::vector<std::string>& treeDirs) {
    (void)store;
    (void)treeDirs;
    return false;
  }

  // ---- names

  // The Inbox's dir; a dir no folder has ("/") when the tree has no Inbox.
  virtual const std::string& inboxDir() const = 0;
  // The dir of a folder's parent folder; nullopt for a folder at the top.
  virtual std::optional<std::string> ParentDir(std::string_view dir) const = 0;
  // A folder's name (UTF-8) from its dir.
  virtual std::string Name(std::string_view dir) const = 0;
  // The order of a folder among its siblings when it is not by name (a
  // profile's accounts as their program shows them). Compares below every
  // folder name.
  virtual std::optional<std::string> FixedSortKey(std::string_view dir) const {
    (void)dir;
    return std::nullopt;
  }
  // Whether the folder at `dir` stands for an account or a store: it holds
  // that account's folders, never messages of its own.
  virtual bool IsAccount(std::string_view dir) const {
    (void)dir;
    return false;
  }
  // What parts a folder's dir from its children's.
  virtual char separator() const = 0;
  // Whether `dir` is `ancestor` or a folder below it.
  virtual bool AtOrBelow(std::string_view dir, std::string_view ancestor) const;

  // ---- places and formats

  // Where the folder's messages are: a directory or a file, as an absolute
  // path (a dir that is absolute already stands for itself).
  virtual std::string Place(const std::string& root, std::string_view dir) const;
  // How the folder's messages are stored. Never null; lives as long as the layout.
  virtual const MessageFormat* FormatOf(const std::string& root, std::string_view dir) const = 0;
  // Every format this layout's folders may have: their index tables are made
  // when the store opens.
  virtual std::vector<const MessageFormat*> Formats() const = 0;

  // ---- ownership

  // Whether another program owns the tree: then nothing is ever written into
  // it (every write answers E_ACCESSDENIED) and the index lives elsewhere.
  virtual bool foreign() const { return false; }
  // The index file of the store at `root`.
  virtual std::string IndexPath(const std::string& root) const;
  // One line for the user: which store this is and whether it is only read.
  virtual std::string Describe(const std::string& root) const = 0;

  // ---- changes (a layout that is not foreign)

  // The dir of a folder named `name` below the folder at `parentDir` ("" for
  // the top level); nullopt when no such folder can be made here.
  virtual std::optional<std::string> ChildDir(const std::string& parentDir,
                                              std::string_view name) const {
    (void)parentDir;
    (void)name;
    return std::nullopt;
  }
  // The same folder moved below `parentDir`; nullopt when it cannot go there.
  virtual std::optional<std::string> MovedDir(const std::string& dir,
                                              const std::string& parentDir) const {
    (void)dir;
    (void)parentDir;
    return std::nullopt;
  }
  // Whether the folder at `dir` can have child folders.
  virtual bool HoldsFolders(std::string_view dir) const { return !dir.empty(); }
  // Whether a folder's place lies inside its parent's, so that the parent's
  // must exist before a child is made.
  virtual bool ChildInsideParent() const { return false; }
  // Whether a new folder's directory carries the "maildirfolder" marker.
  virtual bool MarksFolders() const { return false; }
  // The dirs that make up the folder at `dir` and its subfolders, each moved
  // or removed in one rename.
  virtual std::vector<std::string> SubtreeDirs(const std::string& root,
                                               const std::string& dir) const {
    (void)root;
    return {dir};
  }
  // The directory (a dir) whose entries change when the folder at `dir` is
  // made, moved or removed: the one to sync afterwards.
  virtual std::string EntryDir(const std::string& dir) const {
    (void)dir;
    return "";
  }
};

// The part of a folder's place before its last `separator`: its parent's
// place. None for a top folder (no separator, or one that leads the place).
inline std::optional<std::string> PlaceBefore(std::string_view dir, char separator) {
  std::size_t cut = dir.rfind(separator);
  if (cut == std::string_view::npos || cut == 0) return std::nullopt;
  return std::string(dir.substr(0, cut));
}

// Finds the layout of the tree at `root` by trying each known layout in turn,
// and reads the tree into `scan`. Null when `root` is no mail store.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan);

// One entry of the table DetectLayout tries (formats/detect.cpp): null when the tree
// at `root` is not of its layout.
using LayoutDetector = std::unique_ptr<FolderLayout> (*)(const std::string& root, TreeScan* scan);

}  // namespace store
