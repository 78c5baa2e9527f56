// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/typeinfo.h"

#include <dlfcn.h>
#include <strings.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"

namespace com {
namespace {

using ModuleHandle = std::shared_ptr<void>;

HRESULT SetBstr(BSTR* out, std::string_view text) {
  if (!out) return S_OK;
  *out = BstrFromUtf8(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

class TypeLibImpl;

// One FUNCDESC of a dispinterface: a member, seen as one of its kinds.
struct Function {
  const tlb::Member* member;
  INVOKEKIND kind;
};

class TypeInfoImpl : public Object<ITypeInfo> {
 public:
  TypeInfoImpl(ComPtr<TypeLibImpl> lib, UINT index);

  HRESULT GetTypeAttr(TYPEATTR** out) override;
  HRESULT GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override;
  HRESULT GetVarDesc(UINT, VARDESC** out) override {
    if (out) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override;
  HRESULT GetImplTypeFlags(UINT index, INT* out) override;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* argErr) override {
    if (!instance) return E_INVALIDARG;
    return static_cast<IDispatch*>(instance)->Invoke(memid, IID_NULL, 0, flags, params, result,
                                                     excep, argErr);
  }
  HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context,
                           BSTR* helpFile) override;
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override;
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT CreateInstance(IUnknown*, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetMops(MEMBERID, BSTR* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetContainingTypeLib(ITypeLib** out, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void ReleaseFuncDesc(FUNCDESC* desc) override { std::free(desc); }
  void ReleaseVarDesc(VARDESC*) override {}

 private:
  const tlb::Member* FindMember(MEMBERID memid) const {
    for (const tlb::Member& m : type_.members)
      if (m.id == memid) return &m;
    return nullptr;
  }
  ComPtr<TypeLibImpl> lib_;
  UINT index_;
  const tlb::TypeInfo& type_;
  std::vector<Function> functions_;
};

class TypeLibImpl : public Object<ITypeLib> {
 public:
  TypeLibImpl(const tlb::Library& library, ModuleHandle module)
      : library_(library), module_(std::move(module)) {}

  const tlb::Library& Library() const { return library_; }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(library_.types.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index >= library_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    auto* info = new (std::nothrow) TypeInfoImpl(ComPtr<TypeLibImpl>(this), index);
    if (!info) return E_OUTOFMEMORY;
    info->AddRef();
    *out = info;
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* out) override {
    if (!out) return E_POINTER;
    if (index >= library_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = library_.types[index].kind;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (UINT i = 0; i < library_.types.size(); ++i)
      if (library_.types[i].guid == guid) return GetTypeInfo(i, out);
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) TLIBATTR{library_.libid, library_.lcid,  library_.syskind,
                                       library_.major, library_.minor, library_.flags};
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context,
                           BSTR* helpFile) override {
    if (index < -1 || index >= static_cast<INT>(library_.types.size()))
      return TYPE_E_ELEMENTNOTFOUND;
    if (context) *context = 0;
    if (index == -1) {
      SetBstr(name, library_.name);
      SetBstr(doc, library_.help ? library_.help : "");
    } else {
      SetBstr(name, library_.types[index].name);
      SetBstr(doc, library_.types[index].help ? library_.types[index].help : "");
    }
    SetBstr(helpFile, library_.helpFile ? library_.helpFile : "");
    return S_OK;
  }
  HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (!found) return E_POINTER;
    *found = FALSE;
    for (const tlb::TypeInfo& t : library_.types) {
      if (tlb::SameName(name, t.name)) *found = TRUE;
      for (const tlb::Member& m : t.members)
        if (tlb::SameName(name, m.name)) *found = TRUE;
    }
    return S_OK;
  }
  HRESULT FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) override { return E_NOTIMPL; }
  void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

  // The hreftype of a type of this library (its index), or -1.
  int IndexOf(const char* name) const {
    if (!name) return -1;
    for (std::size_t i = 0; i < library_.types.size(); ++i)
      if (strcasecmp(library_.types[i].name, name) == 0) return static_cast<int>(i);
    return -1;
  }

 private:
  const tlb::Library& library_;
  ModuleHandle module_;  // keeps the module that holds `library_` loaded
};

TypeInfoImpl::TypeInfoImpl(ComPtr<TypeLibImpl> lib, UINT index)
    : lib_(std::move(lib)), index_(index), type_(lib_->Library().types[index]) {
  for (const tlb::Member& m : type_.members) {
    switch (m.kind) {
      case tlb::MemberKind::Method:
        functions_.push_back({&m, INVOKE_FUNC});
        break;
      case tlb::MemberKind::PropertyGet:
        functions_.push_back({&m, INVOKE_PROPERTYGET});
        break;
      case tlb::MemberKind::PropertyPut:
        functions_.push_back({&m, INVOKE_PROPERTYPUT});
        break;
      case tlb::MemberKind::PropertyGetPut:
        functions_.push_back({&m, INVOKE_PROPERTYGET});
        functions_.push_back({&m, INVOKE_PROPERTYPUT});
        break;
    }
  }
}

HRESULT TypeInfoImpl::GetTypeAttr(TYPEATTR** out) {
  if (!out) return E_POINTER;
  auto* attr = new (std::nothrow) TYPEATTR{};
  if (!attr) return E_OUTOFMEMORY;
  attr->guid = type_.guid;
  attr->lcid = lib_->Library().lcid;
  attr->memidConstructor = MEMBERID_NIL;
  attr->memidDestructor = MEMBERID_NIL;
  attr->cbSizeInstance = sizeof(void*);
  attr->typekind = type_.kind;
  attr->cFuncs = static_cast<WORD>(functions_.size());
  attr->cImplTypes = static_cast<WORD>(type_.implemented.size());
  attr->cbSizeVft = type_.kind == TKIND_DISPATCH ? 7 * sizeof(void*) : 0;
  attr->cbAlignment = alignof(void*);
  attr->wTypeFlags = type_.flags;
  attr->tdescAlias.vt = VT_EMPTY;
  *out = attr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetFuncDesc(UINT index, FUNCDESC** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index >= functions_.size()) return TYPE_E_ELEMENTNOTFOUND;
  const Function& f = functions_[index];
  const tlb::Member& m = *f.member;
  const std::size_t n = m.params.size() + (f.kind == INVOKE_PROPERTYPUT ? 1 : 0);
  // One block: the FUNCDESC, its parameters, and the pointees of VT_PTR types.
  std::size_t size = sizeof(FUNCDESC) + n * sizeof(ELEMDESC) + (n + 1) * sizeof(TYPEDESC);
  auto* block = static_cast<unsigned char*>(std::calloc(1, size));
  if (!block) return E_OUTOFMEMORY;
  auto* desc = reinterpret_cast<FUNCDESC*>(block);
  auto* params = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
  auto* pointees = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + n * sizeof(ELEMDESC));
  auto describe = [&](const tlb::Type& t, TYPEDESC* td, TYPEDESC* pointee) {
    int ref = (t.vt == VT_DISPATCH || t.vt == VT_UNKNOWN) ? lib_->IndexOf(t.interfaceName) : -1;
    if (ref >= 0) {
      pointee->vt = VT_USERDEFINED;
      pointee->hreftype = static_cast<HREFTYPE>(ref);
      td->vt = VT_PTR;
      td->lptdesc = pointee;
    } else {
      td->vt = t.vt == VT_EMPTY ? VARTYPE(VT_VOID) : t.vt;
    }
  };
  desc->memid = m.id;
  desc->funckind = FUNC_DISPATCH;
  desc->invkind = f.kind;
  desc->callconv = CC_STDCALL;
  desc->cParams = static_cast<SHORT>(n);
  desc->lprgelemdescParam = n ? params : nullptr;
  desc->wFuncFlags = m.flags;
  for (std::size_t i = 0; i < m.params.size(); ++i) {
    describe(m.params[i].type, &params[i].tdesc, &pointees[i]);
    params[i].paramdesc.wParamFlags = PARAMFLAG_FIN;
  }
  if (f.kind == INVOKE_PROPERTYPUT) {
    describe(m.type, &params[n - 1].tdesc, &pointees[n - 1]);
    params[n - 1].paramdesc.wParamFlags = PARAMFLAG_FIN;
    desc->elemdescFunc.tdesc.vt = VT_VOID;
  } else {
    describe(m.type, &desc->elemdescFunc.tdesc, &pointees[n]);
  }
  *out = desc;
  return S_OK;
}

HRESULT TypeInfoImpl::GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) {
  if (!names || !count) return E_POINTER;
  *count = 0;
  const tlb::Member* m = FindMember(memid);
  if (!m) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<const char*> all{m->name};
  for (const tlb::Param& p : m->params) all.push_back(p.name);
  for (UINT i = 0; i < max && i < all.size(); ++i) {
    names[i] = BstrFromUtf8(all[i]);
    ++*count;
  }
  return S_OK;
}

HRESULT TypeInfoImpl::GetRefTypeOfImplType(UINT index, HREFTYPE* out) {
  if (!out) return E_POINTER;
  if (index >= type_.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
  int ref = lib_->IndexOf(type_.implemented[index].name);
  if (ref < 0) return TYPE_E_ELEMENTNOTFOUND;
  *out = static_cast<HREFTYPE>(ref);
  return S_OK;
}

HRESULT TypeInfoImpl::GetImplTypeFlags(UINT index, INT* out) {
  if (!out) return E_POINTER;
  if (index >= type_.implemented.size()) return TYPE_E_ELEMENTNOTFOUND;
  *out = type_.implemented[index].flags;
  return S_OK;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
  const tlb::Member* found = nullptr;
  for (const tlb::Member& m : type_.members)
    if (tlb::SameName(names[0], m.name)) {
      found = &m;
      break;
    }
  if (!found) return DISP_E_UNKNOWNNAME;
  ids[0] = found->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (std::size_t p = 0; p < found->params.size(); ++p)
      if (tlb::SameName(names[i], found->params[p].name)) ids[i] = static_cast<MEMBERID>(p);
    if (ids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context,
                                       BSTR* helpFile) {
  const char* n;
  const char* h;
  if (memid == MEMBERID_NIL) {
    n = type_.name;
    h = type_.help;
  } else {
    const tlb::Member* m = FindMember(memid);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    n = m->name;
    h = m->help;
  }
  if (context) *context = 0;
  SetBstr(name, n);
  SetBstr(doc, h ? h : "");
  const char* file = lib_->Library().helpFile;
  SetBstr(helpFile, file ? file : "");
  return S_OK;
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (ref >= lib_->GetTypeInfoCount()) return TYPE_E_ELEMENTNOTFOUND;
  return lib_->GetTypeInfo(ref, out);
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** out, UINT* index) {
  if (!out) return E_POINTER;
  *out = lib_.CopyOut();
  if (index) *index = index_;
  return S_OK;
}

}  // namespace

HRESULT CreateTypeLib(const tlb::Library& library, ITypeLib** out) {
  if (!out) return E_POINTER;
  auto* lib = new (std::nothrow) TypeLibImpl(library, nullptr);
  if (!lib) return E_OUTOFMEMORY;
  lib->AddRef();
  *out = lib;
  return S_OK;
}

HRESULT LoadTypeLibFromModule(std::string_view path, ComPtr<ITypeLib>* out) {
  std::string file(path);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return TYPE_E_CANTLOADLIBRARY;
  ModuleHandle module(handle, [](void* h) { dlclose(h); });
  auto get = reinterpret_cast<tlb::GetTypeLibraryFn>(dlsym(handle, tlb::kGetTypeLibrarySymbol));
  const tlb::Library* library = get ? get() : nullptr;
  if (!library) return TYPE_E_CANTLOADLIBRARY;
  auto* lib = new (std::nothrow) TypeLibImpl(*library, std::move(module));
  if (!lib) return E_OUTOFMEMORY;
  lib->AddRef();
  *out = ComPtr<ITypeLib>::Attach(lib);
  return S_OK;
}

namespace detail {
HRESULT TypeInfoOf(const tlb::Library& library, const IID& iid, ITypeInfo** out) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = CreateTypeLib(library, lib.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(iid, out);
}
}  // namespace detail

}  // namespace com

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
  if (!szFile || !pptlib) return E_INVALIDARG;
  *pptlib = nullptr;
  std::u16string_view file(szFile);
  com::ComPtr<ITypeLib> lib;
  HRESULT hr = com::LoadTypeLibFromModule(com::Utf16ToUtf8(file), &lib);
  if (SUCCEEDED(hr)) *pptlib = lib.Detach();
  return hr;
}
