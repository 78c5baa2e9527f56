// SPDX-License-Identifier: LGPL-2.1-or-later
// The message operations over a folder of the real store where a message's
// file changes after the list was read (gone, or unreadable) or the disk
// fills, and the stored text's conversion. What a client sees of the members
// otherwise is tests/messages_e2e_test.cpp.
#include "control/messages_ops/message_ops.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "control/messages_ops/raw_text.h"
#include "platform/shell/files.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/store_test_util.h"

namespace msgops {
namespace {
namespace fs = std::filesystem;
using mqtest::ReadFile;
using mqtest::TempDir;
using mqtest::WriteFile;

class FakeShell final : public ShellServices {
 public:
  std::optional<std::string> temp;
  std::optional<std::string> home;
  std::vector<std::string> opened;
  std::optional<std::string> TempDirectory() override { return temp; }
  std::optional<std::string> HomeDirectory() override { return home; }
  void OpenDocument(const std::string& path) override { opened.push_back(path); }
};

struct Record {
  std::string subject, displayFrom, displayTo, receiveTime, sentTime;
  LONG size = 0;
  MESSAGEID id = 0;
};

// Folder F of a Maildir read through the store, listed once as the control
// lists it, and the desktop's directories in a scratch directory.
class MessageOpsTest : public ::testing::Test {
 protected:
  MessageOpsTest() {
    fixture.UseAsMailDir();
    shell.home = tmp / "home";
    shell.temp = tmp / "temp";
    fs::create_directories(*shell.home);
    fs::create_directories(*shell.temp);
  }
  // Stores `messages` in F, in list order, and lists F; returns their files.
  std::vector<std::string> List(const std::vector<std::string>& messages) {
    std::vector<std::string> files;
    for (std::size_t i = 0; i < messages.size(); ++i)
      files.push_back(fixture.AddMessage(
          {"F"}, messages[i], {"", 1167707045 + 60 * static_cast<std::int64_t>(i), false}));
    ns = store::OpenStore();
    folder = store::OpenByName(ns.Get(), "F");
    for (const auto& message : store::Messages(folder.Get()))
      records.push_back({message.normalSubject, "", "", "", "", 0, message.id});
    return files;
  }
  MessageOps Ops() { return MessageOps(snapshot, folder.Get(), shell); }

  store::testing::MaildirFixture fixture;
  com::ComPtr<IStoreNamespace> ns;
  com::ComPtr<IStoreFolder> folder;
  std::vector<Record> records;
  ListSnapshot<std::vector<Record>, MessageView (*)(const Record&)> snapshot{records,
                                                                             &ViewOf<Record>};
  FakeShell shell;
  TempDir tmp;
};

std::string Mail(const std::string& subject, const std::string& body = "Hello.\r\n") {
  return store::testing::MaildirFixture::Message("a@x.org", "b@x.org", subject, body);
}

TEST_F(MessageOpsTest, WithoutAFolderOrAStoredMessageEveryMemberAnswersNeutrally) {
  const auto files = List({Mail("Hello"), Mail("Gone")});
  ASSERT_EQ(records.at(1).subject, "Gone");
  fs::remove(files[1]);  // listed, then gone from the disk
  MessageOps none(snapshot, nullptr, shell);
  EXPECT_EQ(none.GetMessage(0), "");
  EXPECT_EQ(none.IsMessagesMarkAsRead(0), VARIANT_FALSE);
  EXPECT_EQ(none.ExtractAttachment(0, "d/"), VARIANT_FALSE);
  EXPECT_EQ(Ops().FindReturnEmail(1), "");
  EXPECT_EQ(Ops().GetAttachmentCount(1), 0);
  EXPECT_EQ(Ops().IsMessagesMarkAsRead(1), VARIANT_FALSE);
  EXPECT_EQ(ReadRawText(folder.Get(), records[1].id), std::nullopt);
  EXPECT_EQ(ReadRawText(nullptr, records[0].id), std::nullopt);
}

// A copy that is not the whole message would pass for it: whatever stops it
// (the store's read, a full disk at the n-th write, a quota at once), FALSE
// and no file.
TEST_F(MessageOpsTest, ASaveThatFailsAnswersFalseAndLeavesNoFile) {
  const std::string mail = Mail("Big", std::string(200000, 'a'));
  const std::string stored = List({mail}).at(0);
  const std::string out = tmp / "m.eml";
  for (auto [unreadable, writeError, nthWrite] :
       {std::tuple{true, 0, 0}, {false, ENOSPC, 2}, {false, EDQUOT, 1}}) {
    WriteFile(out, "old");
    // A directory in the message file's place opens, but its reads fail.
    if (unreadable) fs::remove(stored), fs::create_directory(stored);
    if (writeError) files::FailWritesFrom(nthWrite, writeError);
    EXPECT_EQ(Ops().Save2eml(0, out), VARIANT_FALSE) << unreadable << writeError;
    files::ClearWriteFailure();
    EXPECT_FALSE(fs::exists(out)) << unreadable << writeError;
    if (unreadable) fs::remove(stored), WriteFile(stored, mail);
  }
  EXPECT_EQ(Ops().Save2eml(0, out), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(out), mail);

  // Viewing: the file stays, nothing is opened.
  LastTempFile last;
  fs::remove(stored);
  fs::create_directory(stored);
  EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_FALSE);
  EXPECT_TRUE(fs::exists(last.Path()));
  EXPECT_TRUE(shell.opened.empty());
  // No temporary directory at all: FALSE. (One that cannot be written is an
  // automation error; the end-to-end view case pins that.)
  fs::remove(stored);
  WriteFile(stored, mail);
  shell.temp = std::nullopt;
  EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_FALSE);
  EXPECT_TRUE(shell.opened.empty());
}

TEST_F(MessageOpsTest, EightBitStoredTextIsReadAsWindows1252) {
  List(
      {"Return-Path: <j\xF6rg@x.org>\r\nDelivered-To: j\xF6rg@x.org\r\n"
       "Received: y\r\n\r\nSch\xF6ne Gr\xFC\xDF"
       "e\r\n"});
  auto ops = Ops();
  EXPECT_NE(ops.GetMessage(0).find("Sch\u00F6ne Gr\u00FC\u00DF"
                                   "e"),
            std::string::npos);
  EXPECT_EQ(ops.FindReturnEmail(0), "j\u00F6rg@x.org");
  EXPECT_EQ(ops.FindDeliveredToEmail(0), "j\u00F6rg@x.org\r\n");
}

// The control's own guard, behind the MIME layer's clean names.
TEST(AttachmentPath, NamesThatCouldLeaveTheDirectoryAreRefused) {
  for (const char* name : {"", ".", "..", "../../x", "/etc/passwd", "a/b"})
    EXPECT_EQ(AttachmentPath("d/", name), std::nullopt) << name;
  EXPECT_EQ(AttachmentPath("d/", "..(x)"), "d/..(x)");
  EXPECT_EQ(AttachmentPath("d/", "a\\b"), "d/a\\b");
}

}  // namespace
}  // namespace msgops
