// SPDX-License-Identifier: LGPL-2.1-or-later
// The program icon (32 x 32 and 16 x 16, 16 colours), from the resources.
#pragma once

#include <QIcon>

namespace mailsift {

QIcon ProgramIcon();

}  // namespace mailsift
