// SPDX-License-Identifier: LGPL-2.1-or-later
// The address-book module: WABOpen, and the registration of its own path as
// the address-book library (HKEY_LOCAL_MACHINE\Software\Microsoft\WAB\DLLPath).
#include "platform/com/server.h"
#include "platform/registry/registry.h"
#include "platform/wab/book.h"
#include "platform/wab/found_books.h"
#include "platform/wab/objects.h"
#include "platform/wab/wab.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

namespace {

// The vCard library warns on stderr about every odd escape it meets; the
// address book reports nothing, so its messages are dropped while this module
// is loaded.
class QuietVCardLibrary {
 public:
  QuietVCardLibrary()
      : handler_(g_log_set_handler(
            "libebook-contacts", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK & ~G_LOG_LEVEL_ERROR),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr)) {}
  ~QuietVCardLibrary() { g_log_remove_handler("libebook-contacts", handler_); }

 private:
  guint handler_;
};
QuietVCardLibrary quiet;

}  // namespace

COM_EXPORT HRESULT WABOpen(IAddrBook** lppAdrBook, IWABObject** lppWABObject, WAB_PARAM* lpWP,
                           DWORD) {
  if (!lppAdrBook || !lppWABObject) return MAPI_E_INVALID_PARAMETER;
  *lppAdrBook = nullptr;
  *lppWABObject = nullptr;
  if (lpWP && lpWP->cbSize != WAB_PARAM_SIZE) return MAPI_E_INVALID_PARAMETER;
  const char* fileName = lpWP ? lpWP->szFileName : nullptr;
  std::string location = wab::ResolveBookLocation(fileName);
  if (location.empty()) return MAPI_E_NOT_INITIALIZED;
  // Other programs' books join ours only when nobody named one book.
  std::vector<wab::FoundBook> found;
  if (wab::FindsOtherBooks(fileName))
    found = wab::FindOtherBooks(wab::UserDirectoriesFromEnvironment());
  return wab::OpenAddressBook(location, found, lppAdrBook, lppWABObject);
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
