// SPDX-License-Identifier: LGPL-2.1-or-later
// The property tags of address-book entries: identifier, type and standard
// name, listed once. WAB_PROPERTY_TAGS(X) calls X(name, identifier, type) for
// every property a contact can carry, in identifier order; the constants
// below and any name table (the connection's PropertyTagName) come from it.
#pragma once

#include "platform/com/types.h"

// Property types (the lower 16 bits of a tag).
constexpr ULONG PT_UNSPECIFIED = 0x0000;
constexpr ULONG PT_NULL = 0x0001;
constexpr ULONG PT_I2 = 0x0002;
constexpr ULONG PT_LONG = 0x0003;
constexpr ULONG PT_BOOLEAN = 0x000B;
constexpr ULONG PT_OBJECT = 0x000D;
constexpr ULONG PT_I8 = 0x0014;
constexpr ULONG PT_STRING8 = 0x001E;
constexpr ULONG PT_UNICODE = 0x001F;
constexpr ULONG PT_SYSTIME = 0x0040;
constexpr ULONG PT_CLSID = 0x0048;
constexpr ULONG PT_BINARY = 0x0102;
constexpr ULONG PT_ERROR = 0x000A;
constexpr ULONG MV_FLAG = 0x1000;
constexpr ULONG PT_MV_STRING8 = MV_FLAG | PT_STRING8;
constexpr ULONG PT_MV_BINARY = MV_FLAG | PT_BINARY;

constexpr ULONG PROP_TAG(ULONG type, ULONG id) {
  return (id << 16) | type;
}
constexpr ULONG PROP_ID(ULONG tag) {
  return tag >> 16;
}
constexpr ULONG PROP_TYPE(ULONG tag) {
  return tag & 0xFFFF;
}
constexpr ULONG CHANGE_PROP_TYPE(ULONG tag, ULONG type) {
  return (tag & 0xFFFF0000) | type;
}

// clang-format off
#define WAB_PROPERTY_TAGS(X)                                          \
  X(PR_OBJECT_TYPE,                     0x0FFE, PT_LONG)              \
  X(PR_ENTRYID,                         0x0FFF, PT_BINARY)            \
  X(PR_DISPLAY_NAME,                    0x3001, PT_STRING8)           \
  X(PR_ADDRTYPE,                        0x3002, PT_STRING8)           \
  X(PR_EMAIL_ADDRESS,                   0x3003, PT_STRING8)           \
  X(PR_COMMENT,                         0x3004, PT_STRING8)           \
  X(PR_SEARCH_KEY,                      0x300B, PT_BINARY)            \
  X(PR_7BIT_DISPLAY_NAME,               0x39FF, PT_STRING8)           \
  X(PR_ACCOUNT,                         0x3A00, PT_STRING8)           \
  X(PR_ALTERNATE_RECIPIENT,             0x3A01, PT_BINARY)            \
  X(PR_CALLBACK_TELEPHONE_NUMBER,       0x3A02, PT_STRING8)           \
  X(PR_CONVERSION_PROHIBITED,           0x3A03, PT_BOOLEAN)           \
  X(PR_DISCLOSE_RECIPIENTS,             0x3A04, PT_BOOLEAN)           \
  X(PR_GENERATION,                      0x3A05, PT_STRING8)           \
  X(PR_GIVEN_NAME,                      0x3A06, PT_STRING8)           \
  X(PR_GOVERNMENT_ID_NUMBER,            0x3A07, PT_STRING8)           \
  X(PR_BUSINESS_TELEPHONE_NUMBER,       0x3A08, PT_STRING8)           \
  X(PR_HOME_TELEPHONE_NUMBER,           0x3A09, PT_STRING8)           \
  X(PR_INITIALS,                        0x3A0A, PT_STRING8)           \
  X(PR_KEYWORD,                         0x3A0B, PT_STRING8)           \
  X(PR_LANGUAGE,                        0x3A0C, PT_STRING8)           \
  X(PR_LOCATION,                        0x3A0D, PT_STRING8)           \
  X(PR_MAIL_PERMISSION,                 0x3A0E, PT_BOOLEAN)           \
  X(PR_MHS_COMMON_NAME,                 0x3A0F, PT_STRING8)           \
  X(PR_ORGANIZATIONAL_ID_NUMBER,        0x3A10, PT_STRING8)           \
  X(PR_SURNAME,                         0x3A11, PT_STRING8)           \
  X(PR_ORIGINAL_ENTRYID,                0x3A12, PT_BINARY)            \
  X(PR_ORIGINAL_DISPLAY_NAME,           0x3A13, PT_STRING8)           \
  X(PR_ORIGINAL_SEARCH_KEY,             0x3A14, PT_BINARY)            \
  X(PR_POSTAL_ADDRESS,                  0x3A15, PT_STRING8)           \
  X(PR_COMPANY_NAME,                    0x3A16, PT_STRING8)           \
  X(PR_TITLE,                           0x3A17, PT_STRING8)           \
  X(PR_DEPARTMENT_NAME,                 0x3A18, PT_STRING8)           \
  X(PR_OFFICE_LOCATION,                 0x3A19, PT_STRING8)           \
  X(PR_PRIMARY_TELEPHONE_NUMBER,        0x3A1A, PT_STRING8)           \
  X(PR_BUSINESS2_TELEPHONE_NUMBER,      0x3A1B, PT_STRING8)           \
  X(PR_CELLULAR_TELEPHONE_NUMBER,       0x3A1C, PT_STRING8)           \
  X(PR_RADIO_TELEPHONE_NUMBER,          0x3A1D, PT_STRING8)           \
  X(PR_CAR_TELEPHONE_NUMBER,            0x3A1E, PT_STRING8)           \
  X(PR_OTHER_TELEPHONE_NUMBER,          0x3A1F, PT_STRING8)           \
  X(PR_TRANSMITABLE_DISPLAY_NAME,       0x3A20, PT_STRING8)           \
  X(PR_PAGER_TELEPHONE_NUMBER,          0x3A21, PT_STRING8)           \
  X(PR_USER_CERTIFICATE,                0x3A22, PT_BINARY)            \
  X(PR_PRIMARY_FAX_NUMBER,              0x3A23, PT_STRING8)           \
  X(PR_BUSINESS_FAX_NUMBER,             0x3A24, PT_STRING8)           \
  X(PR_HOME_FAX_NUMBER,                 0x3A25, PT_STRING8)           \
  X(PR_COUNTRY,                         0x3A26, PT_STRING8)           \
  X(PR_LOCALITY,                        0x3A27, PT_STRING8)           \
  X(PR_STATE_OR_PROVINCE,               0x3A28, PT_STRING8)           \
  X(PR_STREET_ADDRESS,                  0x3A29, PT_STRING8)           \
  X(PR_POSTAL_CODE,                     0x3A2A, PT_STRING8)           \
  X(PR_POST_OFFICE_BOX,                 0x3A2B, PT_STRING8)           \
  X(PR_TELEX_NUMBER,                    0x3A2C, PT_STRING8)           \
  X(PR_ISDN_NUMBER,                     0x3A2D, PT_STRING8)           \
  X(PR_ASSISTANT_TELEPHONE_NUMBER,      0x3A2E, PT_STRING8)           \
  X(PR_HOME2_TELEPHONE_NUMBER,          0x3A2F, PT_STRING8)           \
  X(PR_ASSISTANT,                       0x3A30, PT_STRING8)           \
  X(PR_SEND_RICH_INFO,                  0x3A40, PT_BOOLEAN)           \
  X(PR_WEDDING_ANNIVERSARY,             0x3A41, PT_SYSTIME)           \
  X(PR_BIRTHDAY,                        0x3A42, PT_SYSTIME)           \
  X(PR_HOBBIES,                         0x3A43, PT_STRING8)           \
  X(PR_MIDDLE_NAME,                     0x3A44, PT_STRING8)           \
  X(PR_DISPLAY_NAME_PREFIX,             0x3A45, PT_STRING8)           \
  X(PR_PROFESSION,                      0x3A46, PT_STRING8)           \
  X(PR_PREFERRED_BY_NAME,               0x3A47, PT_STRING8)           \
  X(PR_SPOUSE_NAME,                     0x3A48, PT_STRING8)           \
  X(PR_COMPUTER_NETWORK_NAME,           0x3A49, PT_STRING8)           \
  X(PR_CUSTOMER_ID,                     0x3A4A, PT_STRING8)           \
  X(PR_TTYTDD_PHONE_NUMBER,             0x3A4B, PT_STRING8)           \
  X(PR_FTP_SITE,                        0x3A4C, PT_STRING8)           \
  X(PR_GENDER,                          0x3A4D, PT_I2)                \
  X(PR_MANAGER_NAME,                    0x3A4E, PT_STRING8)           \
  X(PR_NICKNAME,                        0x3A4F, PT_STRING8)           \
  X(PR_PERSONAL_HOME_PAGE,              0x3A50, PT_STRING8)           \
  X(PR_BUSINESS_HOME_PAGE,              0x3A51, PT_STRING8)           \
  X(PR_CONTACT_VERSION,                 0x3A52, PT_CLSID)             \
  X(PR_CONTACT_ENTRYIDS,                0x3A53, PT_MV_BINARY)         \
  X(PR_CONTACT_ADDRTYPES,               0x3A54, PT_MV_STRING8)        \
  X(PR_CONTACT_DEFAULT_ADDRESS_INDEX,   0x3A55, PT_LONG)              \
  X(PR_CONTACT_EMAIL_ADDRESSES,         0x3A56, PT_MV_STRING8)        \
  X(PR_COMPANY_MAIN_PHONE_NUMBER,       0x3A57, PT_STRING8)           \
  X(PR_CHILDRENS_NAMES,                 0x3A58, PT_MV_STRING8)        \
  X(PR_HOME_ADDRESS_CITY,               0x3A59, PT_STRING8)           \
  X(PR_HOME_ADDRESS_COUNTRY,            0x3A5A, PT_STRING8)           \
  X(PR_HOME_ADDRESS_POSTAL_CODE,        0x3A5B, PT_STRING8)           \
  X(PR_HOME_ADDRESS_STATE_OR_PROVINCE,  0x3A5C, PT_STRING8)           \
  X(PR_HOME_ADDRESS_STREET,             0x3A5D, PT_STRING8)           \
  X(PR_HOME_ADDRESS_POST_OFFICE_BOX,    0x3A5E, PT_STRING8)           \
  X(PR_OTHER_ADDRESS_CITY,              0x3A5F, PT_STRING8)           \
  X(PR_OTHER_ADDRESS_COUNTRY,           0x3A60, PT_STRING8)           \
  X(PR_OTHER_ADDRESS_POSTAL_CODE,       0x3A61, PT_STRING8)           \
  X(PR_OTHER_ADDRESS_STATE_OR_PROVINCE, 0x3A62, PT_STRING8)           \
  X(PR_OTHER_ADDRESS_STREET,            0x3A63, PT_STRING8)           \
  X(PR_OTHER_ADDRESS_POST_OFFICE_BOX,   0x3A64, PT_STRING8)           \
  X(PR_USER_X509_CERTIFICATE,           0x3A70, PT_MV_BINARY)         \
  X(PR_SEND_INTERNET_ENCODING,          0x3A71, PT_LONG)
// clang-format on

#define WAB_DECLARE_PROPERTY_TAG(name, id, type) constexpr ULONG name = PROP_TAG(type, id);
WAB_PROPERTY_TAGS(WAB_DECLARE_PROPERTY_TAG)
#undef WAB_DECLARE_PROPERTY_TAG

// Properties of the personal address book container: the entry identifiers of
// the templates that new entries are created from.
constexpr ULONG PR_DEF_CREATE_DL = PROP_TAG(PT_BINARY, 0x3611);
constexpr ULONG PR_DEF_CREATE_MAILUSER = PROP_TAG(PT_BINARY, 0x3612);
