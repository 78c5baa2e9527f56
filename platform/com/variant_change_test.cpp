#include <gtest/gtest.h>

#include "platform/com/dispatch.h"
#include "platform/com/unknown.h"

namespace {

HRESULT Change(const VARIANT& in, VARTYPE vt, com::Variant* out, USHORT flags = 0) {
  return VariantChangeType(out, &in, flags, vt);
}

std::string Text(const VARIANT& v) {
  return com::Utf8FromBstr(v.bstrVal);
}

TEST(VariantChangeType, TextToNumbers) {
  com::Variant out;
  ASSERT_EQ(Change(com::Variant::Str("2"), VT_I4, &out), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 2);
  ASSERT_EQ(Change(com::Variant::Str(" -2 "), VT_I2, &out), S_OK);
  EXPECT_EQ(out.iVal, -2);
  ASSERT_EQ(Change(com::Variant::Str("2.5"), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 2);  // half to even
  ASSERT_EQ(Change(com::Variant::Str("3.5"), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 4);
  for (const char* bad : {"x", "", "  ", "2x", "0x10", "inf", "nan", "1e", "-", "."}) {
    EXPECT_EQ(Change(com::Variant::Str(bad), VT_I4, &out), DISP_E_TYPEMISMATCH) << bad;
  }
  EXPECT_EQ(Change(com::Variant::Str("40000"), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(com::Variant::Str("99999999999999999999"), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(com::Variant::Str("1e400"), VT_I4, &out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(com::Variant::Str("True"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(Change(com::Variant::Str("0"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
}

TEST(VariantChangeType, NumbersBoolsAndEmpty) {
  com::Variant out;
  EXPECT_EQ(Change(com::Variant::I4(40000), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(com::Variant::I4(-32769), VT_I2, &out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(com::Variant::I4(-32768), VT_I2, &out), S_OK);
  EXPECT_EQ(out.iVal, -32768);
  ASSERT_EQ(Change(com::Variant::Bool(true), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, -1);
  ASSERT_EQ(Change(com::Variant::Bool(true), VT_BSTR, &out), S_OK);
  EXPECT_EQ(Text(out), "-1");
  ASSERT_EQ(Change(com::Variant::Bool(false), VT_BSTR, &out, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(Text(out), "False");
  ASSERT_EQ(Change(com::Variant::I2(7), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(Change(com::Variant::I4(-123), VT_BSTR, &out), S_OK);
  EXPECT_EQ(Text(out), "-123");
  com::Variant d;
  d.vt = VT_R8;
  d.dblVal = 0.1;
  ASSERT_EQ(Change(d, VT_BSTR, &out), S_OK);
  EXPECT_EQ(Text(out), "0.1");

  com::Variant empty;
  ASSERT_EQ(Change(empty, VT_I4, &out), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 0);
  ASSERT_EQ(Change(empty, VT_BSTR, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(Text(out), "");
  com::Variant null;
  null.vt = VT_NULL;
  EXPECT_EQ(Change(null, VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(null, VT_BSTR, &out), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(Change(null, VT_NULL, &out), S_OK);
  com::Variant error;
  error.vt = VT_ERROR;
  error.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(Change(error, VT_BSTR, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(com::Variant::I4(1), VT_I4 | VT_BYREF, &out), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, ByRefSourcesAndInPlace) {
  LONG value = 41;
  com::Variant ref;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &value;
  com::Variant out;
  ASSERT_EQ(Change(ref, VT_BSTR, &out), S_OK);
  EXPECT_EQ(Text(out), "41");
  BSTR text = SysAllocString(u"12");
  com::Variant sref;
  sref.vt = VT_BSTR | VT_BYREF;
  sref.pbstrVal = &text;
  ASSERT_EQ(Change(sref, VT_I2, &out), S_OK);
  EXPECT_EQ(out.iVal, 12);
  // In place: the source string is freed and replaced by the number.
  ASSERT_EQ(VariantChangeType(&sref, &sref, 0, VT_I4), S_OK);
  EXPECT_EQ(sref.lVal, 12);
  SysFreeString(text);  // the by-reference string still belongs to us
  com::Variant inplace = com::Variant::Str("5");
  ASSERT_EQ(VariantChangeType(&inplace, &inplace, 0, VT_I4), S_OK);
  EXPECT_EQ(inplace.lVal, 5);
  // A failed conversion leaves the destination as it was.
  com::Variant keep = com::Variant::Str("x");
  EXPECT_EQ(VariantChangeType(&keep, &keep, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Text(keep), "x");
}

// An object whose value property (DISPID 0) is a given variant, or that has none.
class ValueObject : public com::Object<IDispatch> {
 public:
  explicit ValueObject(const com::Variant* value) : value_(value) {}
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || params->cArgs || !value_)
      return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, value_);
  }

 private:
  const com::Variant* value_;
};

TEST(VariantChangeType, ObjectsThroughTheirValueProperty) {
  com::Variant value = com::Variant::Str("17");
  auto withValue = com::MakeObject<ValueObject>(&value);
  auto without = com::MakeObject<ValueObject>(nullptr);
  com::Variant out;
  ASSERT_EQ(Change(com::Variant::Dispatch(withValue.Get()), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 17);
  EXPECT_EQ(Change(com::Variant::Dispatch(withValue.Get()), VT_I4, &out, VARIANT_NOVALUEPROP),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(com::Variant::Dispatch(without.Get()), VT_BSTR, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(com::Variant::Dispatch(nullptr), VT_I4, &out), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(Change(com::Variant::Dispatch(without.Get()), VT_UNKNOWN, &out), S_OK);
  EXPECT_EQ(out.punkVal, without->Identity());
  ASSERT_EQ(Change(com::Variant::Unknown(without->Identity()), VT_DISPATCH, &out), S_OK);
  EXPECT_EQ(out.pdispVal, static_cast<IDispatch*>(without.Get()));
  EXPECT_EQ(Change(com::Variant::Unknown(without->Identity()), VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(com::Variant::Str("1"), VT_DISPATCH, &out), DISP_E_TYPEMISMATCH);
}

}  // namespace
