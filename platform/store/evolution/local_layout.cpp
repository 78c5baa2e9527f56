// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/evolution/local_layout.h"

#include <unistd.h>

#include "platform/store/maildir/files.h"
#include "platform/store/maildir/format.h"
#include "platform/store/maildir/layouts.h"
#include "platform/store/maildir/names.h"
#include "platform/store/mbox/layout.h"

namespace store::evolution {

namespace {

const maildir::MaildirFormat kReadOnlyMaildir(false, nullptr);

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// The Maildir++ layout's tree, read only and with Evolution's names.
class LocalLayout final : public FolderLayout {
 public:
  explicit LocalLayout(bool escaped) : escaped_(escaped) {}

  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const override {
    tree_.Scan(root, previous, out);
  }
  const std::string& inboxDir() const override { return tree_.inboxDir(); }
  std::optional<std::string> ParentDir(std::string_view dir) const override {
    return tree_.ParentDir(dir);
  }
  std::string Name(std::string_view dir) const override {
    return LocalFolderName(dir.substr(dir.rfind('.') + 1), escaped_);
  }
  char separator() const override { return tree_.separator(); }
  const MessageFormat* FormatOf(const std::string&, std::string_view) const override {
    return &kReadOnlyMaildir;
  }
  std::vector<const MessageFormat*> Formats() const override { return {&kReadOnlyMaildir}; }
  bool foreign() const override { return true; }
  std::string IndexPath(const std::string& root) const override { return mbox::IndexPathFor(root); }
  std::string Describe(const std::string& root) const override {
    return "Mail store: Evolution's local folders " + root +
           " (read only: nothing is written to them)";
  }

 private:
  maildir::PlusPlusLayout tree_;
  bool escaped_;
};

}  // namespace

std::string LocalFolderName(std::string_view onDisk, bool escaped) {
  if (!escaped) return maildir::ValidUtf8(onDisk);
  std::string name;
  for (std::size_t i = 0; i < onDisk.size(); ++i) {
    if (onDisk[i] == '_' && onDisk.compare(i, 3, "_2E") == 0) {
      name += '.';
      i += 2;
    } else if (onDisk[i] == '_' && onDisk.compare(i, 3, "_5F") == 0) {
      name += '_';
      i += 2;
    } else {
      name += onDisk[i];
    }
  }
  return maildir::ValidUtf8(name);
}

bool IsLocalStore(const std::string& root) {
  return maildir::IsMaildir(root) &&
         (Exists(root + "/..maildir++") || Exists(root + "/folders.db"));
}

std::unique_ptr<FolderLayout> DetectLocalLayout(const std::string& root, TreeScan* scan) {
  if (!IsLocalStore(root)) return nullptr;
  auto layout = std::make_unique<LocalLayout>(Exists(root + "/..maildir++"));
  layout->Scan(root, TreeScan(), scan);
  return layout;
}

const MessageFormat* ReadOnlyMaildir() {
  return &kReadOnlyMaildir;
}

}  // namespace store::evolution
