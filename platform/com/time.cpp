// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/time.h"

#include <cmath>

namespace {

constexpr LONGLONG kTicksPerSecond = 10'000'000;
constexpr LONGLONG kSecondsPerDay = 86'400;
// Days from 1601-01-01 and from 1899-12-30 to 1970-01-01.
constexpr LONGLONG kDays1601To1970 = 134'774;
constexpr LONGLONG kDays1899To1970 = 25'569;
// 0100-01-01 and 9999-12-31 as Automation day numbers.
constexpr double kMinDate = -657'434.0;
constexpr double kMaxDate = 2'958'465.0;

bool IsLeap(LONGLONG y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(LONGLONG y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
LONGLONG DaysFromCivil(LONGLONG y, unsigned m, unsigned d) {
  y -= m <= 2;
  const LONGLONG era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<LONGLONG>(doe) - 719468;
}

void CivilFromDays(LONGLONG z, LONGLONG* y, unsigned* m, unsigned* d) {
  z += 719468;
  const LONGLONG era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<LONGLONG>(yoe) + era * 400 + (*m <= 2);
}

// 1970-01-01 was a Thursday.
WORD DayOfWeek(LONGLONG daysSince1970) {
  return static_cast<WORD>(((daysSince1970 % 7) + 7 + 4) % 7);
}

void FillDate(LONGLONG daysSince1970, SYSTEMTIME* st) {
  LONGLONG y;
  unsigned m, d;
  CivilFromDays(daysSince1970, &y, &m, &d);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = DayOfWeek(daysSince1970);
}

bool ValidFields(const SYSTEMTIME& st) {
  return st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
         st.wDay <= DaysInMonth(st.wYear, st.wMonth) && st.wHour < 24 && st.wMinute < 60 &&
         st.wSecond < 60 && st.wMilliseconds < 1000;
}

}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
  if (!fileTime || !systemTime) return FALSE;
  ULONGLONG ticks = (ULONGLONG(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  if (ticks >= (ULONGLONG(1) << 63)) return FALSE;
  auto seconds = static_cast<LONGLONG>(ticks / kTicksPerSecond);
  LONGLONG days = seconds / kSecondsPerDay;
  LONGLONG secondOfDay = seconds % kSecondsPerDay;
  FillDate(days - kDays1601To1970, systemTime);
  systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
  systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
  systemTime->wMilliseconds = static_cast<WORD>(ticks / 10'000 % 1000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) {
  if (!systemTime || !fileTime) return FALSE;
  const SYSTEMTIME& st = *systemTime;
  if (st.wYear < 1601 || st.wYear > 30827 || !ValidFields(st)) return FALSE;
  LONGLONG days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDays1601To1970;
  LONGLONG seconds = days * kSecondsPerDay + st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
  auto ticks = static_cast<ULONGLONG>(seconds) * kTicksPerSecond + st.wMilliseconds * 10'000ull;
  fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* systemTime, DATE* variantTime) {
  if (!systemTime || !variantTime) return FALSE;
  const SYSTEMTIME& st = *systemTime;
  if (st.wYear < 100 || st.wYear > 9999 || !ValidFields(st)) return FALSE;
  auto days = static_cast<double>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDays1899To1970);
  double fraction = (st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond) / kSecondsPerDay;
  // Before 1899-12-30 the day counts down while the time of day still counts up.
  *variantTime = days < 0 ? days - fraction : days + fraction;
  return TRUE;
}

INT VariantTimeToSystemTime(DATE variantTime, SYSTEMTIME* systemTime) {
  if (!systemTime || !std::isfinite(variantTime)) return FALSE;
  if (variantTime <= kMinDate - 1 || variantTime >= kMaxDate + 1) return FALSE;
  double whole = std::trunc(variantTime);
  double fraction = std::fabs(variantTime - whole);
  auto days = static_cast<LONGLONG>(whole);
  auto seconds = static_cast<LONGLONG>(std::llround(fraction * kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {
    // Rounded up to the next midnight.
    seconds -= kSecondsPerDay;
    days += 1;
  }
  if (days < static_cast<LONGLONG>(kMinDate) || days > static_cast<LONGLONG>(kMaxDate))
    return FALSE;
  FillDate(days - kDays1899To1970, systemTime);
  systemTime->wHour = static_cast<WORD>(seconds / 3600);
  systemTime->wMinute = static_cast<WORD>(seconds / 60 % 60);
  systemTime->wSecond = static_cast<WORD>(seconds % 60);
  systemTime->wMilliseconds = 0;
  return TRUE;
}
