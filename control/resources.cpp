// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/resources.h"

#include "control/toolbox_bitmap.h"

namespace mq {

Resource ToolboxBitmap() {
  return {kToolboxBitmap, sizeof kToolboxBitmap};
}

const char* const* VersionInfo() {
  static const char* const entries[] = {
      "FileVersion",    "1.0.0.1",     "ProductVersion", "1.0.0.1",          "FileDescription",
      "Mailquarry dll", "ProductName", "Mailquarry dll", "OriginalFilename", "Mailquarry.dll",
      "InternalName",   "Mailquarry",  "CompanyName",    kCompanyName,       "LegalCopyright",
      kLegalCopyright,  nullptr,       nullptr,
  };
  return entries;
}

}  // namespace mq
