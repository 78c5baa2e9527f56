// SPDX-License-Identifier: LGPL-2.1-or-later
// The two dialogs of the address book, answered by the test: nothing shown
// without a GUI, nothing saved on Cancel, the entered texts saved on OK, and
// every field and button where a click reaches it.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "platform/ui/click_testing.h"
#include "platform/ui/dialogs.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;
using ::testing::IsEmpty;

const char kCard[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nFN:Shown\r\nEMAIL:shown@example.org\r\nEND:VCARD\r\n";

HRESULT RunNewEntry(Book& book, std::string* newId) {
  ULONG cb = 0;
  LPENTRYID id = nullptr;
  HRESULT hr = book.ab->NewEntry(0, 0, 0, nullptr, 0, nullptr, &cb, &id);
  if (id) newId->assign(reinterpret_cast<char*>(id), cb);
  book.wab->FreeBuffer(id);
  return hr;
}

HRESULT RunDetails(Book& book, const std::string& entryId) {
  ULONG_PTR owner = 0;
  return book.ab->Details(&owner, nullptr, nullptr, static_cast<ULONG>(entryId.size()),
                          reinterpret_cast<LPENTRYID>(const_cast<char*>(entryId.data())), nullptr,
                          nullptr, nullptr, 0);
}

// Runs first, before any QApplication exists.
TEST(WabDialogs, WithoutAGuiNothingIsShownOrSaved) {
  ASSERT_EQ(QApplication::instance(), nullptr);
  TempDir dir;
  WriteFile(dir / "a.vcf", kCard);
  Book book(dir.path());
  std::string id;
  EXPECT_EQ(RunNewEntry(book, &id), MAPI_E_USER_CANCEL);
  EXPECT_TRUE(id.empty());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(RunDetails(book, rows[0].entryId), S_OK);
}

// Made by the first test that needs it; main ends it before the process's
// exit handlers run (Qt's input devices, made by the first mouse event, must
// go before Qt's own globals do).
std::unique_ptr<QApplication> app;

void MakeApp() {
  static int argc = 1;
  static char name[] = "wab_dialog_test";
  static char* argv[] = {name, nullptr};
  if (!app) app = std::make_unique<QApplication>(argc, argv);
}

// Two fields are clicked into and typed in, as a person does; the others
// are filled directly, so that each field is seen to reach its own property.
// The details dialog then shows them, read only.
TEST(WabDialogs, NewEntrySavesEveryFieldOnOkAndNothingOnCancelAndDetailsShowsThem) {
  MakeApp();
  TempDir dir;
  Book book(dir.path());
  ui::testing::HandleNextModal([](QDialog* dialog) {
    EXPECT_EQ(dialog->objectName(), "newContact");
    dialog->findChild<QLineEdit*>("displayName")->setText("Typed In");
  });  // closed with Cancel
  std::string id;
  EXPECT_EQ(RunNewEntry(book, &id), MAPI_E_USER_CANCEL);
  EXPECT_TRUE(fs::is_empty(dir.path()));

  const std::pair<const char*, ULONG> fields[] = {{"displayName", PR_DISPLAY_NAME},
                                                  {"emailAddress", PR_EMAIL_ADDRESS},
                                                  {"businessPhone", PR_BUSINESS_TELEPHONE_NUMBER},
                                                  {"homePhone", PR_HOME_TELEPHONE_NUMBER},
                                                  {"businessFax", PR_BUSINESS_FAX_NUMBER},
                                                  {"homeFax", PR_HOME_FAX_NUMBER},
                                                  {"pager", PR_PAGER_TELEPHONE_NUMBER},
                                                  {"mobile", PR_CELLULAR_TELEPHONE_NUMBER},
                                                  {"personalWebPage", PR_PERSONAL_HOME_PAGE},
                                                  {"businessWebPage", PR_BUSINESS_HOME_PAGE},
                                                  {"jobTitle", PR_TITLE},
                                                  {"department", PR_DEPARTMENT_NAME},
                                                  {"office", PR_OFFICE_LOCATION},
                                                  {"company", PR_COMPANY_NAME}};
  std::vector<std::string> covered{"not shown"};
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    EXPECT_EQ(dialog->findChildren<QLineEdit*>().size(), 14);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    covered = ui::testing::CoveredChildren(dialog);
    for (auto [field, tag] : fields) {
      auto* edit = dialog->findChild<QLineEdit*>(field);
      if (tag == PR_DISPLAY_NAME || tag == PR_EMAIL_ADDRESS) {
        ui::testing::Click(edit);
        ASSERT_TRUE(edit->hasFocus()) << field;
        QTest::keyClicks(edit, QString(field) + " value");
      } else {
        edit->setText(QString(field) + " value");
      }
    }
    ui::testing::Click(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
  });
  ASSERT_EQ(RunNewEntry(book, &id), S_OK);
  EXPECT_THAT(covered, IsEmpty());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].entryId, id);
  for (auto [field, tag] : fields)
    EXPECT_EQ(rows[0].props[PROP_ID(tag)], std::string(field) + " value") << field;

  covered = {"not shown"};
  bool closed = false;
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    EXPECT_EQ(dialog->objectName(), "contactDetails");
    auto* email = dialog->findChild<QLineEdit*>("field_3003");
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(email->text(), "emailAddress value");
    EXPECT_TRUE(email->isReadOnly());
    EXPECT_EQ(dialog->findChild<QLineEdit*>("field_3a18")->text(), "department value");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    covered = ui::testing::CoveredChildren(dialog);
    ui::testing::Click(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close));
    closed = !dialog->isVisible();
  });
  EXPECT_EQ(RunDetails(book, id), S_OK);
  EXPECT_THAT(covered, IsEmpty());
  EXPECT_TRUE(closed);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  app.reset();
  return status;
}
