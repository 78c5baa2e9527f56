// SPDX-License-Identifier: LGPL-2.1-or-later
// The contact collection as a client meets it: this program does not link
// the control; it registers the store, the address book and the control in a
// temporary registry, hosts the control and calls every member by name over
// vCard books it writes itself (with a fixture Maildir, since the address
// book opens only once the store has). It is the address-book connection's
// test too: under the sanitizers, every buffer the library hands over goes
// back to it once, and a book the library cannot read or write costs nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/enum_variant.h"
#include "platform/registry/registry.h"
#include "platform/store/testing/store_test_util.h"
#include "platform/ui/dialogs.h"
#include "platform/wab/testing/program_books.h"
#include "platform/wab/wab.h"
#include "tests/support/hosted_control.h"

namespace {

namespace fs = std::filesystem;
using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using store::TreeSnapshot;
using store::testing::MaildirFixture;
using Texts = std::vector<std::string>;

std::string Card(const std::string& name, const std::string& more = "") {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + name + "\r\nFN:" + name + "\r\n" + more +
         "END:VCARD\r\n";
}

class ContactsE2E : public mqtest::HostedControlTest {
 protected:
  static void SetUpTestSuite() {
    registry_ = new mqtest::RegisteredModules({"MailStore.so", "AddressBook.so", "Mailquarry.ocx"});
  }

  // Alpha, a group (no contact) and Beta, in file-name order.
  void SetUp() override {
    HostedControlTest::SetUp();
    fixture_.AddMessage({}, MaildirFixture::Message("x@example.org", "y@example.org", "inbox"));
    Write("1-alpha.vcf", Card("Alpha", "EMAIL:alpha@example.org\r\nORG:Alpha Works\r\n"));
    Write("2-group.vcf",
          "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nUID:group\r\nFN:Friends\r\nEND:VCARD\r\n");
    Write("3-beta.vcf", Card("Beta", "EMAIL:beta@example.org\r\n"));
  }
  void Write(const std::string& name, const std::string& bytes) {
    mqtest::WriteFile(book_ / name, bytes);
  }
  Texts Names() {
    Texts names;
    for (LONG i = 0; i < Get(contacts_, "Count").Long(); ++i)
      names.push_back(Call(contacts_, "FindName", i).Str());
    return names;
  }
  mqtest::Result NewContact(const Texts& texts) {
    std::vector<com::Variant> args;
    for (const std::string& text : texts) args.push_back(mqtest::Arg(text));
    return mqtest::Invoke(contacts_.Get(), "NewContact", DISPATCH_METHOD, std::move(args));
  }
  // No contacts, before and after a Refresh, and the book's files as they
  // were; NewContact answers `newContact`.
  void ExpectNoBook(bool newContact) {
    const auto before = TreeSnapshot(book_.path());
    EXPECT_EQ(Get(contacts_, "Count").Long(), 0);
    EXPECT_EQ(NewContact(Texts(14, "x")).Bool(), newContact);
    EXPECT_EQ(Call(contacts_, "Refresh").hr, S_OK);
    EXPECT_EQ(Get(contacts_, "Count").Long(), 0);
    EXPECT_EQ(TreeSnapshot(book_.path()), before);
  }
  std::string ItemName(com::Variant key) {
    auto found = mqtest::Invoke(contacts_.Get(), "Item", DISPATCH_PROPERTYGET, {std::move(key)});
    EXPECT_EQ(found.hr, S_OK);
    return found.Object() ? Get(found.Object(), "Name").Str() : "(null)";
  }

  mqtest::TempDir book_;
  mqtest::ScopedEnv bookEnv_{"MAILQUARRY_ADDRESSBOOK", book_.path()};
};

TEST_F(ContactsE2E, ItemTakesNumbersFromOneAndTextsAsExactNames) {
  Write("4-two.vcf", Card("2"));
  Start();
  com::Variant text = mqtest::Arg("2");
  com::Variant byRef;
  byRef.vt = VT_BSTR | VT_BYREF;  // a text by reference is a position
  byRef.pbstrVal = &text.bstrVal;
  const std::pair<com::Variant, const char*> cases[] = {
      {mqtest::Arg(1), "Alpha"},     {mqtest::Arg(3), "2"},
      {mqtest::Arg(0), "(null)"},    {mqtest::Arg(4), "(null)"},
      {mqtest::Arg("Beta"), "Beta"}, {mqtest::Arg("beta"), "(null)"},
      {mqtest::Arg("2"), "2"},  // a name, not the second contact
      {mqtest::Arg("1"), "(null)"},  {byRef, "Beta"}};
  for (const auto& [key, name] : cases) EXPECT_EQ(ItemName(key), name);
  byRef.vt = VT_EMPTY;
}

TEST_F(ContactsE2E, DeleteContactRemovesTheCardAndKeepsTheOthersByteForByte) {
  Write("4-gamma.vcf", Card("Gamma"));
  Start();
  ASSERT_EQ(Names(), (Texts{"Alpha", "Beta", "Gamma"}));
  auto before = TreeSnapshot(book_.path());
  EXPECT_EQ(Call(contacts_, "DeleteContact", 3).Bool(), false);
  EXPECT_EQ(Call(contacts_, "DeleteContact", -1).Bool(), false);
  EXPECT_EQ(TreeSnapshot(book_.path()), before);

  EXPECT_EQ(Call(contacts_, "DeleteContact", 1).Bool(), true);
  EXPECT_EQ(Get(contacts_, "Count").Long(), 3);  // until Refresh
  EXPECT_EQ(Call(contacts_, "FindName", 1).Str(), "Beta");
  before.erase("3-beta.vcf");
  EXPECT_EQ(TreeSnapshot(book_.path()), before);
  ASSERT_EQ(Call(contacts_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Alpha", "Gamma"}));
}

// Every text lands in its own field, read back through the Find members and
// the contact's properties alike.
TEST_F(ContactsE2E, NewContactReadsBackFieldByFieldAfterRefresh) {
  Start();
  const auto before = TreeSnapshot(book_.path());
  // NewContact's texts in order, each naming the property it must land in.
  const char* const properties[] = {
      "Email",      "BusinessPhone", "BusinessFax", "BusinessWebPage", "HomePhone",
      "HomeFax",    "Pager",         "Mobile",      "PersonalWebPage", "JobTitle",
      "Department", "Office",        "CompanyName"};
  Texts args = {"Delta"};
  for (const char* property : properties) args.push_back(std::string(property) + " of Delta");
  EXPECT_EQ(NewContact(args).Bool(), true);
  EXPECT_EQ(Get(contacts_, "Count").Long(), 2);
  ASSERT_EQ(Call(contacts_, "Refresh").hr, S_OK);
  const Texts names = Names();
  ASSERT_EQ(names.size(), 3u);
  const LONG at = std::find(names.begin(), names.end(), "Delta") - names.begin();
  auto delta = Get(contacts_, "Item", "Delta").Object();
  ASSERT_TRUE(delta);
  for (std::size_t i = 0; i < std::size(properties); ++i) {
    const std::string property = properties[i];
    EXPECT_EQ(Get(delta, property).Str(), args[i + 1]) << property;
    EXPECT_EQ(Call(contacts_, "Find" + property, at).Str(), args[i + 1]) << property;
    for (LONG outside : {-1, 3}) {  // an empty text, not another type
      EXPECT_EQ(Call(contacts_, "Find" + property, outside).value.vt, VT_BSTR) << property;
      EXPECT_EQ(Call(contacts_, "Find" + property, outside).Str(), "") << property;
    }
  }
  // The other cards were not touched.
  auto after = TreeSnapshot(book_.path());
  for (const auto& [name, bytes] : before) EXPECT_EQ(after[name], bytes) << name;

  EXPECT_EQ(NewContact(Texts(14)).Bool(), true);  // all texts empty: still a contact
  ASSERT_EQ(Call(contacts_, "Refresh").hr, S_OK);
  EXPECT_EQ(Get(contacts_, "Count").Long(), 4);
  EXPECT_EQ(TreeSnapshot(book_.path()).size(), before.size() + 2);
}

TEST_F(ContactsE2E, WithoutAStoreTheAddressBookIsNotOpened) {
  ASSERT_TRUE(registry_->Regsvr("MailStore.so", /*unregister=*/true));
  Start();
  ExpectNoBook(/*newContact=*/false);
  EXPECT_EQ(Call(contacts_, "DeleteContact", 0).Bool(), false);
  ASSERT_TRUE(registry_->Regsvr("MailStore.so"));
}

TEST_F(ContactsE2E, TheLibraryIsFoundByItsStandardNameWhenTheRegistryDoesNotSay) {
  ASSERT_EQ(reg::Edit().DeleteTree(reg::Root::LocalMachine, WAB_DLL_PATH_KEY).Commit(), S_OK);
  Start();
  EXPECT_EQ(Names(), (Texts{"Alpha", "Beta"}));
  host_.reset();

  // A registered path where no library is: no contacts, nothing breaks.
  ASSERT_EQ(reg::Edit()
                .SetString(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", book_ / "missing.so")
                .Commit(),
            S_OK);
  Start();
  ExpectNoBook(/*newContact=*/true);  // passed on to no book
  EXPECT_EQ(Call(contacts_, "ShowProperties", 0).hr, S_OK);
  ASSERT_TRUE(registry_->Regsvr("AddressBook.so"));
}

// A book whose place is below a file opens, but cannot be listed and takes
// no new card (even as root, whom file modes do not stop).
TEST_F(ContactsE2E, ABookThatCannotBeListedOrWrittenGivesNoContactsAndChangesNothing) {
  mqtest::ScopedEnv belowAFile{"MAILQUARRY_ADDRESSBOOK", book_ / "1-alpha.vcf/contacts"};
  Start();
  ExpectNoBook(/*newContact=*/true);  // the refused write is not the client's to see
}

TEST_F(ContactsE2E, HeldContactsAnswerAfterRefreshAndAfterTheWindowIsGone) {
  Start();
  auto alpha = Get(contacts_, "Item", 1).Object();
  auto unknown = Get(contacts_, "_NewEnum").Unknown();
  com::ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown.As(&e), S_OK);
  VARIANT v;
  ULONG n = 0;
  ASSERT_EQ(e->Next(1, &v, &n), S_OK);  // a for-each loop walks the same objects
  EXPECT_EQ(v.pdispVal, alpha.Get());
  VariantClear(&v);
  fs::remove(book_ / "1-alpha.vcf");
  ASSERT_EQ(Call(contacts_, "Refresh").hr, S_OK);
  EXPECT_EQ(Names(), (Texts{"Beta"}));
  EXPECT_EQ(Get(alpha, "Email").Str(), "alpha@example.org");
  EXPECT_EQ(e->Next(1, &v, &n), S_FALSE);  // the list it walked is gone
  auto beta = Get(contacts_, "Item", 1).Object();
  host_.reset();
  EXPECT_EQ(Get(contacts_, "Count").Long(), 0);
  EXPECT_EQ(Call(contacts_, "FindName", 0).Str(), "");
  EXPECT_EQ(Get(beta, "Name").Str(), "Beta");
  EXPECT_EQ(Get(alpha, "CompanyName").Str(), "Alpha Works");
}

// From here on a QApplication exists (offscreen).
QApplication& App() {
  static int argc = 1;
  static char name[] = "contacts_e2e_test";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

TEST_F(ContactsE2E, DialogsShowTheSelectedContactAndStoreWhatTheUserEnters) {
  App();
  Start();
  QString shownEmail = "(no dialog)";
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    EXPECT_EQ(dialog->objectName(), "contactDetails");
    if (auto* email = dialog->findChild<QLineEdit*>("field_3003")) shownEmail = email->text();
  });
  EXPECT_EQ(Call(contacts_, "ShowProperties", 1).hr, S_OK);
  EXPECT_EQ(shownEmail, "beta@example.org");

  // A client may call in from the dialog's event loop: a Refresh there
  // replaces the connection the dialog runs on, which lasts until it returns.
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    ASSERT_EQ(dialog->objectName(), "newContact");
    EXPECT_EQ(Call(contacts_, "Refresh").hr, S_OK);
    dialog->findChild<QLineEdit*>("displayName")->setText("Epsilon");
    dialog->findChild<QLineEdit*>("emailAddress")->setText("epsilon@example.org");
    dialog->accept();
  });
  EXPECT_EQ(Call(contacts_, "NewContactFromUI").hr, S_OK);
  EXPECT_EQ(Get(contacts_, "Count").Long(), 2);  // the list waits for Refresh
  ASSERT_EQ(Call(contacts_, "Refresh").hr, S_OK);
  auto added = Get(contacts_, "Item", "Epsilon").Object();
  EXPECT_EQ(Get(added, "Email").Str(), "epsilon@example.org");

  ui::testing::HandleNextModal([&](QDialog*) { host_.reset(); });  // the window goes
  EXPECT_EQ(Call(contacts_, "ShowProperties", 0).hr, S_OK);
  EXPECT_EQ(Get(contacts_, "Count").Long(), 0);
}

// With no book named, our own book comes first and other programs' books
// follow: here a Thunderbird book, only read, whose contact the control
// refuses to delete. What each program's book holds and where new contacts
// go is the found books' own test (wab_test).
class FoundBooksE2E : public ContactsE2E {
 protected:
  mqtest::TempDir home_;
  mqtest::ScopedEnv noBook_{"MAILQUARRY_ADDRESSBOOK", nullptr}, homeEnv_{"HOME", home_.path()},
      dataEnv_{"XDG_DATA_HOME", home_ / "data"}, configEnv_{"XDG_CONFIG_HOME", home_ / "config"};
};

TEST_F(FoundBooksE2E, AThunderbirdBookFollowsOursAndItsContactsAreNotDeleted) {
  fs::create_directories(home_ / "data/mailquarry/contacts");
  mqtest::WriteFile(home_ / "data/mailquarry/contacts/olive.vcf", Card("Olive"));
  const std::string profile = wabtest::WriteThunderbirdProfile(home_.path(), "");
  wabtest::WriteThunderbirdBook(profile + "/abook.sqlite",
                                {{"b", {{"DisplayName", "Bob"}, {"PrimaryEmail", "bob@x.org"}}}});
  Start();
  ASSERT_EQ(Names(), (Texts{"Olive", "Bob"}));
  EXPECT_EQ(Call(contacts_, "FindEmail", 1).Str(), "bob@x.org");

  const auto files = FilesBelow(profile);
  const std::string bytes = mqtest::ReadFile(profile + "/abook.sqlite");
  EXPECT_EQ(Call(contacts_, "DeleteContact", 1).Bool(), false);
  EXPECT_EQ(FilesBelow(profile), files);
  EXPECT_EQ(mqtest::ReadFile(profile + "/abook.sqlite"), bytes);
}

}  // namespace
