#include "system/ole_date.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using qor::CalendarDate;

std::string Hex(const std::array<std::uint8_t, 8>& bytes) {
  std::string s;
  char b[4];
  for (std::uint8_t x : bytes) {
    std::snprintf(b, sizeof b, "%02X ", x);
    s += b;
  }
  s.pop_back();
  return s;
}

TEST(OleDate, DayCountsFromTheEpoch) {
  struct Case {
    CalendarDate date;
    std::int32_t days;
  } cases[] = {
      {{1899, 12, 30}, 0},      {{1899, 12, 31}, 1},     {{1900, 1, 1}, 2},
      {{1900, 3, 1}, 61},       // 1900 is no leap year (unlike some spreadsheets' count)
      {{2000, 2, 29}, 36585},   {{2000, 3, 1}, 36586},   {{2001, 1, 1}, 36892},
      {{1899, 12, 29}, -1},     {{100, 1, 1}, -657434},  {{9999, 12, 31}, 2958465},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qor::DaysSinceOleEpoch(c.date), c.days)
        << c.date.year << "-" << c.date.month << "-" << c.date.day;
}

TEST(OleDate, StampBytesAreTheDayCountAtOneOClock) {
  struct Case {
    CalendarDate date;
    const char* bytes;
  } cases[] = {
      // 36892 + 1/24, the default stamp.
      {{2001, 1, 1}, "55 55 55 55 81 03 E2 40"},
      // 1/24 alone.
      {{1899, 12, 30}, "55 55 55 55 55 55 A5 3F"},
      // 36586 + 1/24
      {{2000, 3, 1}, "55 55 55 55 41 DD E1 40"},
      // Before the epoch the fraction still counts forward: -(1 + 1/24).
      {{1899, 12, 29}, "AB AA AA AA AA AA F0 BF"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Hex(qor::OleDateBytesAt1am(c.date)), c.bytes)
        << c.date.year << "-" << c.date.month << "-" << c.date.day;
}

TEST(OleDate, DatesThatAreNoRealDayGetTheDefaultStamp) {
  const std::string fallback = "55 55 55 55 81 03 E2 40";
  for (CalendarDate d : {CalendarDate{2003, 13, 1}, CalendarDate{2003, 0, 1}, CalendarDate{2003, 5, 0},
                         CalendarDate{2003, 2, 29}, CalendarDate{2003, 4, 31}, CalendarDate{0, 1, 1},
                         CalendarDate{-5, 1, 1}, CalendarDate{10000, 1, 1},
                         CalendarDate{INT32_MIN, INT32_MIN, INT32_MIN}}) {
    EXPECT_FALSE(qor::IsValidCalendarDate(d)) << d.year << "-" << d.month << "-" << d.day;
    EXPECT_EQ(Hex(qor::OleDateBytesAt1am(d)), fallback) << d.year << "-" << d.month << "-" << d.day;
  }
  EXPECT_TRUE(qor::IsValidCalendarDate({2004, 2, 29}));
}

}  // namespace
