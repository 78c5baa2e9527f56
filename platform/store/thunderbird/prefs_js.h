// SPDX-License-Identifier: LGPL-2.1-or-later
// A Thunderbird profile's prefs.js: one `user_pref("name", value);` a line,
// where a value is a string in double or single quotes (with \\, \", \',
// \n, \r, \t, \xNN and \uNNNN escapes), an integer, true or false; comments
// in //, # and /* */ form. A statement that does not read is skipped to the
// end of its line and the file is marked damaged, so a truncated or hand-
// edited file still gives every preference that can be read.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace store::thunderbird {

struct Prefs {
  // Preference name -> value as text: strings unescaped (UTF-8), integers in
  // decimal, booleans as "true" or "false". A later line wins, as in Thunderbird.
  std::unordered_map<std::string, std::string> values;
  bool damaged = false;  // some text could not be read

  const std::string* Get(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

// At most this many preferences are kept; the rest of a larger file is ignored
// and the file counts as damaged.
inline constexpr std::size_t kMaxPrefs = 200000;

Prefs ParsePrefs(std::string_view text);

}  // namespace store::thunderbird
