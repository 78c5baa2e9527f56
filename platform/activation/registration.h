// SPDX-License-Identifier: LGPL-2.1-or-later
// Self-registration of a module's classes and type libraries into the
// registry, and loading a library by its registered LIBID. A module's
// DllRegisterServer stays small:
//
//   COM_EXPORT HRESULT DllRegisterServer() {
//     HRESULT hr = com::RegisterTypeLibrary(Library());
//     return FAILED(hr) ? hr : com::RegisterServerClass(kThingClass);
//   }
//   COM_EXPORT HRESULT DllUnregisterServer() { ... UnregisterTypeLibrary, UnregisterServerClass }
#pragma once

#include <string>
#include <vector>

#include "platform/com/typeinfo.h"
#include "platform/com/typelib.h"

namespace com {

// What the registry holds for one class. Unregistering removes exactly what
// registering wrote (and the ProgID only when it still names this class).
struct ServerClass {
  CLSID clsid;
  std::string userTypeName;  // CLSID\{..} default value
  std::string progId = {};   // CLSID\{..}\ProgID, <ProgID>, <ProgID>\CLSID
  std::string threadingModel = "Apartment";
  std::string modulePath = {};  // InprocServer32 default; empty: ModulePath()
  // A control: Control, ToolboxBitmap32 ("<module>, <id>"), MiscStatus (default
  // "0", subkey 1 = the status in decimal), TypeLib, Version.
  bool control = false;
  int toolboxBitmapId = 1;
  DWORD miscStatus = 0;
  GUID typeLib = GUID_NULL;  // written when not null
  std::string version = {};  // written when not empty ("1.0")
  std::vector<GUID> implementedCategories = {};
};
// S_OK, or SELFREG_E_CLASS when the registry cannot be written.
HRESULT RegisterServerClass(const ServerClass& c);
HRESULT UnregisterServerClass(const ServerClass& c);

// Registers a library of this module with the module as its file
// (RegisterTypeLib); SELFREG_E_TYPELIB on failure.
HRESULT RegisterTypeLibrary(const tlb::Library& library, const char* helpDir = nullptr);
// Unregisters the version, whatever locale it was registered for (lcid is
// tried first); SELFREG_E_TYPELIB when it is not registered or the registry
// cannot be written.
HRESULT UnregisterTypeLibrary(const GUID& libid, WORD major, WORD minor, LCID lcid = 0);

// The registered module path of a library version ("" when not registered).
std::string RegisteredTypeLibPath(const GUID& libid, WORD major, WORD minor, LCID lcid);

}  // namespace com

// Writes TypeLib\{LIBID}\<major>.<minor> (default: the help string, else the
// name; <lcid hex>\linux = szFullPath; FLAGS; HELPDIR) and Interface\{IID}
// (default: name; ProxyStubClsid, ProxyStubClsid32 = PSDispatch; TypeLib =
// LIBID with Version) of each dispinterface, in HKEY_CLASSES_ROOT, in one
// atomic change. TYPE_E_REGISTRYACCESS when the registry cannot be written.
HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
// Removes what RegisterTypeLib wrote for that version and locale: the
// locale's entry, the version key once no locale is left in it, the LIBID key
// once no version is left, and the Interface keys that name the library and
// version. TYPE_E_LIBNOTREGISTERED when that locale is not registered.
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                          SYSKIND syskind);
// Loads a registered library: the locale asked for, else its primary
// language, else the neutral locale, else any registered locale of that
// version. TYPE_E_LIBNOTREGISTERED when the version is not registered.
HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
