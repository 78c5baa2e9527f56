#include <gtest/gtest.h>

#include "control/testing/wired_collections.h"

namespace mq {
namespace {

using testing::FakeStoreState;
using testing::MakeFakeStore;

com::Variant Text(const char* text) {
  return com::Variant::Str(text);
}

std::string NameOf(const com::ComPtr<IDispatch>& item) {
  return item ? static_cast<CFolder*>(item.Get())->Data().name : "<none>";
}

// A store with Inbox, A (with A1) and B, and two messages in A1; the
// collections wired to it as the control wires them.
class Collections : public testing::WiredCollections {
 protected:
  void SetUp() override {
    state_.AddFolder(1, "Inbox");
    state_.AddFolder(2, "A");
    state_.AddFolder(3, "A1", 2);
    state_.AddFolder(4, "B");
    testing::FakeMessage first, second;
    first.id = 7;
    first.subject = "one";
    second.id = 9;
    second.subject = "two";
    state_.folders[3].messages = {first, second};
    Wire();
  }
};

TEST_F(Collections, FoldersAnswerByPositionFromZeroAndItemFromOne) {
  EXPECT_EQ(folders_->Count(), 4);
  EXPECT_EQ(folders_->FindFolderName(0), "Inbox");
  EXPECT_EQ(folders_->FindFolderName(2), "A1");
  EXPECT_EQ(folders_->FindFolderName(4), "");
  EXPECT_EQ(folders_->FindFolderName(-1), "");
  EXPECT_EQ(folders_->FindFolderID(2), 3);
  EXPECT_EQ(folders_->FindFolderID(99), 0);

  EXPECT_EQ(NameOf(folders_->Item(com::Variant::I4(1))), "Inbox");
  EXPECT_EQ(NameOf(folders_->Item(com::Variant::I2(4))), "B");
  EXPECT_EQ(NameOf(folders_->Item(com::Variant::I4(0))), "<none>");
  EXPECT_EQ(NameOf(folders_->Item(com::Variant::I4(5))), "<none>");
  EXPECT_EQ(NameOf(folders_->Item(Text("A1"))), "A1");
  EXPECT_EQ(NameOf(folders_->Item(Text("a1"))), "<none>");  // names match exactly
  EXPECT_EQ(NameOf(folders_->Item(Text("2"))), "<none>");   // a string is a name
  com::Variant real;
  real.vt = VT_R8;
  real.dblVal = 3.0;
  EXPECT_EQ(NameOf(folders_->Item(real)), "A1");
  com::Variant bad = com::Variant::Unknown(nullptr);
  EXPECT_EQ(NameOf(folders_->Item(bad)), "<none>");
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
  state_.AddFolder(99, "by id");
  state_.folders[99].messages = {testing::FakeMessage{}};
  folders_->Attach(&context_);
  context_.LoadMessageList(99);
  EXPECT_EQ(messages_->Count(), 1);
  EXPECT_EQ(state_.openHandles, 0);
}

}  // namespace
}  // namespace mq
