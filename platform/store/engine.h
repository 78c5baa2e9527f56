// The store engine behind IStoreNamespace and IStoreFolder: a tree of
// Maildirs (the truth; its layouts in layout.h) and an SQLite index beside it
// (ids and cached summaries).
//
// Index (mailquarry-index.sqlite in the store root):
//   folders(id, path, cur_mtime, new_mtime, gen)   path is the folder's
//       directory below the root ("" for an Inbox that is the root, ".A.A1" in
//       Maildir++, "A/A1" in a nested tree); the mtimes are those of cur/ and new/ at
//       the last listing, or -2 when they cannot be trusted (see SyncMessages);
//       gen moves on every change to the folder's messages (triggers).
//   messages(id, folder, uniq, sub, name, size, mtime, flags, received, sent,
//       subject, norm_subject, disp_from, disp_to, message_id)
//       keyed by (folder, uniq), where uniq is the file name before ":2,"
//       without mbsync's ",U=<uid>" (maildir::MessageKey), so a flag change
//       or a synchroniser's rename keeps the id; sub is 0 cur, 1 new, 2 tmp (an
//       id reserved by CreateStream and not committed yet).
//   folder_moves(old, new)   a journal of folder renames in progress: rolled
//       forward by the next process that opens the store.
// Ids are AUTOINCREMENT rows, so they are never reused, and assigned in the
// order of delivery, which is also the enumeration order.
//
// An mbox store (layout.h) keeps the same tables in an index under
// $XDG_CACHE_HOME/mailquarry/ (never inside the tree: see MboxIndexPath),
// with folders.path the folder's file below the root, and messages keyed by
// content (mbox_message.h: uniq is "<hash>.<occurrence>", name is empty).
// Two more tables:
//   mbox_files(folder, device, inode, size, mtime, head_from, head_hash,
//       head_length, tail_from, tail_hash, tail_length)   the file as last
//       listed, and its first and last message (start, hash and text length)
//       to check cheaply that a file that grew kept what it held;
//   mbox_spans(id, text_start, text_end, quoted)   where a message's text
//       stands in the file, valid while mbox_files matches the file.
//   mbox_labels(id, path)   the label folders (gmail_labels.h) of each message
//       of a file that carries Gmail labels, by folder path ("Work/Projects");
//   mbox_label_folders(folder, path)   the label folders of each file.
// A label folder's messages are rows of their own (keyed as in the file's
// folder, so their ids last as long), with the spans and mbox_files state of
// the file copied from its folder when the file's listing changed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/store/layout.h"
#include "platform/store/store.h"

namespace store {

struct FolderInfo {
  STOREFOLDERID id = 0;
  STOREFOLDERID parent = FOLDERID_ROOT;
  std::string dir;   // directory below the root (see the index's folders.path)
  std::string name;  // UTF-8 leaf name
  std::string sortKey;
  bool inbox = false;
  // In an mbox store, a folder of Thunderbird's per-message store: its
  // messages are listed and opened as a Maildir's, read only.
  bool perMessage = false;
};

// A prepared statement, reset when it goes back to the cache.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int i, std::int64_t v);
  Statement& Bind(int i, std::string_view v);
  Statement& Bind(int i, const std::string& v) { return Bind(i, std::string_view(v)); }
  Statement& Bind(int i, const char* v) { return Bind(i, std::string_view(v)); }
  Statement& Bind(int i, const std::optional<std::string>& v);
  Statement& BindNull(int i);
  int Step();  // SQLITE_ROW, SQLITE_DONE or an error
  void Reset();
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  const char* Text(int col) const {
    return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
  }
  std::string_view View(int col) const;
  bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Store;
class FolderListing;
class MboxListing;

// Where a message of an mbox store stands in its file: the text's byte range
// and the file offsets of the quoting '>' bytes that its text leaves out.
struct MboxText {
  std::int64_t start = 0, end = 0;
  std::vector<std::int64_t> omitted;
};

// The index file of the mbox store at `root`: under $XDG_CACHE_HOME (else
// ~/.cache)/mailquarry/, named by a hash of the root's real path.
std::string MboxIndexPath(const std::string& root);

// A message file the index knows, as a listing compares it.
struct KnownFile {
  MESSAGEID id;
  int sub;
  std::string name;
  std::int64_t size, mtime;
  std::uint32_t seen;  // the listing pass that saw it last
};

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The index rows of one folder by unique name, valid for one generation.
struct FolderFiles {
  std::int64_t gen = -1;
  std::uint32_t pass = 0;
  std::size_t count[3] = {0, 0, 0};  // rows in cur/, new/ and reserved
  std::unordered_map<std::string, KnownFile, StringHash, std::equal_to<>> byUniq;
};

// Walks the messages of one folder in id order, a page at a time, so that it
// holds neither a long read transaction nor the whole folder in memory.
class MessageCursor {
 public:
  MessageCursor(std::shared_ptr<Store> store, STOREFOLDERID folder, MESSAGEID first);
  // S_OK and `props` filled, S_FALSE at the end, or a failure.
  HRESULT Next(MESSAGEPROPS* props, bool fast);

 private:
  std::shared_ptr<Store> store_;
  STOREFOLDERID folder_;
  std::int64_t after_;
  int inPage_ = 0;
  bool pageDone_ = true;
  bool end_ = false;
  std::unique_ptr<Statement> stmt_;
};

class Store : public std::enable_shared_from_this<Store> {
 public:
  // Opens the store at `root`: a Maildir (cur/, new/, tmp/), or a directory
  // holding an INBOX or other Maildir folders (layout.h).
  static HRESULT Open(const std::string& root, std::shared_ptr<Store>* out);
  ~Store();

  const std::string& root() const { return root_; }
  bool readOnly() const { return readOnly_; }
  // An mbox store: read only, its messages slices of files (MboxText).
  bool mbox() const { return layout_.mbox(); }
  const FolderLayout& layout() const { return layout_; }

  // Folders. The tree is re-read from disk when the root directory changed.
  HRESULT SyncFolders();
  HRESULT FindFolder(STOREFOLDERID id, FolderInfo* out);
  // Children of `parent` in display order: Inbox first, then by name,
  // case-insensitively. The tree is brought up to date when a walk begins (at
  // the root) or meets a folder it does not know, so one walk sees one tree
  // and a deep tree is not read again for every level.
  HRESULT Children(STOREFOLDERID parent, std::vector<FolderInfo>* out);
  HRESULT FillFolderProps(const FolderInfo& f, FOLDERPROPS* props);
  HRESULT CreateFolder(STOREFOLDERID parent, const char* name, STOREFOLDERID* id);
  HRESULT RenameFolder(STOREFOLDERID id, const char* name);
  HRESULT MoveFolder(STOREFOLDERID id, STOREFOLDERID parent);
  HRESULT DeleteFolder(STOREFOLDERID id);
  HRESULT Compact();

  // Messages. SyncMessages brings the index in line with the folder's files.
  HRESULT SyncMessages(const FolderInfo& f, bool force);
  HRESULT GetMessageProps(STOREFOLDERID folder, MESSAGEID id, bool fast, MESSAGEPROPS* props);
  HRESULT MessagePath(STOREFOLDERID folder, MESSAGEID id, std::string* path);
  // The path of message `id` as the index gave it since this process last
  // listed the folder, read ahead a page of ids at a time; empty when the
  // index has no such message. Only for opening a file to read: the file may
  // have been renamed or removed since (see OpenMessagePath).
  std::string RememberedPath(const FolderInfo& f, MESSAGEID id);
  // Opens a message file for reading, re-reading the folder once when another
  // program renamed it meanwhile. Returns the descriptor or a failure.
  HRESULT OpenMessageFile(STOREFOLDERID folder, MESSAGEID id, int* fd, std::string* path);
  // Runs `open` on the message file's path, with the same one re-reading of
  // the folder when it answers that the file is gone (the errno-mapped
  // ENOENT). For readers that open the file themselves, so that it is not
  // opened twice.
  HRESULT OpenMessagePath(STOREFOLDERID folder, MESSAGEID id,
                          const std::function<HRESULT(const std::string& path)>& open);
  // New flags = (old & ~mask) | (state & mask), for the Maildir flag bits.
  // *changed tells whether any message changed state.
  HRESULT SetFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state, DWORD mask,
                   bool* changed, DWORD* newFlags);
  // What SetFlags would do, without doing it: *changed tells whether any of
  // the messages would change state. How an mbox store answers a change of
  // the read flag.
  HRESULT ProbeFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state,
                     DWORD mask, bool* changed);
  // Opens the file of an mbox message for reading (the descriptor is the
  // caller's) and tells where its text stands, after bringing the folder's
  // listing up to date when the file changed since.
  HRESULT OpenMboxText(STOREFOLDERID folder, MESSAGEID id, int* fd, MboxText* text);
  HRESULT AllMessageIds(STOREFOLDERID folder, std::vector<MESSAGEID>* ids);
  HRESULT DeleteMessages(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids);
  HRESULT CopyMove(STOREFOLDERID from, STOREFOLDERID to, const std::vector<MESSAGEID>& ids,
                   bool move, DWORD flagsRemove);

  // A new message: Reserve creates tmp/<uniq> (returned open for writing) and
  // reserves its id; Commit moves it into cur/; Abandon forgets it.
  HRESULT ReserveMessage(STOREFOLDERID folder, int* fd, std::string* tmpPath, MESSAGEID* id);
  HRESULT CommitMessage(STOREFOLDERID folder, MESSAGEID id, int fd, const std::string& tmpPath,
                        DWORD msgFlags);
  void AbandonMessage(MESSAGEID id, const std::string& tmpPath);

  Statement& Query(const char* sql);  // a cached statement, reset
  HRESULT Exec(const char* sql);
  sqlite3* db() const { return db_; }
  void FillProps(Statement& s, MESSAGEPROPS* props, bool fast);  // from kPropsColumns
  // Steps `upsert`, a bound insert-or-update of message `uniq` of `folder`,
  // and answers the row's id, or -1 when it failed.
  std::int64_t UpsertMessageRow(Statement& upsert, std::int64_t folder, const std::string& uniq);

 private:
  friend class FolderListing;  // the steps of SyncMessages
  friend class MboxListing;    // the same for an mbox file
  Store() = default;
  HRESULT OpenIndex();
  HRESULT CreateSchema();
  HRESULT KeyMessagesWithoutUids();
  HRESULT ApplyFolderMoves();
  HRESULT MoveTree(const std::string& oldDir, const std::string& newDir);
  HRESULT RelocateFolder(const std::string& oldDir, const std::string& newDir);
  HRESULT FolderByIdLocked(STOREFOLDERID id, FolderInfo* out);
  bool DirTaken(const std::string& dir);
  bool TreeUnchanged() const;
  void ForgetTreeTimes();
  // Brings the folder list in line with the folder dirs `onDisk` (sorted).
  HRESULT ApplyTree(const std::vector<std::string>& onDisk);
  // Label folders (mbox_labels.cpp): the dirs of those the index knows, added
  // to `dirs` (kept sorted); the listing of every file whose messages carry
  // labels, which tells whether new ones appeared; a label folder's listing.
  void AddLabelDirs(std::vector<std::string>* dirs);
  bool ListLabelledFiles();
  HRESULT SyncLabelFolder(const FolderInfo& f, bool force);
  // Gives a folder that so far only held folders its cur/, new/ and tmp/.
  HRESULT EnsureMessageDirs(const FolderInfo& f);
  std::string FolderPath(const std::string& dir) const;
  HRESULT Begin();
  void BumpGeneration(STOREFOLDERID folder);
  HRESULT Commit();
  void Rollback();
  HRESULT CopyOne(const FolderInfo& src, const FolderInfo& dst, MESSAGEID id, bool move,
                  DWORD flagsRemove);

  std::string root_;
  bool readOnly_ = false;
  sqlite3* db_ = nullptr;
  std::map<const char*, std::unique_ptr<Statement>> statements_;
  std::map<STOREFOLDERID, FolderInfo> folders_;
  std::map<STOREFOLDERID, FolderFiles> files_;
  // Message file locations by folder and id, for RememberedPath; a folder's
  // are forgotten whenever it is listed.
  struct Location {
    int sub;
    std::string name;
  };
  std::map<STOREFOLDERID, std::unordered_map<MESSAGEID, Location>> locations_;
  FolderLayout layout_;
  // The last reading of the tree, and whether its directory times can vouch
  // for it (see SyncFolders); the reading made when the store opened, until
  // SyncFolders takes it.
  TreeScan tree_;
  bool treeTrusted_ = false;
  std::optional<TreeScan> openingScan_;
};

// The columns FillProps reads, in order.
#define MQ_STORE_PROPS_COLUMNS \
  "id, size, flags, received, sent, subject, norm_subject, disp_from, disp_to, message_id"

}  // namespace store
