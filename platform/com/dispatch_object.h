// SPDX-License-Identifier: LGPL-2.1-or-later
// The dispatch engine's face toward the objects that serve automation: a class
// implements its members as ordinary C++ member functions and binds each to
// its DISPID; the member's name, kind, parameter and result types are written
// once, in the module's type library table (typelib.h). When the bindings are
// first built, each bound function's C++ signature is checked against the
// table and a mismatch stops the program with a message naming the member, so
// any test that creates the object catches it.
//
//   class CMessages : public com::DispatchObject<CMessages> {
//    public:
//     CMessages() : DispatchObject(MailquarryLibrary(), IMessagesIid) {}
//     SHORT Count();
//     std::string FindSubject(LONG iIndex);
//     VARIANT_BOOL Save2eml(LONG iIndex, const std::string& strEMLFileName);
//     com::ComPtr<IDispatch> Item(const VARIANT& key);
//     static const com::Bindings<CMessages>& GetBindings() {
//       static const auto bindings = com::Bindings<CMessages>()
//                                        .Get<&CMessages::Count>(1)
//                                        .Get<&CMessages::Item>(22)
//                                        .Method<&CMessages::FindSubject>(16)
//                                        .Method<&CMessages::Save2eml>(20);
//       return bindings;
//     }
//   };
//
// C++ types and the automation types they stand for, both ways:
//   SHORT <-> VT_I2, LONG <-> VT_I4, VARIANT_BOOL <-> VT_BOOL,
//   std::string (UTF-8; parameters by value or const&) <-> VT_BSTR,
//   std::u16string <-> VT_BSTR (exact UTF-16, embedded NULs kept),
//   com::ComPtr<IDispatch> <-> VT_DISPATCH, com::ComPtr<IUnknown> <-> VT_UNKNOWN,
//   const VARIANT& (parameter) / com::Variant (result) <-> VT_VARIANT,
//   void <-> no result.
//
// Invoke coerces every argument to its declared type with VariantChangeType,
// honours reverse argument order and DISPID_PROPERTYPUT, and answers the
// standard DISP_E_* codes with puArgErr. A member ends the call with an
// automation error (DISP_E_EXCEPTION, EXCEPINFO filled) by throwing
// com::AutomationError; nothing else may escape a member.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/typelib.h"

namespace com {

struct AutomationError {
  HRESULT scode;
  std::string description;
  std::string source = {};
};

namespace detail {

enum class BindKind { Get, Put, Method };

// The most parameters a bound member may take (the put value included).
inline constexpr unsigned kMaxParams = 32;

// One call as a bound function sees it: the arguments in declaration order
// (pointers into rgvarg), their positions in rgvarg, their declared types.
struct CallFrame {
  VARIANT* args[kMaxParams];
  UINT rgIndex[kMaxParams];
  const VARTYPE* types;
  VARTYPE resultType;
  UINT* argErr;
};

// Coerces argument `i` to its declared type; `*out` is the argument itself
// when it already has that type, else `scratch`. Sets *argErr on failure.
HRESULT CoerceArgument(const CallFrame& frame, UINT i, VARIANT* scratch, const VARIANT** out);

using Thunk = HRESULT (*)(void* self, const CallFrame& frame, VARIANT* result);

// What the C++ side of a binding accepts, for the check against the table.
struct Signature {
  UINT paramCount;
  bool (*const* paramAccepts)(VARTYPE);
  const char* const* paramNames;
  bool (*resultAccepts)(VARTYPE);
  const char* resultName;
};

struct Binding {
  DISPID id;
  BindKind kind;
  Thunk thunk;
  const Signature* signature;
};

// C++ types and the automation types they carry. `From` reads a variant that
// already has an accepted type; `To` fills an empty result.
template <class P>
struct Conv;  // no other C++ type crosses the automation boundary

template <>
struct Conv<SHORT> {  // also VARIANT_BOOL, which is the same C++ type
  static constexpr const char* name = "SHORT";
  static bool Accepts(VARTYPE vt) { return vt == VT_I2 || vt == VT_BOOL; }
  static SHORT From(const VARIANT& v) { return v.vt == VT_BOOL ? v.boolVal : v.iVal; }
  static HRESULT To(SHORT x, VARTYPE vt, VARIANT* out) {
    out->vt = vt;
    if (vt == VT_BOOL)
      out->boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
    else
      out->iVal = x;
    return S_OK;
  }
};
template <>
struct Conv<LONG> {
  static constexpr const char* name = "LONG";
  static bool Accepts(VARTYPE vt) { return vt == VT_I4; }
  static LONG From(const VARIANT& v) { return v.lVal; }
  static HRESULT To(LONG x, VARTYPE, VARIANT* out) {
    out->vt = VT_I4;
    out->lVal = x;
    return S_OK;
  }
};
template <>
struct Conv<bool> {
  static constexpr const char* name = "bool";
  static bool Accepts(VARTYPE vt) { return vt == VT_BOOL; }
  static bool From(const VARIANT& v) { return v.boolVal != 0; }
  static HRESULT To(bool x, VARTYPE, VARIANT* out) {
    out->vt = VT_BOOL;
    out->boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};
template <>
struct Conv<std::string> {
  static constexpr const char* name = "std::string";
  static bool Accepts(VARTYPE vt) { return vt == VT_BSTR; }
  static std::string From(const VARIANT& v) { return Utf8FromBstr(v.bstrVal); }
  static HRESULT To(const std::string& x, VARTYPE, VARIANT* out) {
    BSTR b = BstrFromUtf8(x);
    if (!b) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = b;
    return S_OK;
  }
};
template <>
struct Conv<std::u16string> {
  static constexpr const char* name = "std::u16string";
  static bool Accepts(VARTYPE vt) { return vt == VT_BSTR; }
  static std::u16string From(const VARIANT& v) { return std::u16string(BstrView(v.bstrVal)); }
  static HRESULT To(const std::u16string& x, VARTYPE, VARIANT* out) {
    BSTR b = SysAllocStringLen(x.data(), static_cast<UINT>(x.size()));
    if (!b) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = b;
    return S_OK;
  }
};
template <class I>
struct ConvPtr {
  static constexpr VARTYPE kVt = std::is_same_v<I, IDispatch> ? VT_DISPATCH : VT_UNKNOWN;
  static constexpr const char* name =
      std::is_same_v<I, IDispatch> ? "ComPtr<IDispatch>" : "ComPtr<IUnknown>";
  static bool Accepts(VARTYPE vt) { return vt == kVt; }
  static ComPtr<I> From(const VARIANT& v) { return ComPtr<I>(static_cast<I*>(v.punkVal)); }
  static HRESULT To(ComPtr<I>&& x, VARTYPE, VARIANT* out) {
    out->vt = kVt;
    out->punkVal = x.Detach();
    return S_OK;
  }
};
template <>
struct Conv<ComPtr<IDispatch>> : ConvPtr<IDispatch> {};
template <>
struct Conv<ComPtr<IUnknown>> : ConvPtr<IUnknown> {};
template <>
struct Conv<VARIANT> {  // parameters only, as const VARIANT&
  static constexpr const char* name = "VARIANT";
  static bool Accepts(VARTYPE vt) { return vt == VT_VARIANT; }
  static const VARIANT& From(const VARIANT& v) { return v; }
};
template <>
struct Conv<Variant> {  // results only
  static constexpr const char* name = "com::Variant";
  static bool Accepts(VARTYPE vt) { return vt == VT_VARIANT; }
  static HRESULT To(Variant&& x, VARTYPE, VARIANT* out) {
    *out = static_cast<VARIANT&>(x);
    VariantInit(&x);
    return S_OK;
  }
};
struct ConvVoid {
  static constexpr const char* name = "void";
  static bool Accepts(VARTYPE vt) { return vt == VT_EMPTY || vt == VT_VOID; }
};

template <class R>
using ResultConv = std::conditional_t<std::is_void_v<R>, ConvVoid, Conv<std::decay_t<R>>>;

template <class F>
struct MemberFn;
template <class C, class R, class... A>
struct MemberFn<R (C::*)(A...)> {
  using Result = R;
  template <template <class, class...> class X>
  using Apply = X<R, A...>;
};
template <class C, class R, class... A>
struct MemberFn<R (C::*)(A...) const> : MemberFn<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MemberFn<R (C::*)(A...) noexcept> : MemberFn<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MemberFn<R (C::*)(A...) const noexcept> : MemberFn<R (C::*)(A...)> {};

template <class R, class... A>
struct SignatureOf {
  static constexpr bool (*accepts[])(VARTYPE) = {&Conv<std::decay_t<A>>::Accepts..., nullptr};
  static constexpr const char* names[] = {Conv<std::decay_t<A>>::name..., nullptr};
  static constexpr Signature value{sizeof...(A), accepts, names, &ResultConv<R>::Accepts,
                                   ResultConv<R>::name};
};

template <class T, auto Fn, class R, class... A>
struct Caller {
  template <std::size_t... I>
  static HRESULT Run(void* self, const CallFrame& frame, VARIANT* result,
                     std::index_sequence<I...>) {
    constexpr std::size_t n = sizeof...(A);
    Variant scratch[n ? n : 1];
    const VARIANT* in[n ? n : 1] = {};
    for (UINT i = 0; i < n; ++i) {
      HRESULT hr = CoerceArgument(frame, i, &scratch[i], &in[i]);
      if (FAILED(hr)) return hr;
    }
    T* object = static_cast<T*>(self);
    if constexpr (std::is_void_v<R>) {
      (object->*Fn)(Conv<std::decay_t<A>>::From(*in[I])...);
      return S_OK;
    } else {
      R value = (object->*Fn)(Conv<std::decay_t<A>>::From(*in[I])...);
      if (!result) return S_OK;
      return Conv<std::decay_t<R>>::To(std::move(value), frame.resultType, result);
    }
  }
};

template <class T, auto Fn>
struct BoundCall {
  template <class R, class... A>
  struct Of {
    static HRESULT Call(void* self, const CallFrame& frame, VARIANT* result) {
      return Caller<T, Fn, R, A...>::Run(self, frame, result, std::index_sequence_for<A...>{});
    }
    static constexpr const Signature* signature = &SignatureOf<R, A...>::value;
  };
};

// The dispatch table of one class: built once from the library and the
// class's bindings (a mismatch between them stops the program), then used by
// every object of the class.
class DispatchTable {
 public:
  DispatchTable(const tlb::Library& library, const IID& iid, const std::vector<Binding>& bindings);

  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const;
  HRESULT Invoke(void* self, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) const;

  const tlb::Library& Library() const { return *library_; }
  const tlb::TypeInfo& Type() const { return *type_; }
  const IID& Iid() const { return type_->guid; }

 private:
  struct Entry {
    DISPID id;
    const tlb::Member* member;
    Thunk get = nullptr;
    Thunk put = nullptr;
    Thunk method = nullptr;
    std::vector<VARTYPE> types;  // the parameters, then a put's value
  };
  const Entry* Find(DISPID id) const;

  const tlb::Library* library_;
  const tlb::TypeInfo* type_;
  std::vector<Entry> entries_;  // by DISPID
};

// Fills EXCEPINFO (when given) for an automation error.
void FillException(EXCEPINFO* info, HRESULT scode, std::string_view description,
                   std::string_view source);

// The default type information of a dispatch object: the dispinterface's
// entry of its own library (platform/com/typeinfo.cpp).
HRESULT TypeInfoOf(const tlb::Library& library, const IID& iid, ITypeInfo** out);

}  // namespace detail

// The bindings of T's members to DISPIDs. Build them once, in a static.
template <class T>
class Bindings {
 public:
  template <auto Fn>
  Bindings& Get(DISPID id) & {
    return Add<Fn>(id, detail::BindKind::Get);
  }
  template <auto Fn>
  Bindings&& Get(DISPID id) && {
    return std::move(Add<Fn>(id, detail::BindKind::Get));
  }
  template <auto Fn>
  Bindings& Put(DISPID id) & {
    return Add<Fn>(id, detail::BindKind::Put);
  }
  template <auto Fn>
  Bindings&& Put(DISPID id) && {
    return std::move(Add<Fn>(id, detail::BindKind::Put));
  }
  template <auto Fn>
  Bindings& Method(DISPID id) & {
    return Add<Fn>(id, detail::BindKind::Method);
  }
  template <auto Fn>
  Bindings&& Method(DISPID id) && {
    return std::move(Add<Fn>(id, detail::BindKind::Method));
  }

  const std::vector<detail::Binding>& Entries() const { return entries_; }

 private:
  template <auto Fn>
  Bindings& Add(DISPID id, detail::BindKind kind) {
    using Bound = typename detail::MemberFn<decltype(Fn)>::template Apply<
        detail::BoundCall<T, Fn>::template Of>;
    entries_.push_back({id, kind, &Bound::Call, Bound::signature});
    return *this;
  }
  std::vector<detail::Binding> entries_;
};

// Implements IUnknown and IDispatch (and QueryInterface for the dispinterface's
// IID) for T, which serves one dispinterface of a library; `Extra` are further
// interfaces T implements itself (a control's platform interfaces, say).
// T provides `static const com::Bindings<T>& GetBindings()`.
//
// GetTypeInfoCount/GetTypeInfo answer from the library the object was made
// with; a class that must answer otherwise (only when its library is
// registered, say) overrides them.
template <class T, class... Extra>
class DispatchObject : public Object<IDispatch, Extra...> {
 public:
  DispatchObject(const tlb::Library& library, const IID& iid) : table_(&TableFor(library, iid)) {}

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return detail::TypeInfoOf(table_->Library(), table_->Iid(), out);
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return table_->GetIDsOfNames(riid, names, count, ids);
  }
  HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override {
    return table_->Invoke(static_cast<T*>(this), id, riid, flags, params, result, excepInfo,
                          argErr);
  }

  // This object as IDispatch, with a new reference.
  ComPtr<IDispatch> AsDispatch() { return ComPtr<IDispatch>(static_cast<IDispatch*>(this)); }

 protected:
  void* QueryExtraInterface(REFIID riid) override {
    return riid == table_->Iid() ? static_cast<IDispatch*>(this) : nullptr;
  }

 private:
  static const detail::DispatchTable& TableFor(const tlb::Library& library, const IID& iid) {
    static const detail::DispatchTable table(library, iid, T::GetBindings().Entries());
    return table;
  }
  const detail::DispatchTable* table_;
};

}  // namespace com
