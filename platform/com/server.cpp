// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/server.h"

#include <dlfcn.h>

#include <cstdlib>

namespace com {

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv,
                       std::initializer_list<ClassEntry> classes) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const ClassEntry& c : classes)
    if (c.clsid == clsid) return c.factory->QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() {
  return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

std::string ModulePath() {
  // This function's own address lies in the module that linked this copy.
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return {};
  std::string path = info.dli_fname;
  if (char* real = realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  return path;
}

}  // namespace com
