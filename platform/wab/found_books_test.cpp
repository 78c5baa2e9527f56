// SPDX-License-Identifier: LGPL-2.1-or-later
// Other programs' books found by themselves and listed after our own, read
// through WABOpen as the connection reads them, from files written as each
// program writes them.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "platform/wab/found_books.h"
#include "platform/wab/property_tags.h"
#include "platform/wab/testing/program_books.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;
using wab::FindOtherBooks;
using wab::FoundBook;
using wab::UserDirectoriesFromEnvironment;

std::string Card(const std::string& uid, const std::string& name, const std::string& more = "") {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + name + "\r\n" + more +
         "END:VCARD\r\n";
}
ThunderbirdCard Plain(const std::string& uid, const std::string& name) {
  return {uid, {{"DisplayName", name}, {"PrimaryEmail", uid + "@example.org"}}};
}

// Every file under `root` but our own book, with a digest of its bytes.
std::map<std::string, std::size_t> FilesUnder(const std::string& root) {
  std::map<std::string, std::size_t> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory() && e.path().string().find("/mailquarry/") == std::string::npos)
      files[e.path().string()] = std::hash<std::string>()(ReadFile(e.path().string()));
  return files;
}

class FoundBooks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(WabOpenEntry(), nullptr) << dlerror();
    fs::create_directories(data / "mailquarry/contacts");
    WriteFile(data / "mailquarry/contacts/olive.vcf", Card("olive", "Olive"));
    profile = WriteThunderbirdProfile(
        home.path(),
        "// Mozilla User Preferences\n"
        "user_pref(\"ldap_2.servers.Work.description\", \"Work\");\n"
        "user_pref(\"ldap_2.servers.Work.dirType\", 101);\n"
        "user_pref(\"ldap_2.servers.Work.filename\", \"abook-1.sqlite\");\n"
        "user_pref(\"ldap_2.servers.Club.description\", \"Club\");\n"
        "user_pref(\"ldap_2.servers.Club.filename\", \"abook-10.sqlite\");\n"
        "user_pref(\"ldap_2.servers.Dav.description\", \"Shared\");\n"
        "user_pref(\"ldap_2.servers.Dav.dirType\", 102);\n"
        "user_pref(\"ldap_2.servers.Dav.filename\", \"abook-2.sqlite\");\n"
        "user_pref(\"ldap_2.servers.Corp.dirType\", 0);\n"
        "user_pref(\"ldap_2.servers.Corp.filename\", \"ldap.sqlite\");\n");
    WriteThunderbirdBook(
        profile + "/abook.sqlite",
        {ThunderbirdVCardCard("a1", Card("a1", "Alice", kAliceFields), "Alice", "a@example.org"),
         {"b2",
          {{"DisplayName", "Bob, \"the\" Builder"},
           {"FirstName", "Bob"},
           {"LastName", "Builder; Jr."},
           {"PrimaryEmail", "bob@example.org"},
           {"SecondEmail", "bob@home.example"},
           {"WorkPhone", "+1 555 0100"},
           {"HomePhone", "+1 555 0101"},
           {"FaxNumber", "+1 555 0102"},
           {"PagerNumber", "+1 555 0103"},
           {"CellularNumber", "+1 555 0104"},
           {"JobTitle", "Foreman\\Lead"},
           {"Company", "Acme"},
           {"Department", "Sites"},
           {"WebPage1", "https://acme.example/"},
           {"WebPage2", "https://bob.example/"},
           {"HomeCity", "M\xfcnchen"},
           {"Notes", "two\nlines"}}}},
        {{"l1", "Friends", "pals", "", {"a1", "b2"}}});
    WriteThunderbirdBook(profile + "/history.sqlite", {Plain("carol", "Carol")});
    WriteThunderbirdBook(profile + "/abook-1.sqlite", {Plain("dave", "Dave")});
    WriteThunderbirdBook(profile + "/abook-2.sqlite", {Plain("frank", "Frank")}, {}, true);
    WriteThunderbirdBook(profile + "/abook-10.sqlite", {Plain("erin", "Erin")});
    WriteThunderbirdBook(profile + "/ldap.sqlite", {Plain("ghost", "Ghost")});
    WriteThunderbirdBook(profile + "/abook-9.sqlite", {Plain("stale", "Stale")});  // not in prefs
    WriteEvolutionBook(data / "evolution/addressbook/system/contacts.db",
                       {{"heidi", Card("heidi", "Heidi", "EMAIL:heidi@example.org\r\n")}});
    WriteEvolutionSource(config, "system-address-book", "Personal");
    WriteEvolutionBook(data / "evolution/addressbook/dav-1/contacts.db",
                       {{"ivan", Card("ivan", "Ivan")}}, true, {"judy"});
    WriteEvolutionSource(config, "dav-1", "Team (CardDAV)");
    // A damaged database lists nothing and fails nothing.
    fs::create_directories(data / "evolution/addressbook/broken");
    WriteFile(data / "evolution/addressbook/broken/contacts.db",
              "SQLite format 3\0" + std::string(4000, '\xff'));
    fs::create_directories(data / "contacts");
    WriteFile(data / "contacts/kim.vcf", Card("kim", "Kim"));
  }

  std::map<std::string, std::string> IdsByName() {
    std::map<std::string, std::string> ids;
    for (const Row& row : Book("").ReadAll()) ids[row.name] = row.entryId;
    return ids;
  }

  static constexpr const char* kAliceFields =
      "N:Example;Alice;;;\r\nEMAIL;TYPE=INTERNET:a@example.org\r\nTEL;TYPE=CELL:+1 555 0199\r\n"
      "ORG:Example Corp;QA\r\nTITLE:Tester\r\nURL;TYPE=WORK:https://corp.example/\r\n";

  TempDir home;
  fs::path data = home / ".local/share", config = home / ".config";
  std::string profile;
  mqtest::ScopedEnv homeEnv{"HOME", home.path()}, dataEnv{"XDG_DATA_HOME", data},
      configEnv{"XDG_CONFIG_HOME", config}, noMaildir{"MAILDIR", nullptr},
      noBook{"MAILQUARRY_ADDRESSBOOK", nullptr};
};

TEST_F(FoundBooks, ListedAfterOursInTheirFixedOrderWithEveryMappedField) {
  std::vector<std::string> shown;
  for (const FoundBook& b : FindOtherBooks(UserDirectoriesFromEnvironment()))
    shown.push_back(b.program + "/" + b.name);
  EXPECT_EQ(shown,
            (std::vector<std::string>{
                "Thunderbird/Personal Address Book", "Thunderbird/Work", "Thunderbird/Shared",
                "Thunderbird/Club", "Thunderbird/Collected Addresses", "Evolution/Personal",
                "Evolution/broken", "Evolution/Team (CardDAV)", "KDE/Personal Contacts"}));

  HRESULT hr;
  std::vector<Row> rows = Book("").ReadAll(&hr);
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(Names(rows),
            (std::vector<std::string>{"Olive", "Alice", "Bob, \"the\" Builder", "Friends", "Dave",
                                      "Frank", "Erin", "Carol", "Heidi", "Ivan", "Kim"}));
  EXPECT_EQ(rows[3].objectType, static_cast<ULONG>(MAPI_DISTLIST));
  auto text = [&](std::size_t row, ULONG tag) { return rows[row].props[PROP_ID(tag)]; };
  EXPECT_EQ(text(1, PR_CELLULAR_TELEPHONE_NUMBER), "+1 555 0199");
  EXPECT_EQ(text(1, PR_DEPARTMENT_NAME), "QA");
  EXPECT_EQ(text(1, PR_BUSINESS_HOME_PAGE), "https://corp.example/");
  // The old-style card, every property Thunderbird kept, special characters
  // and a value that is not UTF-8 included.
  const std::pair<ULONG, const char*> bob[] = {{PR_SURNAME, "Builder; Jr."},
                                               {PR_GIVEN_NAME, "Bob"},
                                               {PR_EMAIL_ADDRESS, "bob@example.org"},
                                               {PR_BUSINESS_TELEPHONE_NUMBER, "+1 555 0100"},
                                               {PR_HOME_TELEPHONE_NUMBER, "+1 555 0101"},
                                               {PR_PRIMARY_FAX_NUMBER, "+1 555 0102"},
                                               {PR_PAGER_TELEPHONE_NUMBER, "+1 555 0103"},
                                               {PR_CELLULAR_TELEPHONE_NUMBER, "+1 555 0104"},
                                               {PR_TITLE, "Foreman\\Lead"},
                                               {PR_COMPANY_NAME, "Acme"},
                                               {PR_DEPARTMENT_NAME, "Sites"},
                                               {PR_BUSINESS_HOME_PAGE, "https://acme.example/"},
                                               {PR_PERSONAL_HOME_PAGE, "https://bob.example/"},
                                               {PR_HOME_ADDRESS_CITY, "M\xc3\xbcnchen"},
                                               {PR_COMMENT, "two\nlines"}};
  for (const auto& [tag, value] : bob) EXPECT_EQ(text(2, tag), value) << std::hex << tag;
  for (std::size_t i : {4, 7, 8}) EXPECT_NE(text(i, PR_EMAIL_ADDRESS), "") << rows[i].name;
}

TEST_F(FoundBooks, DeletesInReadOnlyBooksAreRefusedAndEntryIdsStayAsContactsAndBooksAppear) {
  auto files = FilesUnder(home.path());
  auto before = IdsByName();
  ASSERT_EQ(before.size(), 11u);
  Book book("");
  std::vector<Row> rows = book.ReadAll();
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_EQ(book.Delete(rows[i].entryId), MAPI_E_NO_ACCESS) << rows[i].name;
  ASSERT_EQ(book.Create({{PR_DISPLAY_NAME, "Nora"}, {PR_EMAIL_ADDRESS, "nora@example.org"}}), S_OK);
  EXPECT_EQ(FilesUnder(home.path()), files);  // no byte changed, no journal left
  EXPECT_EQ(std::distance(fs::directory_iterator(data / "mailquarry/contacts"), {}), 2);
  // A new Evolution book that sorts first, and a new Thunderbird card.
  WriteEvolutionBook(data / "evolution/addressbook/aaa/contacts.db", {{"new", Card("n", "Nina")}});
  WriteThunderbirdBook(profile + "/abook-1.sqlite", {Plain("zed", "Zed"), Plain("dave", "Dave")});
  auto after = IdsByName();
  EXPECT_EQ(after.size(), 14u);
  for (const auto& [name, id] : before) EXPECT_EQ(after[name], id) << name;
  // Naming one book lists only that book, as before.
  mqtest::ScopedEnv one("MAILQUARRY_ADDRESSBOOK", data / "contacts");
  EXPECT_EQ(Names(Book("").ReadAll()), (std::vector<std::string>{"Kim"}));
}

// One card, several shapes, read from a Thunderbird book and from a .vcf file.
TEST_F(FoundBooks, ACardReadsTheSameFromThunderbirdAsFromAVcfFile) {
  const std::string shapes[] = {
      Card("u1", "Alice", kAliceFields),
      "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\n"
      "FN:J\xfcrgen\nTEL;WORK;VOICE:030 1234\nEMAIL;INTERNET:j@example.de\nEND:VCARD\n",
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Long\r\n  Name\r\nNOTE:a\\, b\\; c\r\nEND:VCARD\r\n"};
  for (const std::string& shape : shapes) {
    fs::remove_all(data);
    WriteThunderbirdBook(profile + "/abook.sqlite", {ThunderbirdVCardCard("x", shape, "", "")});
    fs::remove(profile + "/history.sqlite");
    for (const char* f : {"abook-1.sqlite", "abook-2.sqlite", "abook-10.sqlite"})
      fs::remove(profile + "/" + f);
    WriteFile(home / "same.vcf", shape);
    std::vector<Row> fromThunderbird = Book("").ReadAll(),
                     fromFile = Book(home / "same.vcf").ReadAll();
    ASSERT_EQ(fromThunderbird.size(), 1u);
    ASSERT_EQ(fromFile.size(), 1u);
    fromThunderbird[0].props.erase(PROP_ID(PR_ENTRYID));
    fromFile[0].props.erase(PROP_ID(PR_ENTRYID));
    EXPECT_EQ(fromThunderbird[0].name, fromFile[0].name);
    EXPECT_EQ(fromThunderbird[0].props, fromFile[0].props) << shape;
  }
}

// Another process adds cards five at a time while the book is read: every
// read succeeds and sees whole transactions, and none keeps a lock after it.
TEST_F(FoundBooks, ADatabaseWrittenDuringAReadGivesAConsistentStateAndNoLock) {
  for (bool wal : {false, true}) {
    std::string path = profile + "/abook-1.sqlite";
    WriteThunderbirdBook(path, {}, {}, wal);
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      sqlite3* db = nullptr;
      sqlite3_open(path.c_str(), &db);
      sqlite3_busy_timeout(db, 10000);
      for (int batch = 0; batch < 20; ++batch) {
        std::string sql = "BEGIN IMMEDIATE;";
        for (int i = 0; i < 5; ++i) {
          std::string uid = "w" + std::to_string(batch * 5 + i);
          sql += "INSERT INTO properties VALUES ('" + uid + "', 'DisplayName', '" + uid + "');";
        }
        if (sqlite3_exec(db, (sql + "COMMIT").c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
          _exit(1);
      }
      sqlite3_close(db);
      _exit(0);
    }
    int status = 0, reads = 0;
    do {
      HRESULT hr;
      std::size_t written = 0;
      Book book("");
      for (const Row& row : book.ReadAll(&hr)) written += row.name[0] == 'w';
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(written % 5, 0u) << "wal " << wal;
      ++reads;
    } while (waitpid(writer, &status, WNOHANG) == 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::size_t written = 0;
    Book book("");
    for (const Row& row : book.ReadAll()) written += row.name[0] == 'w';
    EXPECT_EQ(written, 100u) << "after " << reads << " reads, wal " << wal;
    // The book still open, a writer takes the database at once.
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
}

}  // namespace
