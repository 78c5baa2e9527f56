// SPDX-License-Identifier: LGPL-2.1-or-later
// The mbox format: a folder's messages are slices of one file (splitter.h),
// each named for good by its content (message_key.h), read only. Its index
// tables:
//   mbox_files(folder, device, inode, size, mtime, head_from, head_hash,
//       head_length, tail_from, tail_hash, tail_length)   the file as last
//       listed, and its first and last message (start, hash and text length)
//       to check cheaply that a file that grew kept what it held;
//   mbox_spans(id, text_start, text_end, quoted)   where a message's text
//       stands in the file, valid while mbox_files matches the file;
//   mbox_labels(id, path)   the labels of each message of a file whose
//       messages carry them, by folder path ("Work/Projects");
//   mbox_label_folders(folder, path)   the labels of each file.
// Rows of `messages` are keyed "<hash>.<occurrence>", with an empty name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/engine/message_format.h"

namespace store::mbox {

// Reads the labels a message carries from its header block, for archives
// whose messages carry them: their folder paths ("Work/Projects"), and
// whether the message is labelled unread.
using LabelReader = std::vector<std::string> (*)(std::string_view headers, bool* unread);

class MboxFormat final : public MessageFormat {
 public:
  // `labels` null: the messages carry no labels.
  explicit constexpr MboxFormat(LabelReader labels) : labels_(labels) {}

  const char* IndexTables() const override;
  HRESULT Sync(Store& store, const FolderInfo& f, bool force) const override;
  // A slice of the file, with the quoting of its "From " lines taken off.
  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override;

  // The count of the file's Thunderbird summary ("<file>.msf"), read only.
  bool ListedCount(Store& store, const FolderInfo& f, DWORD* listed) const override;

  LabelReader labels() const { return labels_; }

 private:
  LabelReader labels_;
};

// Plain mbox files.
const MboxFormat* Format();

// Where a message stands in its file: the text's byte range and the file
// offsets of the quoting '>' bytes that its text leaves out.
struct MboxText {
  std::int64_t start = 0, end = 0;
  std::vector<std::int64_t> omitted;
};

// Opens the file of message `id` of `f` for reading (the descriptor is the
// caller's) and tells where its text stands, after bringing the folder's
// listing up to date when the file changed since.
HRESULT OpenText(Store& store, const FolderInfo& f, MESSAGEID id, int* fd, MboxText* text);

}  // namespace store::mbox
