// Calendar dates as OLE Automation dates.
//
// An OLE Automation date is an IEEE-754 double counting days since
// 30 December 1899; its fraction is the time of day. The engine date stamps
// are stored as its 8 bytes in little-endian order, always at 01:00:00, so the
// number is a whole day count plus 1/24: 1 January 2001 is 36892 + 1/24, the
// bytes 55 55 55 55 81 03 E2 40.
#pragma once

#include <array>
#include <cstdint>

namespace qor {

struct CalendarDate {
  std::int32_t year;
  std::int32_t month;  // 1..12
  std::int32_t day;    // 1..31
};

// The date used when the installed engine cannot say: 1 January 2001.
constexpr CalendarDate kDefaultEngineDate{2001, 1, 1};

// True for a real day of the Gregorian calendar in the years 100..9999, the
// range an OLE Automation date covers.
bool IsValidCalendarDate(const CalendarDate& date);

// Days from 30 December 1899 to date (negative before it).
std::int32_t DaysSinceOleEpoch(const CalendarDate& date);

// The OLE Automation date of date at 01:00:00, as its 8 little-endian bytes.
// A date that is not a real day (month 13, day 0, year 0) is stored as the
// default date.
std::array<std::uint8_t, 8> OleDateBytesAt1am(const CalendarDate& date);

}  // namespace qor
