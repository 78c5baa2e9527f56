// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/activation/registration.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/com/server.h"
#include "platform/registry/registry.h"

namespace com {
namespace {

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

std::string VersionText(WORD major, WORD minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

const char* PlatformKey(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return "win16";
    case SYS_MAC:
      return "mac";
    default:
      return "linux";  // the platform's own modules stand for 32- and 64-bit ones
  }
}

std::string VersionKey(const GUID& libid, WORD major, WORD minor) {
  return "TypeLib\\" + GuidToString(libid) + "\\" + VersionText(major, minor);
}

bool IsLocaleKey(const std::string& name) {
  if (name.empty() || name.size() > 8) return false;
  for (char c : name)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string ClsidKey(const CLSID& clsid) {
  return "CLSID\\" + GuidToString(clsid);
}

}  // namespace

std::string RegisteredTypeLibPath(const GUID& libid, WORD major, WORD minor, LCID lcid) {
  const std::string version = VersionKey(libid, major, minor);
  std::vector<std::string> candidates{Hex(lcid), Hex(lcid & 0x3ff), "0"};
  std::vector<std::string> subkeys;
  if (SUCCEEDED(reg::ListSubkeys(reg::Root::ClassesRoot, version, &subkeys)))
    for (const std::string& k : subkeys)
      if (IsLocaleKey(k)) candidates.push_back(k);
  for (const std::string& locale : candidates) {
    std::string path;
    if (reg::GetFilePath(reg::Root::ClassesRoot, version + "\\" + locale + "\\linux", "", &path) ==
            S_OK &&
        !path.empty())
      return path;
  }
  return {};
}

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

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
  if (!ptlib || !szFullPath) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = ptlib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR a = *attr;
  ptlib->ReleaseTLibAttr(attr);
  com::Bstr name, doc;
  hr = ptlib->GetDocumentation(-1, name.ReleaseAndGetAddressOf(), doc.ReleaseAndGetAddressOf(),
                               nullptr, nullptr);
  if (FAILED(hr)) return hr;

  using reg::Root;
  const std::string libid = com::GuidToString(a.guid);
  const std::string version = com::VersionKey(a.guid, a.wMajorVerNum, a.wMinorVerNum);
  const std::string versionText = com::VersionText(a.wMajorVerNum, a.wMinorVerNum);
  reg::Edit edit;
  edit.SetString(Root::ClassesRoot, version, "", doc.Length() ? doc.Utf8() : name.Utf8());
  edit.SetString(Root::ClassesRoot,
                 version + "\\" + com::Hex(a.lcid) + "\\" + com::PlatformKey(a.syskind), "",
                 com::Utf16ToUtf8(szFullPath));
  edit.SetString(Root::ClassesRoot, version + "\\FLAGS", "", std::to_string(a.wLibFlags));
  if (szHelpDir)
    edit.SetString(Root::ClassesRoot, version + "\\HELPDIR", "", com::Utf16ToUtf8(szHelpDir));
  else
    edit.CreateKey(Root::ClassesRoot, version + "\\HELPDIR");

  const std::string proxy = com::GuidToString(CLSID_PSDispatch);
  for (UINT i = 0, n = ptlib->GetTypeInfoCount(); i < n; ++i) {
    TYPEKIND kind;
    if (FAILED(ptlib->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH) continue;
    com::ComPtr<ITypeInfo> info;
    hr = ptlib->GetTypeInfo(i, info.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    TYPEATTR* ta = nullptr;
    hr = info->GetTypeAttr(&ta);
    if (FAILED(hr)) return hr;
    const std::string key = "Interface\\" + com::GuidToString(ta->guid);
    info->ReleaseTypeAttr(ta);
    com::Bstr typeName;
    info->GetDocumentation(MEMBERID_NIL, typeName.ReleaseAndGetAddressOf(), nullptr, nullptr,
                           nullptr);
    edit.SetString(Root::ClassesRoot, key, "", typeName.Utf8());
    edit.SetString(Root::ClassesRoot, key + "\\ProxyStubClsid", "", proxy);
    edit.SetString(Root::ClassesRoot, key + "\\ProxyStubClsid32", "", proxy);
    edit.SetString(Root::ClassesRoot, key + "\\TypeLib", "", libid);
    edit.SetString(Root::ClassesRoot, key + "\\TypeLib", "Version", versionText);
  }
  return SUCCEEDED(edit.Commit()) ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                          SYSKIND syskind) {
  using reg::Root;
  const std::string version = com::VersionKey(libID, wVerMajor, wVerMinor);
  const std::string locale = version + "\\" + com::Hex(lcid);
  if (!reg::KeyExists(Root::ClassesRoot, locale + "\\" + com::PlatformKey(syskind)))
    return TYPE_E_LIBNOTREGISTERED;
  std::vector<std::string> subkeys;
  if (FAILED(reg::ListSubkeys(Root::ClassesRoot, version, &subkeys))) return TYPE_E_REGISTRYACCESS;
  bool otherLocales = false;
  for (const std::string& k : subkeys)
    if (com::IsLocaleKey(k) && strcasecmp(k.c_str(), com::Hex(lcid).c_str()) != 0)
      otherLocales = true;

  reg::Edit edit;
  if (otherLocales) {
    edit.DeleteTree(Root::ClassesRoot, locale);
    return SUCCEEDED(edit.Commit()) ? S_OK : TYPE_E_REGISTRYACCESS;
  }
  // The last locale of this version: the version goes, with its interfaces.
  const std::string libid = com::GuidToString(libID);
  const std::string versionText = com::VersionText(wVerMajor, wVerMinor);
  std::vector<std::string> interfaces;
  reg::ListSubkeys(Root::ClassesRoot, "Interface", &interfaces);
  for (const std::string& iid : interfaces) {
    std::string key = "Interface\\" + iid, lib, ver;
    if (reg::GetString(Root::ClassesRoot, key + "\\TypeLib", "", &lib) == S_OK &&
        strcasecmp(lib.c_str(), libid.c_str()) == 0 &&
        reg::GetString(Root::ClassesRoot, key + "\\TypeLib", "Version", &ver) == S_OK &&
        ver == versionText)
      edit.DeleteTree(Root::ClassesRoot, key);
  }
  edit.DeleteTree(Root::ClassesRoot, version);
  edit.DeleteKeyIfEmpty(Root::ClassesRoot, "TypeLib\\" + libid);
  edit.DeleteKeyIfEmpty(Root::ClassesRoot, "TypeLib");
  edit.DeleteKeyIfEmpty(Root::ClassesRoot, "Interface");
  return SUCCEEDED(edit.Commit()) ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                       ITypeLib** pptlib) {
  if (!pptlib) return E_INVALIDARG;
  *pptlib = nullptr;
  std::string path = com::RegisteredTypeLibPath(rguid, wVerMajor, wVerMinor, lcid);
  if (path.empty()) return TYPE_E_LIBNOTREGISTERED;
  com::ComPtr<ITypeLib> lib;
  HRESULT hr = com::LoadTypeLibFromModule(path, &lib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) return TYPE_E_CANTLOADLIBRARY;
  bool same = attr->guid == rguid;
  lib->ReleaseTLibAttr(attr);
  if (!same) return TYPE_E_CANTLOADLIBRARY;
  *pptlib = lib.Detach();
  return S_OK;
}
