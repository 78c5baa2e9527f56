// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/variant.h"

#include <cstring>

#include "platform/com/dispatch.h"

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
  if (!dest || !source) return E_INVALIDARG;
  if (dest == source) return S_OK;
  VARIANT copy = *source;
  switch (source->vt) {
    case VT_BSTR:
      if (source->bstrVal) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
      }
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (source->punkVal) source->punkVal->AddRef();
      break;
    default:
      break;
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source) {
  if (!dest || !source) return E_INVALIDARG;
  if (!(source->vt & VT_BYREF)) return VariantCopy(dest, source);
  VARIANT direct;
  VariantInit(&direct);
  direct.vt = source->vt & ~VT_BYREF;
  if (!source->byref) return E_INVALIDARG;
  switch (direct.vt) {
    case VT_I2:
      direct.iVal = *source->piVal;
      break;
    case VT_I4:
    case VT_ERROR:
      direct.lVal = *source->plVal;
      break;
    case VT_BOOL:
      direct.boolVal = *source->pboolVal;
      break;
    case VT_BSTR:
      direct.bstrVal = *source->pbstrVal;
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      direct.punkVal = *source->ppunkVal;
      break;
    case VT_VARIANT:
      return VariantCopyInd(dest, source->pvarVal);
    case VT_R8:
    case VT_DATE:
      std::memcpy(&direct.dblVal, source->byref, sizeof(double));
      break;
    case VT_UI1:
      direct.bVal = *source->pbVal;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  return VariantCopy(dest, &direct);
}

namespace com {

Variant Variant::I2(SHORT value) {
  Variant v;
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}
Variant Variant::I4(LONG value) {
  Variant v;
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
Variant Variant::Bool(bool value) {
  Variant v;
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
Variant Variant::Str(std::string_view utf8) {
  Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = BstrFromUtf8(utf8);
  return v;
}
Variant Variant::Dispatch(IDispatch* p) {
  Variant v;
  v.vt = VT_DISPATCH;
  v.pdispVal = p;
  if (p) p->AddRef();
  return v;
}
Variant Variant::Unknown(IUnknown* p) {
  Variant v;
  v.vt = VT_UNKNOWN;
  v.punkVal = p;
  if (p) p->AddRef();
  return v;
}

}  // namespace com
