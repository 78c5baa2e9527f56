// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/thunderbird/mozilla_ini.h"

namespace store::thunderbird {
namespace {

std::string_view Trim(std::string_view s) {
  const char* space = " \t\r\f\v";
  std::size_t b = s.find_first_not_of(space);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(space) - b + 1);
}

}  // namespace

std::optional<std::string_view> IniSection::Get(std::string_view key) const {
  for (const auto& [k, v] : entries)
    if (k == key) return std::string_view(v);
  return std::nullopt;
}

std::vector<IniSection> ParseIni(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 BOM
  std::vector<IniSection> sections;
  std::size_t kept = 0;
  IniSection* current = nullptr;  // entries before the first section belong to none
  while (!text.empty() && kept < kMaxIniEntries) {
    std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        current = nullptr;  // a damaged header: its entries would be misread
        continue;
      }
      sections.push_back({std::string(line.substr(1, close - 1)), {}});
      current = &sections.back();
      ++kept;
      continue;
    }
    std::size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos || eq == 0) continue;
    current->entries.emplace_back(std::string(Trim(line.substr(0, eq))),
                                  std::string(Trim(line.substr(eq + 1))));
    ++kept;
  }
  return sections;
}

}  // namespace store::thunderbird
