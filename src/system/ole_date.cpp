#include "system/ole_date.h"

#include <bit>

namespace qor {
namespace {

bool IsLeapYear(std::int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(std::int32_t y, std::int32_t m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1 January 1970 to y-m-d in the proleptic Gregorian calendar,
// counting years from March so that the leap day ends the year.
std::int32_t DaysFromCivil(std::int32_t y, std::int32_t m, std::int32_t d) {
  y -= m <= 2;
  const std::int32_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int32_t yoe = y - era * 400;                            // 0..399
  const std::int32_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;  // 0..365
  const std::int32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;     // 0..146096
  return era * 146097 + doe - 719468;
}

}  // namespace

bool IsValidCalendarDate(const CalendarDate& date) {
  if (date.year < 100 || date.year > 9999) return false;
  if (date.month < 1 || date.month > 12) return false;
  return date.day >= 1 && date.day <= DaysInMonth(date.year, date.month);
}

std::int32_t DaysSinceOleEpoch(const CalendarDate& date) {
  return DaysFromCivil(date.year, date.month, date.day) - DaysFromCivil(1899, 12, 30);
}

std::array<std::uint8_t, 8> OleDateBytesAt1am(const CalendarDate& date) {
  const CalendarDate& d = IsValidCalendarDate(date) ? date : kDefaultEngineDate;
  // Before the epoch the whole part counts back while the fraction still
  // counts forward from midnight: 29 December 1899, 01:00 is -1 - 1/24.
  const std::int32_t days = DaysSinceOleEpoch(d);
  const double value = days >= 0 ? days + 1.0 / 24.0 : days - 1.0 / 24.0;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  std::array<std::uint8_t, 8> bytes;
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return bytes;
}

}  // namespace qor
