// SPDX-License-Identifier: LGPL-2.1-or-later
// The dispatch engine over the sample counter, called in this process. The
// calls a late-bound client makes across the sample module (names, positional
// arguments, argument errors by position, exceptions) are the Python client's
// test (python/tests/test_dispatch.py); here, what it cannot reach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/testdata/sample_counter.h"
#include "platform/com/testing/automation_client.h"

namespace {

using mqtest::Invoke;
using sample::CCounter;
constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD;

TEST(DispatchObject, NamesAreFoundCaseInsensitivelyWithParameters) {
  auto t = com::MakeObject<CCounter>();
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"label"), const_cast<LPOLESTR>(u"STRPREFIX"),
                      const_cast<LPOLESTR>(u"nope")};
  DISPID ids[3] = {};
  EXPECT_EQ(t->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(std::vector<DISPID>(ids, ids + 3), (std::vector<DISPID>{7, 1, DISPID_UNKNOWN}));
  com::ComPtr<IDispatch> viaIid;
  ASSERT_EQ(t->QueryInterface(sample::kICounter, viaIid.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(viaIid.Get(), static_cast<IDispatch*>(t.Get()));
}

TEST(DispatchObject, GetsPutsAndMethodsWithCoercion) {
  auto t = com::MakeObject<CCounter>();
  auto sum = Invoke(t.Get(), "Add", kCall | kGet, {com::Variant::Str(" 40 ")});
  EXPECT_EQ(sum.value.vt, VT_I4);
  EXPECT_EQ(sum.Long(), 40);
  auto count = Invoke(t.Get(), "Count", kCall | kGet, {});
  EXPECT_EQ(count.value.vt, VT_I2);
  EXPECT_EQ(count.Long(), 1);
  ASSERT_EQ(Invoke(t.Get(), "Name", kPut, {com::Variant::I4(17)}).hr, S_OK);
  EXPECT_EQ(t->Name(), "17");
  EXPECT_EQ(Invoke(t.Get(), "Name", kGet, {}).Str(), "17");
  ASSERT_EQ(Invoke(t.Get(), "Enabled", kPut, {com::Variant::I4(5)}).hr, S_OK);
  auto enabled = Invoke(t.Get(), "Enabled", kGet, {});
  EXPECT_EQ(enabled.value.vt, VT_BOOL);
  EXPECT_EQ(enabled.value.boolVal, VARIANT_TRUE);
  // A property get with an argument, which reaches the member as it came.
  auto none = Invoke(t.Get(), "Item", kGet, {com::Variant::Str("k")});
  EXPECT_EQ(none.value.vt, VT_DISPATCH);
  EXPECT_EQ(none.value.pdispVal, nullptr);
  EXPECT_EQ(t->lastKey, VT_BSTR);
  // By-reference arguments and exact UTF-16 with an embedded NUL.
  LONG two = 2;
  com::Variant ref;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &two;
  EXPECT_EQ(Invoke(t.Get(), "Add", kCall, {ref}).Long(), 42);
  com::Variant nul;
  nul.vt = VT_BSTR;
  nul.bstrVal = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(Invoke(t.Get(), "Echo", kCall, {nul}).value.bstrVal), 3u);
  // Named arguments by their position.
  std::vector<com::Variant> args{com::Variant::Str("#"), com::Variant::I2(7)};  // prefix, index
  DISPID named[] = {1, 0};
  DISPPARAMS params{args.data(), named, 2, 2};
  com::Variant out;
  ASSERT_EQ(t->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, &out, nullptr, nullptr), S_OK);
  EXPECT_EQ(com::Utf8FromBstr(out.bstrVal), "#7");
}

TEST(DispatchObject, RefusesWithTheStandardErrors) {
  auto t = com::MakeObject<CCounter>();
  com::Variant missing;
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  const com::Variant one = com::Variant::I4(1), text = com::Variant::Str("x");
  // puArgErr counts in rgvarg, where the last argument comes first.
  const struct {
    const char* name;
    WORD flags;
    std::vector<com::Variant> args;
    HRESULT hr;
    UINT argErr = ~0u;
  } cases[] = {
      {"Add", kPut, {one}, DISP_E_MEMBERNOTFOUND},
      {"Count", kCall, {}, DISP_E_MEMBERNOTFOUND},
      {"Add", kGet, {one, one}, DISP_E_MEMBERNOTFOUND},
      {"Add", kCall, {one, one}, DISP_E_BADPARAMCOUNT},
      {"Label", kCall, {missing, text}, DISP_E_PARAMNOTOPTIONAL, 1},
      {"Label", kCall, {one, com::Variant::Dispatch(nullptr)}, DISP_E_TYPEMISMATCH, 0},
      {"Enabled", kPut, {com::Variant::Str("maybe")}, DISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& c : cases) {
    auto result = Invoke(t.Get(), c.name, c.flags, c.args);
    EXPECT_EQ(result.hr, c.hr) << c.name << " " << c.flags;
    if (c.argErr != ~0u) {
      EXPECT_EQ(result.argErr, c.argErr) << c.name;
    }
  }
  auto setOnly = Invoke(t.Get(), "Count", kPut, {com::Variant::I2(1)});
  EXPECT_EQ(setOnly.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(setOnly.scode, CTL_E_SETNOTSUPPORTED);
  EXPECT_EQ(setOnly.description, "Set not supported");

  // Without the named DISPID_PROPERTYPUT, an unknown DISPID, without EXCEPINFO.
  com::Variant value = com::Variant::I4(1);
  DISPPARAMS unnamed{&value, nullptr, 1, 0}, none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(t->Invoke(2, IID_NULL, 0, kPut, &unnamed, nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(t->Invoke(99, IID_NULL, 0, kCall, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(t->Invoke(8, IID_NULL, 0, kCall, &none, nullptr, nullptr, nullptr), DISP_E_EXCEPTION);
}

// A class whose bindings disagree with the table stops at its first creation.
class Wrong : public com::DispatchObject<Wrong> {
 public:
  Wrong() : DispatchObject(sample::Library(), sample::kICounter) {}
  LONG Count() { return 0; }
  static const com::Bindings<Wrong>& GetBindings() {
    static const auto bindings = com::Bindings<Wrong>().Get<&Wrong::Count>(1);
    return bindings;
  }
};

TEST(DispatchObjectDeathTest, SignatureMismatchNamesTheMember) {
  EXPECT_DEATH(com::MakeObject<Wrong>(), "ICounter: member Count \\(DISPID 1\\).*LONG");
}

}  // namespace
