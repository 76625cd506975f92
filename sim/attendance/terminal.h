// The attendance terminal on the reader's line (commands 0x01, 0xC1 … 0xCA).
//
// Clock: seven bytes year, month, day, hour, minute, second, weekday
// (0 = Sunday); years count from year 0 (a leap year; every fourth year is
// one). It runs from the moment it is set; the weekday sent with a setting
// is ignored and always computed.
// Records: 8 bytes each, kept in the order they were taken, addressed by
// position from 0: card number (3 bytes, low byte first), year, month, day,
// hour, minute.
// Dates in position requests are terminal day numbers: the day number of the
// date (1 January of year 0 = 1) plus 365, 2 bytes low byte first.
// A position answer is 3 bytes: 1 when the position names a record (else 0
// and position 0), then the position, low byte first.
//   0xC3  the newest record;  0xC4 / 0xC5  the first / last record of a date.
// 0xC6 reads records: selector 0 (the only one), position (2 bytes), count
// 1 … 31; answers as many of them as there are from that position.
// 0xC9 pass-through codes: 0x10 echoes the bytes after the code, 0x11 answers
// the number of records (2 bytes), 0x12 the terminal's name.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/module.h"

namespace readersim::attendance {

struct Date {
  int year = 0, month = 1, day = 1;
};

int daysInYear(int year);
int daysInMonth(int year, int month);
// 1 January of year 0 is day 1.
int dayNumber(const Date& d);
Date dateOf(int dayNumber);

struct Record {
  std::uint32_t card = 0;  // 24 bits
  Date date;
  int hour = 0, minute = 0;
  std::array<std::uint8_t, 8> bytes() const;
};

// Clock items in wire order.
using ClockBytes = std::array<std::uint8_t, 7>;

class TerminalModule final : public Module {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // log receives the display's text and other device messages; now is the
  // time source the clock runs on (tests may pass their own).
  explicit TerminalModule(std::function<void(const std::string&)> log = {}, Clock now = {});

  std::string name() const override { return "attendance"; }
  bool handles(std::uint8_t cmd) const override {
    return cmd == 0x01 || (cmd >= 0xC1 && cmd <= 0xCA);
  }
  Reply execute(std::uint8_t cmd, std::span<const std::uint8_t> data) override;
  bool control(const std::vector<std::string>& words, std::string& out) override;
  std::string help() const override;

  // For tests (hold the simulator's mutex while the service runs).
  ClockBytes clock() const;
  // false when the items are not a valid date and time.
  bool setClock(const ClockBytes& items);
  void addRecord(const Record& r) { records_.push_back(r); }
  const std::vector<Record>& records() const { return records_; }
  const std::array<std::uint8_t, 16>& display() const { return display_; }
  std::string displayText() const;
  const std::map<std::uint8_t, std::vector<std::uint8_t>>& passwords() const { return passwords_; }
  int transfersEnded() const { return transfersEnded_; }
  int initialisations() const { return initialisations_; }

 private:
  Reply positionOfDate(std::span<const std::uint8_t> data, bool last);
  Reply readRecords(std::span<const std::uint8_t> data);
  Reply passThrough(std::span<const std::uint8_t> data);
  void log(const std::string& line) const {
    if (log_) log_(line);
  }

  std::function<void(const std::string&)> log_;
  Clock now_;
  std::int64_t clockSeconds_ = 0;  // seconds since year 0 at clockSetAt_
  std::chrono::steady_clock::time_point clockSetAt_;
  std::vector<Record> records_;
  std::array<std::uint8_t, 16> display_{};
  std::map<std::uint8_t, std::vector<std::uint8_t>> passwords_;
  int transfersEnded_ = 0;
  int initialisations_ = 0;
};

}  // namespace readersim::attendance
