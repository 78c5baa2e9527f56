// SPDX-License-Identifier: LGPL-2.1-or-later
// The folder and message collections wired to the store as the control wires
// them: the message list load by position or folder id, and the enumerators a
// client fetching several members at a time meets. The store operations are
// the end-to-end tests'.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "control/collection_enum.h"
#include "control/folders.h"
#include "control/messages.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/store_test_util.h"

namespace mq {
namespace {

using store::testing::MaildirFixture;

// Inbox, A (with A1) and B; two messages in A1.
class Collections : public ::testing::Test {
 protected:
  void SetUp() override {
    maildir_.UseAsMailDir();
    maildir_.AddFolder({"B"});
    for (const char* subject : {"one", "two"})
      maildir_.AddMessage({"A", "A1"}, MaildirFixture::Message("a@x.org", "b@x.org", subject));
    context_.store = store::OpenStore();
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

  MaildirFixture maildir_;
  StoreContext context_;
  com::ComPtr<CFolders> folders_ = com::MakeObject<CFolders>();
  com::ComPtr<CMessages> messages_ = com::MakeObject<CMessages>();
};

// Lookups by position and key are the end-to-end tests'; here a folder the
// list does not hold yet, and the folder collection gone.
TEST_F(Collections, MessageListLoadTakesAPositionOrElseAFolderId) {
  context_.LoadMessageList(2);
  EXPECT_EQ(messages_->Count(), 2);
  maildir_.AddMessage({"C"}, MaildirFixture::Message("a@x.org", "b@x.org", "late"));
  const STOREFOLDERID late = store::IdOf(context_.store.Get(), "C");
  ASSERT_GT(late, 4u);
  context_.LoadMessageList(static_cast<SHORT>(late));  // outside the list: a folder id
  EXPECT_EQ(messages_->Count(), 1);
  context_.LoadMessageList(3);  // B by position, whatever folder has the id 3
  EXPECT_EQ(messages_->Count(), 0);
  context_.LoadMessageList(-1);  // no folder 0xFFFFFFFF
  EXPECT_FALSE(context_.currentFolder);
  EXPECT_EQ(messages_->Count(), 0);
  EXPECT_EQ(context_.folderIndex, -1);
  context_.folders = nullptr;  // the folder collection already gone
  context_.LoadMessageList(2);
  EXPECT_EQ(context_.folderIndex, 2);
  context_.folders = folders_.Get();
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
