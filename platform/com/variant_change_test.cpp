// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/testdata/sample_counter.h"
#include "platform/com/unknown.h"

namespace {

com::Variant Typed(VARTYPE vt) {
  com::Variant v;
  v.vt = vt;
  return v;
}

// A conversion's outcome as text: the type and value, or the error's name.
std::string Outcome(const VARIANT& in, VARTYPE vt, USHORT flags = 0) {
  com::Variant out;
  HRESULT hr = VariantChangeType(&out, &in, flags, vt);
  if (hr == DISP_E_TYPEMISMATCH) return "mismatch";
  if (hr == DISP_E_OVERFLOW) return "overflow";
  if (hr != S_OK) return com::HResultToString(hr);
  if (out.vt == VT_I2) return "I2 " + std::to_string(out.iVal);
  if (out.vt == VT_I4) return "I4 " + std::to_string(out.lVal);
  if (out.vt == VT_BOOL) return "BOOL " + std::to_string(out.boolVal);
  if (out.vt == VT_BSTR) return "BSTR " + com::Utf8FromBstr(out.bstrVal);
  return "type " + std::to_string(out.vt);
}

TEST(VariantChangeType, TextNumbersBoolsAndEmpty) {
  com::Variant tenth = Typed(VT_R8), null = Typed(VT_NULL), missing = Typed(VT_ERROR);
  tenth.dblVal = 0.1;
  missing.scode = DISP_E_PARAMNOTFOUND;
  LONG number = 41;
  BSTR text = SysAllocString(u"12");
  com::Variant numberRef = Typed(VT_I4 | VT_BYREF), textRef = Typed(VT_BSTR | VT_BYREF);
  numberRef.plVal = &number;
  textRef.pbstrVal = &text;
  const struct {
    com::Variant in;
    VARTYPE vt;
    std::string want;
    USHORT flags = 0;
  } cases[] = {
      {com::Variant::Str("2"), VT_I4, "I4 2"},
      {com::Variant::Str(" -2 "), VT_I2, "I2 -2"},
      {com::Variant::Str("2.5"), VT_I4, "I4 2"},  // half to even
      {com::Variant::Str("3.5"), VT_I4, "I4 4"},
      {com::Variant::Str("40000"), VT_I2, "overflow"},
      {com::Variant::Str("99999999999999999999"), VT_I4, "overflow"},
      {com::Variant::Str("1e400"), VT_I4, "overflow"},
      {com::Variant::Str("True"), VT_BOOL, "BOOL -1"},
      {com::Variant::Str("0"), VT_BOOL, "BOOL 0"},
      // (The other end of the range: the Python client's 16-bit property.)
      {com::Variant::I4(-32769), VT_I2, "overflow"},
      {com::Variant::Bool(true), VT_I4, "I4 -1"},
      {com::Variant::Bool(true), VT_BSTR, "BSTR -1"},
      {com::Variant::Bool(false), VT_BSTR, "BSTR False", VARIANT_ALPHABOOL},
      {com::Variant::I2(7), VT_BOOL, "BOOL -1"},
      {com::Variant::I4(-123), VT_BSTR, "BSTR -123"},
      {tenth, VT_BSTR, "BSTR 0.1"},
      {com::Variant(), VT_I4, "I4 0"},
      {com::Variant(), VT_BSTR, "BSTR "},
      {null, VT_I4, "mismatch"},
      {null, VT_BSTR, "mismatch"},
      {null, VT_NULL, "type 1"},
      {missing, VT_BSTR, "mismatch"},
      {com::Variant::I4(1), VT_I4 | VT_BYREF, com::HResultToString(DISP_E_BADVARTYPE)},
      {numberRef, VT_BSTR, "BSTR 41"},
      {textRef, VT_I2, "I2 12"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Outcome(c.in, c.vt, c.flags), c.want) << Outcome(c.in, VT_BSTR) << " to " << c.vt;
  }
  for (const char* bad : {"x", "", "  ", "2x", "0x10", "inf", "nan", "1e", "-", "."}) {
    EXPECT_EQ(Outcome(com::Variant::Str(bad), VT_I4), "mismatch") << bad;
  }

  // In place: the source string is freed and replaced by the number, but a
  // by-reference string still belongs to the caller.
  ASSERT_EQ(VariantChangeType(&textRef, &textRef, 0, VT_I4), S_OK);
  EXPECT_EQ(textRef.lVal, 12);
  SysFreeString(text);
  com::Variant inplace = com::Variant::Str("5");
  ASSERT_EQ(VariantChangeType(&inplace, &inplace, 0, VT_I4), S_OK);
  EXPECT_EQ(inplace.lVal, 5);
  // A failed conversion leaves the destination as it was.
  com::Variant keep = com::Variant::Str("x");
  EXPECT_EQ(VariantChangeType(&keep, &keep, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(com::Utf8FromBstr(keep.bstrVal), "x");
}

// An object converts through its value property (DISPID 0); the sample
// counter has none, so it converts to nothing but another object type.
TEST(VariantChangeType, ObjectsWithoutAValueProperty) {
  auto object = com::MakeObject<sample::CCounter>();
  IUnknown* identity = object->Identity();
  EXPECT_EQ(Outcome(com::Variant::Dispatch(object.Get()), VT_I4), "mismatch");
  EXPECT_EQ(Outcome(com::Variant::Dispatch(nullptr), VT_BSTR), "mismatch");
  EXPECT_EQ(Outcome(com::Variant::Unknown(identity), VT_I4), "mismatch");
  EXPECT_EQ(Outcome(com::Variant::Str("1"), VT_DISPATCH), "mismatch");
  com::Variant out, dispatch = com::Variant::Dispatch(object.Get()),
                    unknown = com::Variant::Unknown(identity);
  ASSERT_EQ(VariantChangeType(&out, &dispatch, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(out.punkVal, identity);
  ASSERT_EQ(VariantChangeType(&out, &unknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(out.pdispVal, static_cast<IDispatch*>(object.Get()));
}

}  // namespace
