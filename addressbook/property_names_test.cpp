#include "addressbook/property_names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/wab/property_tags.h"

namespace mq {
namespace {

// The named identifiers are these ranges and nothing else; a name at each
// end of a range, written out here on its own, shows a slip in the shared
// tag list's order or identifiers.
TEST(PropertyTagName, NamesEveryStandardIdentifierWhateverTheTypeAndNoOther) {
  const struct {
    ULONG first, last;
    const char *firstName, *lastName;
  } ranges[] = {
      {0x0FFE, 0x0FFF, "PR_OBJECT_TYPE", "PR_ENTRYID"},
      {0x3001, 0x3004, "PR_DISPLAY_NAME", "PR_COMMENT"},
      {0x300B, 0x300B, "PR_SEARCH_KEY", "PR_SEARCH_KEY"},
      {0x39FF, 0x3A30, "PR_7BIT_DISPLAY_NAME", "PR_ASSISTANT"},
      {0x3A40, 0x3A64, "PR_SEND_RICH_INFO", "PR_OTHER_ADDRESS_POST_OFFICE_BOX"},
      {0x3A70, 0x3A71, "PR_USER_X509_CERTIFICATE", "PR_SEND_INTERNET_ENCODING"},
  };
  std::size_t named = 0;
  for (const auto& r : ranges) {
    EXPECT_STREQ(PropertyTagName(PROP_TAG(PT_STRING8, r.first)), r.firstName);
    EXPECT_STREQ(PropertyTagName(PROP_TAG(PT_UNICODE, r.last)), r.lastName);
    for (ULONG id = r.first; id <= r.last; ++id, ++named)
      EXPECT_NE(std::string(PropertyTagName(PROP_TAG(PT_LONG, id))).find("PR_"), std::string::npos)
          << std::hex << id;
    char unknown[64];
    for (ULONG id : {r.first - 1, r.last + 1}) {
      std::snprintf(unknown, sizeof unknown, "Unknown property tag 0x%x", id);
      EXPECT_STREQ(PropertyTagName(PROP_TAG(PT_STRING8, id)), unknown);
    }
  }
  EXPECT_EQ(named, 96u);
  EXPECT_EQ(PropertyTagNameCount(), 96u);
  // A few from the middle, where a shifted identifier shows.
  EXPECT_STREQ(PropertyTagName(0x3A51001F), "PR_BUSINESS_HOME_PAGE");
  EXPECT_STREQ(PropertyTagName(PR_TITLE), "PR_TITLE");
  EXPECT_STREQ(PropertyTagName(0x3A08001E), "PR_BUSINESS_TELEPHONE_NUMBER");
  EXPECT_STREQ(PropertyTagName(0x3A1C001E), "PR_CELLULAR_TELEPHONE_NUMBER");
  EXPECT_STREQ(PropertyTagName(0x3A25001E), "PR_HOME_FAX_NUMBER");

  // Unknown tags share one text, which the next unknown one replaces.
  const char* first = PropertyTagName(0x66000003);
  EXPECT_STREQ(first, "Unknown property tag 0x6600");
  EXPECT_STREQ(PropertyTagName(0xFFFF001E), "Unknown property tag 0xffff");
  EXPECT_STREQ(PropertyTagName(0x00010003), "Unknown property tag 0x1");
  PropertyTagName(PR_TITLE);  // a known name leaves the shared text alone
  EXPECT_STREQ(first, "Unknown property tag 0x1");
}

}  // namespace
}  // namespace mq
