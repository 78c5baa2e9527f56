// The two dialogs of the address book, answered by the test: nothing shown
// without a GUI, nothing saved on Cancel, the entered texts saved on OK.
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

const char kCard[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nFN:Shown\r\nEMAIL:shown@example.org\r\n"
    "ORG:Firm;Sales\r\nEND:VCARD\r\n";

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

QApplication& App() {
  static int argc = 1;
  static char name[] = "wab_dialog_test";
  static char* argv[] = {name, nullptr};
  if (!app) app = std::make_unique<QApplication>(argc, argv);
  return *app;
}

TEST(WabDialogs, DetailsShowsTheFieldsReadOnly) {
  App();
  TempDir dir;
  WriteFile(dir / "a.vcf", kCard);
  Book book(dir.path());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  bool seen = false;
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    seen = true;
    EXPECT_EQ(dialog->objectName(), "contactDetails");
    auto* email = dialog->findChild<QLineEdit*>("field_3003");
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(email->text(), "shown@example.org");
    EXPECT_TRUE(email->isReadOnly());
    auto* department = dialog->findChild<QLineEdit*>("field_3a18");
    ASSERT_NE(department, nullptr);
    EXPECT_EQ(department->text(), "Sales");
  });
  EXPECT_EQ(RunDetails(book, rows[0].entryId), S_OK);
  EXPECT_TRUE(seen);
}

TEST(WabDialogs, NewEntrySavesOnOkAndNothingOnCancel) {
  App();
  TempDir dir;
  Book book(dir.path());
  ui::testing::HandleNextModal([](QDialog* dialog) {
    EXPECT_EQ(dialog->objectName(), "newContact");
    EXPECT_EQ(dialog->findChildren<QLineEdit*>().size(), 14);
    dialog->findChild<QLineEdit*>("displayName")->setText("Typed In");
    dialog->findChild<QLineEdit*>("emailAddress")->setText("typed@example.org");
  });  // closed with Cancel
  std::string id;
  EXPECT_EQ(RunNewEntry(book, &id), MAPI_E_USER_CANCEL);
  EXPECT_TRUE(fs::is_empty(dir.path()));

  const char* names[] = {"displayName",     "emailAddress",    "businessPhone", "homePhone",
                         "businessFax",     "homeFax",         "pager",         "mobile",
                         "personalWebPage", "businessWebPage", "jobTitle",      "department",
                         "office",          "company"};
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    for (const char* n : names) dialog->findChild<QLineEdit*>(n)->setText(QString(n) + " value");
    dialog->accept();
  });
  ASSERT_EQ(RunNewEntry(book, &id), S_OK);
  EXPECT_FALSE(id.empty());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].entryId, id);
  EXPECT_EQ(rows[0].name, "displayName value");
  const ULONG tags[] = {PR_DISPLAY_NAME,
                        PR_EMAIL_ADDRESS,
                        PR_BUSINESS_TELEPHONE_NUMBER,
                        PR_HOME_TELEPHONE_NUMBER,
                        PR_BUSINESS_FAX_NUMBER,
                        PR_HOME_FAX_NUMBER,
                        PR_PAGER_TELEPHONE_NUMBER,
                        PR_CELLULAR_TELEPHONE_NUMBER,
                        PR_PERSONAL_HOME_PAGE,
                        PR_BUSINESS_HOME_PAGE,
                        PR_TITLE,
                        PR_DEPARTMENT_NAME,
                        PR_OFFICE_LOCATION,
                        PR_COMPANY_NAME};
  for (std::size_t i = 0; i < 14; ++i) {
    EXPECT_EQ(rows[0].props[PROP_ID(tags[i])], std::string(names[i]) + " value") << names[i];
  }
}

// Clicks through each dialog's window: every field and button is where a
// click reaches it, a click puts the caret in a field, and the buttons work.
TEST(WabDialogs, ClicksReachEveryFieldAndButton) {
  App();
  TempDir dir;
  WriteFile(dir / "a.vcf", kCard);
  Book book(dir.path());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  std::vector<std::string> covered{"not shown"};
  bool closed = false;
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    covered = ui::testing::CoveredChildren(dialog);
    ui::testing::Click(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close));
    closed = !dialog->isVisible();
  });
  EXPECT_EQ(RunDetails(book, rows[0].entryId), S_OK);
  EXPECT_THAT(covered, ::testing::IsEmpty());
  EXPECT_TRUE(closed);

  covered = {"not shown"};
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    covered = ui::testing::CoveredChildren(dialog);
    for (const char* field : {"displayName", "emailAddress"}) {
      auto* edit = dialog->findChild<QLineEdit*>(field);
      ui::testing::Click(edit);
      ASSERT_TRUE(edit->hasFocus()) << field;
      QTest::keyClicks(edit, QString(field) + "@clicked");
    }
    ui::testing::Click(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
  });
  std::string id;
  ASSERT_EQ(RunNewEntry(book, &id), S_OK);
  EXPECT_THAT(covered, ::testing::IsEmpty());
  rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 2u);
  const Row& added = rows[0].entryId == id ? rows[0] : rows[1];
  EXPECT_EQ(added.name, "displayName@clicked");
  EXPECT_EQ(added.props.at(PROP_ID(PR_EMAIL_ADDRESS)), "emailAddress@clicked");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  app.reset();
  return status;
}
