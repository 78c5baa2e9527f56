#include "platform/com/server.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "platform/com/typeinfo.h"
#include "platform/registry/registry.h"

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

namespace {
std::string ClsidKey(const CLSID& clsid) {
  return "CLSID\\" + GuidToString(clsid);
}
}  // namespace

HRESULT RegisterServerClass(const ServerClass& c) {
  using reg::Root;
  const std::string key = ClsidKey(c.clsid);
  const std::string path = c.modulePath.empty() ? ModulePath() : c.modulePath;
  if (path.empty()) return SELFREG_E_CLASS;
  reg::Edit edit;
  edit.SetString(Root::ClassesRoot, key, "", c.userTypeName);
  edit.SetString(Root::ClassesRoot, key + "\\InprocServer32", "", path);
  if (!c.threadingModel.empty())
    edit.SetString(Root::ClassesRoot, key + "\\InprocServer32", "ThreadingModel", c.threadingModel);
  if (!c.progId.empty()) {
    edit.SetString(Root::ClassesRoot, key + "\\ProgID", "", c.progId);
    edit.SetString(Root::ClassesRoot, c.progId, "", c.userTypeName);
    edit.SetString(Root::ClassesRoot, c.progId + "\\CLSID", "", GuidToString(c.clsid));
  }
  if (c.control) {
    edit.CreateKey(Root::ClassesRoot, key + "\\Control");
    edit.SetString(Root::ClassesRoot, key + "\\ToolboxBitmap32", "",
                   path + ", " + std::to_string(c.toolboxBitmapId));
    edit.SetString(Root::ClassesRoot, key + "\\MiscStatus", "", "0");
    edit.SetString(Root::ClassesRoot, key + "\\MiscStatus\\1", "", std::to_string(c.miscStatus));
  }
  if (!(c.typeLib == GUID_NULL))
    edit.SetString(Root::ClassesRoot, key + "\\TypeLib", "", GuidToString(c.typeLib));
  if (!c.version.empty()) edit.SetString(Root::ClassesRoot, key + "\\Version", "", c.version);
  for (const GUID& category : c.implementedCategories)
    edit.CreateKey(Root::ClassesRoot, key + "\\Implemented Categories\\" + GuidToString(category));
  return SUCCEEDED(edit.Commit()) ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterServerClass(const ServerClass& c) {
  using reg::Root;
  reg::Edit edit;
  edit.DeleteTree(Root::ClassesRoot, ClsidKey(c.clsid));
  edit.DeleteKeyIfEmpty(Root::ClassesRoot, "CLSID");
  if (!c.progId.empty()) {
    std::string owner;
    HRESULT hr = reg::GetString(Root::ClassesRoot, c.progId + "\\CLSID", "", &owner);
    if (hr == REGDB_E_READREGDB) return SELFREG_E_CLASS;
    auto parsed = ParseGuid(owner);
    if (hr == S_OK && parsed && *parsed == c.clsid) edit.DeleteTree(Root::ClassesRoot, c.progId);
  }
  return SUCCEEDED(edit.Commit()) ? S_OK : SELFREG_E_CLASS;
}

HRESULT RegisterTypeLibrary(const tlb::Library& library, const char* helpDir) {
  const std::string path = ModulePath();
  if (path.empty()) return SELFREG_E_TYPELIB;
  ComPtr<ITypeLib> lib;
  if (FAILED(CreateTypeLib(library, lib.ReleaseAndGetAddressOf()))) return SELFREG_E_TYPELIB;
  std::u16string widePath = Utf8ToUtf16(path);
  std::u16string wideHelp = helpDir ? Utf8ToUtf16(helpDir) : std::u16string();
  HRESULT hr = RegisterTypeLib(lib.Get(), widePath.c_str(), helpDir ? wideHelp.c_str() : nullptr);
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT UnregisterTypeLibrary(const GUID& libid, WORD major, WORD minor, LCID lcid) {
  const std::string version = "TypeLib\\" + GuidToString(libid) + "\\" + std::to_string(major) +
                              "." + std::to_string(minor);
  std::vector<std::string> subkeys;
  if (FAILED(reg::ListSubkeys(reg::Root::ClassesRoot, version, &subkeys))) return SELFREG_E_TYPELIB;
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, "%x", static_cast<unsigned>(lcid));
  std::vector<std::string> candidates{wanted};
  candidates.insert(candidates.end(), subkeys.begin(), subkeys.end());
  for (const std::string& locale : candidates) {
    char* end = nullptr;
    unsigned long value = std::strtoul(locale.c_str(), &end, 16);
    if (locale.empty() || *end) continue;
    if (!reg::KeyExists(reg::Root::ClassesRoot, version + "\\" + locale + "\\linux")) continue;
    HRESULT hr = UnRegisterTypeLib(libid, major, minor, static_cast<LCID>(value), SYS_WIN32);
    return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
  }
  return SELFREG_E_TYPELIB;
}

}  // namespace com
