// SPDX-License-Identifier: LGPL-2.1-or-later
// The Mailquarry type library: every dispinterface and coclass the module
// declares, with the DISPIDs and types that automation clients bind to.
#pragma once

#include "platform/com/typelib.h"

namespace mq {

// The one table of the library; built on first use and kept for the process.
const com::tlb::Library& MailquarryLibrary();

}  // namespace mq
