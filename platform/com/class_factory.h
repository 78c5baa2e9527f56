// SPDX-License-Identifier: LGPL-2.1-or-later
// IClassFactory and the signatures of a module's four entry points.
#pragma once

#include "platform/com/unknown.h"

struct IClassFactory : IUnknown {
  static constexpr IID iid = com::Guid("{00000001-0000-0000-C000-000000000046}");
  using Base = IUnknown;
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};

constexpr IID IID_IClassFactory = IClassFactory::iid;

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
