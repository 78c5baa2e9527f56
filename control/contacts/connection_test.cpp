// SPDX-License-Identifier: LGPL-2.1-or-later
// The connection's conversation with the address-book library, over a fake
// library that fails the calls a test names: what a failure leaves, and
// (under the sanitizers) that every buffer goes back once. Which text lands
// in which field, the templates the connection passes, and showing and
// deleting contacts, are the contacts' end-to-end test's, over the real
// library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "control/contacts/address_book_connection.h"
#include "control/contacts/contacts.h"
#include "control/contacts/testing/fake_wab.h"
#include "platform/registry/registry.h"
#include "platform/testing/scratch.h"

namespace mq {
namespace {

class ConnectionTest : public ::testing::Test {
 protected:
  static std::string FakePath() {
    const char* bin = std::getenv("MQ_BIN_DIR");
    return std::string(bin ? bin : "bin") + "/fakewab/WAB32.DLL";
  }
  // A private registry names the fake as the library; the fake stays loaded
  // so that its state outlives every connection.
  void SetUp() override {
    reg::Edit edit;
    edit.SetString(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", FakePath());
    ASSERT_EQ(edit.Commit(), S_OK);
    library_ = dlopen(FakePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    auto state =
        reinterpret_cast<testing::FakeWabStateFn>(dlsym(library_, testing::kFakeWabStateFunction));
    ASSERT_NE(state, nullptr);
    wab_ = state();
    wab_->Reset();
  }
  void TearDown() override {
    if (library_) dlclose(library_);
  }

  // Only the `after`+1-th and later calls of `step` fail.
  void FailOnly(const char* step, HRESULT hr, int after) {
    wab_->failures.clear();
    wab_->counts.clear();
    wab_->Fail(step, hr, after);
  }

  mqtest::TempDir dir_;
  mqtest::ScopedEnv registry_{"MAILQUARRY_REGISTRY", dir_ / "registry"};
  void* library_ = nullptr;
  testing::FakeWab* wab_ = nullptr;
};

// Only an open answering exactly S_OK counts. A text read under any type but
// 8-bit text is left empty.
TEST_F(ConnectionTest, OpensOnlyOnExactlyZeroAndReadsOnlyEightBitTexts) {
  wab_->openResult = S_FALSE;
  EXPECT_FALSE(CAddressBookConnection("").Opened());
  wab_->openResult = S_OK;

  wab_->entries = {{{1},
                    MAPI_MAILUSER,
                    "Odd",
                    {{PROP_TAG(PT_UNICODE, 0x3003), "wide"},
                     {PROP_TAG(PT_ERROR, 0x3A08), "", MAPI_E_NOT_FOUND},
                     {PROP_TAG(PT_LONG, 0x3A09), "", 42}}}};
  auto contacts = com::MakeObject<CContacts>();
  EXPECT_EQ(CAddressBookConnection("").LoadContacts(*contacts), S_OK);
  ASSERT_EQ(contacts->Count(), 1);
  const ContactData& odd = contacts->List().At(0)->Data();
  EXPECT_EQ(odd.name, "Odd");
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
      {"OpenEntry", E_FAIL, 1, S_OK, 1},  // Alpha loads, Beta's step fails
      {"GetProps", E_FAIL, 1, S_OK, 2},
  };
  for (const auto& c : cases) {
    // Alpha (its own display name differing from the table's), a group, Beta.
    wab_->entries = {
        {{0xA1, 0x00, 0x7F},
         MAPI_MAILUSER,
         "Alpha",
         {{PR_DISPLAY_NAME, "Alpha's own name"}, {PR_EMAIL_ADDRESS, "alpha@example.org"}}},
        {{0x6D}, MAPI_DISTLIST, "Group", {}},
        {{0xB2}, MAPI_MAILUSER, "Beta", {{PR_EMAIL_ADDRESS, "beta@example.org"}}}};
    FailOnly(c.step, c.hr, c.after);
    auto contacts = com::MakeObject<CContacts>();
    EXPECT_EQ(CAddressBookConnection("").LoadContacts(*contacts), c.answer) << c.step;
    ASSERT_EQ(contacts->Count(), c.loaded) << c.step;
    if (c.loaded == 2) {
      EXPECT_EQ(contacts->List().At(1)->Data().email, "");
    }
  }
}

// A refused write does not stop the others or the save. Without the book
// (even a success code other than S_OK stops it) or a new entry, nothing is
// made.
TEST_F(ConnectionTest, CreateContactWritesEveryTextAndSavesOrMakesNothing) {
  CAddressBookConnection connection("");
  auto create = [&connection] {
    connection.CreateContact("Name", "", "", "", "", "", "", "", "", "", "", "", "", "");
  };
  FailOnly("SetProps", E_FAIL, 3);
  create();
  ASSERT_EQ(wab_->created.size(), 1u);
  EXPECT_EQ(wab_->created[0].written, 15);
  EXPECT_TRUE(wab_->created[0].saved);

  const struct {
    const char* step;
    HRESULT hr;
    int after;  // 1: the template's open succeeds
  } cases[] = {{"OpenPAB", E_FAIL, 1}, {"OpenPAB", S_FALSE, 1}, {"CreateEntry", E_FAIL, 0}};
  for (const auto& c : cases) {
    FailOnly(c.step, c.hr, c.after);
    create();
    EXPECT_EQ(wab_->created.size(), 1u) << c.step;
  }
}

// Values under other tags give no template, and still succeed; a template
// that cannot be asked for shows no new-contact dialog.
TEST_F(ConnectionTest, DefaultTemplateWithoutTheTemplatesAndWhenTheyCannotBeRead) {
  CAddressBookConnection connection("");
  ULONG length = 99;
  LPENTRYID id = nullptr;
  wab_->templateTags[0] = PROP_TAG(PT_ERROR, 0x3612);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), S_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(id, nullptr);
  wab_->Fail("ContainerGetProps", MAPI_E_NO_ACCESS);
  EXPECT_EQ(connection.DefaultTemplate(MAPI_MAILUSER, &length, &id), MAPI_E_NO_ACCESS);
  EXPECT_EQ(id, nullptr);
  connection.NewContactDialog(0);
  EXPECT_EQ(wab_->counts["NewEntry"], 0);
}

}  // namespace
}  // namespace mq
