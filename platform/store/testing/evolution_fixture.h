// SPDX-License-Identifier: LGPL-2.1-or-later
// Evolution's summary database of an account (folders.db), as either of its
// generations writes the state of the messages: up to 3.56 a table for each
// folder named by its full name with `read` and `deleted` columns; from 3.58
// (3.57 in development) a folder_id in the folders table and the messages in
// "messages_<folder_id>", their state only in the bits of `flags`.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace store::testing {

enum class EvolutionSchema { kFolderTables, kIdTables };

struct EvolutionMessage {
  std::string uid;
  bool read = false, deleted = false;
};

using EvolutionFolders = std::vector<std::pair<std::string, std::vector<EvolutionMessage>>>;

// Writes `path` holding `folders` (full name, then its messages); false when
// SQLite failed.
bool WriteEvolutionFoldersDb(const std::string& path, EvolutionSchema schema,
                             const EvolutionFolders& folders);

}  // namespace store::testing
