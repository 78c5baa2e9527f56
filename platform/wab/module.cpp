// The address-book module: WABOpen, and the registration of its own path as
// the address-book library (HKEY_LOCAL_MACHINE\Software\Microsoft\WAB\DLLPath).
#include "platform/com/server.h"
#include "platform/registry/registry.h"
#include "platform/wab/book.h"
#include "platform/wab/objects.h"
#include "platform/wab/wab.h"

COM_EXPORT HRESULT WABOpen(IAddrBook** lppAdrBook, IWABObject** lppWABObject, WAB_PARAM* lpWP,
                           DWORD) {
  if (!lppAdrBook || !lppWABObject) return MAPI_E_INVALID_PARAMETER;
  *lppAdrBook = nullptr;
  *lppWABObject = nullptr;
  if (lpWP && lpWP->cbSize != WAB_PARAM_SIZE) return MAPI_E_INVALID_PARAMETER;
  std::string location = wab::ResolveBookLocation(lpWP ? lpWP->szFileName : nullptr);
  if (location.empty()) return MAPI_E_NOT_INITIALIZED;
  return wab::OpenAddressBook(location, lppAdrBook, lppWABObject);
}

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::CanUnloadNow();
}

COM_EXPORT HRESULT DllRegisterServer() {
  HRESULT hr = reg::Edit()
                   .SetString(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", com::ModulePath())
                   .Commit();
  return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
}

// Removes the path only while it still names this module, so unregistering
// an old build does not unhook a newer one.
COM_EXPORT HRESULT DllUnregisterServer() {
  std::string registered;
  if (FAILED(reg::GetString(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", &registered)) ||
      registered != com::ModulePath())
    return S_OK;
  HRESULT hr = reg::Edit()
                   .DeleteValue(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "")
                   .DeleteKeyIfEmpty(reg::Root::LocalMachine, WAB_DLL_PATH_KEY)
                   .DeleteKeyIfEmpty(reg::Root::LocalMachine, "Software\\Microsoft\\WAB")
                   .Commit();
  return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
}
