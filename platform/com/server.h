// SPDX-License-Identifier: LGPL-2.1-or-later
// What every in-process server module needs beside its objects: a class
// factory, the answers of its entry points and its own path (registering its
// classes is platform/activation/registration.h's). A module stays small:
//
//   COM_EXPORT const com::tlb::Library* MqGetTypeLibrary() { return &Library(); }
//   COM_EXPORT HRESULT DllGetClassObject(REFCLSID c, REFIID i, void** p) {
//     return com::GetClassObject(c, i, p, {{kClsid, &com::ClassFactory<CThing>::Instance()}});
//   }
//   COM_EXPORT HRESULT DllCanUnloadNow() { return com::CanUnloadNow(); }
//   COM_EXPORT HRESULT DllRegisterServer() {
//     HRESULT hr = com::RegisterTypeLibrary(Library());
//     return FAILED(hr) ? hr : com::RegisterServerClass(kThingClass);
//   }
//   COM_EXPORT HRESULT DllUnregisterServer() { ... UnregisterTypeLibrary, UnregisterServerClass }
#pragma once

#include <initializer_list>
#include <string>

#include "platform/com/class_factory.h"
#include "platform/com/typelib.h"

namespace com {

// The factory of T (default-constructible, a com::Object): one static
// instance per module that lives as long as the module. Its references do
// not keep the module loaded; LockServer does (the module lock count).
template <class T>
class ClassFactory final : public IClassFactory {
 public:
  static ClassFactory& Instance() {
    static ClassFactory factory;
    return factory;
  }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ComPtr<T> object = MakeObject<T>();
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      LockModule();
    else
      UnlockModule();
    return S_OK;
  }
};

struct ClassEntry {
  CLSID clsid;
  IClassFactory* factory;
};
// DllGetClassObject: the factory of `clsid` among `classes`, else
// CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv,
                       std::initializer_list<ClassEntry> classes);
// DllCanUnloadNow: S_OK when no object of this module and no lock remain.
HRESULT CanUnloadNow();

// The file this module (or program) was loaded from.
std::string ModulePath();

}  // namespace com
