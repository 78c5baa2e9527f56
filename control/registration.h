// SPDX-License-Identifier: LGPL-2.1-or-later
// Self-registration of the module: its type library, the control class and
// the property page class, and their removal.
#pragma once

#include "platform/com/hresult.h"

namespace mq {

// S_OK, SELFREG_E_TYPELIB when the type library step fails (nothing else is
// done then), or SELFREG_E_CLASS when a class step fails. Neither undoes its
// first step when a later one fails.
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace mq
