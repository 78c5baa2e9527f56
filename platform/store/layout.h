// How a store lays its folders out on disk, found when it opens:
//   Maildir++   the root is the Inbox, every other folder a directory of the
//               root named ".A.A1" (components in modified UTF-7), as
//               Dovecot and Courier write it;
//   nested      each folder a directory of its parent holding cur/, new/ and
//               tmp/, named as the folder in UTF-8, as mbsync ("SubFolders
//               Verbatim"), mutt and mu write it. The Inbox is the root when
//               the root is a Maildir, else the root's child named INBOX (in
//               any case).
// A directory that holds only folders is a folder without messages in both.
//   mbox        read only: one mbox file (its one folder is the Inbox), or a
//               directory of them (mbox_layout.cpp): each mbox file a folder
//               named by its file name, and "<name>.sbd/" beside it holding
//               that folder's subfolders, as Thunderbird keeps them; a plain
//               directory that holds folders is a folder without messages.
//               A folder's directory (dir) is its file's path below the root
//               ("" when the root is the file), or where that file would be.
//               A directory holding cur/ and tmp/ is a folder of Thunderbird's
//               per-message store (one file a message, read as a Maildir).
//   profile     a Thunderbird profile (profile_layout.cpp): each account a
//               top-level folder, in the order Thunderbird shows them, whose
//               dir is the account's directory below the profile
//               ("Mail/Local Folders"; its absolute path when the account's
//               directory is elsewhere), holding that directory's folders as an
//               mbox directory holds them. The default account's Inbox is the
//               Inbox. Read only, as mbox.
// In mbox stores and profiles, an mbox file whose messages carry Gmail labels
// (a Takeout archive) holds one folder per label (gmail_labels.h): its dir is
// the file's dir, kLabelMark and the label's folder path ("\x1fWork/Projects").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace store {

// Parts a label folder's dir from its file's: a byte no file name holds.
inline constexpr char kLabelMark = '\x1f';

// What a reading of a nested tree learnt of one directory; the next reading
// takes it again without reading the directory while its time vouches for it.
struct DirListing {
  std::uint64_t device = 0, inode = 0;  // another directory put in its place is read anew
  std::int64_t mtime = -1;
  bool trusted = false;               // mtime older than the reading's start by the margin
  bool maildir = false;               // holds cur/, new/ and tmp/
  std::vector<std::string> children;  // subdirectories that may be folders
};

// The folder directories found on disk, and the directory times that tell
// whether the tree changed since.
struct TreeScan {
  std::int64_t start = 0;         // when the reading began (ns)
  std::vector<std::string> dirs;  // below the root, sorted; "" is the root
  std::vector<std::pair<std::string, std::int64_t>> times;  // directory -> mtime when read
  std::unordered_map<std::string, DirListing> listings;     // nested trees: by directory
};

class FolderLayout {
 public:
  FolderLayout() = default;  // Maildir++
  FolderLayout(bool nested, std::string inboxDir)
      : nested_(nested), inboxDir_(std::move(inboxDir)) {}

  // Finds the layout of the tree at `root` and reads it into `scan`. False
  // when `root` is no mail store: neither a Maildir nor a directory holding
  // an INBOX or another Maildir folder, nor an mbox file or a directory
  // holding one.
  static bool Detect(const std::string& root, FolderLayout* layout, TreeScan* scan);
  // The mbox part of Detect, for a root that holds no Maildir.
  static bool DetectMbox(const std::string& root, FolderLayout* layout, TreeScan* scan);
  // The profile part of Detect, for a root that is a Thunderbird profile.
  static bool DetectProfile(const std::string& root, FolderLayout* layout, TreeScan* scan);

  bool nested() const { return nested_; }
  bool mbox() const { return mbox_; }
  // A Thunderbird profile (also an mbox store: read only).
  bool profile() const { return !accounts_.empty(); }
  // The order of a folder among its siblings when it is not by name: the
  // accounts of a profile as Thunderbird shows them, each account's Inbox
  // first. Compares below every folder name.
  std::optional<std::string> FixedSortKey(std::string_view dir) const;
  // Whether the folder at `dir` stands for a profile's account: it holds the
  // account's folders, never messages of its own.
  bool IsAccount(std::string_view dir) const {
    const auto* account = AccountOf(dir);
    return account && account->first == dir;
  }
  // An mbox store whose root is the one mbox file.
  bool mboxFile() const { return mbox_ && mboxFile_; }
  // The Inbox's directory: "" (the root) or the root's INBOX child.
  const std::string& inboxDir() const { return inboxDir_; }
  // Whether new folders carry the Maildir++ "maildirfolder" marker.
  bool marksFolders() const { return !nested_; }

  // Reads the tree again, taking from `previous` what did not change.
  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const;

  // The directory of a folder's parent folder; nullopt for a folder at the top.
  std::optional<std::string> ParentDir(std::string_view dir) const;
  // A folder's name (UTF-8) from its directory.
  std::string Name(std::string_view dir) const;
  // The directory of a folder named `name` below the folder at `parentDir`
  // ("" for the top level); nullopt when the name cannot be one here.
  std::optional<std::string> ChildDir(const std::string& parentDir, std::string_view name) const;
  // The same folder moved below `parentDir`.
  std::string MovedDir(const std::string& dir, const std::string& parentDir) const;
  // Whether `dir` is `ancestor` or a folder below it.
  bool AtOrBelow(std::string_view dir, std::string_view ancestor) const;
  // Whether the folder at `dir` can have child folders: not an Inbox that
  // is the root (the root's children are the top-level folders).
  bool HoldsFolders(std::string_view dir) const { return !dir.empty(); }
  char separator() const { return nested_ || mbox_ ? '/' : '.'; }

 private:
  void ScanMaildirPlusPlus(const std::string& root, TreeScan* out) const;
  void ScanNested(const std::string& root, const TreeScan* previous, TreeScan* out) const;
  void ScanMbox(const std::string& root, TreeScan* out) const;
  void ScanProfile(const std::string& root, TreeScan* out) const;
  // The account whose directory is `dir` or holds it; nullptr when none.
  const std::pair<std::string, std::string>* AccountOf(std::string_view dir) const;

  bool nested_ = false;
  bool mbox_ = false;
  bool mboxFile_ = false;
  std::string inboxDir_;
  // A profile's accounts in display order: directory below the root, name.
  std::vector<std::pair<std::string, std::string>> accounts_;
};

// Whether the directory at `path` is a folder of Thunderbird's per-message
// store: it holds cur/ and tmp/ (new/ is optional there).
bool IsPerMessageFolder(const std::string& path);

// Whether the file at `path` is an mbox folder: a regular file whose first
// line is a "From " line; an empty file only beside its Thunderbird summary
// (`<name>.msf`), as Thunderbird keeps an empty folder.
bool IsMboxFile(const std::string& path);

// Appends to `out` the mbox folders found in the directory `path`, whose
// folder paths begin with `prefix` ("" or a directory path ending in "/"),
// with the times of the directories read. What mbox stores list below a
// directory; for layers that assemble a tree of several such directories.
void ScanMboxDirectory(const std::string& path, const std::string& prefix, TreeScan* out);

}  // namespace store
