// SPDX-License-Identifier: LGPL-2.1-or-later
// CCollectionEnum, the IEnumVARIANT that every collection's _NewEnum hands
// out: it walks one collection's record list in list order and hands out each
// record as an IDispatch carrying one added reference.
//
// The enumerator keeps its collection alive (one reference) and remembers the
// generation of the list it started on. When the list is emptied (a reload,
// or the control's window going away, which empties every list) the
// generation moves on, and from then on the enumerator is at the end: it
// never reaches a list, record or position that is gone. Reset starts it
// again on whatever the list holds then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "control/record_list.h"
#include "platform/com/dispatch.h"
#include "platform/com/enum_variant.h"
#include "platform/com/unknown.h"

namespace mq {

class CCollectionEnum final : public com::Object<IEnumVARIANT> {
 public:
  // A record list seen without its record type. `list` stays valid as long
  // as the owner handed to Create lives.
  struct ListView {
    const void* list = nullptr;
    std::uint64_t (*generation)(const void* list) = nullptr;
    std::size_t (*size)(const void* list) = nullptr;
    // The member at a position below size(); null only for a damaged list.
    IDispatch* (*member)(const void* list, std::size_t position) = nullptr;
  };

  template <class Record>
  static ListView ViewOf(const RecordList<Record>& list) {
    using List = RecordList<Record>;
    return {&list, [](const void* l) { return static_cast<const List*>(l)->Generation(); },
            [](const void* l) { return static_cast<const List*>(l)->Size(); },
            [](const void* l, std::size_t position) -> IDispatch* {
              return static_cast<const List*>(l)->At(static_cast<std::int64_t>(position));
            }};
  }

  // A new enumerator at the first member of `list`, holding a reference on
  // `owner` (the collection that holds the list); null when it cannot be
  // allocated.
  static com::ComPtr<IEnumVARIANT> Create(com::ComPtr<IUnknown> owner, const ListView& list);

  // IEnumVARIANT
  HRESULT Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
  HRESULT Skip(ULONG celt) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumVARIANT** ppEnum) override;

  // Makes the next `count` allocations of an enumerator fail, so tests can
  // reach the out-of-memory answers.
  static void FailAllocationsForTesting(int count);

 private:
  CCollectionEnum(com::ComPtr<IUnknown> owner, const ListView& list);
  static CCollectionEnum* Allocate(com::ComPtr<IUnknown> owner, const ListView& list);

  // The position of the next member, or none at the end and whenever the
  // list has been emptied since the position was taken.
  std::optional<std::size_t> Position() const;
  void Advance();

  com::ComPtr<IUnknown> owner_;
  ListView list_;
  std::uint64_t generation_ = 0;
  std::optional<std::size_t> position_;
};

}  // namespace mq
