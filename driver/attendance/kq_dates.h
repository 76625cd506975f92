// The attendance terminal's calendar: compact dates (year, month, day, one
// byte each, years counted from a leap year 0) and the day numbers the
// terminal files its records under.
#pragma once

#include <cstdint>

namespace orvix::kq {

// 366 when (year mod 256) mod 4 is 0, else 365; no other leap rule.
int daysInYear(int year);
// Only the low byte of month counts: 31, 30, or 28/29 for February; month 0
// and months above 12 count 1 day.
int daysInMonth(int year, int month);

// Day number of a compact date: 1 January of year 0 is day 1. The year and
// month loops run over one-byte counters, so every byte value terminates.
int dayNumber(std::uint8_t year, std::uint8_t month, std::uint8_t day);

// The compact date of a day number. The last day of a year stays in that year
// (366 is 31 December of year 0); day 0 gives year 0, month 1, day 0. Each
// field keeps the low byte of its value.
void dateFromDayNumber(int day, std::uint8_t date[3]);

// What the terminal is sent for a date: the day number plus 365.
inline constexpr int kTerminalDayOffset = 365;

}  // namespace orvix::kq
