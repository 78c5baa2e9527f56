#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"
#include "tests/support/automation_client.h"

namespace {

using com::tlb::MemberKind;
constexpr GUID kLibId = com::Guid("{0B8C2E51-0000-4000-8000-000000000001}");
constexpr IID kIid = com::Guid("{0B8C2E51-0000-4000-8000-000000000002}");

const com::tlb::Library& TestLibrary() {
  static const com::tlb::Library lib{
      "TESTLib",
      kLibId,
      1,
      0,
      0x409,
      SYS_WIN32,
      0,
      "",
      "",
      {},
      {{TKIND_DISPATCH,
        "ITest",
        kIid,
        TYPEFLAG_FDISPATCHABLE,
        "",
        {{1, "Count", MemberKind::PropertyGet, {VT_I2}},
         {2, "Name", MemberKind::PropertyGetPut, {VT_BSTR}},
         {3, "Flag", MemberKind::PropertyGetPut, {VT_BOOL}},
         {4, "Item", MemberKind::PropertyGet, {VT_DISPATCH, "ITest"}, {{"Key", {VT_VARIANT}}}},
         {5, "Add", MemberKind::Method, {VT_I4}, {{"iFirst", {VT_I4}}, {"iSecond", {VT_I4}}}},
         {6, "Fail", MemberKind::Method, {VT_EMPTY}},
         {7, "Echo", MemberKind::Method, {VT_BSTR}, {{"strText", {VT_BSTR}}}},
         {-4, "_NewEnum", MemberKind::PropertyGet, {VT_UNKNOWN}, {}, FUNCFLAG_FRESTRICTED}}}}};
  return lib;
}

class Sample : public com::DispatchObject<Sample> {
 public:
  Sample() : DispatchObject(TestLibrary(), kIid) {}
  SHORT Count() { return 3; }
  std::string Name() const { return name; }
  void SetName(const std::string& value) { name = value; }
  SHORT Flag() { return flag; }
  void SetFlag(SHORT value) { flag = value; }
  com::ComPtr<IDispatch> Item(const VARIANT& key) {
    lastKey = key.vt;
    return key.vt == VT_I4 && key.lVal == 1 ? AsDispatch() : nullptr;
  }
  LONG Add(LONG a, LONG b) { return a + b; }
  void Fail() { throw com::AutomationError{E_INVALIDARG, "bad thing", "Tester"}; }
  std::u16string Echo(std::u16string text) { return text; }
  com::ComPtr<IUnknown> NewEnum() { return nullptr; }

  static const com::Bindings<Sample>& GetBindings() {
    static const auto bindings = com::Bindings<Sample>()
                                     .Get<&Sample::Count>(1)
                                     .Get<&Sample::Name>(2)
                                     .Put<&Sample::SetName>(2)
                                     .Get<&Sample::Flag>(3)
                                     .Put<&Sample::SetFlag>(3)
                                     .Get<&Sample::Item>(4)
                                     .Method<&Sample::Add>(5)
                                     .Method<&Sample::Fail>(6)
                                     .Method<&Sample::Echo>(7)
                                     .Get<&Sample::NewEnum>(-4);
    return bindings;
  }

  std::string name = "initial";
  SHORT flag = 0;
  VARTYPE lastKey = VT_EMPTY;
};

using mqtest::Invoke;

DISPID IdOf(IDispatch* d, const char16_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 12345;
  d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  return id;
}

TEST(DispatchObject, NamesAreFoundCaseInsensitivelyWithParameters) {
  auto t = com::MakeObject<Sample>();
  EXPECT_EQ(IdOf(t.Get(), u"cOuNt"), 1);
  EXPECT_EQ(IdOf(t.Get(), u"_newenum"), -4);
  EXPECT_EQ(IdOf(t.Get(), u"Missing"), DISPID_UNKNOWN);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"add"), const_cast<LPOLESTR>(u"ISECOND"),
                      const_cast<LPOLESTR>(u"nope")};
  DISPID ids[3] = {};
  EXPECT_EQ(t->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(std::vector<DISPID>(ids, ids + 3), (std::vector<DISPID>{5, 1, DISPID_UNKNOWN}));
  EXPECT_EQ(t->GetIDsOfNames(kIid, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  com::ComPtr<IDispatch> viaIid;
  ASSERT_EQ(t->QueryInterface(kIid, viaIid.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(viaIid.Get(), static_cast<IDispatch*>(t.Get()));
}

TEST(DispatchObject, GetsPutsAndMethodsWithCoercion) {
  auto t = com::MakeObject<Sample>();
  constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD;
  auto count = Invoke(t.Get(), "Count", kCall | kGet, {});
  EXPECT_EQ(count.value.vt, VT_I2);
  EXPECT_EQ(count.Long(), 3);
  auto sum = Invoke(t.Get(), "Add", kCall | kGet, {com::Variant::Str(" 40 "), com::Variant::I2(2)});
  EXPECT_EQ(sum.value.vt, VT_I4);
  EXPECT_EQ(sum.Long(), 42);
  ASSERT_EQ(Invoke(t.Get(), "Name", kPut, {com::Variant::I4(17)}).hr, S_OK);
  EXPECT_EQ(t->name, "17");
  EXPECT_EQ(Invoke(t.Get(), "Name", kGet, {}).Str(), "17");
  ASSERT_EQ(Invoke(t.Get(), "Flag", kPut, {com::Variant::I4(5)}).hr, S_OK);
  auto flag = Invoke(t.Get(), "Flag", kGet, {});
  EXPECT_EQ(flag.value.vt, VT_BOOL);
  EXPECT_EQ(flag.value.boolVal, VARIANT_TRUE);
  // A property get with an argument, which reaches the member as it came.
  EXPECT_EQ(Invoke(t.Get(), "Item", kGet, {com::Variant::I4(1)}).Object().Get(),
            static_cast<IDispatch*>(t.Get()));
  auto none = Invoke(t.Get(), "Item", kGet, {com::Variant::Str("k")});
  EXPECT_EQ(none.value.vt, VT_DISPATCH);
  EXPECT_EQ(none.value.pdispVal, nullptr);
  EXPECT_EQ(t->lastKey, VT_BSTR);
  // By-reference arguments and exact UTF-16 with an embedded NUL.
  LONG first = 1;
  com::Variant ref;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &first;
  EXPECT_EQ(Invoke(t.Get(), "Add", kCall, {ref, com::Variant::I4(1)}).Long(), 2);
  com::Variant nul;
  nul.vt = VT_BSTR;
  nul.bstrVal = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(Invoke(t.Get(), "Echo", kCall, {nul}).value.bstrVal), 3u);
  // Named arguments by parameter position.
  std::vector<com::Variant> args{com::Variant::I4(100), com::Variant::I4(1)};  // iSecond, iFirst
  DISPID named[] = {1, 0};
  DISPPARAMS params{args.data(), named, 2, 2};
  com::Variant out;
  ASSERT_EQ(t->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &params, &out, nullptr, nullptr), S_OK);
  EXPECT_EQ(out.lVal, 101);
}

TEST(DispatchObject, RefusesWithTheStandardErrors) {
  auto t = com::MakeObject<Sample>();
  com::Variant missing;
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  const com::Variant one = com::Variant::I4(1);
  // puArgErr counts in rgvarg, where the last argument comes first.
  const struct {
    const char* name;
    WORD flags;
    std::vector<com::Variant> args;
    HRESULT hr;
    UINT argErr = ~0u;
  } cases[] = {
      {"Add", DISPATCH_PROPERTYPUT, {one}, DISP_E_MEMBERNOTFOUND},
      {"Count", DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND},
      {"Add", DISPATCH_PROPERTYGET, {one, one}, DISP_E_MEMBERNOTFOUND},
      {"Add", DISPATCH_METHOD, {one}, DISP_E_BADPARAMCOUNT},
      {"Add", DISPATCH_METHOD, {one, one, one}, DISP_E_BADPARAMCOUNT},
      {"Add", DISPATCH_METHOD, {missing, one}, DISP_E_PARAMNOTOPTIONAL, 1},
      {"Add", DISPATCH_METHOD, {com::Variant::Str("x"), one}, DISP_E_TYPEMISMATCH, 1},
      {"Add", DISPATCH_METHOD, {one, com::Variant::Str("3000000000")}, DISP_E_OVERFLOW, 0},
      {"Flag", DISPATCH_PROPERTYPUT, {com::Variant::Str("maybe")}, DISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& c : cases) {
    auto result = Invoke(t.Get(), c.name, c.flags, c.args);
    EXPECT_EQ(result.hr, c.hr) << c.name << " " << c.flags;
    if (c.argErr != ~0u) {
      EXPECT_EQ(result.argErr, c.argErr) << c.name;
    }
  }
  auto setOnly = Invoke(t.Get(), "Count", DISPATCH_PROPERTYPUT, {com::Variant::I2(1)});
  EXPECT_EQ(setOnly.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(setOnly.scode, CTL_E_SETNOTSUPPORTED);
  EXPECT_EQ(setOnly.description, "Set not supported");
  auto fail = Invoke(t.Get(), "Fail", DISPATCH_METHOD, {});
  EXPECT_EQ(fail.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(fail.scode, E_INVALIDARG);
  EXPECT_EQ(fail.description, "bad thing");
  EXPECT_EQ(fail.value.vt, VT_EMPTY);

  // Without the named DISPID_PROPERTYPUT, without EXCEPINFO, through another IID.
  com::Variant value = com::Variant::I4(1);
  DISPPARAMS unnamed{&value, nullptr, 1, 0}, none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(t->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(t->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(t->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(t->Invoke(1, kIid, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

// A class whose bindings disagree with the table stops at its first creation.
class Wrong : public com::DispatchObject<Wrong> {
 public:
  Wrong() : DispatchObject(TestLibrary(), kIid) {}
  LONG Count() { return 0; }
  static const com::Bindings<Wrong>& GetBindings() {
    static const auto bindings = com::Bindings<Wrong>().Get<&Wrong::Count>(1);
    return bindings;
  }
};

TEST(DispatchObjectDeathTest, SignatureMismatchNamesTheMember) {
  EXPECT_DEATH(com::MakeObject<Wrong>(), "ITest: member Count \\(DISPID 1\\).*LONG");
}

}  // namespace
