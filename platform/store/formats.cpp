// The layouts a store may have, in the order they are tried when it opens.
// To add a mail program's store: a folder of its own holding its layout (and
// its message format where its files differ from every format here), whose
// detector goes into this table before any layout that would also take its
// tree.
#include <memory>

#include "platform/store/engine/folder_layout.h"
#include "platform/store/maildir/layouts.h"
#include "platform/store/mbox/layout.h"
#include "platform/store/takeout/label_layout.h"
#include "platform/store/thunderbird/profile_layout.h"

namespace store {
namespace {

struct KnownLayout {
  LayoutDetector detect;
  // Whether its mbox files may be mail archives whose messages carry labels.
  bool labels;
};

// A profile holds mbox files and per-message folders, so it goes first; a
// directory that is no Maildir may still be a directory of mbox files.
constexpr KnownLayout kLayouts[] = {
    {thunderbird::DetectProfileLayout, true},
    {maildir::DetectLayout, false},
    {mbox::DetectLayout, true},
};

}  // namespace

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan) {
  for (const KnownLayout& known : kLayouts) {
    *scan = TreeScan();
    if (auto layout = known.detect(root, scan))
      return known.labels ? takeout::WithLabels(std::move(layout)) : std::move(layout);
  }
  *scan = TreeScan();
  return nullptr;
}

}  // namespace store
