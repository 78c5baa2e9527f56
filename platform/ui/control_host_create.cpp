// SPDX-License-Identifier: LGPL-2.1-or-later
// Kept apart from the rest of the host so that programs that never create a
// control by class id do not pull in activation.
#include "platform/activation/activation.h"
#include "platform/ui/control_host.h"

namespace ui {

HRESULT ControlHost::Create(REFCLSID clsid) {
  if (control_) return E_UNEXPECTED;
  com::ComPtr<IUnknown> unknown;
  HRESULT hr = com::CreateInstance(clsid, &unknown);
  if (FAILED(hr)) return hr;
  return Attach(unknown.Get());
}

}  // namespace ui
