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
using testing::FakeEntry;

class ConnectionTest : public testing::FakeWabTest {
 protected:
  // The calls made since the last look.
  Calls TakeCalls() { return std::exchange(wab_->calls, {}); }
};

// Finding the library by its standard name, or not at all, is the
// contacts' end-to-end test's; here the open's parameters.
TEST_F(ConnectionTest, OpensWithTheParameterBlockAndNoFileName) {
  CAddressBookConnection connection("");
  EXPECT_TRUE(connection.Opened());
  EXPECT_THAT(TakeCalls(), ElementsAre("WABOpen size=32 file= reserved=0"));
}

TEST_F(ConnectionTest, OnlyAnOpenAnsweringExactlyZeroOpens) {
  wab_->openResult = S_FALSE;
  CAddressBookConnection connection("book.vcf");
  EXPECT_FALSE(connection.Opened());
  EXPECT_EQ(wab_->lastFileName, "book.vcf");
}

TEST_F(ConnectionTest, LoadsMailUsersInTableOrderAndReleasesTheirInterfaces) {
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
  const std::vector<std::string> texts = AlphaTexts();
  for (std::size_t i = 0; i < kContactTextCount; ++i) EXPECT_EQ(alpha.*kContactTexts[i], texts[i]);
  const ContactData& beta = contacts->List().At(1)->Data();
  EXPECT_EQ(beta.name, "Beta");
  EXPECT_EQ(beta.email, "beta@example.org");
  EXPECT_EQ(beta.businessWebPage, "");
}

TEST_F(ConnectionTest, ReadsOnlyEightBitTextsAsText) {
  FakeEntry odd;
  odd.id = {1};
  odd.tableName = "Odd";
  odd.properties = {{PROP_TAG(PT_UNICODE, 0x3003), "wide"},
                    {PROP_TAG(PT_ERROR, 0x3A08), "", MAPI_E_NOT_FOUND},
                    {PROP_TAG(PT_LONG, 0x3A09), "", 42}};
  wab_->entries = {odd};
  auto contacts = com::MakeObject<CContacts>();
  CAddressBookConnection connection("");
  EXPECT_EQ(connection.LoadContacts(*contacts), S_OK);
  ASSERT_EQ(contacts->Count(), 1);
  EXPECT_EQ(contacts->List().At(0)->Data().email, "");
  EXPECT_EQ(contacts->List().At(0)->Data().businessPhone, "");
  EXPECT_EQ(contacts->List().At(0)->Data().homePhone, "");
}

TEST_F(ConnectionTest, AFailingCallEndsTheLoadAndKeepsWhatWasRead) {
  FillBook();
  auto contacts = com::MakeObject<CContacts>();
  {
    wab_->Fail("QueryRows", E_ACCESSDENIED, /*after=*/2);
    CAddressBookConnection connection("");
    EXPECT_EQ(connection.LoadContacts(*contacts), E_ACCESSDENIED);
    EXPECT_EQ(contacts->Count(), 1);
  }
  for (const char* step : {"OpenPAB", "GetContentsTable", "SetColumns", "SeekRow"}) {
    wab_->failures.clear();
    wab_->Fail(step, E_FAIL);
    contacts->ClearContacts();
    CAddressBookConnection connection("");
    EXPECT_EQ(connection.LoadContacts(*contacts), E_FAIL) << step;
    EXPECT_EQ(contacts->Count(), 0) << step;
  }
}

TEST_F(ConnectionTest, RowsThatCannotBeCopiedOrOpenedArePassedOver) {
  FillBook();
  for (const char* step : {"OpenEntry", "AllocateMore", "GetProps"}) {
    wab_->failures.clear();
    wab_->counts.clear();
    wab_->Fail(step, E_FAIL, /*after=*/1);  // Alpha loads, Beta's step fails
    auto contacts = com::MakeObject<CContacts>();
    CAddressBookConnection connection("");
    EXPECT_EQ(connection.LoadContacts(*contacts), S_OK) << step;
    // Without its properties a contact still loads, with its name alone.
    const bool betaLoads = std::string(step) == "GetProps";
    ASSERT_EQ(contacts->Count(), betaLoads ? 2 : 1) << step;
    if (betaLoads) {
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
  connection.CreateContact("", "", "", "", "", "", "", "", "", "", "", "", "", "");
  ASSERT_EQ(wab_->created.size(), 2u);
  EXPECT_EQ(wab_->created[1].written.size(), 15u);
  EXPECT_EQ(wab_->created[1].written[2].text, "SMTP");
  EXPECT_TRUE(wab_->created[1].saved);
}

TEST_F(ConnectionTest, CreateContactMakesNothingWithoutTheBookOrANewEntry) {
  CAddressBookConnection connection("");
  wab_->Fail("OpenPAB", E_FAIL, /*after=*/1);  // the template's open succeeds
  connection.CreateContact("n", "", "", "", "", "", "", "", "", "", "", "", "", "");
  EXPECT_TRUE(wab_->created.empty());
  // Even a success code other than S_OK stops it.
  wab_->counts.clear();
  wab_->Fail("OpenPAB", S_FALSE, 1);
  connection.CreateContact("n", "", "", "", "", "", "", "", "", "", "", "", "", "");
  EXPECT_TRUE(wab_->created.empty());
  wab_->failures.clear();
  wab_->Fail("CreateEntry", E_FAIL);
  TakeCalls();
  connection.CreateContact("n", "", "", "", "", "", "", "", "", "", "", "", "", "");
  for (const std::string& call : TakeCalls()) EXPECT_EQ(call.find("SetProps"), std::string::npos);
}

TEST_F(ConnectionTest, DefaultTemplateTakesTheTemplateForTheObjectType) {
  CAddressBookConnection connection("");
  ULONG length = 99;
  LPENTRYID id = nullptr;
  EXPECT_EQ(connection.DefaultTemplate(MAPI_DISTLIST, &length, &id), S_OK);
  EXPECT_EQ(testing::Hex(id, length), "5444");  // "TD"
  connection.FreeBuffer(id);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), S_OK);
  EXPECT_EQ(testing::Hex(id, length), "544d");  // "TM"
  connection.FreeBuffer(id);
  // Values under other tags give no template, and still succeed.
  wab_->templateTags[0] = PROP_TAG(PT_ERROR, 0x3612);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), S_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(id, nullptr);
  wab_->Fail("ContainerGetProps", MAPI_E_NO_ACCESS);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), MAPI_E_NO_ACCESS);
  EXPECT_EQ(id, nullptr);
}

TEST_F(ConnectionTest, NewContactDialogPassesTheTemplateAndNoContainer) {
  CAddressBookConnection connection("");
  TakeCalls();
  connection.NewContactDialog(0);
  const Calls calls = TakeCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "NewEntry owner=0 flags=0 container= template=544d");
  // No dialog when the template cannot be asked for.
  wab_->Fail("ContainerGetProps");
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

  connection.SelectContact(contacts->List(), 1);
  connection.SelectContact(contacts->List(), -1);
  connection.SelectContact(contacts->List(), 2);
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
