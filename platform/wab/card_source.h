// SPDX-License-Identifier: LGPL-2.1-or-later
// What the address book's objects read cards from: a book of vCard files
// (ours, or another program's directory), or another program's database. A
// source names its cards by "file" (a vCard file, or the one database) and
// card key; a read-only source refuses every write with MAPI_E_NO_ACCESS.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/wab/card_splitter.h"
#include "platform/wab/entry_id.h"
#include "platform/wab/vcard_mapping.h"
#include "platform/wab/wab.h"

namespace wab {

struct LoadedCard {
  CardSpan span;  // where the card's bytes are in its file (vCard files only)
  CardKey key;
  Contact contact;
};

// One file as read: its bytes (vCard files only) and the cards that parsed.
struct LoadedFile {
  std::string name;
  std::string bytes;
  std::vector<LoadedCard> cards;
};

// What tells that a file is unchanged since it was read.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  long long modified = 0;  // nanoseconds
  long long changed = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const struct stat& st);
// The stamp of `path`, or the default stamp when it does not exist.
FileStamp StampOfPath(const std::string& path);

// A SHA-256 of `bytes` as hexadecimal, cut to 32 digits.
std::string Fingerprint(std::string_view bytes);

class CardSource {
 public:
  virtual ~CardSource() = default;

  virtual bool ReadOnly() const = 0;
  // The source's files in the order their cards are listed.
  virtual HRESULT ListFiles(std::vector<std::string>* names) const = 0;
  // One file read and parsed; null when it cannot be read.
  virtual std::shared_ptr<const LoadedFile> Load(const std::string& name) = 0;
  // The card named by `key`, or MAPI_E_NOT_FOUND.
  virtual HRESULT Find(const CardKey& key, std::shared_ptr<const LoadedFile>* file,
                       const LoadedCard** card) = 0;
  virtual HRESULT Create(const std::string& cardText, const std::string& uid, CardKey* key) = 0;
  virtual HRESULT Delete(const CardKey& key) = 0;
};

}  // namespace wab
