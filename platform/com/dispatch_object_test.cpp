#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"

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

// Calls `id` with arguments given in natural order (reversed into rgvarg).
struct Call {
  explicit Call(IDispatch* t) : target(t) {}
  IDispatch* target;
  HRESULT hr = S_OK;
  com::Variant result;
  EXCEPINFO info{};
  UINT argErr = 99;

  HRESULT Do(DISPID id, WORD flags, std::vector<com::Variant> args, bool put = false) {
    std::vector<com::Variant> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()),
                      put ? 1u : 0u};
    VariantClear(&result);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    info = {};
    return hr = target->Invoke(id, IID_NULL, 0, flags, &params, &result, &info, &argErr);
  }
  ~Call() {
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
  }
};

DISPID IdOf(IDispatch* d, const char16_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 12345;
  d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  return id;
}

TEST(DispatchObject, NamesAreFoundCaseInsensitivelyWithParameters) {
  auto t = com::MakeObject<Sample>();
  EXPECT_EQ(IdOf(t.Get(), u"cOuNt"), 1);
  EXPECT_EQ(IdOf(t.Get(), u"ITEM"), 4);
  EXPECT_EQ(IdOf(t.Get(), u"_newenum"), -4);
  EXPECT_EQ(IdOf(t.Get(), u"Missing"), DISPID_UNKNOWN);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"add"), const_cast<LPOLESTR>(u"ISECOND"),
                      const_cast<LPOLESTR>(u"nope")};
  DISPID ids[3] = {};
  EXPECT_EQ(t->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 5);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  EXPECT_EQ(t->GetIDsOfNames(kIid, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  com::ComPtr<IDispatch> viaIid;
  ASSERT_EQ(t->QueryInterface(kIid, viaIid.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(viaIid.Get(), static_cast<IDispatch*>(t.Get()));
}

TEST(DispatchObject, GetsPutsAndMethodsWithCoercion) {
  auto t = com::MakeObject<Sample>();
  Call c(t.Get());
  ASSERT_EQ(c.Do(1, DISPATCH_PROPERTYGET, {}), S_OK);
  EXPECT_EQ(c.result.vt, VT_I2);
  EXPECT_EQ(c.result.iVal, 3);
  ASSERT_EQ(c.Do(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}), S_OK);
  EXPECT_EQ(c.result.iVal, 3);
  ASSERT_EQ(c.Do(5, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                 {com::Variant::Str(" 40 "), com::Variant::I2(2)}),
            S_OK);
  EXPECT_EQ(c.result.vt, VT_I4);
  EXPECT_EQ(c.result.lVal, 42);
  ASSERT_EQ(c.Do(2, DISPATCH_PROPERTYPUT, {com::Variant::I4(17)}, true), S_OK);
  EXPECT_EQ(t->name, "17");
  ASSERT_EQ(c.Do(2, DISPATCH_PROPERTYGET, {}), S_OK);
  EXPECT_EQ(com::Utf8FromBstr(c.result.bstrVal), "17");
  ASSERT_EQ(c.Do(3, DISPATCH_PROPERTYPUT, {com::Variant::I4(5)}, true), S_OK);
  ASSERT_EQ(c.Do(3, DISPATCH_PROPERTYGET, {}), S_OK);
  EXPECT_EQ(c.result.vt, VT_BOOL);
  EXPECT_EQ(c.result.boolVal, VARIANT_TRUE);
  // A property get with an argument, which reaches the member as it came.
  ASSERT_EQ(c.Do(4, DISPATCH_PROPERTYGET, {com::Variant::I4(1)}), S_OK);
  EXPECT_EQ(c.result.vt, VT_DISPATCH);
  EXPECT_EQ(c.result.pdispVal, static_cast<IDispatch*>(t.Get()));
  ASSERT_EQ(c.Do(4, DISPATCH_PROPERTYGET, {com::Variant::Str("k")}), S_OK);
  EXPECT_EQ(t->lastKey, VT_BSTR);
  EXPECT_EQ(c.result.pdispVal, nullptr);
  // By-reference arguments and exact UTF-16 with an embedded NUL.
  LONG first = 1;
  com::Variant ref;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &first;
  ASSERT_EQ(c.Do(5, DISPATCH_METHOD, {ref, com::Variant::I4(1)}), S_OK);
  EXPECT_EQ(c.result.lVal, 2);
  com::Variant nul;
  nul.vt = VT_BSTR;
  nul.bstrVal = SysAllocStringLen(u"a\0b", 3);
  ASSERT_EQ(c.Do(7, DISPATCH_METHOD, {nul}), S_OK);
  EXPECT_EQ(SysStringLen(c.result.bstrVal), 3u);
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
  Call c(t.Get());
  EXPECT_EQ(c.Do(99, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(c.Do(5, DISPATCH_PROPERTYPUT, {com::Variant::I4(1)}, true), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(c.Do(1, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(c.Do(5, DISPATCH_PROPERTYGET, {com::Variant::I4(1), com::Variant::I4(1)}),
            DISP_E_MEMBERNOTFOUND);

  EXPECT_EQ(c.Do(1, DISPATCH_PROPERTYPUT, {com::Variant::I2(1)}, true), DISP_E_EXCEPTION);
  EXPECT_EQ(c.info.scode, CTL_E_SETNOTSUPPORTED);
  EXPECT_EQ(com::Utf8FromBstr(c.info.bstrDescription), "Set not supported");
  EXPECT_EQ(c.Do(2, DISPATCH_PROPERTYPUT, {com::Variant::I4(1)}, false), DISP_E_PARAMNOTFOUND);

  EXPECT_EQ(c.Do(5, DISPATCH_METHOD, {com::Variant::I4(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(
      c.Do(5, DISPATCH_METHOD, {com::Variant::I4(1), com::Variant::I4(1), com::Variant::I4(1)}),
      DISP_E_BADPARAMCOUNT);
  com::Variant missing;
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(c.Do(5, DISPATCH_METHOD, {missing, com::Variant::I4(1)}), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(c.argErr, 1u);

  // puArgErr counts in rgvarg, where the last argument comes first.
  EXPECT_EQ(c.Do(5, DISPATCH_METHOD, {com::Variant::Str("x"), com::Variant::I4(1)}),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(c.argErr, 1u);
  EXPECT_EQ(c.Do(5, DISPATCH_METHOD, {com::Variant::I4(1), com::Variant::Str("3000000000")}),
            DISP_E_OVERFLOW);
  EXPECT_EQ(c.argErr, 0u);
  EXPECT_EQ(c.Do(3, DISPATCH_PROPERTYPUT, {com::Variant::Str("maybe")}, true), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(c.argErr, 0u);

  EXPECT_EQ(c.Do(6, DISPATCH_METHOD, {}), DISP_E_EXCEPTION);
  EXPECT_EQ(c.info.scode, E_INVALIDARG);
  EXPECT_EQ(com::Utf8FromBstr(c.info.bstrDescription), "bad thing");
  EXPECT_EQ(com::Utf8FromBstr(c.info.bstrSource), "Tester");
  EXPECT_EQ(c.result.vt, VT_EMPTY);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
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
