// SPDX-License-Identifier: LGPL-2.1-or-later
// Thunderbird's folder summary (a folder's ".msf" file, in the Mork format):
// its folder-information row, which holds, among others, the number of
// messages Thunderbird lists in the folder ("numMsgs"). A pure reader over
// bytes already read: no I/O, no recursion, and nothing kept beyond views of
// the input and the one row's cells; the file is never written.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace store::mork {

// The folder-information row's cells, column name to value, as the file
// leaves them after all its updates (groups that were aborted are undone).
// nullopt when the file is not Mork, is damaged, or has no such row.
std::optional<std::map<std::string, std::string>> ReadFolderInfo(std::string_view file);

// The number of messages Thunderbird lists in the folder, or nullopt when the
// file does not tell.
std::optional<std::uint32_t> FolderMessageCount(std::string_view file);

}  // namespace store::mork
