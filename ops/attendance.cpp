#include "orvix/ops/attendance.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "orvix.h"
#include "orvix/ops/args.h"
#include "orvix/ops/error.h"

namespace orvix::ops {

namespace {

constexpr int kYearBase = 2000;
const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// The terminal's statuses read with their meaning for the terminal.
void library(int result, const std::string& step) { check(result, step, kAttendance); }

}  // namespace

int dateKey(std::string_view text, const std::string& name, int fallback) {
  if (text.empty()) return fallback;
  const auto [y, m, d] = parseDate(text, name);
  return y * 10000 + m * 100 + d;
}

AttendanceRecords readRecords(orvix_reader* r, int from, int to, const Control& control) {
  int first = 0;
  unsigned char pos[4] = {};
  library(orvix_kq_current_pos(r, &first, pos, sizeof pos),
          "the terminal's current record position");
  AttendanceRecords out;
  out.onTerminal = first ? (pos[0] | pos[1] << 8) + 1 : 0;
  const int count = out.onTerminal;
  control.report(0, static_cast<std::size_t>(count));
  for (int at = 0; at < count; at += 31) {
    if (control.stop())
      throw Error(Fault::Cancelled, "interrupted at record " + std::to_string(at));
    const int n = std::min(31, count - at);
    unsigned char buf[255] = {};
    library(orvix_kq_read_record(r, 0, at, n, buf, sizeof buf, nullptr),
            "read records " + std::to_string(at) + "-" + std::to_string(at + n - 1));
    for (int i = 0; i < n; ++i) {
      const unsigned char* x = buf + i * 8;
      const int year = kYearBase + x[3], key = year * 10000 + x[4] * 100 + x[5];
      if (key < from || key > to) continue;
      char date[16], time[16];
      std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, x[4], x[5]);
      std::snprintf(time, sizeof time, "%02d:%02d", x[6], x[7]);
      out.kept.push_back({x[0] | x[1] << 8 | x[2] << 16, date, time});
    }
    control.report(static_cast<std::size_t>(at + n), static_cast<std::size_t>(count));
  }
  return out;
}

std::string recordsCsv(const std::vector<AttendanceRecord>& records) {
  std::string csv = "card,date,time\n";
  for (const auto& r : records) csv += std::to_string(r.card) + "," + r.date + "," + r.time + "\n";
  return csv;
}

std::array<int, 7> clockSetting(std::string_view when, const std::string& name) {
  std::tm tm{};
  if (when == "now") {
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &tm);
  } else {  // a real calendar day and time; seconds 0 when left out
    const auto c = parseClock(when, name);
    tm.tm_year = c[0] - 1900;
    tm.tm_mon = c[1] - 1;
    tm.tm_mday = c[2];
    tm.tm_hour = c[3];
    tm.tm_min = c[4];
    tm.tm_sec = c[5];
    std::tm day = tm;
    timegm(&day);
    tm.tm_wday = day.tm_wday;
  }
  const int year = tm.tm_year + 1900 - kYearBase;
  if (year < 0 || year > 255) badArgument(name, "the terminal keeps years 2000-2255");
  return {year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday};
}

void setClock(orvix_reader* r, const std::array<int, 7>& words) {
  library(orvix_kq_set_time(r, words.data()), "set the terminal's clock");
}

ClockReading readClock(orvix_reader* r) {
  int c[7] = {};
  library(orvix_kq_get_time(r, c), "read the terminal's clock");
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", kYearBase + c[0], c[1], c[2],
                c[3], c[4], c[5]);
  return {text, c[6] >= 0 && c[6] < 7 ? kWeekdays[c[6]] : "?"};
}

}  // namespace orvix::ops
