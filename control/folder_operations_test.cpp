// The folder collection's store operations over the fake store: what each
// asks of the store, how it reads the answer, and that no list changes.
#include <gtest/gtest.h>

#include "control/testing/wired_collections.h"

namespace mq {
namespace {

using testing::FakeStoreState;

class FolderOperations : public testing::WiredCollections {
 protected:
  void SetUp() override {
    state_.AddFolder(1, "Inbox");
    state_.AddFolder(2, "A");
    state_.AddFolder(3, "B");
    testing::FakeMessage message;
    message.id = 7;
    message.subject = "seven";
    message.flags = MSG_FLAG_READ | MSG_FLAG_FLAGGED;
    state_.folders[2].messages = {message};
    Wire();
    context_.LoadMessageList(1);  // A
  }
  void TearDown() override {
    WiredCollections::TearDown();
    context_ = {};
    EXPECT_EQ(state_.openFolders, 0);
  }
  // The lists are as SetUp left them.
  void ExpectListsUnchanged() {
    EXPECT_EQ(folders_->Count(), 3);
    EXPECT_EQ(folders_->List().Generation(), 0u);
    EXPECT_EQ(messages_->Count(), 1);
    EXPECT_EQ(messages_->List().Generation(), 1u);
    EXPECT_EQ(context_.folderIndex, 1);
  }
  const FakeStoreState::Change& Last() { return state_.changes.back(); }
};

TEST_F(FolderOperations, SuccessIsNotNegativeOrExactlyZeroByMember) {
  state_.changeResult = S_FALSE;
  EXPECT_EQ(folders_->DeleteFolder(2), VARIANT_TRUE);
  EXPECT_EQ(folders_->MoveFolder(2, 3), VARIANT_TRUE);
  EXPECT_EQ(folders_->RenameFolder("x", 2), VARIANT_TRUE);
  EXPECT_EQ(folders_->CompactAll(0), VARIANT_TRUE);
  EXPECT_EQ(folders_->CreateFolder("x", 0), VARIANT_FALSE);
  EXPECT_EQ(folders_->CopyMessage(7, 3), VARIANT_FALSE);
  EXPECT_EQ(folders_->MoveMessage(7, 3), VARIANT_FALSE);
  state_.changeResult = E_FAIL;
  EXPECT_EQ(folders_->DeleteFolder(2), VARIANT_FALSE);
  EXPECT_EQ(folders_->MoveFolder(2, 3), VARIANT_FALSE);
  EXPECT_EQ(folders_->RenameFolder("x", 2), VARIANT_FALSE);
  EXPECT_EQ(folders_->CompactAll(0), VARIANT_FALSE);
  // A name that would reach the store cut short is refused before it.
  const std::size_t asked = state_.changes.size();
  state_.changeResult = S_OK;
  EXPECT_EQ(folders_->CreateFolder(std::string("a\0b", 3), 0), VARIANT_FALSE);
  EXPECT_EQ(folders_->RenameFolder(std::string("a\0b", 3), 2), VARIANT_FALSE);
  EXPECT_EQ(state_.changes.size(), asked);
  ExpectListsUnchanged();
}

TEST_F(FolderOperations, CopyAndMoveKeepTheFlagsAndReplaceTheDestination) {
  EXPECT_EQ(folders_->CopyMessage(7, 3), VARIANT_TRUE);
  EXPECT_EQ(Last().operation, "CopyMoveMessages");
  EXPECT_EQ(Last().id, 2u);     // from the current folder
  EXPECT_EQ(Last().other, 3u);  // to the destination
  EXPECT_EQ(Last().ids, std::vector<MESSAGEID>{7});
  EXPECT_EQ(Last().flags, 0u);
  EXPECT_EQ(Last().flagsRemove, ~(MSG_FLAG_READ | MSG_FLAG_FLAGGED));
  EXPECT_EQ(state_.freedMessageProps, 2);  // the list load's, then the copy's
  IStoreFolder* firstDestination = context_.destinationFolder.Get();
  ASSERT_TRUE(firstDestination);

  EXPECT_EQ(folders_->MoveMessage(7, 1), VARIANT_TRUE);
  EXPECT_EQ(Last().flags, CMF_MOVE);
  EXPECT_EQ(Last().other, 1u);
  EXPECT_NE(context_.destinationFolder.Get(), firstDestination);
  EXPECT_EQ(state_.openFolders, 2);  // current and destination only

  // Flags that cannot be read: nothing is removed.
  EXPECT_EQ(folders_->CopyMessage(99, 3), VARIANT_TRUE);
  EXPECT_EQ(Last().flagsRemove, 0u);

  // A destination that does not open: absent, FALSE, nothing asked.
  const std::size_t asked = state_.changes.size();
  EXPECT_EQ(folders_->MoveMessage(7, 42), VARIANT_FALSE);
  EXPECT_FALSE(context_.destinationFolder);
  EXPECT_EQ(state_.changes.size(), asked);
  ExpectListsUnchanged();

  // Without a current folder nothing reaches the store.
  context_.currentFolder.Reset();
  const int calls = state_.storeCalls;
  EXPECT_EQ(folders_->CopyMessage(7, 3), VARIANT_FALSE);
  EXPECT_EQ(state_.storeCalls, calls);
}

TEST_F(FolderOperations, CreateMessageOpensItsFolderAndStopsAtTheFirstRefusal) {
  const int opened = state_.openFolderCalls;
  // A position past the list opens nothing.
  EXPECT_EQ(folders_->CreateMessage(3, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(folders_->CreateMessage(-1, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.openFolderCalls, opened);
  // The fake folder has no streams: the folder opens, the stream does not.
  EXPECT_EQ(folders_->CreateMessage(2, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.openFolderCalls, opened + 1);
  EXPECT_TRUE(context_.currentFolder);
  ExpectListsUnchanged();
}

TEST_F(FolderOperations, WithoutAControlEveryOperationAnswersFalseAtOnce) {
  folders_->Detach();
  const int calls = state_.storeCalls;
  EXPECT_EQ(folders_->DeleteFolder(2), VARIANT_FALSE);
  EXPECT_EQ(folders_->MoveFolder(2, 3), VARIANT_FALSE);
  EXPECT_EQ(folders_->RenameFolder("x", 2), VARIANT_FALSE);
  EXPECT_EQ(folders_->CompactAll(0), VARIANT_FALSE);
  EXPECT_EQ(folders_->CreateFolder("x", 0), VARIANT_FALSE);
  EXPECT_EQ(folders_->CopyMessage(7, 3), VARIANT_FALSE);
  EXPECT_EQ(folders_->MoveMessage(7, 3), VARIANT_FALSE);
  EXPECT_EQ(folders_->CreateMessage(0, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.storeCalls, calls);
}

}  // namespace
}  // namespace mq
