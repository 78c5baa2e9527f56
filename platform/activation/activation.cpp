// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/activation/activation.h"

#include <dlfcn.h>

#include <mutex>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/memory.h"
#include "platform/registry/registry.h"

namespace {

// The modules activation has loaded in this process: each once, holding one
// dlopen reference until CoFreeUnusedLibraries finds it unused.
struct LoadedModule {
  std::string path;
  void* handle;
  DllGetClassObjectFn getClassObject;
  DllCanUnloadNowFn canUnloadNow;
};

std::mutex& ModulesLock() {
  static std::mutex lock;
  return lock;
}
std::vector<LoadedModule>& Modules() {
  static std::vector<LoadedModule> modules;
  return modules;
}

HRESULT LoadModule(const std::string& path, DllGetClassObjectFn* out) {
  std::lock_guard<std::mutex> guard(ModulesLock());
  for (const LoadedModule& m : Modules())
    if (m.path == path) {
      *out = m.getClassObject;
      return S_OK;
    }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return CO_E_DLLNOTFOUND;
  for (const LoadedModule& m : Modules())
    if (m.handle == handle) {  // the same file under another name
      dlclose(handle);
      *out = m.getClassObject;
      return S_OK;
    }
  auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
  auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
  if (!get) {
    dlclose(handle);
    return CO_E_DLLNOTFOUND;
  }
  Modules().push_back({path, handle, get, canUnload});
  *out = get;
  return S_OK;
}

std::string ClsidKey(REFCLSID clsid) {
  return "CLSID\\" + com::GuidToString(clsid);
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::string path;
  HRESULT hr =
      reg::GetFilePath(reg::Root::ClassesRoot, ClsidKey(rclsid) + "\\InprocServer32", "", &path);
  if (hr == REGDB_E_READREGDB) return hr;
  if (FAILED(hr) || path.empty()) return REGDB_E_CLASSNOTREG;
  DllGetClassObjectFn get = nullptr;
  hr = LoadModule(path, &get);
  if (FAILED(hr)) return hr;
  return get(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  com::ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                factory.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> guard(ModulesLock());
  auto& modules = Modules();
  for (auto it = modules.begin(); it != modules.end();) {
    if (it->canUnloadNow && it->canUnloadNow() == S_OK) {
      dlclose(it->handle);
      it = modules.erase(it);
    } else {
      ++it;
    }
  }
}

namespace com {
HRESULT ClsidFromProgId(std::string_view progIdOrClsid, CLSID* out) {
  if (!out) return E_INVALIDARG;
  if (!progIdOrClsid.empty() && progIdOrClsid.front() == '{') {
    auto parsed = ParseGuid(progIdOrClsid);
    if (!parsed) return CO_E_CLASSSTRING;
    *out = *parsed;
    return S_OK;
  }
  if (progIdOrClsid.empty() || progIdOrClsid.find('\\') != std::string_view::npos)
    return CO_E_CLASSSTRING;
  std::string text;
  HRESULT hr =
      reg::GetString(reg::Root::ClassesRoot, std::string(progIdOrClsid) + "\\CLSID", "", &text);
  if (hr == REGDB_E_READREGDB) return hr;
  if (FAILED(hr)) return CO_E_CLASSSTRING;
  auto parsed = ParseGuid(text);
  if (!parsed) return CO_E_CLASSSTRING;
  *out = *parsed;
  return S_OK;
}
}  // namespace com

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* pclsid) {
  if (!lpszProgID || !pclsid) return E_INVALIDARG;
  return com::ClsidFromProgId(com::Utf16ToUtf8(lpszProgID), pclsid);
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (!lplpszProgID) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  std::string text;
  HRESULT hr = reg::GetString(reg::Root::ClassesRoot, ClsidKey(clsid) + "\\ProgID", "", &text);
  if (hr == REGDB_E_READREGDB) return hr;
  if (FAILED(hr)) return REGDB_E_CLASSNOTREG;
  std::u16string wide = com::Utf8ToUtf16(text);
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!copy) return E_OUTOFMEMORY;
  std::copy(wide.begin(), wide.end(), copy);
  copy[wide.size()] = 0;
  *lplpszProgID = copy;
  return S_OK;
}
