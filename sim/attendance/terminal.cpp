#include "attendance/terminal.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "core/status.h"
#include "core/words.h"

namespace readersim::attendance {

namespace {

constexpr std::uint8_t kEndTransfer = 0x01;
constexpr std::uint8_t kGetTime = 0xC1;
constexpr std::uint8_t kSetTime = 0xC2;
constexpr std::uint8_t kCurrentPosition = 0xC3;
constexpr std::uint8_t kStartPosition = 0xC4;
constexpr std::uint8_t kEndPosition = 0xC5;
constexpr std::uint8_t kReadRecord = 0xC6;
constexpr std::uint8_t kSystemInit = 0xC7;
constexpr std::uint8_t kDisplay = 0xC8;
constexpr std::uint8_t kPassThrough = 0xC9;
constexpr std::uint8_t kPassword = 0xCA;

constexpr int kTerminalDayOffset = 365;
constexpr int kMaxRecordsPerRead = 31;  // 31 × 8 bytes fit one response
constexpr std::int64_t kDay = 86400;
constexpr char kIdleText[] = "    WELCOME     ";
constexpr char kName[] = "KQ TERMINAL 1.0";

Reply fail(std::uint8_t st) { return {st, {}}; }

std::uint8_t byte(int v) { return static_cast<std::uint8_t>(v); }

std::vector<std::uint8_t> positionAnswer(bool found, std::size_t position) {
  const int p = found ? static_cast<int>(position) : 0;
  return {byte(found ? 1 : 0), byte(p), byte(p >> 8)};
}

std::string twoDigits(int v) {
  char s[8];
  std::snprintf(s, sizeof s, "%02d", v);
  return s;
}

// "2024-03-01" style with any year count: "<year>-<month>-<day>".
std::optional<Date> parseDate(const std::string& text) {
  Date d;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d%c", &d.year, &d.month, &d.day, &tail) != 3)
    return std::nullopt;
  if (d.year < 0 || d.year > 255 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > daysInMonth(d.year, d.month))
    return std::nullopt;
  return d;
}

bool parseTime(const std::string& text, int& h, int& m, int* s) {
  char tail = 0;
  int sec = 0;
  int n = s ? std::sscanf(text.c_str(), "%d:%d:%d%c", &h, &m, &sec, &tail)
            : std::sscanf(text.c_str(), "%d:%d%c", &h, &m, &tail);
  if (n != (s ? 3 : 2)) return false;
  if (s) *s = sec;
  return h >= 0 && h < 24 && m >= 0 && m < 60 && sec >= 0 && sec < 60;
}

std::string dateText(const Date& d) {
  return std::to_string(d.year) + "-" + twoDigits(d.month) + "-" + twoDigits(d.day);
}

}  // namespace

int daysInYear(int year) { return (year & 0xFF) % 4 == 0 ? 366 : 365; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[13] = {1, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int m = month & 0xFF;
  if (m < 1 || m > 12) return 1;
  return m == 2 && daysInYear(year) == 366 ? 29 : kDays[m];
}

int dayNumber(const Date& d) {
  int n = 0;
  for (int y = 0; y < d.year; ++y) n += daysInYear(y);
  for (int m = 1; m < d.month; ++m) n += daysInMonth(d.year, m);
  return n + d.day;
}

Date dateOf(int n) {
  Date d;
  d.year = 0;
  while (n > daysInYear(d.year)) n -= daysInYear(d.year++);
  d.month = 1;
  while (n > daysInMonth(d.year, d.month)) n -= daysInMonth(d.year, d.month++);
  d.day = n;
  return d;
}

std::array<std::uint8_t, 8> Record::bytes() const {
  return {byte(static_cast<int>(card & 0xFF)),
          byte(static_cast<int>((card >> 8) & 0xFF)),
          byte(static_cast<int>((card >> 16) & 0xFF)),
          byte(date.year),
          byte(date.month),
          byte(date.day),
          byte(hour),
          byte(minute)};
}

TerminalModule::TerminalModule(std::function<void(const std::string&)> log, Clock now)
    : log_(std::move(log)), now_(std::move(now)) {
  if (!now_) now_ = [] { return std::chrono::steady_clock::now(); };
  std::copy_n(kIdleText, 16, display_.begin());
  // Start from the host's date and time (UTC), year 0 being 2000.
  const auto since1970 = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  constexpr std::int64_t k1970To2000 = 10957 * kDay;
  clockSeconds_ = std::max<std::int64_t>(0, since1970 - k1970To2000);
  clockSetAt_ = now_();
}

ClockBytes TerminalModule::clock() const {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(now_() - clockSetAt_).count();
  const std::int64_t s = clockSeconds_ + elapsed;
  const int days = static_cast<int>(s / kDay);
  const int inDay = static_cast<int>(s % kDay);
  const Date d = dateOf(days + 1);
  // 1 January of year 0 is a Saturday (6).
  const int weekday = (days + 6) % 7;
  return {byte(d.year),          byte(d.month),    byte(d.day),  byte(inDay / 3600),
          byte(inDay / 60 % 60), byte(inDay % 60), byte(weekday)};
}

bool TerminalModule::setClock(const ClockBytes& c) {
  const Date d{c[0], c[1], c[2]};
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month) ||
      c[3] > 23 || c[4] > 59 || c[5] > 59)
    return false;
  clockSeconds_ =
      static_cast<std::int64_t>(dayNumber(d) - 1) * kDay + c[3] * 3600 + c[4] * 60 + c[5];
  clockSetAt_ = now_();
  return true;
}

std::string TerminalModule::displayText() const {
  std::string s;
  for (auto b : display_) s += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  return s;
}

Reply TerminalModule::execute(std::uint8_t cmd, std::span<const std::uint8_t> data) {
  switch (cmd) {
    case kEndTransfer:
      if (!data.empty()) return fail(status::kWrongLength);
      ++transfersEnded_;
      log("attendance: transfer ended");
      return {status::kOk, {}};
    case kGetTime: {
      if (!data.empty()) return fail(status::kWrongLength);
      const ClockBytes c = clock();
      return {status::kOk, {c.begin(), c.end()}};
    }
    case kSetTime: {
      if (data.size() != 7) return fail(status::kWrongLength);
      ClockBytes c{};
      std::copy_n(data.begin(), 7, c.begin());
      if (!setClock(c)) return fail(status::kKqBadClock);
      return {status::kOk, {}};
    }
    case kCurrentPosition:
      if (!data.empty()) return fail(status::kWrongLength);
      return {status::kOk,
              positionAnswer(!records_.empty(), records_.empty() ? 0 : records_.size() - 1)};
    case kStartPosition:
    case kEndPosition:
      return positionOfDate(data, cmd == kEndPosition);
    case kReadRecord:
      return readRecords(data);
    case kSystemInit:
      if (!data.empty()) return fail(status::kWrongLength);
      records_.clear();
      std::copy_n(kIdleText, 16, display_.begin());
      ++initialisations_;
      log("attendance: system initialised (records erased)");
      return {status::kOk, {}};
    case kDisplay:
      if (data.size() != 16) return fail(status::kWrongLength);
      std::copy_n(data.begin(), 16, display_.begin());
      log("attendance display: [" + displayText() + "]");
      return {status::kOk, {}};
    case kPassThrough:
      return passThrough(data);
    case kPassword: {
      if (data.empty() || data.size() != (data[0] == 1 ? 5u : 7u))
        return fail(status::kWrongLength);
      passwords_[data[0]] = {data.begin() + 1, data.end()};
      log("attendance: password of kind " + std::to_string(data[0]) + " loaded");
      return {status::kOk, {}};
    }
    default:
      return fail(status::kUnknownCommand);
  }
}

Reply TerminalModule::positionOfDate(std::span<const std::uint8_t> data, bool last) {
  if (data.size() != 2) return fail(status::kWrongLength);
  const int terminalDay = data[0] | (data[1] << 8);
  const int day = terminalDay - kTerminalDayOffset;
  std::optional<std::size_t> found;
  if (day >= 1) {
    const Date d = dateOf(day);
    for (std::size_t i = 0; i < records_.size(); ++i) {
      const Date& r = records_[i].date;
      if (r.year == d.year && r.month == d.month && r.day == d.day) {
        found = i;
        if (!last) break;
      }
    }
  }
  return {status::kOk, positionAnswer(found.has_value(), found.value_or(0))};
}

// selector, position low, position high, count.
Reply TerminalModule::readRecords(std::span<const std::uint8_t> data) {
  if (data.size() != 4) return fail(status::kWrongLength);
  const int count = data[3];
  if (data[0] != 0 || count < 1 || count > kMaxRecordsPerRead) return fail(status::kKqBadRequest);
  const std::size_t position = static_cast<std::size_t>(data[1] | (data[2] << 8));
  if (position >= records_.size()) return fail(status::kKqNoSuchRecord);
  const std::size_t end = std::min(records_.size(), position + static_cast<std::size_t>(count));
  Reply r;
  for (std::size_t i = position; i < end; ++i) {
    const auto b = records_[i].bytes();
    r.data.insert(r.data.end(), b.begin(), b.end());
  }
  return r;
}

// code, then the code's own bytes.
Reply TerminalModule::passThrough(std::span<const std::uint8_t> data) {
  if (data.empty()) return fail(status::kWrongLength);
  switch (data[0]) {
    case 0x10:
      return {status::kOk, {data.begin() + 1, data.end()}};
    case 0x11: {
      const std::size_t n = records_.size();
      return {status::kOk, {byte(static_cast<int>(n & 0xFF)), byte(static_cast<int>(n >> 8))}};
    }
    case 0x12:
      return {status::kOk, {kName, kName + sizeof kName - 1}};
    default:
      return fail(status::kKqBadRequest);
  }
}

bool TerminalModule::control(const std::vector<std::string>& words, std::string& out) {
  if (words.empty() || words[0] != "kq") return false;
  const std::string verb = words.size() > 1 ? words[1] : "";
  auto clockText = [this] {
    const ClockBytes c = clock();
    return dateText({c[0], c[1], c[2]}) + " " + twoDigits(c[3]) + ":" + twoDigits(c[4]) + ":" +
           twoDigits(c[5]) + " weekday " + std::to_string(c[6]);
  };
  if (verb == "record" && words.size() == 5) {
    Record r;
    char* end = nullptr;
    const unsigned long card = std::strtoul(words[2].c_str(), &end, 10);
    auto d = parseDate(words[3]);
    if (words[2].empty() || *end != 0 || card > 0xFFFFFF || !d ||
        !parseTime(words[4], r.hour, r.minute, nullptr)) {
      out = "error: kq record <card 0…16777215> <year>-<month>-<day> <hour>:<minute>";
      return true;
    }
    r.card = static_cast<std::uint32_t>(card);
    r.date = *d;
    records_.push_back(r);
    out = "kq: record " + std::to_string(records_.size() - 1) + " card " + words[2] + " " +
          dateText(r.date) + " " + twoDigits(r.hour) + ":" + twoDigits(r.minute);
    return true;
  }
  if (verb == "records" && words.size() == 2) {
    std::ostringstream o;
    o << "kq: " << records_.size() << " record(s)";
    for (std::size_t i = 0; i < records_.size(); ++i) {
      const Record& r = records_[i];
      o << "; " << i << ": " << r.card << " " << dateText(r.date) << " " << twoDigits(r.hour) << ":"
        << twoDigits(r.minute);
    }
    out = o.str();
    return true;
  }
  if (verb == "clear" && words.size() == 2) {
    records_.clear();
    out = "kq: records erased";
    return true;
  }
  if (verb == "time" && words.size() == 2) {
    out = "kq: clock " + clockText();
    return true;
  }
  if (verb == "time" && words.size() == 4) {
    auto d = parseDate(words[2]);
    int h = 0, m = 0, s = 0;
    if (!d || !parseTime(words[3], h, m, &s)) {
      out = "error: kq time <year>-<month>-<day> <hour>:<minute>:<second>";
      return true;
    }
    setClock({byte(d->year), byte(d->month), byte(d->day), byte(h), byte(m), byte(s), 0});
    out = "kq: clock " + clockText();
    return true;
  }
  if (verb == "display" && words.size() == 2) {
    out = "kq: display [" + displayText() + "]";
    return true;
  }
  if (verb == "passwords" && words.size() == 2) {
    std::ostringstream o;
    o << "kq: " << passwords_.size() << " password(s)";
    for (const auto& [kind, bytes] : passwords_) {
      o << "; kind " << static_cast<int>(kind) << ":";
      for (auto v : bytes) o << ' ' << hexByte(v);
    }
    out = o.str();
    return true;
  }
  if (verb == "show" && words.size() == 2) {
    out = "kq: clock " + clockText() + "; " + std::to_string(records_.size()) +
          " record(s); display [" + displayText() + "]; " + std::to_string(passwords_.size()) +
          " password(s); transfers ended " + std::to_string(transfersEnded_);
    return true;
  }
  out = "error: kq record … | records | clear | time [<date> <time>] | display | passwords | show";
  return true;
}

std::string TerminalModule::help() const {
  return "kq record <card> <year>-<month>-<day> <hour>:<minute>\n"
         "                    the attendance terminal takes a record (year 0 = a leap year)\n"
         "kq records          the records, by position\n"
         "kq clear            erase the records\n"
         "kq time [<year>-<month>-<day> <hour>:<minute>:<second>]  read or set the clock\n"
         "kq display          the display's 16 characters\n"
         "kq passwords        the passwords loaded, by kind\n"
         "kq show             clock, records, display, passwords, transfers ended";
}

}  // namespace readersim::attendance
