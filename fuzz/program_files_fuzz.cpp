// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the readers of other mail programs' small files:
// MH mark files and sequences, Claws Mail's folder list, Apple Mail's message
// framing and property list. Aborts when an answer breaks what the store
// relies on.
#include <cstdlib>
#include <string_view>

#include "platform/store/apple/emlx.h"
#include "platform/store/claws/folderlist.h"
#include "platform/store/mh/marks.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto marks = store::mh::ParseMarkFile(bytes)) Check(marks->size() <= size / 8);
  if (auto seq = store::mh::ParseSequence(bytes, "unseen")) {
    const auto& r = seq->ranges();
    for (std::size_t i = 0; i < r.size(); ++i) {
      Check(r[i].first > 0 && r[i].first <= r[i].second);
      if (i > 0) Check(r[i - 1].second < UINT32_MAX && r[i - 1].second + 1 < r[i].first);
      Check(seq->Contains(r[i].first) && seq->Contains(r[i].second));
    }
  }
  auto boxes = store::claws::ParseFolderList(bytes);
  Check(boxes.size() <= store::claws::kMaxMailboxes);
  for (const auto& box : boxes) Check(!box.name.empty() && (box.type == "mh" || box.path.empty()));
  if (auto frame = store::apple::ParseEmlxFrame(bytes)) {
    Check(frame->start <= size && frame->length <= size - frame->start);
    store::apple::ParseEmlxFlags(bytes.substr(frame->start + frame->length));
  }
  return 0;
}
