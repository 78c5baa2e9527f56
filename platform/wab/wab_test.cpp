// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine read through WABOpen and the interfaces, as the connection
// reads it, over books written here.
#include <sys/stat.h>

#include <algorithm>
#include <iterator>

#include "platform/com/bstr.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;

const char kAlice[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:alice-1\r\nFN:Alice Example\r\nN:Example;Alice;;Dr.;\r\n"
    "EMAIL;TYPE=INTERNET:alice@home.example\r\nEMAIL;TYPE=INTERNET,PREF:alice@work.example\r\n"
    "TEL;TYPE=WORK,VOICE:+1 555 0100\r\nTEL;TYPE=WORK;TYPE=VOICE:+1 555 0101\r\n"
    "TEL;TYPE=HOME:+1 555 0102\r\nTEL;TYPE=WORK,FAX:+1 555 0103\r\nTEL;TYPE=home,fax:+1 555 "
    "0104\r\n"
    "TEL;TYPE=CELL:+1 555 0105\r\nTEL;TYPE=PAGER:+1 555 0106\r\n"
    "item1.URL:https://alice.example/\r\nitem1.X-ABLabel:_$!<HomePage>!$_\r\n"
    "URL;TYPE=WORK:https://corp.example/alice\r\nTITLE:Chief Tester\r\n"
    "ORG:Example Corp;Quality\\, Assurance\r\nX-EVOLUTION-OFFICE:B2.14\r\n"
    "ADR;TYPE=HOME:;Flat 3;1 Main St;Springfield;IL;62701;USA\r\nBDAY:1980-05-17\r\n"
    "NOTE:Line one\\nline two\r\nX-SOCIALPROFILE;TYPE=x:alice\r\nEND:VCARD\r\n";

const char kMany[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bob\r\nFN:Bob\r\nEMAIL:bob@example.org\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carol\r\nEMAIL:carol@example.org\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\nVERSION:4.0\nUID:urn:uuid:dave\nFN:Dave\nTEL;VALUE=uri;TYPE=cell:tel:+1-555-"
    "0199\n"
    "END:VCARD\n";

const char kGroups[] =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Friends\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nX-ADDRESSBOOKSERVER-KIND:group\r\nFN:Team\r\nEND:VCARD\r\n";

// vCard 2.1, Latin-1 quoted-printable with a soft line break inside the name.
const char kOld[] =
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J="
    "FCrgen\r\n"
    "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=FCrgen M=FCller-Ober=\r\nmeier\r\n"
    "TEL;WORK;VOICE:030 1234\r\nEMAIL;INTERNET:j@example.de\r\nEND:VCARD\r\n";

class WabRead : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(WabOpenEntry(), nullptr) << dlerror();
    WriteFile(dir / "alice.vcf", kAlice);
    WriteFile(dir / "many.VCF", kMany);
    WriteFile(dir / "group.vcard", kGroups);
    WriteFile(dir / "old.vcf", kOld);
    WriteFile(dir / "junk.vcf", std::string("\x00\x01\xff\xfeGIF89a\x00", 11));
    WriteFile(dir / "unterminated.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Never ends\r\n");
    WriteFile(dir / "notes.txt", "BEGIN:VCARD\r\nFN:Not a card file\r\nEND:VCARD\r\n");
    WriteFile(dir / ".hidden.vcf", "BEGIN:VCARD\r\nFN:Hidden\r\nEND:VCARD\r\n");
    fs::create_directory(dir / "sub.vcf");
  }
  TempDir dir;
};

// Rows come in file-name order, then card order. Each field a contact member
// reads is the contact collection's test (ContactsE2E); here, the choices
// among several values and the decoding.
TEST_F(WabRead, RowsInFileOrderWithTheirPropertiesAsUtf8Strings) {
  Book book(dir.path());
  ASSERT_EQ(book.result, S_OK);
  HRESULT hr;
  std::vector<Row> rows = book.ReadAll(&hr);
  EXPECT_EQ(hr, S_OK);
  // Byte order: "alice.vcf" < "group.vcard" < "many.VCF" < "old.vcf".
  ASSERT_EQ(Names(rows),
            (std::vector<std::string>{"Alice Example", "Friends", "Team", "Bob", "Carol", "Dave",
                                      "J\xC3\xBCrgen M\xC3\xBCller-Obermeier"}));
  std::vector<ULONG> types;
  for (const Row& r : rows) types.push_back(r.objectType);
  EXPECT_EQ(types, (std::vector<ULONG>{MAPI_MAILUSER, MAPI_DISTLIST, MAPI_DISTLIST, MAPI_MAILUSER,
                                       MAPI_MAILUSER, MAPI_MAILUSER, MAPI_MAILUSER}));
  const Row& a = rows[0];
  auto p = [&](ULONG tag) {
    auto it = a.props.find(PROP_ID(tag));
    return it == a.props.end() ? std::string("<none>") : it->second;
  };
  EXPECT_EQ(p(PR_DISPLAY_NAME), "Alice Example");
  EXPECT_EQ(p(PR_EMAIL_ADDRESS), "alice@work.example");  // the preferred one
  EXPECT_EQ(p(PR_ADDRTYPE), "SMTP");
  EXPECT_EQ(p(PR_BUSINESS_TELEPHONE_NUMBER), "+1 555 0100");
  EXPECT_EQ(p(PR_BUSINESS2_TELEPHONE_NUMBER), "+1 555 0101");
  EXPECT_EQ(p(PR_HOME_FAX_NUMBER), "+1 555 0104");
  EXPECT_EQ(p(PR_PERSONAL_HOME_PAGE), "https://alice.example/");  // untyped URL
  EXPECT_EQ(p(PR_COMPANY_NAME), "Example Corp");
  EXPECT_EQ(p(PR_DEPARTMENT_NAME), "Quality, Assurance");
  EXPECT_EQ(p(PR_SURNAME), "Example");
  EXPECT_EQ(p(PR_GIVEN_NAME), "Alice");
  EXPECT_EQ(p(PR_DISPLAY_NAME_PREFIX), "Dr.");
  EXPECT_EQ(p(PR_HOME_ADDRESS_STREET), "Flat 3\n1 Main St");
  EXPECT_EQ(p(PR_HOME_ADDRESS_CITY), "Springfield");
  EXPECT_EQ(p(PR_HOME_ADDRESS_POSTAL_CODE), "62701");
  EXPECT_EQ(p(PR_HOME_ADDRESS_COUNTRY), "USA");
  EXPECT_EQ(p(PR_COMMENT), "Line one\nline two");
  EXPECT_EQ(a.types.at(PROP_ID(PR_BIRTHDAY)), PT_SYSTIME);
  for (const auto& [id, type] : a.types) {
    if (id != PROP_ID(PR_ENTRYID) && id != PROP_ID(PR_OBJECT_TYPE) && id != PROP_ID(PR_BIRTHDAY)) {
      EXPECT_EQ(type, PT_STRING8) << std::hex << id;
    }
  }
  EXPECT_EQ(rows[5].props.at(PROP_ID(PR_CELLULAR_TELEPHONE_NUMBER)), "+1-555-0199");
  // The 2.1 card's name was decoded and joined; the line after it is whole.
  EXPECT_EQ(rows[6].props.at(PROP_ID(PR_BUSINESS_TELEPHONE_NUMBER)), "030 1234");
}

// GetProps with tags answers each tag in the order asked: the value that
// GetProps of every property gives (a text as UTF-16 when asked so), or
// MAPI_E_NOT_FOUND, with MAPI_W_ERRORS_RETURNED for the call.
TEST_F(WabRead, PropertiesAskedByTagComeInTheirOrderOrAsErrors) {
  Book book(dir.path());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_FALSE(rows.empty());
  const Row& a = rows[0];
  com::ComPtr<IMailUser> user;
  ASSERT_EQ(book.OpenUser(a.entryId, &user), S_OK);
  const ULONG asked[] = {
      PR_SURNAME,  PR_NICKNAME,    PR_ENTRYID, CHANGE_PROP_TYPE(PR_DISPLAY_NAME, PT_UNICODE),
      PR_BIRTHDAY, PR_OBJECT_TYPE, PR_COMMENT, PR_DISPLAY_NAME_PREFIX};
  SizedSPropTagArray<std::size(asked)> tags;
  std::copy(std::begin(asked), std::end(asked), tags.aulPropTag);
  ULONG count = 0;
  LPSPropValue v = nullptr;
  ASSERT_EQ(user->GetProps(tags.Get(), 0, &count, &v), MAPI_W_ERRORS_RETURNED);
  ASSERT_EQ(count, std::size(asked));
  EXPECT_STREQ(v[0].Value.lpszA, a.props.at(PROP_ID(PR_SURNAME)).c_str());
  EXPECT_EQ(v[1].ulPropTag, CHANGE_PROP_TYPE(PR_NICKNAME, PT_ERROR));
  EXPECT_EQ(v[1].Value.err, MAPI_E_NOT_FOUND);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v[2].Value.bin.lpb), v[2].Value.bin.cb), a.entryId);
  EXPECT_EQ(v[3].ulPropTag, asked[3]);
  EXPECT_EQ(com::Utf16ToUtf8(reinterpret_cast<const char16_t*>(v[3].Value.lpszW)), a.name);
  EXPECT_EQ(v[5].Value.ul, a.objectType);
  EXPECT_STREQ(v[6].Value.lpszA, a.props.at(PROP_ID(PR_COMMENT)).c_str());
  EXPECT_STREQ(v[7].Value.lpszA, a.props.at(PROP_ID(PR_DISPLAY_NAME_PREFIX)).c_str());
  for (std::size_t i = 0; i < std::size(asked); ++i) {
    if (i != 1 && i != 3) {
      EXPECT_EQ(v[i].ulPropTag, asked[i]) << i;
    }
  }
  book.wab->FreeBuffer(v);
}

// The table is read as the connection reads it (ReadAll): from the start, a
// row a call, to an empty answer; a property array of the container is asked
// for in the connection's order on every Create. Seeks elsewhere and tag
// arrays on a contact are answers no caller here asks for.

TEST(WabBookLocation, MissingEmptyAndUnreadableBooks) {
  TempDir dir;
  WriteFile(dir / "empty.vcf", "");  // a book file that holds no cards at all
  for (const char* name : {"nowhere", "empty.vcf"}) {
    Book book(dir / name);
    ASSERT_EQ(book.result, S_OK) << name;
    HRESULT hr;
    EXPECT_TRUE(book.ReadAll(&hr).empty()) << name;
    EXPECT_EQ(hr, S_OK) << name;
  }
  if (geteuid() != 0) {  // root reads whatever the mode says
    fs::create_directory(dir / "locked");
    WriteFile(dir / "locked/a.vcf", kAlice);
    chmod((dir / "locked").c_str(), 0);
    Book locked(dir / "locked");
    HRESULT hr;
    EXPECT_TRUE(locked.ReadAll(&hr).empty());
    EXPECT_EQ(hr, MAPI_E_NO_ACCESS);
  }
}

// A book the environment names is the found books' test's.
TEST(WabBookLocation, DefaultsToADirectoryItMakesUnderXdgData) {
  TempDir dir;
  mqtest::ScopedEnv xdg("XDG_DATA_HOME", dir.path()), none("MAILQUARRY_ADDRESSBOOK", nullptr);
  EXPECT_EQ(Book("").result, S_OK);
  EXPECT_TRUE(fs::is_directory(dir / "mailquarry/contacts"));
}

// An identifier names a file of the book: one that would leave the book, or
// is cut short, opens nothing.
TEST_F(WabRead, IdentifiersLeavingTheBookOrCutShortAreRefused) {
  Book book(dir.path());
  com::ComPtr<IMailUser> user;
  EXPECT_EQ(book.OpenUser(std::string("\0\0\0\0C../x.vcf\0Ux", 16), &user), MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(book.OpenUser(std::string("\0\0", 2), &user), MAPI_E_INVALID_ENTRYID);
}

}  // namespace
