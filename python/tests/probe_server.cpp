// SPDX-License-Identifier: LGPL-2.1-or-later
// A server module for the Python client's tests: a control that echoes any
// value and whose window leaves a marker file while it exists. (The runtime's
// sample counter answers the typed members and is the object that is no
// control; enumeration is tried on the real control.)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/activation/registration.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/server.h"
#include "platform/ui/control.h"

namespace {

using com::tlb::MemberKind;

constexpr GUID kLibId = com::Guid("{A009E69B-88E7-4A55-9EAC-719C68D884BE}");
constexpr IID kDGauge = com::Guid("{585861A8-32AD-4985-B6C0-7E2AC8FA63ED}");
constexpr CLSID kGaugeClsid = com::Guid("{393B2FE0-2569-4465-AA8D-3FEF7628F960}");

const com::tlb::Library& Library() {
  static const com::tlb::Library library{
      "PROBELib",
      kLibId,
      1,
      0,
      0,
      SYS_WIN32,
      0,
      "Python client test server",
      "",
      {},
      {{TKIND_DISPATCH,
        "_DGauge",
        kDGauge,
        TYPEFLAG_FDISPATCHABLE,
        "",
        {{1, "WindowOpen", MemberKind::PropertyGet, {VT_BOOL}},
         {2, "Echo", MemberKind::Method, {VT_VARIANT}, {{"Value", {VT_VARIANT}}}}}},
       {TKIND_COCLASS,
        "Gauge",
        kGaugeClsid,
        TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
        "",
        {},
        {{"_DGauge", IMPLTYPEFLAG_FDEFAULT}}}}};
  return library;
}

// Its window leaves a file in $MQ_PYTEST_MARKERS (when set) while it exists,
// as a control's temporary files would.
class CGauge : public ui::Control<CGauge> {
 public:
  CGauge() : Control(Library(), kDGauge) {}
  SHORT WindowOpen() { return HasWindow() ? VARIANT_TRUE : VARIANT_FALSE; }
  com::Variant Echo(const VARIANT& value) {
    com::Variant copy;
    VariantCopyInd(&copy, &value);
    return copy;
  }
  static const com::Bindings<CGauge>& GetBindings() {
    static const auto bindings =
        com::Bindings<CGauge>().Get<&CGauge::WindowOpen>(1).Method<&CGauge::Echo>(2);
    return bindings;
  }

 protected:
  bool OnCreate() override {
    static int serial = 0;
    const char* dir = std::getenv("MQ_PYTEST_MARKERS");
    if (!dir) return true;
    marker_ =
        std::string(dir) + "/gauge." + std::to_string(getpid()) + "." + std::to_string(++serial);
    if (FILE* f = std::fopen(marker_.c_str(), "w")) std::fclose(f);
    return true;
  }
  void OnDestroy() override {
    if (!marker_.empty()) std::remove(marker_.c_str());
    marker_.clear();
  }

 private:
  std::string marker_;
};

const com::ServerClass& GaugeClass() {
  static const com::ServerClass c{.clsid = kGaugeClsid,
                                  .userTypeName = "Gauge",
                                  .progId = "MqPyTest.Gauge.1",
                                  .control = true,
                                  .miscStatus = 0x20191,
                                  .typeLib = kLibId,
                                  .version = "1.0"};
  return c;
}

}  // namespace

COM_EXPORT const com::tlb::Library* MqGetTypeLibrary() {
  return &Library();
}

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return com::GetClassObject(clsid, riid, ppv,
                             {{kGaugeClsid, &com::ClassFactory<CGauge>::Instance()}});
}

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::CanUnloadNow();
}

COM_EXPORT HRESULT DllRegisterServer() {
  HRESULT hr = com::RegisterTypeLibrary(Library());
  if (SUCCEEDED(hr)) hr = com::RegisterServerClass(GaugeClass());
  return hr;
}

COM_EXPORT HRESULT DllUnregisterServer() {
  com::UnregisterServerClass(GaugeClass());
  return com::UnregisterTypeLibrary(kLibId, 1, 0);
}
