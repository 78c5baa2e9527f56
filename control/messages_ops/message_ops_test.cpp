// SPDX-License-Identifier: LGPL-2.1-or-later
// The message operations where the store or the MIME layer fails part-way,
// which the cases over the real store (tests/messages_e2e_test.cpp) cannot
// bring about.
#include "control/messages_ops/message_ops.h"

#include <gtest/gtest.h>

#include <tuple>

#include "control/messages_ops/test_fakes.h"
#include "platform/com/dispatch_object.h"
#include "platform/shell/files.h"

namespace msgops {
namespace {
using namespace msgops::testing;
namespace fs = std::filesystem;

class MessageOpsTest : public ::testing::Test {
 protected:
  MessageOpsTest() {
    shell.home = tmp / "home";
    shell.temp = tmp / "temp";
    fs::create_directories(*shell.home);
    fs::create_directories(*shell.temp);
  }
  MessageOps Ops() { return MessageOps(snapshot, folder.Get(), shell); }

  // Message 12 is listed but not in the store.
  std::vector<Record> records = {{"Hello", "", "", "", "", 0, 11}, {"Gone", "", "", "", "", 0, 12}};
  decltype(Snapshot(records)) snapshot = Snapshot(records);
  FakeStoreState state;
  FakeFolder& stored = state.AddFolder(1, "F");
  com::ComPtr<IStoreFolder> folder = OpenFakeFolder(state, 1);
  FakeShell shell;
  TempDir tmp;
};

TEST_F(MessageOpsTest, WithoutAFolderOrAStoredMessageEveryMemberAnswersNeutrally) {
  MessageOps none(snapshot, nullptr, shell);
  EXPECT_EQ(none.GetMessage(0), "");
  EXPECT_EQ(none.IsMessagesMarkAsRead(0), VARIANT_FALSE);
  EXPECT_EQ(none.ExtractAttachment(0, "d/"), VARIANT_FALSE);
  EXPECT_EQ(Ops().FindReturnEmail(1), "");
  EXPECT_EQ(Ops().GetAttachmentCount(1), 0);
  // A store refusing the probe is no read message.
  EXPECT_EQ(Ops().IsMessagesMarkAsRead(1), VARIANT_FALSE);
}

// A copy that is not the whole message would pass for it: whatever stops it
// (the store, a full disk at the n-th write, a quota at once), FALSE and no file.
TEST_F(MessageOpsTest, ASaveThatFailsAnswersFalseAndLeavesNoFile) {
  stored.Add(11).bytes = std::string(200000, 'a');
  const std::string out = tmp / "m.eml";
  for (auto [failRead, writeError, nthWrite] :
       {std::tuple{2, 0, 0}, {-1, ENOSPC, 2}, {-1, EDQUOT, 1}}) {
    WriteFile(out, "old");
    stored.failRead = failRead;
    if (writeError) files::FailWritesFrom(nthWrite, writeError);
    EXPECT_EQ(Ops().Save2eml(0, out), VARIANT_FALSE) << failRead << writeError;
    files::ClearWriteFailure();
    EXPECT_FALSE(fs::exists(out)) << failRead << writeError;
  }
  stored.failRead = -1;
  EXPECT_EQ(Ops().Save2eml(0, out), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(out), std::string(200000, 'a'));

  // Viewing: the file stays, nothing is opened.
  LastTempFile last;
  stored.failRead = 0;
  EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_FALSE);
  EXPECT_TRUE(fs::exists(last.Path()));
  EXPECT_TRUE(shell.opened.empty());
  // No temporary directory at all: FALSE. (One that cannot be written is an
  // automation error; the end-to-end view case pins that.)
  stored.failRead = -1;
  shell.temp = std::nullopt;
  EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_FALSE);
  EXPECT_TRUE(shell.opened.empty());
}

TEST_F(MessageOpsTest, APartThatCannotBeOpenedKeepsItsPlaceAndIsNotWritten) {
  stored.Add(11).parts = {{"a.txt", "first"},
                          {"inline", "x", false},
                          {"broken.bin", "x", true, true},
                          {"a.txt", "second"}};
  auto ops = Ops();
  EXPECT_EQ(ops.GetAttachmentCount(0), 2);
  EXPECT_EQ(ops.GetAttachmentName(0, 0), "a.txt");
  EXPECT_EQ(ops.GetAttachmentName(0, 1), "");
  EXPECT_EQ(ops.GetAttachmentName(0, 2), "a.txt");
  const fs::path dir = tmp / "out";
  fs::create_directories(dir);
  // What could be written is; the part that could not makes the answer FALSE.
  EXPECT_EQ(ops.ExtractAttachment(0, dir.string() + "/"), VARIANT_FALSE);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "second");
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
