// SPDX-License-Identifier: LGPL-2.1-or-later
// One listing of a folder whose messages another program keeps (a format
// that is only read): the rows the index holds of it are matched against the
// messages the listing meets, and in one transaction a new or changed
// message's row is written, an unchanged one kept (its flags brought up to
// date), and the rows of messages no longer there removed; the folder's
// generation moves on when anything changed. A format's Sync finds its
// messages its own way and leaves the index to this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/folder_info.h"
#include "platform/store/store.h"

namespace store {

class Store;

class ReadOnlyListing {
 public:
  // What the index holds of one message.
  struct Row {
    MESSAGEID id;
    std::int64_t size, mtime;
    DWORD flags;  // as stored, MSG_FLAG_ATTACHMENT included
  };

  // Reads the folder's rows (not the transaction: Begin starts it).
  ReadOnlyListing(Store& store, const FolderInfo& f);
  ReadOnlyListing(const ReadOnlyListing&) = delete;
  ReadOnlyListing& operator=(const ReadOnlyListing&) = delete;

  HRESULT Begin();
  // The row of message `uniq`, or null when the index has none.
  const Row* Find(const std::string& uniq) const;
  // Keeps the row of `uniq` (Find answered it) as it is but for its flags,
  // set to `flags` when given; the attachment bit stays as its headers set it.
  void Keep(const std::string& uniq, std::optional<DWORD> flags = std::nullopt);
  // Writes the row of a new or changed message: its uniq, name, flags and
  // summary (FileSummary's sub is not read: the row is in cur). On a failed
  // write, or when the ids are spent, rolls the listing back and fails.
  HRESULT Put(const FileSummary& message);
  // A message that is a file of its own at `path` (its program keeps no
  // delivery time: the file's stands for it): its row is kept while the
  // file's size and time are as the index holds them, else the file is read
  // and its row put. S_FALSE when there is no such regular file to read.
  HRESULT PutFile(const std::string& uniq, const std::string& name, const std::string& path,
                  DWORD flags, ReaderState* reader);
  // Removes the rows of the messages neither kept nor put, moves the
  // generation on when anything changed, and commits.
  HRESULT Finish();

 private:
  struct Known {
    Row row;
    bool met = false;
  };
  Store& store_;
  STOREFOLDERID folder_;
  std::unordered_map<std::string, Known> known_;
  bool changed_ = false;
};

}  // namespace store
