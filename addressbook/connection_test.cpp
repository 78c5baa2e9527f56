// The connection's exact conversation with the address-book library, over the
// fake library: what it loads, what it passes, the order of its calls, and
// that every buffer and interface goes back (the fixture checks the last).
#include <gmock/gmock.h>

#include "addressbook/address_book_connection.h"
#include "addressbook/contacts.h"
#include "addressbook/testing/fake_wab_fixture.h"

namespace mq {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Calls = std::vector<std::string>;

class ConnectionTest : public testing::FakeWabTest {
 protected:
  // The calls made since the last look.
  Calls TakeCalls() { return std::exchange(wab_->calls, {}); }
  void CreateNamed(CAddressBookConnection& connection, const std::string& name) {
    connection.CreateContact(name, "", "", "", "", "", "", "", "", "", "", "", "", "");
  }
};

// Finding the library by its standard name, or not at all, is the
// contacts' end-to-end test's; here the open's parameters, and that only an
// open answering exactly S_OK counts.
TEST_F(ConnectionTest, OpensWithTheParameterBlockAndOnlyOnExactlyZero) {
  EXPECT_TRUE(CAddressBookConnection("").Opened());
  EXPECT_THAT(TakeCalls(), ElementsAre("WABOpen size=32 file= reserved=0"));
  wab_->openResult = S_FALSE;
  EXPECT_FALSE(CAddressBookConnection("book.vcf").Opened());
  EXPECT_EQ(wab_->lastFileName, "book.vcf");
}

TEST_F(ConnectionTest, LoadsMailUsersInTableOrderAndReadsOnlyEightBitTexts) {
  FillBook();
  auto contacts = com::MakeObject<CContacts>();
  {
    CAddressBookConnection connection("");
    EXPECT_EQ(connection.LoadContacts(*contacts), S_OK);
    EXPECT_EQ(wab_->liveInterfaces, 2);  // only the address book and the WAB object
  }
  ASSERT_EQ(contacts->Count(), 2);
  const ContactData& alpha = contacts->List().At(0)->Data();
  EXPECT_EQ(alpha.name, "Alpha");  // the table's column, not the entry's own name
  EXPECT_EQ(alpha.entryId, (std::vector<BYTE>{0xA1, 0x00, 0x7F}));
  EXPECT_EQ(alpha.email, "alpha@example.org");
  EXPECT_EQ(alpha.jobTitle, "title");
  const ContactData& beta = contacts->List().At(1)->Data();
  EXPECT_EQ(beta.name, "Beta");
  EXPECT_EQ(beta.email, "beta@example.org");
  EXPECT_EQ(beta.businessWebPage, "");

  wab_->entries = {{{1},
                    MAPI_MAILUSER,
                    "Odd",
                    {{PROP_TAG(PT_UNICODE, 0x3003), "wide"},
                     {PROP_TAG(PT_ERROR, 0x3A08), "", MAPI_E_NOT_FOUND},
                     {PROP_TAG(PT_LONG, 0x3A09), "", 42}}}};
  contacts->ClearContacts();
  EXPECT_EQ(CAddressBookConnection("").LoadContacts(*contacts), S_OK);
  ASSERT_EQ(contacts->Count(), 1);
  const ContactData& odd = contacts->List().At(0)->Data();
  EXPECT_EQ(odd.email + odd.businessPhone + odd.homePhone, "");
}

// A failing call of the table ends the load with its answer, keeping what was
// read; a row that cannot be copied or opened is passed over, and one
// without its properties still loads, with its name alone.
TEST_F(ConnectionTest, FailingCallsEndTheLoadOrPassTheRowOver) {
  const struct {
    const char* step;
    HRESULT hr;
    int after;
    HRESULT answer;
    int loaded;
  } cases[] = {
      {"QueryRows", E_ACCESSDENIED, 2, E_ACCESSDENIED, 1},
      {"OpenPAB", E_FAIL, 0, E_FAIL, 0},
      {"GetContentsTable", E_FAIL, 0, E_FAIL, 0},
      {"SetColumns", E_FAIL, 0, E_FAIL, 0},
      {"SeekRow", E_FAIL, 0, E_FAIL, 0},
      {"OpenEntry", E_FAIL, 1, S_OK, 1},  // Alpha loads, Beta's step fails
      {"AllocateMore", E_FAIL, 1, S_OK, 1},
      {"GetProps", E_FAIL, 1, S_OK, 2},
  };
  for (const auto& c : cases) {
    FillBook();
    wab_->failures.clear();
    wab_->counts.clear();
    wab_->Fail(c.step, c.hr, c.after);
    auto contacts = com::MakeObject<CContacts>();
    EXPECT_EQ(CAddressBookConnection("").LoadContacts(*contacts), c.answer) << c.step;
    ASSERT_EQ(contacts->Count(), c.loaded) << c.step;
    if (c.loaded == 2) {
      EXPECT_EQ(contacts->List().At(1)->Data().email, "");
    }
  }
}

TEST_F(ConnectionTest, CreateContactWritesFifteenTextsInOrderAndSaves) {
  CAddressBookConnection connection("");
  TakeCalls();
  connection.CreateContact("Name", "e@x", "bt", "bf", "ht", "hf", "pg", "mb", "pw", "jt", "dp",
                           "of", "co", "bw");
  EXPECT_THAT(
      TakeCalls(),
      ElementsAre("GetPAB", "OpenEntry pab flags=0", "GetProps 36120102 36110102 flags=0", "GetPAB",
                  "OpenEntry pab flags=0", "CreateEntry 544d flags=0", "SetProps 3001001e=Name",
                  "SetProps 3003001e=e@x", "SetProps 3002001e=SMTP", "SetProps 3a08001e=bt",
                  "SetProps 3a09001e=ht", "SetProps 3a25001e=hf", "SetProps 3a21001e=pg",
                  "SetProps 3a1c001e=mb", "SetProps 3a50001e=pw", "SetProps 3a17001e=jt",
                  "SetProps 3a18001e=dp", "SetProps 3a19001e=of", "SetProps 3a16001e=co",
                  "SetProps 3a51001e=bw", "SetProps 3a24001e=bf", "SaveChanges flags=0"));

  // Empty texts are written too, and a refused write does not stop the rest.
  wab_->Fail("SetProps", E_FAIL, 3);
  CreateNamed(connection, "");
  ASSERT_EQ(wab_->created.size(), 2u);
  EXPECT_EQ(wab_->created[1].written.size(), 15u);
  EXPECT_EQ(wab_->created[1].written[2].text, "SMTP");
  EXPECT_TRUE(wab_->created[1].saved);
}

// Without the book (even a success code other than S_OK stops it) or a new
// entry, nothing is made.
TEST_F(ConnectionTest, CreateContactMakesNothingWithoutTheBookOrANewEntry) {
  CAddressBookConnection connection("");
  const struct {
    const char* step;
    HRESULT hr;
    int after;  // 1: the template's open succeeds
  } cases[] = {{"OpenPAB", E_FAIL, 1}, {"OpenPAB", S_FALSE, 1}, {"CreateEntry", E_FAIL, 0}};
  for (const auto& c : cases) {
    wab_->failures.clear();
    wab_->counts.clear();
    wab_->Fail(c.step, c.hr, c.after);
    CreateNamed(connection, "n");
    EXPECT_TRUE(wab_->created.empty()) << c.step;
  }
}

// The new-contact dialog gets the mail-user template and no container, and
// is not shown when the template cannot be asked for.
TEST_F(ConnectionTest, DefaultTemplateTakesTheTemplateForTheObjectTypeAndFeedsTheDialog) {
  CAddressBookConnection connection("");
  ULONG length = 99;
  LPENTRYID id = nullptr;
  for (auto [type, hex] : {std::pair{ULONG{MAPI_DISTLIST}, "5444"}, {MAPI_MAILUSER, "544d"}}) {
    EXPECT_EQ(connection.DefaultTemplate(type, &length, &id), S_OK);
    EXPECT_EQ(testing::Hex(id, length), hex);  // "TD", "TM"
    connection.FreeBuffer(id);
  }
  TakeCalls();
  connection.NewContactDialog(0);
  const Calls calls = TakeCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "NewEntry owner=0 flags=0 container= template=544d");

  // Values under other tags give no template, and still succeed.
  wab_->templateTags[0] = PROP_TAG(PT_ERROR, 0x3612);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), S_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(id, nullptr);
  wab_->Fail("ContainerGetProps", MAPI_E_NO_ACCESS);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), MAPI_E_NO_ACCESS);
  EXPECT_EQ(id, nullptr);
  TakeCalls();
  connection.NewContactDialog(0);
  for (const std::string& call : TakeCalls()) EXPECT_EQ(call.find("NewEntry"), std::string::npos);
}

TEST_F(ConnectionTest, SelectionKeepsAnEarlierContactForAnIndexWithNone) {
  FillBook();
  auto contacts = com::MakeObject<CContacts>();
  CAddressBookConnection connection("");
  connection.LoadContacts(*contacts);
  TakeCalls();
  connection.SelectContact(contacts->List(), -1);
  connection.ShowSelectedContact();
  EXPECT_THAT(TakeCalls(), IsEmpty());  // nothing was ever selected

  for (LONG index : {1, -1, 2}) connection.SelectContact(contacts->List(), index);
  connection.ShowSelectedContact();
  EXPECT_THAT(TakeCalls(), ElementsAre("Details owner=0 b2 flags=0"));

  EXPECT_EQ(connection.DeleteSelectedContact(), S_OK);
  EXPECT_THAT(TakeCalls(),
              ElementsAre("GetPAB", "OpenEntry pab flags=0", "DeleteEntries b2 flags=0"));
  ASSERT_EQ(wab_->entries.size(), 2u);  // Alpha and the group are left
  EXPECT_EQ(connection.SelectedLength(), 1u);
  // A second delete of the same entry reaches the book, which refuses it.
  EXPECT_EQ(connection.DeleteSelectedContact(), MAPI_E_NOT_FOUND);
}

}  // namespace
}  // namespace mq
