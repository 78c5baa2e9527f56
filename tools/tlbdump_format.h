// SPDX-License-Identifier: LGPL-2.1-or-later
// The text form of a type library that tlbdump prints (README.md, "tlbdump").
#pragma once

#include <string>

#include "platform/com/typeinfo.h"

namespace tools {
// The whole library, one fact per line, in library order; "" when the
// library cannot be read.
std::string FormatTypeLib(ITypeLib* lib);
}  // namespace tools
