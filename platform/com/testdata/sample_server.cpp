// A small in-process server used only by the runtime's tests: one creatable
// class over one dispinterface, registered with the standard helpers.
#include <string>

#include "platform/com/dispatch_object.h"
#include "platform/com/server.h"

namespace {

using com::tlb::MemberKind;

constexpr GUID kLibId = com::Guid("{5A3C1D20-7E41-4B8A-9C65-0D2F4E6A8B10}");
constexpr IID kICounter = com::Guid("{5A3C1D21-7E41-4B8A-9C65-0D2F4E6A8B10}");
constexpr CLSID kCounterClsid = com::Guid("{5A3C1D23-7E41-4B8A-9C65-0D2F4E6A8B10}");

const com::tlb::Library& Library() {
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
               {4, "Child", MemberKind::PropertyGet, {VT_DISPATCH, "ICounter"}},
               {5, "Item", MemberKind::PropertyGet, {VT_DISPATCH}, {{"Key", {VT_VARIANT}}}},
               {6, "Add", MemberKind::Method, {VT_I4}, {{"iValue", {VT_I4}}}},
               {7,
                "Label",
                MemberKind::Method,
                {VT_BSTR},
                {{"iIndex", {VT_I2}}, {"strPrefix", {VT_BSTR}}}},
               {8, "Fail", MemberKind::Method, {VT_EMPTY}},
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
  com::ComPtr<IDispatch> Child() { return AsDispatch(); }
  com::ComPtr<IDispatch> Item(const VARIANT& key) {
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

  static const com::Bindings<CCounter>& GetBindings() {
    static const auto bindings = com::Bindings<CCounter>()
                                     .Get<&CCounter::Count>(1)
                                     .Get<&CCounter::Name>(2)
                                     .Put<&CCounter::SetName>(2)
                                     .Get<&CCounter::Child>(4)
                                     .Get<&CCounter::Item>(5)
                                     .Method<&CCounter::Add>(6)
                                     .Method<&CCounter::Label>(7)
                                     .Method<&CCounter::Fail>(8);
    return bindings;
  }

 private:
  SHORT count_ = 0;
  LONG total_ = 0;
  std::string name_ = "counter";
};

const com::ServerClass& CounterClass() {
  static const com::ServerClass c{.clsid = kCounterClsid,
                                  .userTypeName = "Sample Counter",
                                  .progId = "Sample.Counter.1",
                                  .control = true,
                                  .miscStatus = 0x20191,
                                  .typeLib = kLibId,
                                  .version = "1.2"};
  return c;
}

}  // namespace

COM_EXPORT const com::tlb::Library* MqGetTypeLibrary() {
  return &Library();
}

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return com::GetClassObject(clsid, riid, ppv,
                             {{kCounterClsid, &com::ClassFactory<CCounter>::Instance()}});
}

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::CanUnloadNow();
}

COM_EXPORT HRESULT DllRegisterServer() {
  HRESULT hr = com::RegisterTypeLibrary(Library());
  if (FAILED(hr)) return hr;
  return com::RegisterServerClass(CounterClass());
}

COM_EXPORT HRESULT DllUnregisterServer() {
  HRESULT hr = com::UnregisterTypeLibrary(kLibId, 1, 2);
  if (FAILED(hr)) return hr;
  return com::UnregisterServerClass(CounterClass());
}
