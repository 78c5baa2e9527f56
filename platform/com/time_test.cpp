// SPDX-License-Identifier: LGPL-2.1-or-later
// Automation dates. File times to calendar fields and back are checked where
// they are shown (the control's time text) and read (a TNEF attachment's date).
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "platform/com/time.h"

namespace {

SYSTEMTIME Fields(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  return {y, mo, 0, d, h, mi, s, ms};
}

// Automation dates count days from 1899-12-30; before it, the time of day
// still counts forward (-1.25 is 1899-12-29 06:00).
TEST(Time, AutomationDatesRoundTripAndKeepTheirRange) {
  DATE date = 0;
  SYSTEMTIME before = Fields(1899, 12, 29, 6);
  ASSERT_TRUE(SystemTimeToVariantTime(&before, &date));
  EXPECT_DOUBLE_EQ(date, -1.25);
  for (SYSTEMTIME t : {Fields(2006, 3, 5, 14, 7, 9), Fields(1899, 12, 29, 6), Fields(100, 1, 1),
                       Fields(9999, 12, 31, 23, 59, 59), Fields(2000, 2, 29, 0, 0, 1)}) {
    ASSERT_TRUE(SystemTimeToVariantTime(&t, &date));
    SYSTEMTIME back{};
    ASSERT_TRUE(VariantTimeToSystemTime(date, &back)) << t.wYear;
    EXPECT_EQ(std::make_tuple(back.wYear, back.wMonth, back.wDay, back.wHour, back.wMinute,
                              back.wSecond, back.wMilliseconds),
              std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, WORD(0)));
  }
  for (SYSTEMTIME bad : {Fields(10000, 1, 1), Fields(2001, 2, 29), Fields(2006, 13, 1)}) {
    EXPECT_FALSE(SystemTimeToVariantTime(&bad, &date)) << bad.wYear << "-" << bad.wMonth;
  }
  SYSTEMTIME st{};
  EXPECT_FALSE(VariantTimeToSystemTime(std::numeric_limits<double>::quiet_NaN(), &st));
  const FILETIME beyondFileTimes{0, 0x80000000};
  EXPECT_FALSE(FileTimeToSystemTime(&beyondFileTimes, &st));
  // A hair before midnight rounds to the next day.
  ASSERT_TRUE(VariantTimeToSystemTime(1.0 - 1e-9, &st));
  EXPECT_EQ(std::make_tuple(st.wYear, st.wMonth, st.wDay, st.wHour),
            std::make_tuple(1899, 12, 31, 0));
}

}  // namespace
