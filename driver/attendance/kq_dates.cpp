#include "attendance/kq_dates.h"

namespace orvix::kq {

int daysInYear(int year) { return (year & 0xFF) % 4 == 0 ? 366 : 365; }

int daysInMonth(int year, int month) {
  switch (month & 0xFF) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12:
      return 31;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 2:
      return (year & 0xFF) % 4 == 0 ? 29 : 28;
    default:
      return 1;
  }
}

int dayNumber(std::uint8_t year, std::uint8_t month, std::uint8_t day) {
  int n = 0;
  for (std::uint8_t y = 0; y < year; ++y) n += daysInYear(y);
  for (std::uint8_t m = 1; m < month; ++m) n += daysInMonth(year, m);
  return n + day;
}

void dateFromDayNumber(int day, std::uint8_t date[3]) {
  int n = day;
  int year = 0;
  while (n > daysInYear(year)) {
    n -= daysInYear(year);
    ++year;
  }
  int month = 1;
  while (n > daysInMonth(year, month)) {
    n -= daysInMonth(year, month);
    ++month;
  }
  date[0] = static_cast<std::uint8_t>(year);
  date[1] = static_cast<std::uint8_t>(month);
  date[2] = static_cast<std::uint8_t>(n);
}

}  // namespace orvix::kq
