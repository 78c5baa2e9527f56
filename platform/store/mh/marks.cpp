// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mh/marks.h"

#include <algorithm>
#include <charconv>

namespace store::mh {

namespace {

constexpr std::uint32_t kMarkVersion = 2;

std::uint32_t Word(std::string_view bytes, std::size_t at, bool swapped) {
  std::uint32_t w = 0;
  for (int i = 0; i < 4; ++i) {
    auto b = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    w |= swapped ? b << (8 * (3 - i)) : b << (8 * i);
  }
  return w;
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

std::optional<std::unordered_map<std::uint32_t, std::uint32_t>> ParseMarkFile(
    std::string_view bytes) {
  if (bytes.size() < 4) return std::nullopt;
  // The writer's own byte order: a file from a big-endian machine reads as
  // version 2 swapped.
  bool swapped = false;
  if (Word(bytes, 0, false) != kMarkVersion) {
    if (Word(bytes, 0, true) != kMarkVersion) return std::nullopt;
    swapped = true;
  }
  std::unordered_map<std::uint32_t, std::uint32_t> marks;
  marks.reserve((bytes.size() - 4) / 8);
  for (std::size_t at = 4; at + 8 <= bytes.size(); at += 8)
    marks.insert_or_assign(Word(bytes, at, swapped), Word(bytes, at + 4, swapped));
  return marks;
}

void Sequence::Add(std::uint32_t first, std::uint32_t last) {
  ranges_.emplace_back(first, last);
}

void Sequence::Normalize() {
  std::sort(ranges_.begin(), ranges_.end());
  std::size_t kept = 0;
  for (const auto& r : ranges_) {
    // Touching or overlapping ranges become one.
    if (kept > 0 &&
        (ranges_[kept - 1].second == UINT32_MAX || r.first <= ranges_[kept - 1].second + 1))
      ranges_[kept - 1].second = std::max(ranges_[kept - 1].second, r.second);
    else
      ranges_[kept++] = r;
  }
  ranges_.resize(kept);
}

bool Sequence::Contains(std::uint32_t n) const {
  auto at = std::upper_bound(ranges_.begin(), ranges_.end(), n,
                             [](std::uint32_t v, const auto& r) { return v < r.first; });
  return at != ranges_.begin() && std::prev(at)->second >= n;
}

std::optional<Sequence> ParseSequence(std::string_view text, std::string_view name) {
  std::optional<Sequence> found;
  bool inside = false;  // the lines that continue the wanted sequence
  while (!text.empty()) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    std::string_view values;
    if (!line.empty() && Blank(line[0])) {
      if (!inside) continue;
      values = line;
    } else {
      std::size_t colon = line.find(':');
      inside = colon != std::string_view::npos && line.substr(0, colon) == name;
      if (!inside) continue;
      if (!found) found.emplace();
      values = line.substr(colon + 1);
    }
    while (!values.empty()) {
      while (!values.empty() && Blank(values[0])) values.remove_prefix(1);
      std::size_t cut = 0;
      while (cut < values.size() && !Blank(values[cut])) ++cut;
      std::string_view item = values.substr(0, cut);
      values.remove_prefix(cut);
      if (item.empty()) continue;
      std::uint32_t first = 0, last = 0;
      const char* end = item.data() + item.size();
      auto r = std::from_chars(item.data(), end, first);
      if (r.ec != std::errc() || first == 0) continue;
      last = first;
      if (r.ptr != end) {
        if (*r.ptr != '-') continue;
        auto r2 = std::from_chars(r.ptr + 1, end, last);
        if (r2.ec != std::errc() || r2.ptr != end || last < first) continue;
      }
      found->Add(first, last);
    }
  }
  if (found) found->Normalize();
  return found;
}

}  // namespace store::mh
