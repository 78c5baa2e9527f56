// The control as a client meets it: registered with the store into a
// temporary registry, created by its ProgID, hosted headless in run mode over
// a Maildir fixture, and driven by name through IDispatch only. This program
// does not link the control.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/com/activation.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/ui/control_host.h"
#include "tests/support/automation_client.h"
#include "tests/support/registered_modules_test.h"

namespace {

using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using store::testing::MaildirFixture;

constexpr std::int64_t kDelivered = 1167707045;  // 2007-01-02 03:04:05 UTC

std::string Mail(const std::string& from, const std::string& to, const std::string& subject,
                 const std::string& date) {
  return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\nDate: " + date +
         "\r\nMessage-ID: <" + subject.substr(subject.size() - 1) + "@e2e>\r\n\r\nBody.\r\n";
}

class ControlE2E : public mqtest::RegisteredModulesTest {
 protected:
  void SetUp() override {
    RequireRegisteredModules();
    fixture_.AddFolder({"A"});
    fixture_.AddFolder({"A", "A1"});
    fixture_.AddFolder({"B"});
    fixture_.AddMessage({}, MaildirFixture::Message("x@example.org", "y@example.org", "inbox"));
    first_ = Mail("Ann Example <ann@example.org>", "Bob <bob@example.org>, carol@example.org",
                  "Re: Quarterly report 1", "Sat, 3 Feb 2001 04:05:06 +0000");
    fixture_.AddMessage({"A", "A1"}, first_, {"S", kDelivered, false});
    fixture_.AddMessage({"A", "A1"},
                        Mail("dave@example.org", "Eve <eve@example.org>", "Plans 2",
                             "Mon, 9 Sep 2024 23:01:02 +0000"),
                        {"", kDelivered + 60, false});
    fixture_.UseAsMailDir();
  }

  // Creates the control by its ProgID and gives it a headless window.
  void Start(ui::ControlHost& host) {
    CLSID clsid{};
    ASSERT_EQ(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid), S_OK);
    ASSERT_EQ(host.Create(clsid), S_OK);
    ASSERT_EQ(host.Activate(nullptr, ui::Rect::FromSize(0, 0, 100, 30)), S_OK);
  }

  MaildirFixture fixture_;
  std::string first_;
};

TEST_F(ControlE2E, ReadsTheFolderTreeAndTheMessagesOfTheSelectedFolder) {
  ui::ControlHost host(/*userMode=*/true);
  Start(host);
  auto control = host.Dispatch();
  auto folders = Get(control, "Folders").Object();
  ASSERT_TRUE(folders);
  EXPECT_EQ(Get(folders, "Count").Long(), 4);
  const char* names[] = {"Inbox", "A", "A1", "B"};
  for (SHORT i = 0; i < 4; ++i) EXPECT_EQ(Call(folders, "FindFolderName", i).Str(), names[i]);
  EXPECT_EQ(Call(folders, "FindFolderName", SHORT{4}).Str(), "");
  EXPECT_EQ(Get(Get(folders, "Item", 3).Object(), "Name").Str(), "A1");
  EXPECT_NE(Call(folders, "FindFolderID", SHORT{2}).Long(), 0);

  auto messages = Get(control, "Messages").Object();
  EXPECT_EQ(Get(messages, "Count").Long(), 0);
  ASSERT_EQ(Put(control, "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(Get(control, "Folder").Long(), 2);
  ASSERT_EQ(Get(messages, "Count").Long(), 2);

  auto first = Get(messages, "Item", 1).Object();
  ASSERT_TRUE(first);
  EXPECT_EQ(Get(first, "Subject").Str(), "Quarterly report 1");
  EXPECT_EQ(Get(first, "DisplayFrom").Str(), "Ann Example");
  EXPECT_EQ(Get(first, "DisplayTo").Str(), "Bob; carol@example.org");
  EXPECT_EQ(Get(first, "ReceiveTime").Str(), "2007/01/02 03:04:05");
  EXPECT_EQ(Get(first, "SentTime").Str(), "2001/02/03 04:05:06");
  EXPECT_EQ(Get(first, "Size").Long(), static_cast<LONG>(first_.size()));
  auto second = Get(messages, "Item", "Plans 2").Object();
  ASSERT_TRUE(second);
  EXPECT_EQ(Get(second, "ReceiveTime").Str(), "2007/01/02 03:05:05");
  EXPECT_EQ(Get(second, "SentTime").Str(), "2024/09/09 23:01:02");
  EXPECT_EQ(Get(second, "DisplayTo").Str(), "Eve");
  EXPECT_FALSE(Get(messages, "Item", 0).Object());
  // Records are read-only.
  auto refused = Put(first, "Subject", "changed");
  EXPECT_EQ(refused.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(refused.scode, CTL_E_SETNOTSUPPORTED);
}

TEST_F(ControlE2E, FolderOutsideTheListGivesAnEmptyListAndReadsBack) {
  ui::ControlHost host(true);
  Start(host);
  auto control = host.Dispatch();
  auto messages = Get(control, "Messages").Object();
  for (SHORT index : {SHORT{-1}, SHORT{99}}) {
    ASSERT_EQ(Put(control, "Folder", SHORT{2}).hr, S_OK);
    ASSERT_EQ(Get(messages, "Count").Long(), 2);
    ASSERT_EQ(Put(control, "Folder", index).hr, S_OK);
    EXPECT_EQ(Get(messages, "Count").Long(), 0) << index;
    EXPECT_EQ(Get(control, "Folder").Long(), index);
  }
}

TEST_F(ControlE2E, EveryFolderWriteRereadsTheStore) {
  ui::ControlHost host(true);
  Start(host);
  auto control = host.Dispatch();
  auto messages = Get(control, "Messages").Object();
  ASSERT_EQ(Put(control, "Folder", SHORT{2}).hr, S_OK);
  ASSERT_EQ(Get(messages, "Count").Long(), 2);
  fixture_.AddMessage({"A", "A1"},
                      MaildirFixture::Message("f@example.org", "g@example.org", "late arrival"));
  EXPECT_EQ(Get(messages, "Count").Long(), 2);
  ASSERT_EQ(Put(control, "Folder", SHORT{2}).hr, S_OK);
  ASSERT_EQ(Get(messages, "Count").Long(), 3);
  EXPECT_TRUE(Get(messages, "Item", "late arrival").Object());
}

TEST_F(ControlE2E, ReadOnlyPropertiesRefuseAPut) {
  ui::ControlHost host(true);
  Start(host);
  auto control = host.Dispatch();
  for (auto result : {Put(control, "Messages", 1), Put(control, "Folders", 1),
                      Put(Get(control, "Messages").Object(), "Count", 5),
                      Put(Get(control, "Folders").Object(), "Count", 5)}) {
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.scode, CTL_E_SETNOTSUPPORTED);
  }
}

TEST_F(ControlE2E, WithoutAStoreEveryCountIsZero) {
  char dir[] = "/tmp/mq-e2e-nostore-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  ASSERT_EQ(setenv("MAILDIR", dir, 1), 0);  // an empty directory is no Maildir
  {
    ui::ControlHost host(true);
    Start(host);
    auto control = host.Dispatch();
    for (const char* name : {"Folders", "Messages", "Contacts"})
      EXPECT_EQ(Get(Get(control, name).Object(), "Count").Long(), 0) << name;
    ASSERT_EQ(Put(control, "Folder", SHORT{1}).hr, S_OK);
    EXPECT_EQ(Get(control, "Folder").Long(), 1);
    EXPECT_EQ(Get(Get(control, "Messages").Object(), "Count").Long(), 0);
  }
  rmdir(dir);
}

TEST_F(ControlE2E, ReferencesHeldPastTheWindowAnswerNeutrally) {
  com::ComPtr<IDispatch> control, folders, messages, contacts, message, folder;
  {
    ui::ControlHost host(true);
    Start(host);
    control = host.Dispatch();
    folders = Get(control, "Folders").Object();
    messages = Get(control, "Messages").Object();
    contacts = Get(control, "Contacts").Object();
    Put(control, "Folder", SHORT{2});
    message = Get(messages, "Item", 1).Object();
    folder = Get(folders, "Item", 1).Object();
    ASSERT_EQ(host.Deactivate(), S_OK);
    EXPECT_FALSE(Get(control, "Folders").Object());
    EXPECT_EQ(Get(folders, "Count").Long(), 0);
  }
  // The host is gone too; the client still holds everything.
  EXPECT_EQ(Get(folders, "Count").Long(), 0);
  EXPECT_EQ(Call(folders, "FindFolderName", SHORT{0}).Str(), "");
  EXPECT_EQ(Call(folders, "FindFolderID", SHORT{0}).Long(), 0);
  EXPECT_EQ(Call(folders, "Refresh").hr, S_OK);
  EXPECT_EQ(Get(folders, "Count").Long(), 0);
  EXPECT_FALSE(Get(folders, "Item", 1).Object());
  EXPECT_EQ(Get(messages, "Count").Long(), 0);
  EXPECT_EQ(Get(contacts, "Count").Long(), 0);
  EXPECT_EQ(Get(message, "Subject").Str(), "Quarterly report 1");
  EXPECT_EQ(Get(folder, "Name").Str(), "Inbox");
  EXPECT_EQ(Put(control, "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(Get(control, "Folder").Long(), 2);
}

}  // namespace
