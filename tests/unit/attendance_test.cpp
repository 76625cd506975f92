// Attendance terminal exports on the line, and the host-side calendar of
// KQ_Daysbyte and KQ_Datebyte.
#include <gtest/gtest.h>

#include "attendance/kq_dates.h"
#include "fake_fixture.h"
#include "orvix32.h"

using namespace fake;

namespace {

int* ints(unsigned char* b) { return reinterpret_cast<int*>(b); }
const int kDate[3] = {24, 6, 15};
using Kq = LinkedTest;

TEST_F(Kq, FramesAndWhatComesBack) {
  const int clock[7] = {24, 6, 15, 8, 0x11E, 0, -1}, newYear[3] = {0, 1, 1},
            wrapped[3] = {256, 257, 0x301};
  const unsigned char text[17] = "Good morning 123", pw[6] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36};
  const Bytes b1 = hex("B1B2B3B4"), b0 = hex("00B2B3B4"), seq256 = [] {
    Bytes b(256);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::uint8_t(i);
    return b;
  }();
  const std::string code254 = "C9:AB" + toHex(Bytes(seq256.begin(), seq256.begin() + 254));
  auto pos = [](auto f) -> std::function<int(unsigned char*)> {
    return [f](unsigned char* b) { return f(ints(b), b + 4); };
  };
  const auto cur = pos([](int* f, unsigned char* p) { return KQ_GetCurrentPos(f, p); });
  const auto start = pos([](int* f, unsigned char* p) { return KQ_GetStartPos(kDate, f, p); });
  const auto end = pos([](int* f, unsigned char* p) { return KQ_GetEndPos(kDate, f, p); });
  const Bytes posIn = hex("FFFFFFFFEEEEEEEE"), posOut = hex("8100000034120000"),
              posReply = hex("8134127766");
  const auto getTime = [](unsigned char* b) { return KQ_GetTime(ints(b)); };
  const auto record = [](unsigned char* b) { return KQ_ReadRecord(0, 0, 31, b); };
  // clang-format off
  const Row rows[] = {
    {"EndTrans", -1, {answer(0)}, [](unsigned char*) { return KQ_EndTrans(); }, 0, 0, {}, "01:", 0, {}},
    {"SetTime: low bytes", -1, {answer(0)}, [&](unsigned char*) { return KQ_SetTime(clock); }, 0, 0, {},
     "C2:18060F081E00FF", 0, {}},
    {"GetStartPos 0-1-1", -1, {answer(0)}, [&](unsigned char* b) { return KQ_GetStartPos(newYear, ints(b), b + 4); },
     8, 0xEE, {}, "C4:6E01", 0, Bytes(8, 0)},
    {"GetStartPos: low bytes", -1, {answer(0)}, [&](unsigned char* b) { return KQ_GetStartPos(wrapped, ints(b),
     b + 4); }, 8, 0xEE, {}, "C4:6E01", 0, Bytes(8, 0)},
    {"GetEndPos 24-6-15", -1, {answer(0)}, end, 8, 0xEE, {}, "C5:5224", 0, Bytes(8, 0)},
    {"ReadRecord: low bytes", -1, {answer(0)}, [](unsigned char* b) { return KQ_ReadRecord(0x100, 0x51234, 0x203,
     b); }, 4, 0xEE, {}, "C6:00341203", 0, {}},
    {"SysInit", -1, {answer(0)}, [](unsigned char*) { return KQ_SysInit(); }, 0, 0, {}, "C7:", 0, {}},
    {"Display", -1, {answer(0)}, [&](unsigned char*) { return KQ_Display(text); }, 0, 0, {},
     "C8:476F6F64206D6F726E696E6720313233", 0, {}},
    {"TransCmd 4", -1, {answer(0)}, [](unsigned char* b) { return KQ_TransCmd(0x110, 4, b); }, 4, 0, b1, "C9:10B1B2B3",
     0, b0},
    {"TransCmd 1: the code only", -1, {answer(0)}, [](unsigned char* b) { return KQ_TransCmd(0x12, 1, b); }, 4, 0, b1,
     "C9:12", 0, b0},
    {"TransCmd 0: nothing", -1, {answer(0)}, [](unsigned char* b) { return KQ_TransCmd(0x12, 0, b); }, 4, 0, b1, "C9:",
     0, b0},
    {"TransCmd 255 and a 255-byte reply", -1, {answer(0, Bytes(255, 0x5A))},
     [](unsigned char* b) { return KQ_TransCmd(0xAB, 255, b); },
     256, 0, seq256, code254, 0, hex("FF") + Bytes(255, 0x5A)},
    {"TransCmd refused", -1, {answer(0x49, {9})}, [](unsigned char* b) { return KQ_TransCmd(0x10, 1, b); }, 4, 0, b1,
     "C9:10", 0x49, {}},
    {"DownloadPSW 1", -1, {answer(0)}, [&](unsigned char*) { return KQ_DownloadPSW(1, pw); }, 0, 0, {},
     "CA:0131323334", 0, {}},
    {"DownloadPSW 2", -1, {answer(0)}, [&](unsigned char*) { return KQ_DownloadPSW(2, pw); }, 0, 0, {},
     "CA:02313233343536", 0, {}},
    {"DownloadPSW 257 is not kind 1", -1, {answer(0)}, [&](unsigned char*) { return KQ_DownloadPSW(257, pw); }, 0, 0,
     {}, "CA:01313233343536", 0, {}},
    {"GetCurrentPos", -1, {answer(0, posReply)}, cur, 8, 0, posIn, "C3:", 0, posOut},
    {"GetStartPos", -1, {answer(0, posReply)}, start, 8, 0, posIn, "C4:5224", 0, posOut},
    {"GetEndPos", -1, {answer(0, posReply)}, end, 8, 0, posIn, "C5:5224", 0, posOut},
    {"GetCurrentPos refused", -1, {answer(0x4A, hex("010203"))}, cur, 8, 0, posIn, "C3:", 0x4A, {}},
    {"GetStartPos refused", -1, {answer(0x4A, hex("010203"))}, start, 8, 0, posIn, "C4:5224", 0x4A, {}},
    {"GetEndPos refused", -1, {answer(0x4A, hex("010203"))}, end, 8, 0, posIn, "C5:5224", 0x4A, {}},
    {"GetTime", -1, {answer(0, hex("18060F081E3B0699"))}, getTime, 32, 0xFF, {}, "C1:", 0,
     hex("18000000 06000000 0F000000 08000000 1E000000 3B000000 06000000 FFFFFFFF")},
    {"GetTime refused", -1, {answer(0x48)}, getTime, 32, 0xFF, {}, "C1:", 0x48, {}},
    {"ReadRecord: the whole reply", -1, {answer(0, Bytes(seq256.begin(), seq256.begin() + 248))}, record, 249, 0xEE,
     {}, "C6:0000001F", 0,
     Bytes(seq256.begin(), seq256.begin() + 248) + hex("EE")},
    {"ReadRecord refused", -1, {answer(0x4A, hex("010203"))}, record, 249, 0xEE, {}, "C6:0000001F", 0x4A, {}},
  };
  // clang-format on
  run(rows);
}

TEST_F(Kq, ArgumentsThatCannotFitAFrameAreRefusedWithoutAnExchange) {
  unsigned char last[3], next[3];  // the last date whose terminal day fits 16 bits, and the next
  KQ_Datebyte(65535 - 365, last);
  KQ_Datebyte(65535 - 365 + 1, next);
  const int lastDate[3] = {last[0], last[1], last[2]}, nextDate[3] = {next[0], next[1], next[2]};
  int first = 9;
  unsigned char position[4] = {9, 9, 9, 9}, buffer[300] = {7};
  wire().reply(0x00, {1, 2, 3});
  EXPECT_EQ(KQ_GetStartPos(lastDate, &first, position), 0);
  EXPECT_EQ(line(), "C4:FFFF");
  clear();
  first = position[0] = 9;
  std::vector<std::function<int()>> calls = {
      [&] { return KQ_GetStartPos(nextDate, &first, position); },
      [&] { return KQ_GetEndPos(nextDate, &first, position); }};
  for (int length : {-1, -255, 256, 257, 1000, -2147483647 - 1})
    calls.push_back([&buffer, length] { return KQ_TransCmd(0x10, length, buffer); });
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i](), 4) << "call " << i;
  EXPECT_TRUE(wire().written.empty());
  EXPECT_EQ(first + position[0] + buffer[0], 9 + 9 + 7);
}

// Odd fields count as the loops do: month 0 has no months before it, day 0
// adds nothing, month 13 counts one day, a day past the month is added as it
// is. Back from day numbers: -5 keeps the day's low byte; past year 255 the
// year keeps counting and the leap rule uses its low byte.
TEST(KqDates, DayNumbersBothWays) {
  const std::pair<Bytes, int> days[] = {{{0, 1, 1}, 1},         {{0, 2, 29}, 60},
                                        {{0, 3, 1}, 61},        {{0, 12, 31}, 366},
                                        {{1, 3, 1}, 367 + 59},  {{3, 12, 31}, 1461},
                                        {{4, 3, 1}, 1462 + 60}, {{24, 6, 15}, 8933},
                                        {{255, 12, 31}, 93504}, {{0, 0, 5}, 5},
                                        {{0, 1, 0}, 0},         {{0, 14, 1}, 366 + 1 + 1},
                                        {{0, 2, 40}, 31 + 40},  {{1, 255, 0}, 366 + 365 + 242}};
  for (const auto& [date, number] : days) EXPECT_EQ(KQ_Daysbyte(date.data()), number) << number;
  EXPECT_EQ(KQ_Daysbyte(nullptr), 0);
  const std::pair<int, Bytes> dates[] = {
      {0, {0, 1, 0}},    {31, {0, 1, 31}},   {32, {0, 2, 1}},        {60, {0, 2, 29}},
      {61, {0, 3, 1}},   {366, {0, 12, 31}}, {367, {1, 1, 1}},       {1461, {3, 12, 31}},
      {1462, {4, 1, 1}}, {-5, {0, 1, 0xFB}}, {93504, {255, 12, 31}}, {93505, {0, 1, 1}}};
  for (const auto& [number, date] : dates) {
    Guarded out(3);
    EXPECT_EQ(KQ_Datebyte(number, out.data()), 0);
    EXPECT_EQ(out.bytes(), date) << number;
    EXPECT_TRUE(out.guardsIntact());
  }
  for (int n = 1; n <= orvix::kq::dayNumber(255, 12, 31); ++n) {
    unsigned char date[3];
    KQ_Datebyte(n, date);
    ASSERT_EQ(KQ_Daysbyte(date), n);
    ASSERT_TRUE(date[1] >= 1 && date[1] <= 12 && date[2] >= 1 &&
                date[2] <= orvix::kq::daysInMonth(date[0], date[1]))
        << n;
  }
}

}  // namespace
