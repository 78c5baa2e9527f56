// SPDX-License-Identifier: LGPL-2.1-or-later
// VariantChangeType: the coercions an automation call relies on. Numbers go
// through a 64-bit integer or a double, with range checks (DISP_E_OVERFLOW)
// and round-half-to-even for fractions; text is parsed after trimming blanks;
// an object is coerced through its value property.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/variant.h"

namespace {

struct Number {
  bool integral = true;
  LONGLONG i = 0;
  double d = 0;
  double AsDouble() const { return integral ? static_cast<double>(i) : d; }
};

bool IsNumeric(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

// VT_EMPTY and every numeric type; false for anything else.
bool ReadNumber(const VARIANT& v, Number* out) {
  Number n;
  switch (v.vt) {
    case VT_EMPTY:
      break;
    case VT_I1:
      n.i = static_cast<signed char>(v.bVal);
      break;
    case VT_UI1:
      n.i = v.bVal;
      break;
    case VT_I2:
      n.i = v.iVal;
      break;
    case VT_BOOL:
      n.i = v.boolVal ? -1 : 0;
      break;
    case VT_UI2:
      n.i = static_cast<USHORT>(v.iVal);
      break;
    case VT_I4:
      n.i = v.lVal;
      break;
    case VT_INT:
      n.i = v.intVal;
      break;
    case VT_UI4:
      n.i = static_cast<ULONG>(v.lVal);
      break;
    case VT_UINT:
      n.i = v.uintVal;
      break;
    case VT_I8:
      n.i = v.llVal;
      break;
    case VT_UI8: {
      auto u = static_cast<ULONGLONG>(v.llVal);
      if (u > static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max())) {
        n.integral = false;
        n.d = static_cast<double>(u);
      } else {
        n.i = static_cast<LONGLONG>(u);
      }
      break;
    }
    case VT_R4:
      n.integral = false;
      n.d = v.fltVal;
      break;
    case VT_R8:
      n.integral = false;
      n.d = v.dblVal;
      break;
    default:
      return false;
  }
  *out = n;
  return true;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool EqualsAsciiNoCase(std::u16string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    char16_t c = text[k];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(word[k])) return false;
  }
  return true;
}

// Decimal text: blanks, sign, digits with an optional fraction and exponent,
// blanks. Anything else ("x", "", "0x10", "inf") is a type mismatch.
HRESULT ParseNumber(BSTR text, bool acceptBoolWords, Number* out) {
  std::u16string_view view = com::BstrView(text);
  while (!view.empty() && IsBlank(view.front())) view.remove_prefix(1);
  while (!view.empty() && IsBlank(view.back())) view.remove_suffix(1);
  if (acceptBoolWords) {
    if (EqualsAsciiNoCase(view, "true") || EqualsAsciiNoCase(view, "#true#")) {
      *out = Number{true, -1, 0};
      return S_OK;
    }
    if (EqualsAsciiNoCase(view, "false") || EqualsAsciiNoCase(view, "#false#")) {
      *out = Number{true, 0, 0};
      return S_OK;
    }
  }
  std::string ascii;
  std::size_t k = 0;
  auto digits = [&] {
    std::size_t start = k;
    while (k < view.size() && view[k] >= u'0' && view[k] <= u'9')
      ascii += static_cast<char>(view[k++]);
    return k - start;
  };
  if (k < view.size() && (view[k] == u'+' || view[k] == u'-'))
    ascii += static_cast<char>(view[k++]);
  std::size_t whole = digits();
  bool integral = true;
  std::size_t fraction = 0;
  if (k < view.size() && view[k] == u'.') {
    integral = false;
    ascii += '.';
    ++k;
    fraction = digits();
  }
  if (whole + fraction == 0) return DISP_E_TYPEMISMATCH;
  if (k < view.size() && (view[k] == u'e' || view[k] == u'E')) {
    integral = false;
    ascii += 'e';
    ++k;
    if (k < view.size() && (view[k] == u'+' || view[k] == u'-'))
      ascii += static_cast<char>(view[k++]);
    if (digits() == 0) return DISP_E_TYPEMISMATCH;
  }
  if (k != view.size()) return DISP_E_TYPEMISMATCH;
  Number n;
  if (integral && whole <= 18) {
    n.i = std::strtoll(ascii.c_str(), nullptr, 10);
  } else {
    n.integral = false;
    n.d = std::strtod(ascii.c_str(), nullptr);
    if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
  }
  *out = n;
  return S_OK;
}

// The integer a number rounds to (half to even), within [lo, hi].
HRESULT ToInteger(const Number& n, LONGLONG lo, LONGLONG hi, LONGLONG* out) {
  if (n.integral) {
    if (n.i < lo || n.i > hi) return DISP_E_OVERFLOW;
    *out = n.i;
    return S_OK;
  }
  if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
  double r = std::nearbyint(n.d);  // the default rounding mode rounds half to even
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) return DISP_E_OVERFLOW;
  *out = static_cast<LONGLONG>(r);
  return S_OK;
}

std::string FormatNumber(const Number& n, VARTYPE sourceVt, USHORT flags) {
  if (sourceVt == VT_BOOL && (flags & VARIANT_ALPHABOOL)) return n.i ? "True" : "False";
  if (n.integral) return std::to_string(n.i);
  char text[40];
  std::snprintf(text, sizeof text, sourceVt == VT_R4 ? "%.7G" : "%.15G", n.d);
  return text;
}

HRESULT NumberToVariant(const Number& n, VARTYPE sourceVt, USHORT flags, VARTYPE vt, VARIANT* out) {
  LONGLONG i = 0;
  HRESULT hr = S_OK;
  out->vt = vt;
  switch (vt) {
    case VT_I1:
      hr = ToInteger(n, -128, 127, &i);
      out->bVal = static_cast<BYTE>(i);
      break;
    case VT_UI1:
      hr = ToInteger(n, 0, 255, &i);
      out->bVal = static_cast<BYTE>(i);
      break;
    case VT_I2:
      hr = ToInteger(n, -32768, 32767, &i);
      out->iVal = static_cast<SHORT>(i);
      break;
    case VT_UI2:
      hr = ToInteger(n, 0, 65535, &i);
      out->iVal = static_cast<SHORT>(i);
      break;
    case VT_I4:
    case VT_INT:
      hr = ToInteger(n, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), &i);
      out->lVal = static_cast<LONG>(i);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = ToInteger(n, 0, std::numeric_limits<ULONG>::max(), &i);
      out->lVal = static_cast<LONG>(static_cast<ULONG>(i));
      break;
    case VT_I8:
      hr = ToInteger(n, std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max(),
                     &i);
      out->llVal = i;
      break;
    case VT_UI8:
      if (!n.integral && n.d >= 9223372036854775808.0 && n.d < 18446744073709551616.0) {
        out->llVal = static_cast<LONGLONG>(static_cast<ULONGLONG>(std::nearbyint(n.d)));
        break;
      }
      hr = ToInteger(n, 0, std::numeric_limits<LONGLONG>::max(), &i);
      out->llVal = i;
      break;
    case VT_R4: {
      double d = n.AsDouble();
      if (std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      break;
    }
    case VT_R8:
      out->dblVal = n.AsDouble();
      break;
    case VT_BOOL:
      out->boolVal = (n.integral ? n.i != 0 : n.d != 0) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_BSTR:
      out->bstrVal =
          com::BstrFromUtf8(sourceVt == VT_EMPTY ? "" : FormatNumber(n, sourceVt, flags));
      if (!out->bstrVal) return E_OUTOFMEMORY;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  return hr;
}

bool IsKnownType(VARTYPE vt) {
  return IsNumeric(vt) || vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR || vt == VT_DISPATCH ||
         vt == VT_UNKNOWN || vt == VT_ERROR || vt == VT_DATE || vt == VT_CY || vt == VT_DECIMAL;
}

// Converts a direct (not by-reference) variant into `out`, which is empty.
HRESULT Convert(const VARIANT& in, USHORT flags, VARTYPE vt, VARIANT* out, int depth) {
  if (in.vt == vt) return VariantCopy(out, &in);
  if (vt == VT_EMPTY) return S_OK;  // `out` is already empty
  switch (in.vt) {
    case VT_NULL:
      return DISP_E_TYPEMISMATCH;
    case VT_ERROR:
      // An error code is a number only to a 32-bit integer type.
      if (vt == VT_I4 || vt == VT_UI4) {
        out->vt = vt;
        out->lVal = in.scode;
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        out->vt = vt;
        out->punkVal = nullptr;
        if (!in.punkVal) return S_OK;
        HRESULT hr = in.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                                reinterpret_cast<void**>(&out->punkVal));
        if (FAILED(hr)) {
          VariantInit(out);
          return vt == VT_DISPATCH && hr == E_NOINTERFACE ? DISP_E_TYPEMISMATCH : hr;
        }
        return S_OK;
      }
      if (in.vt == VT_UNKNOWN || !in.pdispVal || (flags & VARIANT_NOVALUEPROP) || depth > 4)
        return DISP_E_TYPEMISMATCH;
      // The object's value property stands for the object.
      com::Variant value;
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      HRESULT hr = in.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                       DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
      if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
      if (value.vt & VT_BYREF) {
        com::Variant direct;
        hr = VariantCopyInd(&direct, &value);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        return Convert(direct, flags, vt, out, depth + 1);
      }
      return Convert(value, flags, vt, out, depth + 1);
    }
    case VT_BSTR: {
      if (!IsNumeric(vt)) return DISP_E_TYPEMISMATCH;
      Number n;
      HRESULT hr = ParseNumber(in.bstrVal, vt == VT_BOOL, &n);
      if (FAILED(hr)) return hr;
      return NumberToVariant(n, VT_BSTR, flags, vt, out);
    }
    default:
      break;
  }
  Number n;
  if (!ReadNumber(in, &n)) return IsKnownType(in.vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  if (in.vt == VT_EMPTY && (vt == VT_DISPATCH || vt == VT_UNKNOWN)) {
    out->vt = vt;
    out->punkVal = nullptr;
    return S_OK;
  }
  return NumberToVariant(n, in.vt, flags, vt, out);
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt) {
  if (!dest || !source) return E_INVALIDARG;
  if ((vt & (VT_BYREF | VT_ARRAY)) || !IsKnownType(vt & VT_TYPEMASK)) return DISP_E_BADVARTYPE;
  if (vt == VT_NULL && source->vt != VT_NULL) return DISP_E_TYPEMISMATCH;
  VARIANT direct;
  VariantInit(&direct);
  const VARIANT* in = source;
  com::Variant holder;
  if (source->vt & VT_BYREF) {
    HRESULT hr = VariantCopyInd(&holder, source);
    if (FAILED(hr)) return hr;
    in = &holder;
  }
  HRESULT hr = Convert(*in, flags, vt, &direct, 0);
  if (FAILED(hr)) {
    VariantClear(&direct);
    return hr;
  }
  VariantClear(dest);  // `in` no longer needed: the result is a copy
  *dest = direct;
  return S_OK;
}
