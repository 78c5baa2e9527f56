// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes through the interfaces: creating, deleting, stale identifiers, two
// writers at once, registration and the fallback module name.
#include <sys/wait.h>

#include <set>

#include "platform/registry/registry.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;

const char kFirst[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:first\r\nFN:First\r\nX-CUSTOM;X-PARAM=1:keep me\r\n"
    "END:VCARD\r\n";
const char kMiddle[] = "BEGIN:VCARD\nVERSION:3.0\nFN:Middle\nEMAIL:middle@example.org\nEND:VCARD\n";
const char kLast[] =
    "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Last\r\nX-ABLabel:odd\r\nPHOTO;ENCODING=BASE64;TYPE=GIF:"
    "R0lG\r\n"
    " ODlh\r\n\r\nEND:VCARD\r\n";
const std::string kMulti = std::string(kFirst) + "\r\n" + kMiddle + kLast;

// Every field's way into a card and back is the dialog test's
// (WabDialogs.NewEntrySavesEveryFieldOnOkAndNothingOnCancelAndDetailsShowsThem);
// here, the file a new contact gets, texts a card must escape, and text it
// cannot hold.
TEST(WabWrite, CreateThenReopenGivesTheContactBack) {
  TempDir dir;
  std::string entryId;
  const std::vector<std::pair<ULONG, std::string>> texts = {{PR_DISPLAY_NAME, "Zo\xC3\xAB New"},
                                                            {PR_TITLE, "Engineer; senior\\"},
                                                            {PR_COMPANY_NAME, "Work, Inc."},
                                                            {PR_COMMENT, "two\nlines"}};
  {
    Book book(dir.path());
    ASSERT_EQ(book.result, S_OK);
    auto withEmpty = texts;
    withEmpty.push_back({PR_HOME_TELEPHONE_NUMBER, ""});
    withEmpty.push_back({PR_COMPANY_NAME, "not UTF-8 \xff"});  // refused: the card stays valid
    ASSERT_EQ(book.Create(withEmpty, &entryId), S_OK);
  }
  std::vector<fs::path> files(fs::directory_iterator(dir.path()), {});
  ASSERT_EQ(files.size(), 1u);
  std::string text = ReadFile(files[0]);
  EXPECT_EQ(files[0].extension(), ".vcf");
  EXPECT_NE(text.find("VERSION:3.0\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("TYPE=HOME,VOICE"), std::string::npos) << "empty values are not written";
  EXPECT_NE(text.find("UID:" + files[0].stem().string()), std::string::npos) << text;

  Book again(dir.path());
  std::vector<Row> rows = again.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].entryId, entryId);
  EXPECT_EQ(rows[0].props.count(PROP_ID(PR_HOME_TELEPHONE_NUMBER)), 0u);
  for (const auto& [tag, value] : texts) EXPECT_EQ(rows[0].props[PROP_ID(tag)], value);
}

TEST(WabWrite, AStaleIdentifierNeverReachesAnotherCard) {
  TempDir dir;
  WriteFile(dir / "a.vcf", kMiddle);  // no UID: named by its bytes
  Book book(dir.path());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 1u);
  // Another program rewrites the file with a different card.
  WriteFile(dir / "a.vcf",
            "BEGIN:VCARD\nVERSION:3.0\nFN:Someone else\nEMAIL:else@example.org\nEND:VCARD\n");
  com::ComPtr<IMailUser> user;
  EXPECT_EQ(book.OpenUser(rows[0].entryId, &user), MAPI_E_NOT_FOUND);
  EXPECT_EQ(book.Delete(rows[0].entryId), MAPI_E_NOT_FOUND);
  EXPECT_EQ(book.ab->Details(nullptr, nullptr, nullptr, static_cast<ULONG>(rows[0].entryId.size()),
                             reinterpret_cast<LPENTRYID>(rows[0].entryId.data()), nullptr, nullptr,
                             nullptr, 0),
            MAPI_E_NOT_FOUND);
  EXPECT_EQ(Names(book.ReadAll()), (std::vector<std::string>{"Someone else"}));

  // A card with a UID keeps its identifier when another program edits it.
  WriteFile(dir / "b.vcf", kFirst);
  rows = book.ReadAll();
  ASSERT_EQ(rows.size(), 2u);
  WriteFile(dir / "b.vcf",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:first\r\nFN:First, edited\r\nEND:VCARD\r\n");
  Row edited;
  EXPECT_EQ(book.ReadProps(rows[1].entryId, &edited), S_OK);
  EXPECT_EQ(edited.props[PROP_ID(PR_DISPLAY_NAME)], "First, edited");
}

// Each child process creates contacts and deletes every other one of its own.
void Churn(const std::string& location, const std::string& tag, int count) {
  Book book(location);
  if (book.result != S_OK) _exit(2);
  for (int i = 0; i < count; ++i) {
    std::string id;
    if (book.Create({{PR_DISPLAY_NAME, tag + std::to_string(i)}}, &id) != S_OK) _exit(3);
    if (i % 2 == 1 && book.Delete(id) != S_OK) _exit(4);
  }
  _exit(0);
}

// Both write into a directory book and into a single-file book, whose cards
// from before keep every byte (a comment line between them too).
TEST(WabWrite, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir, single;
  WriteFile(dir / "before.vcf", kMulti);
  WriteFile(single / "book.vcf", kMulti);
  WabOpenEntry();  // loaded before the fork, as by a running program
  constexpr int kCount = 30;
  for (const std::string& location : {dir.path(), single / "book.vcf"}) {
    SCOPED_TRACE(location);
    pid_t a = fork();
    if (a == 0) Churn(location, "a", kCount);
    pid_t b = fork();
    if (b == 0) Churn(location, "b", kCount);
    for (pid_t writer : {a, b}) {
      int status = 0;
      waitpid(writer, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::vector<std::string> names = Names(Book(location).ReadAll());
    std::set<std::string> want{"First", "Middle", "Last"};
    for (int i = 0; i < kCount; i += 2) {
      want.insert("a" + std::to_string(i));
      want.insert("b" + std::to_string(i));
    }
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), want);
    EXPECT_EQ(names.size(), want.size());
  }
  EXPECT_EQ(ReadFile(single / "book.vcf").substr(0, kMulti.size()), kMulti);
  EXPECT_EQ(std::distance(fs::directory_iterator(single.path()), {}), 1) << "no temporary left";
}

TEST(WabModule, RegistersAndUnregistersItsPath) {
  TempDir dir;
  mqtest::ScopedEnv registry("MAILQUARRY_REGISTRY", dir / "registry");
  std::string module = BinDir() + "/AddressBook.so";
  ASSERT_EQ(std::system((BinDir() + "/regsvr " + module + " > /dev/null").c_str()), 0);
  std::string path;
  ASSERT_EQ(reg::GetString(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", &path), S_OK);
  EXPECT_TRUE(fs::equivalent(path, module)) << path;
  ASSERT_EQ(std::system((BinDir() + "/regsvr -u " + module + " > /dev/null").c_str()), 0);
  EXPECT_FALSE(reg::KeyExists(reg::Root::LocalMachine, WAB_DLL_PATH_KEY));
  // The bare name it answers to is the contact collection's test.
}

}  // namespace
