// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/time_text.h"

#include "platform/com/time.h"

namespace mq {
namespace {

std::string TwoDigits(int value) {
  std::string text = "00" + std::to_string(value);
  return text.substr(text.size() - 2);
}

}  // namespace

std::string TimeText(const FILETIME& time) {
  int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
  SYSTEMTIME calendar{};
  DATE date = 0;
  // The round trip through an Automation date is what bounds the valid range
  // and drops the milliseconds.
  if (FileTimeToSystemTime(&time, &calendar) && SystemTimeToVariantTime(&calendar, &date)) {
    SYSTEMTIME back{};
    if (VariantTimeToSystemTime(date, &back)) {
      year = back.wYear;
      month = back.wMonth;
      day = back.wDay;
      hour = back.wHour;
      minute = back.wMinute;
      second = back.wSecond;
    }
  }
  return std::to_string(year) + "/" + TwoDigits(month) + "/" + TwoDigits(day) + " " +
         TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
}

}  // namespace mq
