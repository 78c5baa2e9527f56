// SPDX-License-Identifier: LGPL-2.1-or-later
// A small automation client for tests: calls members of any IDispatch by name
// (GetIDsOfNames, then Invoke), as a late-bound client does, and hands back the
// outcome whole so a test can check the result code as well as the value.
//
//   auto folders = Get(control, "Folders").Object();
//   EXPECT_EQ(Get(folders, "Count").Long(), 4);
//   EXPECT_EQ(Call(folders, "FindFolderName", SHORT{2}).Str(), "A1");
//   EXPECT_EQ(Put(control, "Folder", SHORT{2}).hr, S_OK);
//   auto refused = Put(control, "Messages", 1);
//   EXPECT_EQ(refused.hr, DISP_E_EXCEPTION);  EXPECT_EQ(refused.scode, CTL_E_SETNOTSUPPORTED);
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/dispatch.h"

namespace mqtest {

struct Result {
  HRESULT hr = E_FAIL;  // GetIDsOfNames' failure, or Invoke's answer
  com::Variant value;   // the result (VT_EMPTY for none)
  SCODE scode = 0;      // EXCEPINFO's scode when hr is DISP_E_EXCEPTION
  std::string description;
  UINT argErr = ~0u;  // puArgErr as Invoke left it

  bool Ok() const { return hr == S_OK; }
  // The value coerced to a type (VariantChangeType); the type's zero value,
  // empty text or null when the call failed or the value does not convert.
  std::string Str() const;
  LONG Long() const;
  bool Bool() const;
  com::ComPtr<IDispatch> Object() const;
  com::ComPtr<IUnknown> Unknown() const;
};

// An argument: converts the C++ values tests pass most.
com::Variant Arg(SHORT v);
com::Variant Arg(int v);  // VT_I4 (LONG is int here)
com::Variant Arg(bool v);
com::Variant Arg(const char* v);
com::Variant Arg(const std::string& v);
com::Variant Arg(IDispatch* v);
com::Variant Arg(const com::ComPtr<IDispatch>& v);
inline com::Variant Arg(com::Variant v) {
  return v;
}

// Invokes `name` with `flags`; `args` in natural (left-to-right) order.
Result Invoke(IDispatch* object, std::string_view name, WORD flags, std::vector<com::Variant> args);

template <class... A>
Result Call(IDispatch* object, std::string_view name, A&&... args) {
  return Invoke(object, name, DISPATCH_METHOD, {Arg(std::forward<A>(args))...});
}
template <class... A>
Result Get(IDispatch* object, std::string_view name, A&&... args) {
  return Invoke(object, name, DISPATCH_PROPERTYGET, {Arg(std::forward<A>(args))...});
}
// A property put: the value goes as the named argument DISPID_PROPERTYPUT.
template <class V>
Result Put(IDispatch* object, std::string_view name, V&& value) {
  return Invoke(object, name, DISPATCH_PROPERTYPUT, {Arg(std::forward<V>(value))});
}

template <class... A>
Result Call(const com::ComPtr<IDispatch>& object, std::string_view name, A&&... args) {
  return Call(object.Get(), name, std::forward<A>(args)...);
}
template <class... A>
Result Get(const com::ComPtr<IDispatch>& object, std::string_view name, A&&... args) {
  return Get(object.Get(), name, std::forward<A>(args)...);
}
template <class V>
Result Put(const com::ComPtr<IDispatch>& object, std::string_view name, V&& value) {
  return Put(object.Get(), name, std::forward<V>(value));
}

}  // namespace mqtest
