// orvix attendance: export the terminal's records as CSV, read or set its
// clock. The terminal counts years from 2000 (year 0, a leap year).
#include <cstdio>
#include <ctime>
#include <memory>

#include "commands.h"
#include "orvix.h"
#include "orvix/ops/args.h"

namespace orvix {

namespace {

constexpr int kYearBase = 2000;
const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

struct AttArgs {
  std::string from, to, output, set;
};

// "YYYY-MM-DD" as a comparable number yyyymmdd.
int dateKey(const std::string& text, const char* option) {
  const auto [y, m, d] = ops::parseDate(text, option);
  return y * 10000 + m * 100 + d;
}

void exportRecords(Context& ctx, const AttArgs& a) {
  const int from = a.from.empty() ? 0 : dateKey(a.from, "--from");
  const int to = a.to.empty() ? 99999999 : dateKey(a.to, "--to");
  claimOutput(ctx, a.output);
  ctx.link();
  int first = 0;
  unsigned char pos[4] = {};
  check(orvix_kq_current_pos(reader(), &first, pos, sizeof pos),
        "the terminal's current record position");
  const int count = first ? (pos[0] | pos[1] << 8) + 1 : 0;
  std::string csv = "card,date,time\n";
  int kept = 0;
  {
    Progress progress("reading records", static_cast<std::size_t>(count));
    for (int at = 0; at < count; at += 31) {
      const int n = std::min(31, count - at);
      unsigned char buf[255] = {};
      check(orvix_kq_read_record(reader(), 0, at, n, buf, sizeof buf, nullptr),
            "read records " + std::to_string(at) + "-" + std::to_string(at + n - 1));
      for (int i = 0; i < n; ++i) {
        const unsigned char* r = buf + i * 8;
        const int card = r[0] | r[1] << 8 | r[2] << 16, year = kYearBase + r[3];
        const int key = year * 10000 + r[4] * 100 + r[5];
        if (key < from || key > to) continue;
        char line[64];
        std::snprintf(line, sizeof line, "%d,%04d-%02d-%02d,%02d:%02d\n", card, year, r[4], r[5],
                      r[6], r[7]);
        csv += line;
        ++kept;
      }
      progress.update(static_cast<std::size_t>(at + n));
    }
  }
  writeFiles({{a.output, csv}});
  emit(ctx, {{"file", a.output}, {"records", kept}, {"onTerminal", count}},
       std::to_string(kept) + " of " + std::to_string(count) + " records written to " + a.output +
           "\n");
}

void clock(Context& ctx, const AttArgs& a) {
  if (!a.set.empty()) {
    std::tm tm{};
    if (a.set == "now") {
      const std::time_t now = std::time(nullptr);
      localtime_r(&now, &tm);
    } else {  // a real calendar day and time; seconds 0 when left out
      const auto c = ops::parseClock(a.set, "--set");
      tm.tm_year = c[0] - 1900;
      tm.tm_mon = c[1] - 1;
      tm.tm_mday = c[2];
      tm.tm_hour = c[3];
      tm.tm_min = c[4];
      tm.tm_sec = c[5];
      std::tm check = tm;
      timegm(&check);
      tm.tm_wday = check.tm_wday;
    }
    const int year = tm.tm_year + 1900 - kYearBase;
    if (year < 0 || year > 255)
      throw Failure(kExitUsage, "--set: the terminal keeps years 2000-2255");
    const int set[7] = {year,      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                        tm.tm_min, tm.tm_sec,     tm.tm_wday};
    ctx.link();
    orvix::check(orvix_kq_set_time(reader(), set), "set the terminal's clock");
  } else {
    ctx.link();
  }
  int c[7] = {};
  orvix::check(orvix_kq_get_time(reader(), c), "read the terminal's clock");
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", kYearBase + c[0], c[1], c[2],
                c[3], c[4], c[5]);
  const std::string day = c[6] >= 0 && c[6] < 7 ? kWeekdays[c[6]] : "?";
  emit(ctx, {{"clock", text}, {"weekday", day}}, std::string(text) + " " + day + "\n");
}

}  // namespace

void addAttendance(CLI::App& app, Context& ctx) {
  auto a = std::make_shared<AttArgs>();
  auto* m = app.add_subcommand("attendance", "the attendance terminal: records and clock");
  m->require_subcommand(1);
  auto* e = m->add_subcommand("export", "write the records as CSV: card, date, time");
  e->add_option("--from", a->from, "first date, YYYY-MM-DD");
  e->add_option("--to", a->to, "last date, YYYY-MM-DD");
  e->add_option("-o,--output", a->output, "the CSV file")->required();
  e->callback([&ctx, a] { exportRecords(ctx, *a); });
  auto* c = m->add_subcommand("clock", "read the terminal's clock, or set it");
  c->add_option("--set", a->set, "now, or \"YYYY-MM-DD HH:MM[:SS]\"");
  c->callback([&ctx, a] { clock(ctx, *a); });
}

}  // namespace orvix
