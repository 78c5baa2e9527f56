// SPDX-License-Identifier: LGPL-2.1-or-later
// How far a mistyped word is from what was meant: the edits (insert, delete,
// replace a byte) that turn `a` into `b`. Used to suggest the folder or the
// option value the user most likely meant.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace mailsift {

inline std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace mailsift
