// SPDX-License-Identifier: LGPL-2.1-or-later
// Class-id activation through the registry: CLSID\{...}\InprocServer32 names
// the module, which is loaded with dlopen and asked for its class factory.
#pragma once

#include <string>

#include "platform/com/class_factory.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

// REGDB_E_CLASSNOTREG for a class with no InprocServer32 entry;
// CLASS_E_CLASSNOTAVAILABLE when its module does not serve it;
// CO_E_DLLNOTFOUND when the module cannot be loaded.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
// Unloads every module loaded by activation whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// ProgID\CLSID; CO_E_CLASSSTRING when the ProgID is unknown. Also accepts a
// braced class id.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* pclsid);
// CLSID\{...}\ProgID, in task memory (CoTaskMemFree); REGDB_E_CLASSNOTREG when absent.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

namespace com {
// The same lookups in UTF-8.
HRESULT ClsidFromProgId(std::string_view progIdOrClsid, CLSID* out);

template <class I>
HRESULT CreateInstance(REFCLSID clsid, ComPtr<I>* out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, I::iid,
                          out->ReleaseAndGetVoidAddress());
}
}  // namespace com
