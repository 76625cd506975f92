// The simulated attendance terminal: its running clock, record store and
// position answers, display, passwords and pass-through codes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "attendance/terminal.h"
#include "core/simulator.h"
#include "core/status.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using readersim::Reply;
using readersim::attendance::Date;
using readersim::attendance::Record;
using readersim::attendance::TerminalModule;
namespace st = readersim::status;
using namespace std::chrono_literals;

class Terminal : public ::testing::Test {
 protected:
  Terminal()
      : m([this](const std::string& line) { logLines.push_back(line); }, [this] { return now; }) {}

  Reply run(std::uint8_t cmd, const Bytes& data = {}) { return m.execute(cmd, data); }
  static Bytes terminalDay(const Date& d) {
    const int n = readersim::attendance::dayNumber(d) + 365;
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)};
  }
  void add(std::uint32_t card, Date d, int hour, int minute) {
    Record r;
    r.card = card;
    r.date = d;
    r.hour = hour;
    r.minute = minute;
    m.addRecord(r);
  }

  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> logLines;
  TerminalModule m;
};

TEST_F(Terminal, ClockRunsFromTheMomentItIsSetAndRefusesImpossibleSettings) {
  ASSERT_EQ(run(0xC2, {24, 2, 29, 23, 59, 58, 3}).status, st::kOk);
  EXPECT_EQ(run(0xC1).data, Bytes({24, 2, 29, 23, 59, 58, 4}));  // a Thursday
  now += 3s;
  EXPECT_EQ(run(0xC1).data, Bytes({24, 3, 1, 0, 0, 1, 5}));
  now += 24h * 365;
  EXPECT_EQ(run(0xC1).data, Bytes({25, 3, 1, 0, 0, 1, 6}));

  ASSERT_EQ(run(0xC2, {0, 1, 1, 0, 0, 0, 0}).status, st::kOk);
  EXPECT_EQ(run(0xC1).data, Bytes({0, 1, 1, 0, 0, 0, 6}));  // year 0 begins on a Saturday

  // Impossible settings are refused and keep the clock.
  ASSERT_EQ(run(0xC2, {24, 6, 15, 8, 30, 0, 0}).status, st::kOk);
  const Bytes bad[] = {{23, 2, 29, 0, 0, 0, 0}, {24, 13, 1, 0, 0, 0, 0}, {24, 0, 1, 0, 0, 0, 0},
                       {24, 4, 31, 0, 0, 0, 0}, {24, 1, 0, 0, 0, 0, 0},  {24, 1, 1, 24, 0, 0, 0},
                       {24, 1, 1, 0, 60, 0, 0}, {24, 1, 1, 0, 0, 60, 0}};
  for (const auto& b : bad) EXPECT_EQ(run(0xC2, b).status, st::kKqBadClock) << int(b[1]);
  EXPECT_EQ(run(0xC2, {24, 1, 1, 0, 0, 0}).status, st::kWrongLength);
  EXPECT_EQ(run(0xC1, {0}).status, st::kWrongLength);
  EXPECT_EQ(run(0xC1).data[0], 24);
  EXPECT_EQ(run(0xC1).data[1], 6);
}

TEST_F(Terminal, PositionsOfDatesNameTheirFirstAndLastRecords) {
  EXPECT_EQ(run(0xC3).data, Bytes({0, 0, 0})) << "no records yet";
  add(1, {24, 6, 14}, 8, 0);   // 0
  add(2, {24, 6, 15}, 8, 1);   // 1
  add(3, {24, 6, 15}, 8, 2);   // 2
  add(1, {24, 6, 15}, 17, 0);  // 3
  add(2, {24, 6, 17}, 8, 0);   // 4
  struct Case {
    std::uint8_t cmd;
    Date date;
    Bytes answer;
  } cases[] = {
      {0xC4, {24, 6, 15}, {1, 1, 0}}, {0xC5, {24, 6, 15}, {1, 3, 0}},
      {0xC4, {24, 6, 14}, {1, 0, 0}}, {0xC5, {24, 6, 14}, {1, 0, 0}},
      {0xC4, {24, 6, 17}, {1, 4, 0}}, {0xC4, {24, 6, 16}, {0, 0, 0}},
      {0xC5, {0, 1, 1}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    Reply r = run(c.cmd, terminalDay(c.date));
    EXPECT_EQ(r.status, st::kOk);
    EXPECT_EQ(r.data, c.answer) << int(c.cmd) << " " << c.date.day;
  }
  // Terminal day numbers of 365 and below name no date at all.
  EXPECT_EQ(run(0xC4, {0x6D, 0x01}).data, Bytes({0, 0, 0}));
  EXPECT_EQ(run(0xC4, {0x00, 0x00}).data, Bytes({0, 0, 0}));
  EXPECT_EQ(run(0xC4, {0x6E}).status, st::kWrongLength);
  EXPECT_EQ(run(0xC3).data, Bytes({1, 4, 0}));
}

TEST_F(Terminal, RecordsAreReadByPositionAndCount) {
  for (int i = 0; i < 40; ++i) add(0x010203 + static_cast<std::uint32_t>(i), {24, 6, 15}, 8, i);
  Reply r = run(0xC6, {0, 2, 0, 1});
  EXPECT_EQ(r.data, Bytes({0x05, 0x02, 0x01, 24, 6, 15, 8, 2}));
  r = run(0xC6, {0, 0, 0, 31});
  EXPECT_EQ(r.data.size(), 31u * 8u);
  r = run(0xC6, {0, 38, 0, 5});  // only two are left
  EXPECT_EQ(r.data.size(), 16u);
  EXPECT_EQ(r.data[7], 38);
  EXPECT_EQ(r.data[15], 39);

  struct Case {
    Bytes data;
    std::uint8_t status;
  } cases[] = {
      {{0, 40, 0, 1}, st::kKqNoSuchRecord}, {{0, 0, 1, 1}, st::kKqNoSuchRecord},
      {{1, 0, 0, 1}, st::kKqBadRequest},    {{0, 0, 0, 0}, st::kKqBadRequest},
      {{0, 0, 0, 32}, st::kKqBadRequest},   {{0, 0, 0}, st::kWrongLength},
  };
  for (const auto& c : cases) EXPECT_EQ(run(0xC6, c.data).status, c.status);
}

TEST_F(Terminal, DisplayPasswordsInitialisationAndEndOfTransfer) {
  const std::string text = "Good morning 123";
  ASSERT_EQ(run(0xC8, Bytes(text.begin(), text.end())).status, st::kOk);
  EXPECT_EQ(m.displayText(), text);
  ASSERT_FALSE(logLines.empty());
  EXPECT_EQ(logLines.back(), "attendance display: [Good morning 123]");
  EXPECT_EQ(run(0xC8, Bytes(15, 'x')).status, st::kWrongLength);
  Bytes withControl(16, 'A');
  withControl[3] = 0x07;
  run(0xC8, withControl);
  EXPECT_EQ(logLines.back(), "attendance display: [AAA.AAAAAAAAAAAA]");

  EXPECT_EQ(run(0xCA, {1, 1, 2, 3, 4}).status, st::kOk);
  EXPECT_EQ(run(0xCA, {2, 1, 2, 3, 4, 5, 6}).status, st::kOk);
  EXPECT_EQ(run(0xCA, {1, 1, 2, 3, 4, 5, 6}).status, st::kWrongLength);
  EXPECT_EQ(run(0xCA, {3, 1, 2, 3, 4}).status, st::kWrongLength);
  EXPECT_EQ(run(0xCA).status, st::kWrongLength);
  EXPECT_EQ(m.passwords().size(), 2u);
  EXPECT_EQ(m.passwords().at(2), Bytes({1, 2, 3, 4, 5, 6}));

  add(1, {24, 6, 15}, 8, 0);
  ASSERT_EQ(run(0xC7).status, st::kOk);
  EXPECT_TRUE(m.records().empty());
  EXPECT_EQ(m.displayText(), "    WELCOME     ");
  EXPECT_EQ(m.passwords().size(), 2u) << "passwords survive initialisation";

  ASSERT_EQ(run(0x01).status, st::kOk);
  EXPECT_EQ(m.transfersEnded(), 1);
  EXPECT_EQ(run(0x01, {0}).status, st::kWrongLength);
}

TEST_F(Terminal, PassThroughCodes) {
  add(1, {24, 6, 15}, 8, 0);
  add(2, {24, 6, 15}, 8, 0);
  EXPECT_EQ(run(0xC9, {0x10, 7, 8, 9}).data, Bytes({7, 8, 9}));
  EXPECT_EQ(run(0xC9, {0x11}).data, Bytes({2, 0}));
  const std::string name = "KQ TERMINAL 1.0";
  EXPECT_EQ(run(0xC9, {0x12}).data, Bytes(name.begin(), name.end()));
  EXPECT_EQ(run(0xC9, {0x13}).status, st::kKqBadRequest);
  EXPECT_EQ(run(0xC9).status, st::kWrongLength);
}

TEST(AttendanceControl, RecordsClockAndDisplayThroughTheSimulator) {
  auto sim = readersim::makeStandardSimulator();
  std::string out;
  ASSERT_TRUE(sim->control({"kq", "record", "4660", "24-6-15", "8:05"}, out));
  EXPECT_EQ(out, "kq: record 0 card 4660 24-06-15 08:05");
  ASSERT_TRUE(sim->control({"kq", "records"}, out));
  EXPECT_EQ(out, "kq: 1 record(s); 0: 4660 24-06-15 08:05");
  ASSERT_TRUE(sim->control({"kq", "time", "24-2-29", "12:00:00"}, out));
  EXPECT_EQ(out.rfind("kq: clock 24-02-29 12:00:0", 0), 0u) << out;
  ASSERT_TRUE(sim->control({"kq", "display"}, out));
  EXPECT_EQ(out, "kq: display [    WELCOME     ]");
  ASSERT_TRUE(sim->control({"kq", "clear"}, out));
  auto* m = sim->find<TerminalModule>();
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->records().empty());

  const std::vector<std::vector<std::string>> bad = {
      {"kq", "record", "x", "24-6-15", "8:05"},  {"kq", "record", "1", "24-2-30", "8:05"},
      {"kq", "record", "1", "24-6-15", "24:00"}, {"kq", "record", "16777216", "24-6-15", "8:05"},
      {"kq", "time", "24-6-15", "8:05"},         {"kq", "nonsense"},
  };
  for (const auto& words : bad) {
    ASSERT_TRUE(sim->control(words, out));
    EXPECT_EQ(out.rfind("error:", 0), 0u) << out;
  }
  EXPECT_TRUE(m->records().empty());
}

}  // namespace
