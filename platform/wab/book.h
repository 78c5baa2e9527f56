// SPDX-License-Identifier: LGPL-2.1-or-later
// The book: a directory of vCard files or one vCard file, where its files and
// cards are, and the writes that change it. Every write locks the book
// (flock on its directory, shared by all processes), reads the file afresh,
// and replaces it atomically (temporary file in the same directory, fsync,
// rename), so two writers never lose each other's cards and a reader never
// sees half a file.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/wab/card_source.h"

namespace wab {

class Book final : public CardSource {
 public:
  // `location` is a directory, or a file whose name ends in .vcf/.vcard. A
  // read-only book (another program's) refuses Create and Delete with
  // MAPI_E_NO_ACCESS and is never written.
  explicit Book(std::string location, bool readOnly = false);

  const std::string& Location() const { return location_; }
  bool IsSingleFile() const { return singleFile_; }
  bool ReadOnly() const override { return readOnly_; }

  // The card files in byte order of their names (for a single-file book, that
  // file when it exists). A missing book has none; one that cannot be listed
  // answers MAPI_E_NO_ACCESS.
  HRESULT ListFiles(std::vector<std::string>* names) const override;

  // Reads and parses one file of the book; the last file read is kept and
  // given again while the file is unchanged. Null when the file cannot be
  // read or is too large to be a card file.
  std::shared_ptr<const LoadedFile> Load(const std::string& name) override;

  // The card named by `key`, or MAPI_E_NOT_FOUND (stale or missing).
  HRESULT Find(const CardKey& key, std::shared_ptr<const LoadedFile>* file,
               const LoadedCard** card) override;

  // Stores a new card (complete text, CRLF lines) with UID `uid`: a new file
  // <uid>.vcf in a directory book, appended to the file of a single-file book.
  // Sets `key` to the new card's key.
  HRESULT Create(const std::string& cardText, const std::string& uid, CardKey* key) override;

  // Removes exactly the card named by `key`: its file when it holds nothing
  // else, otherwise the file is rewritten without the card's bytes.
  HRESULT Delete(const CardKey& key) override;

 private:
  std::string DirectoryOf() const;
  std::string PathOf(const std::string& name) const;

  std::string location_;
  bool singleFile_ = false;
  bool readOnly_ = false;
  std::mutex mutex_;
  std::shared_ptr<const LoadedFile> recent_;
  FileStamp recentStamp_;
};

// The book a WABOpen call names: `fileName` when not empty, else
// $MAILQUARRY_ADDRESSBOOK, else $XDG_DATA_HOME/mailquarry/contacts (created,
// empty, when missing). Empty when no location can be made.
std::string ResolveBookLocation(const char* fileName);
// The same without a file name, and without creating anything.
std::string DefaultBookLocation();

// Whether a WABOpen call with `fileName` also lists the books of other
// programs: only when neither it nor $MAILQUARRY_ADDRESSBOOK names a book.
bool FindsOtherBooks(const char* fileName);

}  // namespace wab
