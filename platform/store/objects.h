// SPDX-License-Identifier: LGPL-2.1-or-later
// The store's COM objects, created directly (tests, the module's class factory).
#pragma once

#include "platform/store/store.h"

namespace store {

// A new, uninitialised store namespace (call Initialize before anything else).
HRESULT CreateStoreNamespace(REFIID riid, void** ppv);

}  // namespace store
