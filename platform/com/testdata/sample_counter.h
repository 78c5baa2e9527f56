// SPDX-License-Identifier: LGPL-2.1-or-later
// The sample counter: one class over one dispinterface, served by the sample
// module (sample_server.cpp) and driven directly by the dispatch engine's test.
#pragma once

#include <string>

#include "platform/com/dispatch_object.h"

namespace sample {

using com::tlb::MemberKind;

inline constexpr GUID kLibId = com::Guid("{5A3C1D20-7E41-4B8A-9C65-0D2F4E6A8B10}");
inline constexpr IID kICounter = com::Guid("{5A3C1D21-7E41-4B8A-9C65-0D2F4E6A8B10}");
inline constexpr CLSID kCounterClsid = com::Guid("{5A3C1D23-7E41-4B8A-9C65-0D2F4E6A8B10}");

inline const com::tlb::Library& Library() {
  static const com::tlb::Library library{
      "SAMPLELib",
      kLibId,
      1,
      2,
      0x409,
      SYS_WIN32,
      LIBFLAG_FCONTROL,
      "Sample \"counter\" library",
      "sample.hlp",
      {{"stdole", com::Guid("{00020430-0000-0000-C000-000000000046}"), 2, 0, "stdole2.tlb"}},
      {
          {TKIND_DISPATCH,
           "ICounter",
           kICounter,
           TYPEFLAG_FDISPATCHABLE,
           "",
           {
               {1, "Count", MemberKind::PropertyGet, {VT_I2}},
               {2, "Name", MemberKind::PropertyGetPut, {VT_BSTR}, {}, 0, "The counter's name"},
               {3, "Enabled", MemberKind::PropertyGetPut, {VT_BOOL}},
               {4, "Child", MemberKind::PropertyGet, {VT_DISPATCH, "ICounter"}},
               {5, "Item", MemberKind::PropertyGet, {VT_DISPATCH}, {{"Key", {VT_VARIANT}}}},
               {6, "Add", MemberKind::Method, {VT_I4}, {{"iValue", {VT_I4}}}},
               {7,
                "Label",
                MemberKind::Method,
                {VT_BSTR},
                {{"iIndex", {VT_I2}}, {"strPrefix", {VT_BSTR}}}},
               {8, "Fail", MemberKind::Method, {VT_EMPTY}},
               {9, "Echo", MemberKind::Method, {VT_BSTR}, {{"strText", {VT_BSTR}}}},
           }},
          {TKIND_COCLASS,
           "Counter",
           kCounterClsid,
           TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
           "Sample Counter",
           {},
           {{"ICounter", IMPLTYPEFLAG_FDEFAULT}}},
      }};
  return library;
}

class CCounter : public com::DispatchObject<CCounter> {
 public:
  CCounter() : DispatchObject(Library(), kICounter) {}

  SHORT Count() { return count_; }
  std::string Name() { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  SHORT Enabled() { return enabled_; }
  void SetEnabled(SHORT enabled) { enabled_ = enabled; }
  com::ComPtr<IDispatch> Child() { return AsDispatch(); }
  com::ComPtr<IDispatch> Item(const VARIANT& key) {
    lastKey = key.vt;  // as it came: the member converts it, not the engine
    com::Variant index;
    if (FAILED(VariantChangeType(&index, &key, 0, VT_I4)) || index.lVal != 1) return nullptr;
    return AsDispatch();
  }
  LONG Add(LONG value) {
    total_ += value;
    ++count_;
    return total_;
  }
  std::string Label(SHORT index, const std::string& prefix) {
    return prefix + std::to_string(index);
  }
  void Fail() { throw com::AutomationError{E_INVALIDARG, "The counter refuses", "Sample"}; }
  std::u16string Echo(std::u16string text) { return text; }

  static const com::Bindings<CCounter>& GetBindings() {
    static const auto bindings = com::Bindings<CCounter>()
                                     .Get<&CCounter::Count>(1)
                                     .Get<&CCounter::Name>(2)
                                     .Put<&CCounter::SetName>(2)
                                     .Get<&CCounter::Child>(4)
                                     .Get<&CCounter::Item>(5)
                                     .Method<&CCounter::Add>(6)
                                     .Method<&CCounter::Label>(7)
                                     .Get<&CCounter::Enabled>(3)
                                     .Put<&CCounter::SetEnabled>(3)
                                     .Method<&CCounter::Fail>(8)
                                     .Method<&CCounter::Echo>(9);
    return bindings;
  }

  VARTYPE lastKey = VT_EMPTY;

 private:
  SHORT enabled_ = VARIANT_TRUE;
  SHORT count_ = 0;
  LONG total_ = 0;
  std::string name_ = "counter";
};

}  // namespace sample
