// SPDX-License-Identifier: LGPL-2.1-or-later
// Time conversions of the platform: FILETIME (100-ns ticks since 1601-01-01),
// SYSTEMTIME (calendar fields) and the Automation date (days since
// 1899-12-30, the fraction being the time of day; years 100 to 9999).
#pragma once

#include "platform/com/types.h"

// FALSE for ticks of 2^63 or more. Fills wDayOfWeek (0 is Sunday).
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
// The inverse; FALSE for fields out of range or years before 1601.
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
// Nonzero on success; 0 for a year outside 100..9999 or fields out of range.
// Milliseconds are ignored: an Automation date counts whole seconds.
INT SystemTimeToVariantTime(const SYSTEMTIME* systemTime, DATE* variantTime);
// Nonzero on success; 0 outside 0100-01-01..9999-12-31. The time is rounded to
// the nearest second and wMilliseconds is 0.
INT VariantTimeToSystemTime(DATE variantTime, SYSTEMTIME* systemTime);
