// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/contacts/property_names.h"

#include <gtest/gtest.h>

#include "platform/wab/property_tags.h"

namespace mq {
namespace {

// Names come from the identifier whatever the type; identifiers without a
// standard name share one text, which the next unknown one replaces.
TEST(PropertyTagName, NamesByIdentifierAndSharesOneTextForUnknownOnes) {
  const std::pair<ULONG, const char*> named[] = {
      {0x0FFF0102, "PR_ENTRYID"},
      {0x3001001E, "PR_DISPLAY_NAME"},
      {0x3001001F, "PR_DISPLAY_NAME"},
      {0x3A08001E, "PR_BUSINESS_TELEPHONE_NUMBER"},
      {0x3A1C001E, "PR_CELLULAR_TELEPHONE_NUMBER"},
      {0x3A25001E, "PR_HOME_FAX_NUMBER"},
      {0x3A51001F, "PR_BUSINESS_HOME_PAGE"},
      {0x3A710003, "PR_SEND_INTERNET_ENCODING"},
      {PR_TITLE, "PR_TITLE"},
  };
  for (const auto& [tag, name] : named) EXPECT_STREQ(PropertyTagName(tag), name) << std::hex << tag;

  const char* first = PropertyTagName(0x66000003);
  EXPECT_STREQ(first, "Unknown property tag 0x6600");
  EXPECT_STREQ(PropertyTagName(0x3A72001E), "Unknown property tag 0x3a72");
  EXPECT_STREQ(PropertyTagName(0xFFFF001E), "Unknown property tag 0xffff");
  EXPECT_STREQ(PropertyTagName(0x00010003), "Unknown property tag 0x1");
  PropertyTagName(PR_TITLE);  // a known name leaves the shared text alone
  EXPECT_STREQ(first, "Unknown property tag 0x1");
}

}  // namespace
}  // namespace mq
