// SPDX-License-Identifier: LGPL-2.1-or-later
// Thunderbird's profiles.ini and installs.ini: "[Section]" lines followed by
// "Key=Value" lines. Lines starting with ';' or '#' are comments; anything
// else that is not one of those shapes is skipped, so a damaged file still
// gives the sections it can.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace store::thunderbird {

struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // in file order

  // The value of the first entry named `key` (exact case, as Thunderbird reads it).
  std::optional<std::string_view> Get(std::string_view key) const;
};

// At most this many sections and entries are kept; the rest of a larger file is ignored.
inline constexpr std::size_t kMaxIniEntries = 10000;

std::vector<IniSection> ParseIni(std::string_view text);

}  // namespace store::thunderbird
