// SPDX-License-Identifier: LGPL-2.1-or-later
// The store engine behind IStoreNamespace and IStoreFolder: a tree of
// folders read through its layout (folder_layout.h), the messages of each
// reached through its format (message_format.h), and an SQLite index (ids and
// cached summaries). Private to the store: the formats' folders use it, no
// one else.
//
// Index (its layout's IndexPath: mailquarry-index.sqlite in a Maildir root):
//   folders(id, path, cur_mtime, new_mtime, gen)   path is the folder's dir
//       (its layout's name for it: "" for an Inbox that is the root, ".A.A1"
//       in Maildir++, "A/A1" in a nested tree); the mtimes are its format's
//       note of when it was last listed (a Maildir's cur/ and new/, or -2
//       when they cannot be trusted); gen moves on every change to the
//       folder's messages (triggers).
//   messages(id, folder, uniq, sub, name, size, mtime, flags, received, sent,
//       subject, norm_subject, disp_from, disp_to, message_id)
//       keyed by (folder, uniq), where uniq is what names the message for
//       good in its format (a Maildir file name before ":2," without
//       mbsync's ",U=<uid>"; an mbox message's content key); for a format of
//       one file a message, sub is 0 cur, 1 new, 2 tmp (an id reserved by
//       CreateStream and not committed yet) and name the file's name.
//   folder_moves(old, new)   a journal of folder renames in progress: rolled
//       forward by the next process that opens the store.
// and the tables of each format of the layout (MessageFormat::IndexTables).
// Ids are AUTOINCREMENT rows, so they are never reused, and assigned in the
// order of delivery, which is also the enumeration order.
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

#include "platform/store/engine/folder_info.h"
#include "platform/store/engine/folder_layout.h"
#include "platform/store/engine/message_format.h"
#include "platform/store/store.h"

namespace store {

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
  // Opens the store at `root`, of the layout DetectLayout finds there.
  static HRESULT Open(const std::string& root, std::shared_ptr<Store>* out);
  ~Store();

  const std::string& root() const { return root_; }
  // Nothing can be written: a foreign tree, or an index or root we may not write.
  bool readOnly() const { return readOnly_; }
  const FolderLayout& layout() const { return *layout_; }

  // Folders. The tree is re-read from disk when the root directory changed.
  HRESULT SyncFolders();
  HRESULT FindFolder(STOREFOLDERID id, FolderInfo* out);
  // Children of `parent` in display order: Inbox first, then by name,
  // case-insensitively. The tree is brought up to date when a walk begins (at
  // the root) or meets a folder it does not know, so one walk sees one tree
  // and a deep tree is not read again for every level.
  HRESULT Children(STOREFOLDERID parent, std::vector<FolderInfo>* out);
  // `current`: the folder itself asks, so its counts are of its messages now.
  HRESULT FillFolderProps(const FolderInfo& f, FOLDERPROPS* props, bool current = false);
  HRESULT CreateFolder(STOREFOLDERID parent, const char* name, STOREFOLDERID* id);
  HRESULT RenameFolder(STOREFOLDERID id, const char* name);
  HRESULT MoveFolder(STOREFOLDERID id, STOREFOLDERID parent);
  HRESULT DeleteFolder(STOREFOLDERID id);
  HRESULT Compact();
  // The folders as last read from the tree, by id.
  const std::map<STOREFOLDERID, FolderInfo>& folders() const { return folders_; }
  // Where a folder's messages are on disk (its layout's Place).
  std::string FolderPath(const std::string& dir) const;

  // Messages, each through its folder's format.
  HRESULT SyncMessages(const FolderInfo& f, bool force);
  HRESULT OpenMessage(STOREFOLDERID folder, MESSAGEID id, REFIID riid, void** ppv);
  // Sets the read state, or for a format that cannot write, answers whether
  // it would change (*changed).
  HRESULT MarkRead(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, bool read,
                   bool* changed);
  // New flags = (old & ~mask) | (state & mask), for the stored flag bits.
  // *changed tells whether any message changed state.
  HRESULT SetFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state, DWORD mask,
                   bool* changed, DWORD* newFlags);
  HRESULT GetMessageProps(STOREFOLDERID folder, MESSAGEID id, bool fast, MESSAGEPROPS* props);
  HRESULT AllMessageIds(STOREFOLDERID folder, std::vector<MESSAGEID>* ids);
  HRESULT DeleteMessages(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids);
  HRESULT CopyMove(STOREFOLDERID from, STOREFOLDERID to, const std::vector<MESSAGEID>& ids,
                   bool move, DWORD flagsRemove);
  // A new message: Reserve gives a file open for writing and reserves its
  // id; Commit puts it in place; Abandon forgets it.
  HRESULT ReserveMessage(STOREFOLDERID folder, int* fd, std::string* tmpPath, MESSAGEID* id);
  HRESULT CommitMessage(STOREFOLDERID folder, MESSAGEID id, int fd, const std::string& tmpPath,
                        DWORD msgFlags);
  void AbandonMessage(STOREFOLDERID folder, MESSAGEID id, const std::string& tmpPath);

  // ---- for the formats (message_format.h)

  // The flags of `ids` in `folder` (sub < 2), in order; ERROR_NOT_FOUND when
  // one of them is not there.
  HRESULT StoredFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids,
                      std::vector<DWORD>* flags);
  // Whether setting the flags would change any message's stored flags.
  HRESULT ProbeFlags(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, DWORD state,
                     DWORD mask, bool* changed);
  // The folder's rows (sub < 2) and unread ones among them.
  HRESULT CountRows(STOREFOLDERID folder, DWORD* messages, DWORD* unread);

  // Formats of one file a message: the file of message `id`, from its row's
  // sub and name.
  HRESULT MessagePath(STOREFOLDERID folder, MESSAGEID id, std::string* path);
  // The path of message `id` as the index gave it since this process last
  // listed the folder, read ahead a page of ids at a time; empty when the
  // index has no such message. Only for opening a file to read: the file may
  // have been renamed or removed since (see OpenMessagePath).
  std::string RememberedPath(const FolderInfo& f, MESSAGEID id);
  // Forgets the remembered paths of a folder (its listing changed them).
  void ForgetPaths(STOREFOLDERID folder) { locations_.erase(folder); }
  // Opens a message file for reading, re-reading the folder once when another
  // program renamed it meanwhile. Returns the descriptor or a failure.
  HRESULT OpenMessageFile(STOREFOLDERID folder, MESSAGEID id, int* fd, std::string* path);
  // The name the index keeps for message `id` of `f` (its file, for the
  // formats that keep one file a message); kNotFound when there is none.
  HRESULT StoredName(const FolderInfo& f, MESSAGEID id, std::string* name);
  // Runs `open` on the message file's path, with the same one re-reading of
  // the folder when it answers that the file is gone (the errno-mapped
  // ENOENT). For readers that open the file themselves, so that it is not
  // opened twice.
  HRESULT OpenMessagePath(STOREFOLDERID folder, MESSAGEID id,
                          const std::function<HRESULT(const std::string& path)>& open);
  // A listing's cache of one folder's rows.
  FolderFiles& FilesOf(STOREFOLDERID folder) { return files_[folder]; }
  // The tree is read again by the next SyncFolders (a listing found a new folder).
  void ForgetTreeTimes();

  // The index.
  Statement& Query(const char* sql);  // a cached statement, reset
  HRESULT Exec(const char* sql);
  sqlite3* db() const { return db_; }
  HRESULT Begin();
  HRESULT Commit();
  void Rollback();
  void BumpGeneration(STOREFOLDERID folder);
  void FillProps(Statement& s, MESSAGEPROPS* props, bool fast);  // from kPropsColumns
  // Steps `upsert`, a bound insert-or-update of message `uniq` of `folder`,
  // and answers the row's id, or -1 when it failed.
  std::int64_t UpsertMessageRow(Statement& upsert, std::int64_t folder, const std::string& uniq);

 private:
  Store() = default;
  HRESULT OpenIndex();
  HRESULT CreateSchema();
  HRESULT ApplyFolderMoves();
  HRESULT MoveTree(const std::string& oldDir, const std::string& newDir);
  HRESULT RelocateFolder(const std::string& oldDir, const std::string& newDir);
  HRESULT FolderByIdLocked(STOREFOLDERID id, FolderInfo* out);
  bool DirTaken(const std::string& dir);
  bool TreeUnchanged() const;
  // Brings the folder list in line with the folder dirs `onDisk` (sorted).
  HRESULT ApplyTree(const std::vector<std::string>& onDisk);
  // The format that makes new folders and takes new messages.
  const MessageFormat* FormatFor(const std::string& dir) const;

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
  std::unique_ptr<FolderLayout> layout_;
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
