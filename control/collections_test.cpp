// SPDX-License-Identifier: LGPL-2.1-or-later
// The folder and message collections wired to a fake store as the control
// wires them: the message list load, the folder collection's store operations
// when the store fails or is gone, and the enumerators a client fetching
// several members at a time meets.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "control/collection_enum.h"
#include "control/folders.h"
#include "control/messages.h"
#include "control/testing/fake_store.h"

namespace mq {
namespace {

using testing::FakeStoreState;

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

  using Names = std::vector<std::string>;
  template <class Collection>
  static com::ComPtr<IEnumVARIANT> Enum(const com::ComPtr<Collection>& collection) {
    com::ComPtr<IEnumVARIANT> e;
    if (auto unknown = collection->NewEnum()) {
      EXPECT_EQ(unknown.As(&e), S_OK);
    }
    return e;
  }
  // The folder names the next Next(count) delivers, with its result and count.
  static Names Take(IEnumVARIANT* e, ULONG count, HRESULT* hr, ULONG* fetched) {
    std::vector<VARIANT> slots(count);
    for (VARIANT& slot : slots) slot.vt = VT_I4;  // not yet emptied
    *hr = e->Next(count, slots.data(), fetched);
    Names names;
    for (VARIANT& slot : slots) {
      names.push_back(slot.vt == VT_DISPATCH && slot.pdispVal
                          ? static_cast<CFolder*>(slot.pdispVal)->Data().name
                          : "<" + std::to_string(slot.vt) + ">");
      VariantClear(&slot);
    }
    return names;
  }

  FakeStoreState state_;
  StoreContext context_;
  com::ComPtr<CFolders> folders_ = com::MakeObject<CFolders>();
  com::ComPtr<CMessages> messages_ = com::MakeObject<CMessages>();
};

// Lookups by position and key are the end-to-end tests'; here what only a
// fake store can show.
TEST_F(Collections, MessageListLoadTakesAPositionOrElseAFolderId) {
  context_.LoadMessageList(2);
  EXPECT_EQ(messages_->Count(), 2);
  context_.LoadMessageList(3);  // B by position, although 3 is A1's id
  EXPECT_EQ(messages_->Count(), 0);
  state_.AddFolder(99, "not listed").messages.resize(1);
  context_.LoadMessageList(99);  // outside the list the index is the folder id
  EXPECT_EQ(messages_->Count(), 1);
  context_.LoadMessageList(-1);  // no folder 0xFFFFFFFF
  EXPECT_FALSE(context_.currentFolder);
  EXPECT_EQ(messages_->Count(), 0);
  EXPECT_EQ(context_.folderIndex, -1);
  context_.folders = nullptr;  // the folder collection already gone
  context_.LoadMessageList(2);
  EXPECT_EQ(context_.folderIndex, 2);
  context_.folders = folders_.Get();
}

// A store that fails makes every member answer FALSE.
TEST_F(Collections, StoreOperationsAnswerFalseWhenTheStoreFails) {
  context_.LoadMessageList(2);
  const std::function<VARIANT_BOOL()> members[] = {
      [&] { return folders_->DeleteFolder(2); },      [&] { return folders_->MoveFolder(2, 4); },
      [&] { return folders_->RenameFolder("x", 2); }, [&] { return folders_->CompactAll(0); },
      [&] { return folders_->CreateFolder("x", 0); }, [&] { return folders_->CopyMessage(7, 4); },
      [&] { return folders_->MoveMessage(7, 4); }};
  state_.changeResult = E_FAIL;
  for (const auto& member : members) EXPECT_EQ(member(), VARIANT_FALSE);
  // A name that would reach the store cut short is refused before it.
  const std::size_t asked = state_.changes.size();
  state_.changeResult = S_OK;
  EXPECT_EQ(folders_->CreateFolder(std::string("a\0b", 3), 0), VARIANT_FALSE);
  EXPECT_EQ(folders_->RenameFolder(std::string("a\0b", 3), 2), VARIANT_FALSE);
  EXPECT_EQ(state_.changes.size(), asked);
  // The fake folder has no streams: the folder opens, the stream does not.
  EXPECT_EQ(folders_->CreateMessage(3, "w", "x", "y", "z"), VARIANT_FALSE);
  ExpectListsUnchanged();

  // Without a control every member answers FALSE at once.
  folders_->Detach();
  const int calls = state_.storeCalls;
  state_.changeResult = S_OK;
  for (const auto& member : members) EXPECT_EQ(member(), VARIANT_FALSE);
  EXPECT_EQ(folders_->CreateMessage(0, "w", "x", "y", "z"), VARIANT_FALSE);
  EXPECT_EQ(state_.storeCalls, calls);
}

// Copy and move by id land in the named folder with their flags, and an
// unknown destination is refused (the end-to-end tests show it); here the
// store objects held on the way.
TEST_F(Collections, CopyAndMoveHoldOneDestinationAndStopAtAFailure) {
  context_.LoadMessageList(2);
  EXPECT_EQ(folders_->CopyMessage(7, 4), VARIANT_TRUE);
  IStoreFolder* firstDestination = context_.destinationFolder.Get();
  EXPECT_EQ(folders_->MoveMessage(7, 1), VARIANT_TRUE);
  EXPECT_NE(context_.destinationFolder.Get(), firstDestination);
  EXPECT_EQ(state_.openFolders, 2);  // current and destination only

  // Flags that cannot be read: nothing is removed.
  EXPECT_EQ(folders_->CopyMessage(99, 4), VARIANT_TRUE);
  EXPECT_EQ(state_.changes.back().flagsRemove, 0u);

  ExpectListsUnchanged();

  // Without a current folder nothing reaches the store.
  context_.currentFolder.Reset();
  const int calls = state_.storeCalls;
  EXPECT_EQ(folders_->CopyMessage(7, 4), VARIANT_FALSE);
  EXPECT_EQ(state_.storeCalls, calls);
}

TEST_F(Collections, EnumeratorsCountAsTheInterfaceSays) {
  HRESULT hr;
  ULONG n = 7;
  EXPECT_EQ(Take(Enum(messages_).Get(), 1, &hr, &n), Names{"<0>"});  // no folder read yet
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(n, 0u);

  auto e = Enum(folders_);
  EXPECT_EQ(Take(e.Get(), 3, &hr, &n), (Names{"Inbox", "A", "A1"}));
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Take(e.Get(), 2, &hr, &n), (Names{"B", "<0>"}));  // short: S_FALSE, rest emptied
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  // Without a count only one member at a time; a refused call changes nothing.
  VARIANT slots[2];
  slots[0].vt = slots[1].vt = VT_I4;
  EXPECT_EQ(e->Next(2, slots, nullptr), E_INVALIDARG);
  EXPECT_EQ(slots[0].vt, VT_I4);
  EXPECT_EQ(e->Next(1, nullptr, &n), E_POINTER);
  EXPECT_EQ(Take(e.Get(), 1, &hr, nullptr), Names{"A"});
  EXPECT_EQ(e->Skip(5), S_FALSE);
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"<0>"});

  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  com::ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(e->Clone(copy.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_NE(copy.Get(), e.Get());
  EXPECT_EQ(Take(copy.Get(), 2, &hr, &n), (Names{"A", "A1"}));
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"A"});  // each moves on its own

  CCollectionEnum::FailAllocationsForTesting(1);
  IEnumVARIANT* failed = e.Get();  // anything but null
  EXPECT_EQ(e->Clone(&failed), E_OUTOFMEMORY);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"A1"});  // unchanged by the failure
  CCollectionEnum::FailAllocationsForTesting(2);
  EXPECT_FALSE(folders_->NewEnum());
  EXPECT_FALSE(folders_->NewEnum());
  EXPECT_TRUE(folders_->NewEnum());
}

}  // namespace
}  // namespace mq
