// SPDX-License-Identifier: LGPL-2.1-or-later
// A type library is data. Each module declares its library once, in one table
// of this shape, and exports it through `MqGetTypeLibrary` (the stand-in for an
// embedded TYPELIB resource). The same table drives GetIDsOfNames and Invoke of
// the module's objects (dispatch_object.h), ITypeLib/ITypeInfo (LoadTypeLib),
// registration and LoadRegTypeLib (platform/activation) and the tlbdump tool.
#pragma once

#include <string_view>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/variant.h"

enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };
enum TYPEKIND {
  TKIND_ENUM = 0,
  TKIND_RECORD = 1,
  TKIND_MODULE = 2,
  TKIND_INTERFACE = 3,
  TKIND_DISPATCH = 4,
  TKIND_COCLASS = 5,
  TKIND_ALIAS = 6,
  TKIND_UNION = 7,
};
enum INVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};

// Library flags.
constexpr WORD LIBFLAG_FRESTRICTED = 0x1;
constexpr WORD LIBFLAG_FCONTROL = 0x2;
constexpr WORD LIBFLAG_FHIDDEN = 0x4;
// Type flags.
constexpr WORD TYPEFLAG_FAPPOBJECT = 0x1;
constexpr WORD TYPEFLAG_FCANCREATE = 0x2;
constexpr WORD TYPEFLAG_FLICENSED = 0x4;
constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
constexpr WORD TYPEFLAG_FCONTROL = 0x20;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FNONEXTENSIBLE = 0x80;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
constexpr WORD TYPEFLAG_FRESTRICTED = 0x200;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
// Member flags.
constexpr WORD FUNCFLAG_FRESTRICTED = 0x1;
constexpr WORD FUNCFLAG_FSOURCE = 0x2;
constexpr WORD FUNCFLAG_FBINDABLE = 0x4;
constexpr WORD FUNCFLAG_FHIDDEN = 0x40;
// Implemented-interface flags of a coclass.
constexpr int IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr int IMPLTYPEFLAG_FSOURCE = 0x2;
constexpr int IMPLTYPEFLAG_FRESTRICTED = 0x4;

namespace com::tlb {

// A member's kind as a client sees it. GetPut is a property that can be read
// and written (two entries in ITypeInfo, one here).
enum class MemberKind { Method, PropertyGet, PropertyPut, PropertyGetPut };

// An automation type: a VARTYPE, plus the name of the interface for
// VT_DISPATCH / VT_UNKNOWN results that name one ("IFolders").
struct Type {
  VARTYPE vt = VT_EMPTY;  // VT_EMPTY for "no result"
  const char* interfaceName = nullptr;
};

struct Param {
  const char* name;
  Type type;
};

struct Member {
  DISPID id;
  const char* name;
  MemberKind kind;
  Type type;  // a method's result, or a property's type
  std::vector<Param> params = {};
  WORD flags = 0;  // FUNCFLAG_*
  const char* help = "";
};

struct ImplementedInterface {
  const char* name;  // a dispinterface of the same library
  int flags;         // IMPLTYPEFLAG_*
};

struct TypeInfo {
  TYPEKIND kind;  // TKIND_DISPATCH or TKIND_COCLASS
  const char* name;
  GUID guid;
  WORD flags;  // TYPEFLAG_*
  const char* help = "";
  std::vector<Member> members = {};                    // dispinterfaces
  std::vector<ImplementedInterface> implemented = {};  // coclasses
};

struct Import {
  const char* name;  // "stdole"
  GUID libid;
  WORD major;
  WORD minor;
  const char* file;  // "stdole2.tlb"
};

struct Library {
  const char* name;
  GUID libid;
  WORD major;
  WORD minor;
  LCID lcid;
  SYSKIND syskind;
  WORD flags;  // LIBFLAG_*
  const char* help;
  const char* helpFile;
  std::vector<Import> imports;
  std::vector<TypeInfo> types;  // in library order

  const TypeInfo* Find(const GUID& guid) const;
  const TypeInfo* Find(std::string_view name) const;  // case-insensitive
};

// Whether `text` (a caller's name, null-terminated; null matches nothing)
// names the library's `name`. Names in a library are ASCII identifiers and
// match case-insensitively, as GetIDsOfNames and ITypeInfo look them up.
bool SameName(const OLECHAR* text, const char* name);

// A module exports its library as
//   COM_EXPORT const com::tlb::Library* MqGetTypeLibrary();
using GetTypeLibraryFn = const Library* (*)();
inline constexpr const char* kGetTypeLibrarySymbol = "MqGetTypeLibrary";

}  // namespace com::tlb
