// SPDX-License-Identifier: LGPL-2.1-or-later
// The text form of a store time: "2006/03/05 14:07:09" (UTC, no milliseconds).
#pragma once

#include <string>

#include "platform/com/types.h"

namespace mq {

// The year as many digits as it has; month, day, hour, minute and second as
// their last two characters behind "00" (so a single digit gets a leading
// zero). A time the Automation date cannot hold (before the year 100, after
// 9999, or 2^63 ticks and beyond) gives "-1/-1/-1 -1:-1:-1".
std::string TimeText(const FILETIME& time);

}  // namespace mq
