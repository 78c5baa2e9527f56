#include "control/collection_enum.h"

#include <gtest/gtest.h>

#include <vector>

#include "control/folders.h"
#include "control/records.h"

namespace mq {
namespace {

// A collection stand-in: any object that holds a list of folder records.
class EnumTest : public ::testing::Test {
 protected:
  void Fill(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      FolderData data;
      data.name = name;
      list_.Append(com::MakeObject<CFolder>(std::move(data)));
    }
  }
  com::ComPtr<IEnumVARIANT> Make() {
    return CCollectionEnum::Create(com::ComPtr<IUnknown>(owner_->Identity()),
                                   CCollectionEnum::ViewOf(list_));
  }
  static std::string Name(const VARIANT& v) {
    if (v.vt != VT_DISPATCH || !v.pdispVal) return "<" + std::to_string(v.vt) + ">";
    return static_cast<CFolder*>(v.pdispVal)->Data().name;
  }
  // The names the next Next(count) delivers, with its result and count.
  std::vector<std::string> Take(IEnumVARIANT* e, ULONG count, HRESULT* hr, ULONG* fetched) {
    std::vector<VARIANT> slots(count);
    for (VARIANT& slot : slots) slot.vt = VT_I4;  // not yet emptied
    *hr = e->Next(count, slots.data(), fetched);
    std::vector<std::string> names;
    for (VARIANT& slot : slots) {
      names.push_back(Name(slot));
      VariantClear(&slot);
    }
    return names;
  }

  com::ComPtr<CFolders> owner_ = com::MakeObject<CFolders>();
  RecordList<CFolder> list_;
  using Names = std::vector<std::string>;
};

TEST_F(EnumTest, NextSkipResetAndCloneCountAsTheInterfaceSays) {
  HRESULT hr;
  ULONG n = 7;
  auto empty = Make();
  EXPECT_EQ(Take(empty.Get(), 1, &hr, &n), Names{"<0>"});
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(n, 0u);

  Fill({"a", "b", "c"});
  auto e = Make();
  EXPECT_EQ(Take(e.Get(), 2, &hr, &n), (Names{"a", "b"}));
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(Take(e.Get(), 2, &hr, &n), (Names{"c", "<0>"}));  // short: S_FALSE, rest emptied
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
  EXPECT_EQ(Take(e.Get(), 1, &hr, nullptr), Names{"b"});
  EXPECT_EQ(e->Skip(5), S_FALSE);
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"<0>"});

  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  com::ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(e->Clone(copy.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_NE(copy.Get(), e.Get());
  EXPECT_EQ(Take(copy.Get(), 2, &hr, &n), (Names{"b", "c"}));
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"b"});  // each moves on its own

  CCollectionEnum::FailAllocationsForTesting(1);
  IEnumVARIANT* failed = e.Get();  // anything but null
  EXPECT_EQ(e->Clone(&failed), E_OUTOFMEMORY);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"c"});  // unchanged by the failure
  CCollectionEnum::FailAllocationsForTesting(2);
  EXPECT_FALSE(Make());
  EXPECT_FALSE(owner_->NewEnum());
  EXPECT_TRUE(owner_->NewEnum());
}

}  // namespace
}  // namespace mq
