// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/collection_enum.h"

#include <atomic>
#include <new>
#include <utility>

namespace mq {
namespace {
std::atomic<int> failAllocations{0};
}  // namespace

void CCollectionEnum::FailAllocationsForTesting(int count) {
  failAllocations = count;
}

CCollectionEnum::CCollectionEnum(com::ComPtr<IUnknown> owner, const ListView& list)
    : owner_(std::move(owner)), list_(list), generation_(list.generation(list.list)) {}

CCollectionEnum* CCollectionEnum::Allocate(com::ComPtr<IUnknown> owner, const ListView& list) {
  for (int left = failAllocations.load(); left > 0;)
    if (failAllocations.compare_exchange_weak(left, left - 1)) return nullptr;
  auto* made = new (std::nothrow) CCollectionEnum(std::move(owner), list);
  if (made) made->AddRef();
  return made;
}

com::ComPtr<IEnumVARIANT> CCollectionEnum::Create(com::ComPtr<IUnknown> owner,
                                                  const ListView& list) {
  CCollectionEnum* made = Allocate(std::move(owner), list);
  if (!made) return nullptr;
  made->Reset();
  return com::ComPtr<IEnumVARIANT>::Attach(made);
}

std::optional<std::size_t> CCollectionEnum::Position() const {
  if (!position_ || list_.generation(list_.list) != generation_) return std::nullopt;
  if (*position_ >= list_.size(list_.list)) return std::nullopt;
  return position_;
}

void CCollectionEnum::Advance() {
  std::optional<std::size_t> at = Position();
  position_.reset();
  if (at && *at + 1 < list_.size(list_.list)) position_ = *at + 1;
}

HRESULT CCollectionEnum::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
  if (pCeltFetched)
    *pCeltFetched = 0;
  else if (celt > 1)
    return E_INVALIDARG;
  if (celt > 0 && !rgVar) return E_POINTER;
  for (ULONG i = 0; i < celt; ++i) VariantInit(&rgVar[i]);

  ULONG fetched = 0;
  while (std::optional<std::size_t> at = Position()) {
    if (fetched == celt) return S_OK;
    IDispatch* member = list_.member(list_.list, *at);
    Advance();
    if (!member) return E_UNEXPECTED;
    member->AddRef();
    rgVar[fetched].vt = VT_DISPATCH;
    rgVar[fetched].pdispVal = member;
    ++fetched;
    if (pCeltFetched) ++*pCeltFetched;
  }
  return fetched < celt ? S_FALSE : S_OK;
}

HRESULT CCollectionEnum::Skip(ULONG celt) {
  ULONG skipped = 0;
  for (; skipped < celt && Position(); ++skipped) Advance();
  return skipped == celt ? S_OK : S_FALSE;
}

HRESULT CCollectionEnum::Reset() {
  generation_ = list_.generation(list_.list);
  position_.reset();
  if (list_.size(list_.list) > 0) position_ = 0;
  return S_OK;
}

HRESULT CCollectionEnum::Clone(IEnumVARIANT** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  CCollectionEnum* copy = Allocate(owner_, list_);
  if (!copy) return E_OUTOFMEMORY;
  copy->generation_ = generation_;
  copy->position_ = position_;
  *ppEnum = copy;
  return S_OK;
}

}  // namespace mq
