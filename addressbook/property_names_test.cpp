#include "addressbook/property_names.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/wab/property_tags.h"

namespace mq {
namespace {

// The standard names in identifier order, written out here on their own so a
// slip in the shared tag list shows.
const char* const kExpectedNames =
    "PR_OBJECT_TYPE PR_ENTRYID PR_DISPLAY_NAME PR_ADDRTYPE PR_EMAIL_ADDRESS PR_COMMENT "
    "PR_SEARCH_KEY PR_7BIT_DISPLAY_NAME PR_ACCOUNT PR_ALTERNATE_RECIPIENT "
    "PR_CALLBACK_TELEPHONE_NUMBER PR_CONVERSION_PROHIBITED PR_DISCLOSE_RECIPIENTS PR_GENERATION "
    "PR_GIVEN_NAME PR_GOVERNMENT_ID_NUMBER PR_BUSINESS_TELEPHONE_NUMBER PR_HOME_TELEPHONE_NUMBER "
    "PR_INITIALS PR_KEYWORD PR_LANGUAGE PR_LOCATION PR_MAIL_PERMISSION PR_MHS_COMMON_NAME "
    "PR_ORGANIZATIONAL_ID_NUMBER PR_SURNAME PR_ORIGINAL_ENTRYID PR_ORIGINAL_DISPLAY_NAME "
    "PR_ORIGINAL_SEARCH_KEY PR_POSTAL_ADDRESS PR_COMPANY_NAME PR_TITLE PR_DEPARTMENT_NAME "
    "PR_OFFICE_LOCATION PR_PRIMARY_TELEPHONE_NUMBER PR_BUSINESS2_TELEPHONE_NUMBER "
    "PR_CELLULAR_TELEPHONE_NUMBER PR_RADIO_TELEPHONE_NUMBER PR_CAR_TELEPHONE_NUMBER "
    "PR_OTHER_TELEPHONE_NUMBER PR_TRANSMITABLE_DISPLAY_NAME PR_PAGER_TELEPHONE_NUMBER "
    "PR_USER_CERTIFICATE PR_PRIMARY_FAX_NUMBER PR_BUSINESS_FAX_NUMBER PR_HOME_FAX_NUMBER "
    "PR_COUNTRY PR_LOCALITY PR_STATE_OR_PROVINCE PR_STREET_ADDRESS PR_POSTAL_CODE "
    "PR_POST_OFFICE_BOX PR_TELEX_NUMBER PR_ISDN_NUMBER PR_ASSISTANT_TELEPHONE_NUMBER "
    "PR_HOME2_TELEPHONE_NUMBER PR_ASSISTANT PR_SEND_RICH_INFO PR_WEDDING_ANNIVERSARY PR_BIRTHDAY "
    "PR_HOBBIES PR_MIDDLE_NAME PR_DISPLAY_NAME_PREFIX PR_PROFESSION PR_PREFERRED_BY_NAME "
    "PR_SPOUSE_NAME PR_COMPUTER_NETWORK_NAME PR_CUSTOMER_ID PR_TTYTDD_PHONE_NUMBER PR_FTP_SITE "
    "PR_GENDER PR_MANAGER_NAME PR_NICKNAME PR_PERSONAL_HOME_PAGE PR_BUSINESS_HOME_PAGE "
    "PR_CONTACT_VERSION PR_CONTACT_ENTRYIDS PR_CONTACT_ADDRTYPES PR_CONTACT_DEFAULT_ADDRESS_INDEX "
    "PR_CONTACT_EMAIL_ADDRESSES PR_COMPANY_MAIN_PHONE_NUMBER PR_CHILDRENS_NAMES "
    "PR_HOME_ADDRESS_CITY PR_HOME_ADDRESS_COUNTRY PR_HOME_ADDRESS_POSTAL_CODE "
    "PR_HOME_ADDRESS_STATE_OR_PROVINCE PR_HOME_ADDRESS_STREET PR_HOME_ADDRESS_POST_OFFICE_BOX "
    "PR_OTHER_ADDRESS_CITY PR_OTHER_ADDRESS_COUNTRY PR_OTHER_ADDRESS_POSTAL_CODE "
    "PR_OTHER_ADDRESS_STATE_OR_PROVINCE PR_OTHER_ADDRESS_STREET PR_OTHER_ADDRESS_POST_OFFICE_BOX "
    "PR_USER_X509_CERTIFICATE PR_SEND_INTERNET_ENCODING";

// The named identifiers, in order: these ranges and nothing else.
std::vector<ULONG> NamedIds() {
  std::vector<ULONG> ids;
  const std::pair<ULONG, ULONG> ranges[] = {{0x0FFE, 0x0FFF}, {0x3001, 0x3004}, {0x300B, 0x300B},
                                            {0x39FF, 0x3A30}, {0x3A40, 0x3A64}, {0x3A70, 0x3A71}};
  for (auto [first, last] : ranges)
    for (ULONG id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

TEST(PropertyTagName, NamesEveryStandardIdentifierWhateverTheType) {
  std::istringstream names(kExpectedNames);
  const std::vector<ULONG> ids = NamedIds();
  ASSERT_EQ(ids.size(), 96u);
  EXPECT_EQ(PropertyTagNameCount(), 96u);
  for (ULONG id : ids) {
    std::string expected;
    names >> expected;
    EXPECT_STREQ(PropertyTagName(PROP_TAG(PT_STRING8, id)), expected.c_str()) << std::hex << id;
    EXPECT_STREQ(PropertyTagName(PROP_TAG(PT_UNICODE, id)), expected.c_str()) << std::hex << id;
  }
  std::string extra;
  EXPECT_FALSE(names >> extra) << extra;
  EXPECT_STREQ(PropertyTagName(0x3A51001E), "PR_BUSINESS_HOME_PAGE");
  EXPECT_STREQ(PropertyTagName(0x3A51001F), "PR_BUSINESS_HOME_PAGE");
  EXPECT_STREQ(PropertyTagName(PR_ENTRYID), "PR_ENTRYID");
}

TEST(PropertyTagName, OtherIdentifiersGetTheUnknownTextInOneSharedBuffer) {
  for (ULONG id : {0x0FFDu, 0x3000u, 0x3005u, 0x300Au, 0x300Cu, 0x39FEu, 0x3A31u, 0x3A3Fu, 0x3A65u,
                   0x3A6Fu, 0x3A72u, 0x0000u, 0xFFFFu}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "Unknown property tag 0x%x", id);
    EXPECT_STREQ(PropertyTagName(PROP_TAG(PT_STRING8, id)), expected);
  }
  const char* first = PropertyTagName(0x66000003);
  EXPECT_STREQ(first, "Unknown property tag 0x6600");
  EXPECT_STREQ(PropertyTagName(0xABCD001E), "Unknown property tag 0xabcd");
  // Known names leave the shared text alone; the next unknown one replaces it.
  EXPECT_STREQ(PropertyTagName(0x00010003), "Unknown property tag 0x1");
  PropertyTagName(PR_TITLE);
  EXPECT_STREQ(first, "Unknown property tag 0x1");
}

}  // namespace
}  // namespace mq
