// The simulated attendance terminal: its running clock, record store and
// position answers, display, passwords and pass-through codes.
#include <gtest/gtest.h>

#include "attendance/terminal.h"
#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using namespace simtest;
using namespace std::chrono_literals;
namespace st = readersim::status;

class Terminal : public ::testing::Test {
 protected:
  void add(std::uint32_t card, int day, int minute) {
    readersim::attendance::Record r;
    r.card = card;
    r.date = {24, 6, day};
    r.hour = 8;
    r.minute = minute;
    m.addRecord(r);
  }
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> log;
  readersim::attendance::TerminalModule m{[this](const std::string& l) { log.push_back(l); },
                                          [this] { return now; }};
};

// clang-format off
TEST_F(Terminal, ClockRunsFromTheMomentItIsSetAndRefusesImpossibleSettings) {
  play(m, {{0xC2, "1802 1D17 3B3A03", 0, ""}, {0xC1, "", 0, "18021D173B3A04"}});  // 24-2-29, a Thursday
  now += 3s;
  play(m, {{0xC1, "", 0, "180301000001 05"}});
  now += 24h * 365;
  play(m, {
    {0xC1, "", 0, "19030100000106"},
    {0xC2, "00010100000000", 0, ""}, {0xC1, "", 0, "00010100000006"},  // year 0 begins on a Saturday
    {0xC2, "18060F081E0000", 0, ""},
    // Impossible settings are refused and keep the clock.
    {0xC2, "17021D00000000", st::kKqBadClock, ""}, {0xC2, "180D0100000000", st::kKqBadClock, ""},
    {0xC2, "18000100000000", st::kKqBadClock, ""}, {0xC2, "18041F00000000", st::kKqBadClock, ""},
    {0xC2, "18010000000000", st::kKqBadClock, ""}, {0xC2, "18010118000000", st::kKqBadClock, ""},
    {0xC2, "180101003C0000", st::kKqBadClock, ""}, {0xC2, "18010100003C00", st::kKqBadClock, ""},
    {0xC2, "180101000000", st::kWrongLength, ""}, {0xC1, "00", st::kWrongLength, ""},
    {0xC1, "", 0, "18060F081E*"},
  });
}

TEST_F(Terminal, RecordsPositionsDisplayPasswordsAndCodes) {
  play(m, {{0xC3, "", 0, "000000"}});  // no records yet
  add(1, 14, 0), add(2, 15, 1), add(3, 15, 2), add(1, 15, 3), add(2, 17, 0);  // positions 0 … 4
  // Terminal day numbers (dayNumber + 365, low byte first): 24-6-14 9297, 15 9298, 16 9299, 17 9300.
  play(m, {
    {0xC4, "5224", 0, "010100"}, {0xC5, "5224", 0, "010300"}, {0xC4, "5124", 0, "010000"},
    {0xC5, "5124", 0, "010000"}, {0xC4, "5424", 0, "010400"}, {0xC4, "5324", 0, "000000"},
    {0xC5, "6E01", 0, "000000"},
    // Day numbers of 365 and below name no date at all.
    {0xC4, "6D01", 0, "000000"}, {0xC4, "0000", 0, "000000"}, {0xC4, "6E", st::kWrongLength, ""},
    {0xC3, "", 0, "010400"},
    {0xC6, "00020001", 0, "0300001806 0F0802"},  // card (3 bytes), date, hour, minute
    {0xC6, "00050001", st::kKqNoSuchRecord, ""}, {0xC6, "00000101", st::kKqNoSuchRecord, ""},
    {0xC6, "01000001", st::kKqBadRequest, ""}, {0xC6, "00000000", st::kKqBadRequest, ""},
    {0xC6, "00000020", st::kKqBadRequest, ""}, {0xC6, "000000", st::kWrongLength, ""},
    {0xC6, "00030005", 0, "010000 18060F0803 020000 1806110800"},  // only two are left
    {0xC8, "476F6F64206D6F726E696E6720313233", 0, ""}, {0xC8, "787878787878787878787878787878", st::kWrongLength, ""},
    {0xC8, "41414107414141414141414141414141", 0, ""},
    {0xCA, "0101020304", 0, ""}, {0xCA, "02010203040506", 0, ""}, {0xCA, "01010203040506", st::kWrongLength, ""},
    {0xCA, "0301020304", st::kWrongLength, ""}, {0xCA, "", st::kWrongLength, ""},
    {0xC9, "10070809", 0, "070809"}, {0xC9, "11", 0, "0500"}, {0xC9, "12", 0, "4B51205445524D494E414C20312E30"},
    {0xC9, "13", st::kKqBadRequest, ""}, {0xC9, "", st::kWrongLength, ""},
    {0xC7, "", 0, ""}, {0xC3, "", 0, "000000"},  // initialisation empties the store
    {0x01, "", 0, ""}, {0x01, "00", st::kWrongLength, ""},
  });
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(std::vector(log.begin(), log.begin() + 2),
   (std::vector<std::string>{"attendance display: [Good morning 123]",
                                           "attendance display: [AAA.AAAAAAAAAAAA]"}));
  EXPECT_EQ(m.displayText(), "    WELCOME     ");
  EXPECT_EQ(m.passwords().size(), 2u) << "passwords survive initialisation";
  EXPECT_EQ(m.passwords().at(2), Bytes({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(m.transfersEnded(), 1);
  for (int i = 0; i < 40; ++i) add(1, 15, i);
  EXPECT_EQ(m.execute(0xC6, hex("00000020")).status, st::kKqBadRequest);
  EXPECT_EQ(m.execute(0xC6, hex("0000001F")).data.size(), 31u * 8u);
}

TEST(AttendanceControl, RecordsClockAndDisplayThroughTheSimulator) {
  auto sim = readersim::makeStandardSimulator();
  auto* m = sim->find<readersim::attendance::TerminalModule>();
  ASSERT_NE(m, nullptr);
  play(*m, {
    {-1, "kq record 4660 24-6-15 8:05", 0, "kq: record 0 card 4660 24-06-15 08:05"},
    {-1, "kq records", 0, "kq: 1 record(s); 0: 4660 24-06-15 08:05"},
    {-1, "kq time 24-2-29 12:00:00", 0, "kq: clock 24-02-29 12:00:0"},
    {-1, "kq display", 0, "kq: display [    WELCOME     ]"}, {-1, "kq clear", 0, ""}, {0xC3, "", 0, "000000"},
    {-1, "kq record x 24-6-15 8:05", 0, "error:"}, {-1, "kq record 1 24-2-30 8:05", 0, "error:"},
    {-1, "kq record 1 24-6-15 24:00", 0, "error:"}, {-1, "kq record 16777216 24-6-15 8:05", 0, "error:"},
    {-1, "kq time 24-6-15 8:05", 0, "error:"}, {-1, "kq nonsense", 0, "error:"}, {0xC3, "", 0, "000000"},
  });
}
// clang-format on

}  // namespace
