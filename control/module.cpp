// SPDX-License-Identifier: LGPL-2.1-or-later
// The module's entry points: its two class factories, self-registration, and
// what tools read from it (type library, version information, bitmap).
#include "control/guids.h"
#include "control/mailquarry_ctrl.h"
#include "control/prop_page.h"
#include "control/registration.h"
#include "control/resources.h"
#include "control/typelib.h"
#include "platform/com/server.h"

namespace mq {
namespace {

// The module object: it does nothing at load or unload beyond existing.
class CMailquarryApp {
 public:
  CMailquarryApp() = default;
};

// Built in this order at load, destroyed in reverse at unload.
[[maybe_unused]] CMailquarryApp theApp;
IClassFactory& controlFactory = com::ClassFactory<CMailquarryCtrl>::Instance();
IClassFactory& propPageFactory = com::ClassFactory<CMailquarryPropPage>::Instance();

}  // namespace
}  // namespace mq

COM_EXPORT HRESULT DllCanUnloadNow() {
  return com::CanUnloadNow();
}

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return com::GetClassObject(clsid, riid, ppv,
                             {{mq::CLSID_Mailquarry, &mq::controlFactory},
                              {mq::CLSID_MailquarryPropPage, &mq::propPageFactory}});
}

COM_EXPORT HRESULT DllRegisterServer() {
  return mq::RegisterServer();
}

COM_EXPORT HRESULT DllUnregisterServer() {
  return mq::UnregisterServer();
}

COM_EXPORT const com::tlb::Library* MqGetTypeLibrary() {
  return &mq::MailquarryLibrary();
}

// Key/value pairs ending in a null key (FileVersion "1.0.0.1", ...).
COM_EXPORT const char* const* MqGetVersionInfo() {
  return mq::VersionInfo();
}

// Bitmap resource `id` (1: the toolbox bitmap, a BMP file); E_INVALIDARG for
// any other id.
COM_EXPORT HRESULT MqGetBitmapResource(int id, const unsigned char** data, size_t* size) {
  if (!data || !size) return E_POINTER;
  *data = nullptr;
  *size = 0;
  if (id != 1) return E_INVALIDARG;
  const mq::Resource bitmap = mq::ToolboxBitmap();
  *data = bitmap.data;
  *size = bitmap.size;
  return S_OK;
}
