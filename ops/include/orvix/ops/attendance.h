// The attendance terminal: its records, read and filtered by date, and its
// clock. The terminal counts years from 2000 (year 0, a leap year).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "orvix/ops/control.h"

struct orvix_reader;

namespace orvix::ops {

struct AttendanceRecord {
  int card;
  std::string date, time;  // "YYYY-MM-DD", "HH:MM"
};

struct AttendanceRecords {
  std::vector<AttendanceRecord> kept;  // those within the dates, in the terminal's order
  int onTerminal = 0;                  // every record the terminal holds
};

// "YYYY-MM-DD" as a comparable number yyyymmdd; empty text gives fallback.
int dateKey(std::string_view text, const std::string& name, int fallback);
// The terminal's records dated from … to (yyyymmdd, both kept), read 31 at
// a time; progress counts records.
AttendanceRecords readRecords(orvix_reader* r, int from, int to, const Control& control = {});
// The records as CSV: "card,date,time" and one line each.
std::string recordsCsv(const std::vector<AttendanceRecord>& records);

// The terminal's clock words {year - 2000, month, day, hour, minute,
// second, weekday 0 = Sunday} for "now" (local time) or "YYYY-MM-DD
// HH:MM[:SS]"; an argument error for another text or a year outside
// 2000-2255, before anything is sent.
std::array<int, 7> clockSetting(std::string_view when, const std::string& name);
void setClock(orvix_reader* r, const std::array<int, 7>& words);

struct ClockReading {
  std::string text;     // "YYYY-MM-DD HH:MM:SS"
  std::string weekday;  // "Monday", or "?" for a day the terminal got wrong
};
ClockReading readClock(orvix_reader* r);

}  // namespace orvix::ops
