// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the store's readers of names found on disk: message
// file names (unique part, mbsync's ",U=", flag letters, delivery time) and
// folder directory names in both layouts. Aborts when an answer breaks the
// rules the store relies on.
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/store/maildir/layouts.h"
#include "platform/store/maildir/names.h"

namespace {

namespace md = store::maildir;

void Check(bool ok) {
  if (!ok) abort();
}

bool ValidUtf8(const std::string& s) {
  return md::ValidUtf8(s) == s;
}

void MessageName(std::string_view name) {
  md::FileName fn = md::ParseFileName(name);
  Check(fn.uniq.size() + (fn.hasInfo ? 3 + fn.info.size() : 0) == name.size());
  std::string buffer, again;
  std::string key(md::MessageKey(fn.uniq, &buffer));
  Check(key.size() <= fn.uniq.size());
  Check(md::MessageKey(key, &again) == key);  // nothing left to drop
  // The same message under any UID: adding one gives the same key.
  std::string withUid = std::string(fn.uniq) + ",U=42";
  std::string buffer2;
  Check(md::MessageKey(withUid, &buffer2) == key);
  md::DeliverySeconds(fn.uniq);

  DWORD flags = md::FlagsFromInfo(fn.info);
  std::string info = md::InfoWithFlags(fn.info, flags);
  Check(md::FlagsFromInfo(info) == flags);
  for (std::size_t i = 1; i < info.size(); ++i) Check(info[i - 1] < info[i]);  // sorted, once
  Check(info.find(',') == std::string::npos);
}

void FolderName(std::string_view dir) {
  Check(ValidUtf8(md::DisplayName(dir)));
  if (auto decoded = md::DecodeName(dir)) {
    Check(ValidUtf8(*decoded));
    Check(md::DecodeName(md::EncodeName(*decoded)) == decoded);
  }
  md::SplitFolderDir(dir);
  // The directory the store makes for a folder of that name, in both
  // layouts, names it again and sits below its parent. (Names from callers
  // are C strings: no NUL.)
  if (dir.find('\0') != std::string_view::npos) return;
  std::string name = md::ValidUtf8(dir);
  const md::PlusPlusLayout plusPlus;
  const md::NestedLayout nested("INBOX");
  for (const auto& [layout, parent] :
       {std::pair<const store::FolderLayout*, const char*>{&plusPlus, ".Parent"},
        {&nested, "Parent"}}) {
    auto child = layout->ChildDir(parent, name);
    if (!child) continue;
    Check(layout->AtOrBelow(*child, parent));
    Check(layout->ParentDir(*child) == std::optional<std::string>(parent));
    Check(layout->Name(*child) == name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MessageName(bytes);
  FolderName(bytes);
  return 0;
}
