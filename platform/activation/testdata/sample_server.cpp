// SPDX-License-Identifier: LGPL-2.1-or-later
// A small in-process server used only by the runtime's tests: the sample
// counter, creatable and registered with the standard helpers.
#include "platform/activation/registration.h"
#include "platform/com/server.h"
#include "platform/com/testdata/sample_counter.h"

namespace {

using namespace sample;

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
