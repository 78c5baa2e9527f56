// A module that serves the test control by class id, so the host can be tested
// across a module boundary: the module brings its own copy of the UI library,
// as a real control does.
#include "platform/com/class_factory.h"
#include "platform/ui/test_control.h"

namespace {

std::vector<std::string>& Log() {
  static std::vector<std::string> log;
  return log;
}

class Factory : public com::Object<IClassFactory> {
 public:
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto ctrl = com::MakeObject<ui::test::TestCtrl>(&Log());
    if (!ctrl) return E_OUTOFMEMORY;
    return ctrl->QueryInterface(riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    lock ? com::LockModule() : com::UnlockModule();
    return S_OK;
  }
};

}  // namespace

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(clsid == ui::test::kTestCtrlClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  auto factory = com::MakeObject<Factory>();
  return factory->QueryInterface(riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return com::ModuleLockCount() == 0 ? S_OK : S_FALSE; }
