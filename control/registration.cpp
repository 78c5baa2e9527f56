// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/registration.h"

#include "control/guids.h"
#include "control/typelib.h"
#include "platform/activation/registration.h"
#include "platform/com/server.h"

namespace mq {
namespace {

com::ServerClass ControlClass() {
  com::ServerClass c;
  c.clsid = CLSID_Mailquarry;
  c.userTypeName = kControlTypeName;
  c.progId = kControlProgId;
  c.control = true;  // and, having no Insertable key, not insertable
  c.toolboxBitmapId = 1;
  c.miscStatus = 0x20191;
  c.typeLib = LIBID_MAILQUARRYLib;
  c.version = std::to_string(kLibMajor) + "." + std::to_string(kLibMinor);
  return c;
}

com::ServerClass PropPageClass() {
  com::ServerClass c;
  c.clsid = CLSID_MailquarryPropPage;
  c.userTypeName = kPropPageTypeName;
  return c;
}

}  // namespace

HRESULT RegisterServer() {
  if (FAILED(com::RegisterTypeLibrary(MailquarryLibrary()))) return SELFREG_E_TYPELIB;
  if (FAILED(com::RegisterServerClass(ControlClass())) ||
      FAILED(com::RegisterServerClass(PropPageClass())))
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterServer() {
  if (FAILED(com::UnregisterTypeLibrary(LIBID_MAILQUARRYLib, kLibMajor, kLibMinor, 0)))
    return SELFREG_E_TYPELIB;
  if (FAILED(com::UnregisterServerClass(ControlClass())) ||
      FAILED(com::UnregisterServerClass(PropPageClass())))
    return SELFREG_E_CLASS;
  return S_OK;
}

}  // namespace mq
