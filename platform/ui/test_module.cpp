// SPDX-License-Identifier: LGPL-2.1-or-later
// A module that serves the test control by class id, so the host can be tested
// across a module boundary: the module brings its own copy of the UI library,
// as a real control does.
#include "platform/com/server.h"
#include "platform/ui/test_control.h"

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  using ui::test::TestCtrl;
  return com::GetClassObject(
      clsid, riid, ppv, {{ui::test::kTestCtrlClsid, &com::ClassFactory<TestCtrl>::Instance()}});
}

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::CanUnloadNow();
}
