// The module's entry points: its two class factories, self-registration, and
// what tools read from it (type library, version information, bitmap).
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <string>

#include "control/guids.h"
#include "control/mailquarry_ctrl.h"
#include "control/prop_page.h"
#include "control/registration.h"
#include "control/resources.h"
#include "control/typelib.h"
#include "platform/com/class_factory.h"

namespace mq {
namespace {

// The module object: it does nothing at load or unload beyond existing.
class CMailquarryApp {
 public:
  CMailquarryApp() = default;
};

// A factory that lives as long as the module. Every reference handed out
// counts toward the module's lock count, like every lock, so the module is
// never unloaded under a client that still holds its factory.
template <class T>
class StaticFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override {
    com::LockModule();
    return ++refs_ + 1;
  }
  ULONG Release() override {
    com::UnlockModule();
    return --refs_ + 1;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto object = com::MakeObject<T>();
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      com::LockModule();
    else
      com::UnlockModule();
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

// Built in this order at load, destroyed in reverse at unload.
[[maybe_unused]] CMailquarryApp theApp;
StaticFactory<CMailquarryCtrl> controlFactory;
StaticFactory<CMailquarryPropPage> propPageFactory;

std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

}  // namespace
}  // namespace mq

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid == mq::CLSID_Mailquarry) return mq::controlFactory.QueryInterface(riid, ppv);
  if (clsid == mq::CLSID_MailquarryPropPage) return mq::propPageFactory.QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

COM_EXPORT HRESULT DllRegisterServer() {
  const std::string path = mq::ModulePath();
  if (path.empty()) return SELFREG_E_TYPELIB;
  return mq::RegisterServer(path);
}

COM_EXPORT HRESULT DllUnregisterServer() {
  return mq::UnregisterServer();
}

COM_EXPORT const com::tlb::Library* MqGetTypeLibrary() {
  return &mq::MailquarryLibrary();
}

// Key/value pairs ending in a null key (FileVersion "1.0.0.1", ...).
COM_EXPORT const char* const* MqGetVersionInfo() {
  return mq::VersionInfo();
}

// Bitmap resource `id` (1: the toolbox bitmap, a BMP file); E_INVALIDARG for
// any other id.
COM_EXPORT HRESULT MqGetBitmapResource(int id, const unsigned char** data, size_t* size) {
  if (!data || !size) return E_POINTER;
  *data = nullptr;
  *size = 0;
  if (id != 1) return E_INVALIDARG;
  const mq::Resource bitmap = mq::ToolboxBitmap();
  *data = bitmap.data;
  *size = bitmap.size;
  return S_OK;
}
