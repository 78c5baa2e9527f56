// SPDX-License-Identifier: LGPL-2.1-or-later
// IEnumVARIANT, the enumerator behind every collection's _NewEnum.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct IEnumVARIANT : IUnknown {
  static constexpr IID iid = com::Guid("{00020404-0000-0000-C000-000000000046}");
  using Base = IUnknown;
  virtual HRESULT Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumVARIANT** ppEnum) = 0;
};

constexpr IID IID_IEnumVARIANT = IEnumVARIANT::iid;
