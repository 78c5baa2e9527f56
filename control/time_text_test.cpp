#include "control/time_text.h"

#include <gtest/gtest.h>

#include "control/testing/fake_store.h"

namespace mq {
namespace {

using testing::Ticks;
using testing::Utc;

TEST(TimeText, WritesTwoDigitFieldsAfterAYearOfItsOwnLength) {
  EXPECT_EQ(TimeText(Utc(2006, 3, 5, 14, 7, 9)), "2006/03/05 14:07:09");
  EXPECT_EQ(TimeText(Utc(1999, 12, 31, 23, 59, 59)), "1999/12/31 23:59:59");
  EXPECT_EQ(TimeText(Utc(9999, 1, 2, 3, 4, 5)), "9999/01/02 03:04:05");
  // Milliseconds are dropped, not rounded into the next second.
  EXPECT_EQ(TimeText(Utc(2006, 3, 5, 14, 7, 9, 999)), "2006/03/05 14:07:09");
}

TEST(TimeText, ZeroIsTheStartOfTheStoreCalendar) {
  EXPECT_EQ(TimeText(Ticks(0)), "1601/01/01 00:00:00");
}

TEST(TimeText, TimesTheAutomationDateCannotHoldAreMarkedInvalid) {
  const std::string invalid = "-1/-1/-1 -1:-1:-1";
  EXPECT_EQ(TimeText(Utc(10000, 1, 1, 0, 0, 0)), invalid);
  EXPECT_EQ(TimeText(Utc(30000, 6, 1, 0, 0, 0)), invalid);
  EXPECT_EQ(TimeText(Ticks(1ull << 63)), invalid);
  EXPECT_EQ(TimeText(Ticks(~0ull)), invalid);
  EXPECT_EQ(TimeText(Utc(9999, 12, 31, 23, 59, 59)), "9999/12/31 23:59:59");
}

}  // namespace
}  // namespace mq
