// The folder and message collections wired to a fake store as the control
// wires them: lookups by position and key, the message list load, and the
// folder collection's store operations (what each asks of the store, how it
// reads the answer, and that no list changes).
#include <gtest/gtest.h>

#include <functional>

#include "control/folders.h"
#include "control/messages.h"
#include "control/testing/fake_store.h"

namespace mq {
namespace {

using testing::FakeStoreState;

com::Variant Text(const char* text) {
  return com::Variant::Str(text);
}

std::string NameOf(const com::ComPtr<IDispatch>& item) {
  return item ? static_cast<CFolder*>(item.Get())->Data().name : "<none>";
}

// Inbox, A (with A1) and B; messages 7 (read and flagged) and 9 in A1.
class Collections : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.AddFolder(1, "Inbox");
    state_.AddFolder(2, "A");
    state_.AddFolder(3, "A1", 2);
    state_.AddFolder(4, "B");
    state_.folders[3].messages = {testing::Message(7, "one", MSG_FLAG_READ | MSG_FLAG_FLAGGED),
                                  testing::Message(9, "two")};
    context_.store = MakeFakeStore(state_);
    context_.folders = folders_.Get();
    context_.messages = messages_.Get();
    folders_->Attach(&context_);
    messages_->Attach(&context_);
    folders_->LoadFolderList(FOLDERID_ROOT);
  }
  void TearDown() override {
    folders_->Detach();
    messages_->Detach();
    context_ = {};
    EXPECT_EQ(state_.openFolders, 0);
  }
  // The lists are as selecting A1 left them.
  void ExpectListsUnchanged() {
    EXPECT_EQ(folders_->Count(), 4);
    EXPECT_EQ(folders_->List().Generation(), 0u);
    EXPECT_EQ(messages_->Count(), 2);
    EXPECT_EQ(messages_->List().Generation(), 1u);
    EXPECT_EQ(context_.folderIndex, 2);
  }
  const FakeStoreState::Change& Last() { return state_.changes.back(); }

  FakeStoreState state_;
  StoreContext context_;
  com::ComPtr<CFolders> folders_ = com::MakeObject<CFolders>();
  com::ComPtr<CMessages> messages_ = com::MakeObject<CMessages>();
};

TEST_F(Collections, FoldersAnswerByPositionFromZeroAndItemFromOne) {
  EXPECT_EQ(folders_->Count(), 4);
  EXPECT_EQ(folders_->FindFolderName(0), "Inbox");
  EXPECT_EQ(folders_->FindFolderName(2), "A1");
  EXPECT_EQ(folders_->FindFolderName(4), "");
  EXPECT_EQ(folders_->FindFolderName(-1), "");
  EXPECT_EQ(folders_->FindFolderID(2), 3);
  EXPECT_EQ(folders_->FindFolderID(99), 0);

  com::Variant real;
  real.vt = VT_R8;
  real.dblVal = 3.0;
  const std::pair<com::Variant, const char*> items[] = {
      {com::Variant::I4(1), "Inbox"},
      {com::Variant::I2(4), "B"},
      {com::Variant::I4(0), "<none>"},
      {com::Variant::I4(5), "<none>"},
      {Text("A1"), "A1"},
      {real, "A1"},
      {Text("a1"), "<none>"},  // names match exactly
      {Text("2"), "<none>"},   // a string is a name
      {com::Variant::Unknown(nullptr), "<none>"}};
  for (const auto& [key, name] : items) EXPECT_EQ(NameOf(folders_->Item(key)), name);
}

TEST_F(Collections, MessageListLoadFollowsTheFolderIndex) {
  context_.LoadMessageList(2);
  EXPECT_EQ(context_.folderIndex, 2);
  ASSERT_EQ(messages_->Count(), 2);
  EXPECT_EQ(messages_->RecordAt(1)->Data().id, 9u);
  com::ComPtr<IDispatch> byName = messages_->Item(Text("two"));
  ASSERT_TRUE(byName);
  EXPECT_EQ(static_cast<CMessage*>(byName.Get())->Data().id, 9u);
  EXPECT_FALSE(messages_->Item(com::Variant::I4(0)));

  // Outside the folder list the index itself is the folder id: 3 is A1's.
  context_.LoadMessageList(3);
  EXPECT_EQ(messages_->Count(), 0);  // position 3 is B, which has none
  context_.folders = nullptr;
  context_.LoadMessageList(-1);
  EXPECT_EQ(context_.folderIndex, -1);
  context_.folders = folders_.Get();
  context_.LoadMessageList(-1);
  EXPECT_FALSE(context_.currentFolder);  // no folder 0xFFFFFFFF
  EXPECT_EQ(messages_->Count(), 0);
  EXPECT_EQ(context_.folderIndex, -1);
  folders_->Detach();
  state_.folders.clear();
  state_.order.clear();
  state_.AddFolder(99, "by id").messages.resize(1);
  folders_->Attach(&context_);
  context_.LoadMessageList(99);
  EXPECT_EQ(messages_->Count(), 1);
  EXPECT_EQ(state_.openHandles, 0);
}

// Each member's answer for a store answering S_FALSE and E_FAIL: some take
// any non-negative result as success, others only S_OK.
TEST_F(Collections, StoreOperationsSucceedOnNotNegativeOrExactlyZeroByMember) {
  context_.LoadMessageList(2);
  const std::pair<std::function<VARIANT_BOOL()>, bool> members[] = {
      {[&] { return folders_->DeleteFolder(2); }, true},
      {[&] { return folders_->MoveFolder(2, 4); }, true},
      {[&] { return folders_->RenameFolder("x", 2); }, true},
      {[&] { return folders_->CompactAll(0); }, true},
      {[&] { return folders_->CreateFolder("x", 0); }, false},
      {[&] { return folders_->CopyMessage(7, 4); }, false},
      {[&] { return folders_->MoveMessage(7, 4); }, false}};
  for (const auto& [member, sFalseSucceeds] : members) {
    state_.changeResult = S_FALSE;
    EXPECT_EQ(member(), sFalseSucceeds ? VARIANT_TRUE : VARIANT_FALSE);
    state_.changeResult = E_FAIL;
    EXPECT_EQ(member(), VARIANT_FALSE);
  }
  // A name that would reach the store cut short is refused before it.
  const std::size_t asked = state_.changes.size();
  state_.changeResult = S_OK;
  EXPECT_EQ(folders_->CreateFolder(std::string("a\0b", 3), 0), VARIANT_FALSE);
  EXPECT_EQ(folders_->RenameFolder(std::string("a\0b", 3), 2), VARIANT_FALSE);
  EXPECT_EQ(state_.changes.size(), asked);
  ExpectListsUnchanged();

  // Without a control every member answers FALSE at once.
  folders_->Detach();
  const int calls = state_.storeCalls;
  state_.changeResult = S_OK;
  for (const auto& [member, sFalseSucceeds] : members) EXPECT_EQ(member(), VARIANT_FALSE);
  EXPECT_EQ(folders_->CreateMessage(0, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.storeCalls, calls);
}

TEST_F(Collections, CopyAndMoveKeepTheFlagsAndReplaceTheDestination) {
  context_.LoadMessageList(2);
  EXPECT_EQ(folders_->CopyMessage(7, 4), VARIANT_TRUE);
  EXPECT_EQ(Last().operation, "CopyMoveMessages");
  EXPECT_EQ(Last().id, 3u);     // from the current folder
  EXPECT_EQ(Last().other, 4u);  // to the destination
  EXPECT_EQ(Last().ids, std::vector<MESSAGEID>{7});
  EXPECT_EQ(Last().flags, 0u);
  EXPECT_EQ(Last().flagsRemove, ~(MSG_FLAG_READ | MSG_FLAG_FLAGGED));
  EXPECT_EQ(state_.freedMessageProps, 3);  // the list load's, then the copy's
  IStoreFolder* firstDestination = context_.destinationFolder.Get();
  ASSERT_TRUE(firstDestination);

  EXPECT_EQ(folders_->MoveMessage(7, 1), VARIANT_TRUE);
  EXPECT_EQ(Last().flags, CMF_MOVE);
  EXPECT_EQ(Last().other, 1u);
  EXPECT_NE(context_.destinationFolder.Get(), firstDestination);
  EXPECT_EQ(state_.openFolders, 2);  // current and destination only

  // Flags that cannot be read: nothing is removed.
  EXPECT_EQ(folders_->CopyMessage(99, 4), VARIANT_TRUE);
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
  EXPECT_EQ(folders_->CopyMessage(7, 4), VARIANT_FALSE);
  EXPECT_EQ(state_.storeCalls, calls);
}

TEST_F(Collections, CreateMessageOpensItsFolderAndStopsAtTheFirstRefusal) {
  context_.LoadMessageList(2);
  const int opened = state_.openFolderCalls;
  // A position past the list opens nothing.
  EXPECT_EQ(folders_->CreateMessage(4, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(folders_->CreateMessage(-1, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.openFolderCalls, opened);
  // The fake folder has no streams: the folder opens, the stream does not.
  EXPECT_EQ(folders_->CreateMessage(3, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.openFolderCalls, opened + 1);
  EXPECT_TRUE(context_.currentFolder);
  ExpectListsUnchanged();
}

}  // namespace
}  // namespace mq
