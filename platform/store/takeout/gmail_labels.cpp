// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/takeout/gmail_labels.h"

// Before GLib, whose TRUE and FALSE macros would break the platform's constants.
#include "platform/store/engine/summary.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"

#include <gmime/gmime.h>
#include <strings.h>

#include <algorithm>
#include <memory>

namespace store::gmail {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Trim(std::string_view s) {
  const char* space = " \t\r\n";
  std::size_t b = s.find_first_not_of(space);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(space) - b + 1);
}

// Gmail's own labels and the folder path each is shown under.
struct SystemLabel {
  std::string_view label;
  std::vector<std::string> folder;
};

const std::vector<SystemLabel>& SystemLabels() {
  static const std::vector<SystemLabel> labels = {
      {"Inbox", {"Inbox"}},
      {"Sent", {"Sent"}},
      {"Drafts", {"Drafts"}},
      {"Draft", {"Drafts"}},
      {"Starred", {"Starred"}},
      {"Important", {"Important"}},
      {"Spam", {"Spam"}},
      {"Trash", {"Trash"}},
      {"Opened", {"Opened"}},
      {"Unread", {"Unread"}},
      {"Archived", {"Archived"}},
      {"Chat", {"Chat"}},
      {"Category Personal", {"Categories", "Personal"}},
      {"Category Social", {"Categories", "Social"}},
      {"Category Promotions", {"Categories", "Promotions"}},
      {"Category Updates", {"Categories", "Updates"}},
      {"Category Forums", {"Categories", "Forums"}},
  };
  return labels;
}

// A folder name: control characters become spaces, surrounding space goes.
std::string CleanName(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return std::string(Trim(out));
}

}  // namespace

std::optional<std::string_view> FindLabelsHeader(std::string_view block) {
  constexpr std::string_view kName = "x-gmail-labels:";
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find('\n', pos);
    end = end == std::string_view::npos ? block.size() : end + 1;
    std::string_view line = block.substr(pos, end - pos);
    if (line.size() >= kName.size() && EqualsNoCase(line.substr(0, kName.size()), kName)) {
      // The value runs on over the continuation lines that follow.
      std::size_t last = end;
      while (last < block.size() && (block[last] == ' ' || block[last] == '\t')) {
        std::size_t next = block.find('\n', last);
        last = next == std::string_view::npos ? block.size() : next + 1;
      }
      return block.substr(pos + kName.size(), last - pos - kName.size());
    }
    if (line == "\n" || line == "\r\n") break;  // the header block's end
    pos = end;
  }
  return std::nullopt;
}

std::vector<std::string> LabelFolderPaths(std::string_view raw, bool* unread) {
  std::vector<std::string> paths;
  *unread = false;
  for (const std::string& label : SplitLabels(DecodeLabelsHeader(raw))) {
    if (EqualsNoCase(label, "Unread")) *unread = true;
    std::string path;
    for (const std::string& name : LabelFolder(label)) path += (path.empty() ? "" : "/") + name;
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  }
  return paths;
}

std::string DecodeLabelsHeader(std::string_view raw) {
  std::string unfolded;
  unfolded.reserve(raw.size());
  for (char c : raw) {
    if (c == '\r' || c == '\n') continue;  // a fold: the white space after it stays
    unfolded.push_back(c);
  }
  EnsureGMime();
  std::unique_ptr<char, decltype(&g_free)> decoded(
      g_mime_utils_header_decode_text(nullptr, unfolded.c_str()), &g_free);
  return maildir::ValidUtf8(decoded ? std::string_view(decoded.get()) : unfolded);
}

std::vector<std::string> SplitLabels(std::string_view decoded) {
  std::vector<std::string> labels;
  std::string label;
  bool quoted = false, wasQuoted = false;
  auto finish = [&] {
    std::string_view text = wasQuoted ? std::string_view(label) : Trim(label);
    if (!text.empty() && text.size() <= kMaxLabelBytes && labels.size() < kMaxLabels &&
        std::find(labels.begin(), labels.end(), text) == labels.end())
      labels.emplace_back(text);
    label.clear();
    wasQuoted = false;
  };
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    char c = decoded[i];
    if (quoted) {
      if (c == '\\' && i + 1 < decoded.size()) {
        label.push_back(decoded[++i]);
      } else if (c == '"') {
        quoted = false;
      } else {
        label.push_back(c);
      }
    } else if (c == ',') {
      finish();
    } else if (c == '"' && Trim(label).empty()) {
      label.clear();  // a quoted label: its own white space is part of it
      quoted = wasQuoted = true;
    } else if (!(wasQuoted && (c == ' ' || c == '\t'))) {
      label.push_back(c);
    }
  }
  finish();
  return labels;
}

std::vector<std::string> LabelFolder(std::string_view label) {
  for (const SystemLabel& s : SystemLabels())
    if (EqualsNoCase(label, s.label)) return s.folder;
  std::vector<std::string> path;
  std::size_t start = 0;
  while (start <= label.size()) {
    std::size_t slash = label.find('/', start);
    if (slash == std::string_view::npos || path.size() + 1 == kMaxLabelDepth) slash = label.size();
    std::string name = CleanName(label.substr(start, slash - start));
    // The deepest folder keeps the rest of the path in its name, its slashes
    // shown as division slashes: a folder name never holds '/'.
    for (std::size_t at; (at = name.find('/')) != std::string::npos;)
      name.replace(at, 1, "\xE2\x88\x95");
    if (!name.empty()) path.push_back(std::move(name));
    start = slash + 1;
  }
  if (path.empty()) path.push_back("_");  // a label of slashes or blanks only
  return path;
}

}  // namespace store::gmail
