// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the readers of a Thunderbird user's files and of
// Takeout's labels: profiles.ini / installs.ini, prefs.js and the accounts it
// describes, and the X-Gmail-Labels header with the folders of its labels.
// Aborts when an answer breaks the rules the store relies on.
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/store/maildir/names.h"
#include "platform/store/takeout/gmail_labels.h"
#include "platform/store/thunderbird/mozilla_ini.h"
#include "platform/store/thunderbird/prefs_js.h"
#include "platform/store/thunderbird/profiles.h"

namespace {

namespace gmail = store::gmail;
namespace tb = store::thunderbird;

void Check(bool ok) {
  if (!ok) abort();
}

bool ValidUtf8(const std::string& s) {
  return store::maildir::ValidUtf8(s) == s;
}

void Ini(std::string_view text) {
  auto sections = tb::ParseIni(text);
  std::size_t entries = sections.size();
  for (const auto& s : sections) entries += s.entries.size();
  Check(entries <= tb::kMaxIniEntries);
  for (const auto& path : tb::DefaultProfileCandidates(sections, sections)) Check(!path.empty());
}

void Prefs(std::string_view text) {
  tb::Prefs prefs = tb::ParsePrefs(text);
  Check(prefs.values.size() <= tb::kMaxPrefs);
  // A profile that does not exist: only the prefs' own absolute paths can
  // name directories, and every account named is valid text.
  for (const auto& account : tb::AccountsFromPrefs(prefs, "/nonexistent-mq-profile")) {
    Check(ValidUtf8(account.name));
    Check(!account.directory.empty());
  }
}

void Labels(std::string_view raw) {
  // The header found in a header block stays inside it.
  if (auto value = gmail::FindLabelsHeader(raw))
    Check(value->data() >= raw.data() && value->data() + value->size() <= raw.data() + raw.size());
  bool unread = false;
  for (const auto& path : gmail::LabelFolderPaths(raw, &unread))
    Check(!path.empty() && path.front() != '/' && path.back() != '/' &&
          path.find("//") == std::string::npos);
  std::string decoded = gmail::DecodeLabelsHeader(raw);
  Check(ValidUtf8(decoded));
  auto labels = gmail::SplitLabels(decoded);
  Check(labels.size() <= gmail::kMaxLabels);
  for (const auto& label : labels) {
    Check(!label.empty() && label.size() <= gmail::kMaxLabelBytes);
    auto folder = gmail::LabelFolder(label);
    Check(!folder.empty() && folder.size() <= gmail::kMaxLabelDepth);
    for (const auto& name : folder) {
      Check(!name.empty() && ValidUtf8(name));
      for (char c : name) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != '/');
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Ini(bytes);
  Prefs(bytes);
  Labels(bytes);
  return 0;
}
