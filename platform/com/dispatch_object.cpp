// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/dispatch_object.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace com::detail {

namespace {

[[noreturn]] void Mismatch(const tlb::TypeInfo& type, DISPID id, const char* member,
                           const std::string& what) {
  std::fprintf(stderr, "dispatch bindings of %s: member %s (DISPID %d): %s\n", type.name,
               member ? member : "?", static_cast<int>(id), what.c_str());
  std::abort();
}

const char* KindName(BindKind kind) {
  switch (kind) {
    case BindKind::Get:
      return "property get";
    case BindKind::Put:
      return "property put";
    case BindKind::Method:
      return "method";
  }
  return "?";
}

std::string Describe(const Signature& sig) {
  std::string text = sig.resultName;
  text += " (";
  for (UINT i = 0; i < sig.paramCount; ++i) {
    if (i) text += ", ";
    text += sig.paramNames[i];
  }
  return text + ")";
}

bool KindAllows(tlb::MemberKind kind, BindKind bind) {
  using K = tlb::MemberKind;
  switch (bind) {
    case BindKind::Get:
      return kind == K::PropertyGet || kind == K::PropertyGetPut;
    case BindKind::Put:
      return kind == K::PropertyPut || kind == K::PropertyGetPut;
    case BindKind::Method:
      return kind == K::Method;
  }
  return false;
}

}  // namespace

DispatchTable::DispatchTable(const tlb::Library& library, const IID& iid,
                             const std::vector<Binding>& bindings)
    : library_(&library), type_(library.Find(iid)) {
  if (!type_ || type_->kind != TKIND_DISPATCH) {
    std::fprintf(stderr, "dispatch bindings: %s names no dispinterface %s\n", library.name,
                 GuidToString(iid).c_str());
    std::abort();
  }
  for (const tlb::Member& member : type_->members) {
    if (member.params.size() + 1 > kMaxParams)
      Mismatch(*type_, member.id, member.name, "too many parameters");
    for (const Entry& e : entries_)
      if (e.id == member.id) Mismatch(*type_, member.id, member.name, "DISPID declared twice");
    Entry entry{member.id, &member, nullptr, nullptr, nullptr, {}};
    for (const tlb::Param& p : member.params) entry.types.push_back(p.type.vt);
    entry.types.push_back(member.type.vt);
    entries_.push_back(std::move(entry));
  }
  std::sort(entries_.begin(), entries_.end(),
            [](const Entry& a, const Entry& b) { return a.id < b.id; });

  for (const Binding& b : bindings) {
    auto* entry = const_cast<Entry*>(Find(b.id));
    if (!entry) Mismatch(*type_, b.id, nullptr, "bound but not declared in the type library");
    const tlb::Member& m = *entry->member;
    if (!KindAllows(m.kind, b.kind))
      Mismatch(*type_, b.id, m.name,
               std::string("bound as ") + KindName(b.kind) +
                   ", which the type library does not declare");
    Thunk* slot = b.kind == BindKind::Get   ? &entry->get
                  : b.kind == BindKind::Put ? &entry->put
                                            : &entry->method;
    if (*slot) Mismatch(*type_, b.id, m.name, std::string("bound twice as ") + KindName(b.kind));
    const Signature& sig = *b.signature;
    bool put = b.kind == BindKind::Put;
    std::size_t expected = m.params.size() + (put ? 1 : 0);
    bool ok = sig.paramCount == expected;
    for (std::size_t i = 0; ok && i < expected; ++i) ok = sig.paramAccepts[i](entry->types[i]);
    const VARTYPE resultVt = put ? VARTYPE(VT_EMPTY) : m.type.vt;
    ok = ok && sig.resultAccepts(resultVt);
    if (!ok) {
      std::string declared;
      for (std::size_t i = 0; i < expected; ++i) {
        if (i) declared += ", ";
        declared += "vt " + std::to_string(entry->types[i]);
      }
      Mismatch(*type_, b.id, m.name,
               std::string(KindName(b.kind)) + " bound to C++ " + Describe(sig) +
                   ", the type library declares (" + declared + ") -> vt " +
                   std::to_string(resultVt));
    }
    *slot = b.thunk;
  }
  for (const Entry& e : entries_) {
    using K = tlb::MemberKind;
    K kind = e.member->kind;
    bool bound = kind == K::Method        ? e.method != nullptr
                 : kind == K::PropertyGet ? e.get != nullptr
                 : kind == K::PropertyPut ? e.put != nullptr
                                          : e.get != nullptr && e.put != nullptr;
    if (!bound) Mismatch(*type_, e.id, e.member->name, "declared but not bound");
  }
}

const DispatchTable::Entry* DispatchTable::Find(DISPID id) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                             [](const Entry& e, DISPID key) { return e.id < key; });
  return it != entries_.end() && it->id == id ? &*it : nullptr;
}

HRESULT DispatchTable::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const Entry* found = nullptr;
  if (names[0])
    for (const Entry& e : entries_)
      if (tlb::SameName(names[0], e.member->name)) {
        found = &e;
        break;
      }
  if (!found) return DISP_E_UNKNOWNNAME;
  ids[0] = found->id;
  HRESULT hr = S_OK;
  const std::vector<tlb::Param>& params = found->member->params;
  for (UINT i = 1; i < count; ++i) {
    for (std::size_t p = 0; names[i] && p < params.size(); ++p)
      if (tlb::SameName(names[i], params[p].name)) ids[i] = static_cast<DISPID>(p);
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

void FillException(EXCEPINFO* info, HRESULT scode, std::string_view description,
                   std::string_view source) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  info->scode = scode;
  info->bstrSource = BstrFromUtf8(source);
  info->bstrDescription = BstrFromUtf8(description);
}

HRESULT CoerceArgument(const CallFrame& frame, UINT i, VARIANT* scratch, const VARIANT** out) {
  VARIANT* arg = frame.args[i];
  VARTYPE want = frame.types[i];
  HRESULT hr = S_OK;
  if (want == VT_VARIANT) {
    // As it came, by reference included: a member may treat a value passed
    // by reference differently (the contact collection's Item does).
    *out = arg;
    return S_OK;
  }
  if (arg->vt == want) {
    *out = arg;
    return S_OK;
  } else {
    hr = VariantChangeType(scratch, arg, 0, want);
  }
  if (FAILED(hr)) {
    if (frame.argErr) *frame.argErr = frame.rgIndex[i];
    return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
  }
  *out = scratch;
  return S_OK;
}

HRESULT DispatchTable::Invoke(void* self, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) const {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const Entry* entry = Find(id);
  if (!entry) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if (params->cNamedArgs > params->cArgs || (params->cArgs && !params->rgvarg) ||
      (params->cNamedArgs && !params->rgdispidNamedArgs))
    return E_INVALIDARG;

  Thunk thunk = nullptr;
  bool put = false;
  if (flags & DISPATCH_PROPERTYPUT) {
    if (entry->put) {
      thunk = entry->put;
      put = true;
    } else if (entry->get) {
      FillException(excepInfo, CTL_E_SETNOTSUPPORTED, "Set not supported", library_->name);
      return DISP_E_EXCEPTION;
    } else {
      return DISP_E_MEMBERNOTFOUND;
    }
  } else if ((flags & DISPATCH_METHOD) && entry->method) {
    thunk = entry->method;
  } else if ((flags & DISPATCH_PROPERTYGET) && entry->get) {
    thunk = entry->get;
  } else {
    return DISP_E_MEMBERNOTFOUND;
  }

  // Place each argument at its parameter: a put's value last, named
  // arguments by their parameter position, positional ones (reversed) first.
  const UINT declared = static_cast<UINT>(entry->member->params.size());
  const UINT total = declared + (put ? 1 : 0);
  CallFrame frame;
  frame.types = entry->types.data();
  frame.resultType = entry->member->type.vt;
  frame.argErr = argErr;
  for (UINT i = 0; i < total; ++i) frame.args[i] = nullptr;
  UINT named = params->cNamedArgs;
  UINT k = 0;
  if (put) {
    if (named == 0 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTFOUND;
    frame.args[declared] = &params->rgvarg[0];
    frame.rgIndex[declared] = 0;
    k = 1;
  }
  for (; k < named; ++k) {
    DISPID p = params->rgdispidNamedArgs[k];
    if (p < 0 || static_cast<UINT>(p) >= declared || frame.args[p]) {
      if (argErr) *argErr = k;
      return DISP_E_PARAMNOTFOUND;
    }
    frame.args[p] = &params->rgvarg[k];
    frame.rgIndex[p] = k;
  }
  const UINT positional = params->cArgs - named;
  if (positional > declared) return DISP_E_BADPARAMCOUNT;
  for (UINT j = 0; j < positional; ++j) {
    UINT index = params->cArgs - 1 - j;
    if (frame.args[j]) {
      if (argErr) *argErr = index;
      return DISP_E_PARAMNOTFOUND;
    }
    frame.args[j] = &params->rgvarg[index];
    frame.rgIndex[j] = index;
  }
  const bool anyNamed = named > (put ? 1u : 0u);
  for (UINT i = 0; i < total; ++i) {
    const VARIANT* a = frame.args[i];
    if (!a) return anyNamed ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
    if (a->vt == VT_ERROR && a->scode == DISP_E_PARAMNOTFOUND) {
      if (argErr) *argErr = frame.rgIndex[i];
      return DISP_E_PARAMNOTOPTIONAL;
    }
  }

  if (result) VariantInit(result);
  HRESULT hr;
  try {
    hr = thunk(self, frame, result);
  } catch (const AutomationError& error) {
    FillException(excepInfo, error.scode, error.description,
                  error.source.empty() ? std::string_view(library_->name) : error.source);
    hr = DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (const std::exception& error) {
    FillException(excepInfo, E_FAIL, error.what(), library_->name);
    hr = DISP_E_EXCEPTION;
  } catch (...) {
    FillException(excepInfo, E_UNEXPECTED, "Unexpected failure", library_->name);
    hr = DISP_E_EXCEPTION;
  }
  if (FAILED(hr) && result) VariantClear(result);
  return hr;
}

}  // namespace com::detail
