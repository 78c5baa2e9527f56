// SPDX-License-Identifier: LGPL-2.1-or-later
// The record of what earlier runs exported into one target, kept there in one
// small file (never in the mail store) so that a later run can export only
// what is new. A message is known by its Message-ID with a checksum of its
// text less the status headers mail programs rewrite (read state, keywords,
// mbox bookkeeping): the key survives reopening the store, a rebuilt index
// and a folder renamed or moved, where a position or a store id would not.
// Written files are recorded by size and SHA-256, so that leaving out
// duplicates reaches back to earlier runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace mailsift {

// The key of a message: its Message-ID (may be empty) and its text.
std::string MessageKey(std::string_view messageId, std::string_view text);

class ExportRecord {
 public:
  struct File {
    std::uint64_t size;
    std::string sha256, path;
  };
  enum class Loaded { kAbsent, kRead, kUnusable };

  // Reads the record at `path`. kUnusable for a file that is not a record of
  // ours or is damaged: `problem` says why, and the record stays empty.
  Loaded Load(const std::string& path, std::string* problem);
  // Reads a record's text (for Load and for fuzzing); false when damaged.
  bool Parse(std::string_view text, std::string* problem);

  bool Has(const std::string& key) const { return messages_.count(key) > 0; }
  void AddMessage(const std::string& key);
  void AddFile(std::uint64_t size, const std::string& sha256, const std::string& path);
  const std::vector<File>& Files() const { return files_; }

  // Replaces the file at `path` with the record through the file-safety
  // layer (a temporary file beside it, synced, renamed into place, the
  // directory synced). An error text, or empty.
  std::string Save(const std::string& path) const;

 private:
  std::vector<std::string> order_;  // keys as added, so the file reads in order
  std::unordered_set<std::string> messages_;
  std::vector<File> files_;
};

}  // namespace mailsift
