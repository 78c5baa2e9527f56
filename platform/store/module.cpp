// SPDX-License-Identifier: LGPL-2.1-or-later
// MailStore.so: the in-process server of the store namespace class.
#include "platform/activation/registration.h"
#include "platform/com/server.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"

namespace {

// The namespace object is built by the engine library; the factory only hands
// requests to it.
class NamespaceFactory final : public IClassFactory {
 public:
  static NamespaceFactory& Instance() {
    static NamespaceFactory factory;
    return factory;
  }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }  // static: lives as long as the module
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return store::CreateStoreNamespace(riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      com::LockModule();
    else
      com::UnlockModule();
    return S_OK;
  }
};

com::ServerClass NamespaceClass() {
  com::ServerClass c;
  c.clsid = CLSID_StoreNamespace;
  c.userTypeName = "Mail store namespace";
  c.threadingModel = "Apartment";
  return c;
}

}  // namespace

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return com::GetClassObject(clsid, riid, ppv,
                             {{CLSID_StoreNamespace, &NamespaceFactory::Instance()}});
}

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::CanUnloadNow();
}

COM_EXPORT HRESULT DllRegisterServer() {
  return com::RegisterServerClass(NamespaceClass());
}

COM_EXPORT HRESULT DllUnregisterServer() {
  return com::UnregisterServerClass(NamespaceClass());
}
