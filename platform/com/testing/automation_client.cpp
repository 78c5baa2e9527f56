// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/testing/automation_client.h"

#include <algorithm>

namespace mqtest {
namespace {

com::Variant Coerced(const com::Variant& value, VARTYPE vt) {
  com::Variant out;
  if (FAILED(VariantChangeType(&out, &value, 0, vt))) VariantInit(&out);
  return out;
}

}  // namespace

std::string Result::Str() const {
  if (!Ok()) return {};
  com::Variant v = Coerced(value, VT_BSTR);
  return v.vt == VT_BSTR ? com::Utf8FromBstr(v.bstrVal) : std::string();
}

LONG Result::Long() const {
  if (!Ok()) return 0;
  com::Variant v = Coerced(value, VT_I4);
  return v.vt == VT_I4 ? v.lVal : 0;
}

bool Result::Bool() const {
  if (!Ok()) return false;
  com::Variant v = Coerced(value, VT_BOOL);
  return v.vt == VT_BOOL && v.boolVal != VARIANT_FALSE;
}

com::ComPtr<IDispatch> Result::Object() const {
  if (!Ok() || value.vt != VT_DISPATCH) return nullptr;
  return com::ComPtr<IDispatch>(value.pdispVal);
}

com::ComPtr<IUnknown> Result::Unknown() const {
  if (!Ok() || (value.vt != VT_UNKNOWN && value.vt != VT_DISPATCH)) return nullptr;
  return com::ComPtr<IUnknown>(value.punkVal);
}

com::Variant Arg(SHORT v) {
  return com::Variant::I2(v);
}
com::Variant Arg(int v) {
  return com::Variant::I4(v);
}
com::Variant Arg(bool v) {
  return com::Variant::Bool(v);
}
com::Variant Arg(const char* v) {
  return com::Variant::Str(v);
}
com::Variant Arg(const std::string& v) {
  return com::Variant::Str(v);
}
com::Variant Arg(IDispatch* v) {
  return com::Variant::Dispatch(v);
}
com::Variant Arg(const com::ComPtr<IDispatch>& v) {
  return com::Variant::Dispatch(v.Get());
}

Result Invoke(IDispatch* object, std::string_view name, WORD flags,
              std::vector<com::Variant> args) {
  Result result;
  if (!object) {
    result.hr = E_POINTER;
    return result;
  }
  std::u16string wide = com::Utf8ToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  result.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(result.hr)) return result;

  std::reverse(args.begin(), args.end());  // Invoke takes the last argument first
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.empty() ? nullptr : static_cast<VARIANTARG*>(args.data()), nullptr,
                    static_cast<UINT>(args.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  EXCEPINFO info{};
  result.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result.value,
                             &info, &result.argErr);
  if (result.hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    result.scode = info.scode;
    result.description = com::Utf8FromBstr(info.bstrDescription);
  }
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  return result;
}

}  // namespace mqtest
