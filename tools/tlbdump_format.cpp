// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/tlbdump_format.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace tools {
namespace {

using Names = std::initializer_list<std::pair<unsigned, const char*>>;

std::string Flags(unsigned value, Names names) {
  if (value == 0) return "none";
  std::string text;
  for (const auto& [bit, name] : names) {
    if (value & bit) {
      if (!text.empty()) text += '|';
      text += name;
      value &= ~bit;
    }
  }
  if (value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", value);
    if (!text.empty()) text += '|';
    text += hex;
  }
  return text;
}

std::string Quoted(const com::Bstr& text) {
  std::string utf8 = text.Utf8(), out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string TypeName(ITypeInfo* info, const TYPEDESC& t) {
  switch (t.vt) {
    case VT_I2:
      return "short";
    case VT_I4:
      return "long";
    case VT_R4:
      return "float";
    case VT_R8:
      return "double";
    case VT_CY:
      return "CURRENCY";
    case VT_DATE:
      return "DATE";
    case VT_BSTR:
      return "BSTR";
    case VT_DISPATCH:
      return "IDispatch*";
    case VT_ERROR:
      return "SCODE";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_UNKNOWN:
      return "IUnknown*";
    case VT_I1:
      return "char";
    case VT_UI1:
      return "unsigned char";
    case VT_UI2:
      return "unsigned short";
    case VT_UI4:
      return "unsigned long";
    case VT_I8:
      return "int64";
    case VT_UI8:
      return "uint64";
    case VT_INT:
      return "int";
    case VT_UINT:
      return "unsigned int";
    case VT_VOID:
      return "void";
    case VT_HRESULT:
      return "HRESULT";
    case VT_LPSTR:
      return "LPSTR";
    case VT_LPWSTR:
      return "LPWSTR";
    case VT_PTR:
      return t.lptdesc ? TypeName(info, *t.lptdesc) + "*" : "void*";
    case VT_USERDEFINED: {
      com::ComPtr<ITypeInfo> ref;
      com::Bstr name;
      if (SUCCEEDED(info->GetRefTypeInfo(t.hreftype, ref.ReleaseAndGetAddressOf())) &&
          SUCCEEDED(ref->GetDocumentation(MEMBERID_NIL, name.ReleaseAndGetAddressOf(), nullptr,
                                          nullptr, nullptr)))
        return name.Utf8();
      return "?";
    }
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "vt%u", static_cast<unsigned>(t.vt));
      return text;
    }
  }
}

const char* KindName(TYPEKIND kind) {
  switch (kind) {
    case TKIND_ENUM:
      return "enum";
    case TKIND_RECORD:
      return "record";
    case TKIND_MODULE:
      return "module";
    case TKIND_INTERFACE:
      return "interface";
    case TKIND_DISPATCH:
      return "dispinterface";
    case TKIND_COCLASS:
      return "coclass";
    case TKIND_ALIAS:
      return "alias";
    case TKIND_UNION:
      return "union";
  }
  return "?";
}

const char* InvokeName(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_FUNC:
      return "method";
    case INVOKE_PROPERTYGET:
      return "propget";
    case INVOKE_PROPERTYPUT:
      return "propput";
    case INVOKE_PROPERTYPUTREF:
      return "propputref";
  }
  return "?";
}

const char* SysKindName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return "SYS_WIN16";
    case SYS_WIN32:
      return "SYS_WIN32";
    case SYS_MAC:
      return "SYS_MAC";
    case SYS_WIN64:
      return "SYS_WIN64";
  }
  return "?";
}

constexpr Names kLibFlags = {
    {0x1, "FRESTRICTED"}, {0x2, "FCONTROL"}, {0x4, "FHIDDEN"}, {0x8, "FHASDISKIMAGE"}};
constexpr Names kTypeFlags = {
    {0x1, "FAPPOBJECT"},       {0x2, "FCANCREATE"},      {0x4, "FLICENSED"},
    {0x8, "FPREDECLID"},       {0x10, "FHIDDEN"},        {0x20, "FCONTROL"},
    {0x40, "FDUAL"},           {0x80, "FNONEXTENSIBLE"}, {0x100, "FOLEAUTOMATION"},
    {0x200, "FRESTRICTED"},    {0x400, "FAGGREGATABLE"}, {0x800, "FREPLACEABLE"},
    {0x1000, "FDISPATCHABLE"}, {0x2000, "FREVERSEBIND"}, {0x4000, "FPROXY"}};
constexpr Names kFuncFlags = {{0x1, "FRESTRICTED"},        {0x2, "FSOURCE"},
                              {0x4, "FBINDABLE"},          {0x8, "FREQUESTEDIT"},
                              {0x10, "FDISPLAYBIND"},      {0x20, "FDEFAULTBIND"},
                              {0x40, "FHIDDEN"},           {0x80, "FUSESGETLASTERROR"},
                              {0x100, "FDEFAULTCOLLELEM"}, {0x200, "FUIDEFAULT"},
                              {0x400, "FNONBROWSABLE"},    {0x800, "FREPLACEABLE"},
                              {0x1000, "FIMMEDIATEBIND"}};
constexpr Names kImplFlags = {
    {0x1, "FDEFAULT"}, {0x2, "FSOURCE"}, {0x4, "FRESTRICTED"}, {0x8, "FDEFAULTVTABLE"}};

void Line(std::string* out, const std::string& text) {
  out->append(text);
  out->push_back('\n');
}

bool FormatType(ITypeLib* lib, UINT index, std::string* out) {
  com::ComPtr<ITypeInfo> info;
  if (FAILED(lib->GetTypeInfo(index, info.ReleaseAndGetAddressOf()))) return false;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return false;
  const TYPEATTR a = *attr;
  info->ReleaseTypeAttr(attr);
  com::Bstr name, help;
  info->GetDocumentation(MEMBERID_NIL, name.ReleaseAndGetAddressOf(), help.ReleaseAndGetAddressOf(),
                         nullptr, nullptr);
  Line(out, "type " + std::to_string(index) + " " + KindName(a.typekind) + " " + name.Utf8());
  Line(out, "  guid " + com::GuidToString(a.guid));
  Line(out, "  flags " + Flags(a.wTypeFlags, kTypeFlags));
  Line(out, "  help " + Quoted(help));
  for (UINT f = 0; f < a.cFuncs; ++f) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(f, &desc))) return false;
    BSTR names[64] = {};
    UINT count = 0;
    info->GetNames(desc->memid, names, 64, &count);
    std::string line = "  func " + std::to_string(desc->memid) + " " + InvokeName(desc->invkind) +
                       " " + (count ? com::Utf8FromBstr(names[0]) : std::string("?")) + "(";
    for (SHORT p = 0; p < desc->cParams; ++p) {
      if (p) line += ", ";
      line += TypeName(info.Get(), desc->lprgelemdescParam[p].tdesc);
      // A put's value has no name of its own.
      if (static_cast<UINT>(p) + 1 < count) line += " " + com::Utf8FromBstr(names[p + 1]);
    }
    line += ") -> " + TypeName(info.Get(), desc->elemdescFunc.tdesc);
    if (desc->wFuncFlags) line += " flags=" + Flags(desc->wFuncFlags, kFuncFlags);
    com::Bstr memberHelp;
    info->GetDocumentation(desc->memid, nullptr, memberHelp.ReleaseAndGetAddressOf(), nullptr,
                           nullptr);
    if (memberHelp.Length()) line += " help " + Quoted(memberHelp);
    Line(out, line);
    for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
    info->ReleaseFuncDesc(desc);
  }
  for (UINT i = 0; i < a.cImplTypes; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    com::ComPtr<ITypeInfo> impl;
    com::Bstr implName;
    if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || FAILED(info->GetImplTypeFlags(i, &flags)) ||
        FAILED(info->GetRefTypeInfo(ref, impl.ReleaseAndGetAddressOf())))
      return false;
    impl->GetDocumentation(MEMBERID_NIL, implName.ReleaseAndGetAddressOf(), nullptr, nullptr,
                           nullptr);
    Line(out, "  impl " + implName.Utf8() + " " + Flags(static_cast<unsigned>(flags), kImplFlags));
  }
  return true;
}

}  // namespace

std::string FormatTypeLib(ITypeLib* lib) {
  if (!lib) return {};
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) return {};
  const TLIBATTR a = *attr;
  lib->ReleaseTLibAttr(attr);
  com::Bstr name, help, helpFile;
  if (FAILED(lib->GetDocumentation(-1, name.ReleaseAndGetAddressOf(), help.ReleaseAndGetAddressOf(),
                                   nullptr, helpFile.ReleaseAndGetAddressOf())))
    return {};
  std::string out;
  char lcid[16];
  std::snprintf(lcid, sizeof lcid, "0x%X", static_cast<unsigned>(a.lcid));
  Line(&out, "library " + name.Utf8());
  Line(&out, "  libid " + com::GuidToString(a.guid));
  Line(&out, "  version " + std::to_string(a.wMajorVerNum) + "." + std::to_string(a.wMinorVerNum));
  Line(&out, std::string("  lcid ") + lcid);
  Line(&out, std::string("  syskind ") + SysKindName(a.syskind));
  Line(&out, "  flags " + Flags(a.wLibFlags, kLibFlags));
  Line(&out, "  help " + Quoted(help));
  Line(&out, "  helpfile " + Quoted(helpFile));
  const UINT count = lib->GetTypeInfoCount();
  Line(&out, "  types " + std::to_string(count));
  for (UINT i = 0; i < count; ++i)
    if (!FormatType(lib, i, &out)) return {};
  return out;
}

}  // namespace tools
