// The attendance terminal's calendar on the host: KQ_Daysbyte and
// KQ_Datebyte, their leap rule, one-byte loops and strict comparisons.
#include "attendance/kq_dates.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "orvix32.h"

namespace {

// Odd fields count as the loops do: month 0 has no months before it, day 0
// adds nothing, month 13 counts one day, a day past the month is added as it is.
TEST(KqDates, DayNumbersAroundLeapYearsAndOddFields) {
  struct Case {
    unsigned char date[3];
    int number;
  } cases[] = {{{0, 1, 1}, 1},         {{0, 2, 29}, 60},
               {{0, 3, 1}, 61},        {{0, 12, 31}, 366},
               {{1, 3, 1}, 367 + 59},  {{3, 12, 31}, 1461},
               {{4, 3, 1}, 1462 + 60}, {{24, 6, 15}, 8933},
               {{255, 12, 31}, 93504}, {{0, 0, 5}, 5},
               {{0, 1, 0}, 0},         {{0, 14, 1}, 366 + 1 + 1},
               {{0, 2, 40}, 31 + 40},  {{1, 255, 0}, 366 + 365 + 242}};
  for (const auto& c : cases)
    EXPECT_EQ(KQ_Daysbyte(c.date), c.number)
        << int(c.date[0]) << "-" << int(c.date[1]) << "-" << int(c.date[2]);
  EXPECT_EQ(KQ_Daysbyte(nullptr), 0);
}

// -5: nothing to take away, the day keeps its low byte; past year 255 the
// year keeps counting and the leap rule uses its low byte.
TEST(KqDates, DatesFromDayNumbersWithStrictComparisons) {
  struct Case {
    int number;
    std::vector<unsigned char> date;
  } cases[] = {{0, {0, 1, 0}},    {31, {0, 1, 31}},   {32, {0, 2, 1}},        {60, {0, 2, 29}},
               {61, {0, 3, 1}},   {366, {0, 12, 31}}, {367, {1, 1, 1}},       {1461, {3, 12, 31}},
               {1462, {4, 1, 1}}, {-5, {0, 1, 0xFB}}, {93504, {255, 12, 31}}, {93505, {0, 1, 1}}};
  for (const auto& c : cases) {
    unsigned char date[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(KQ_Datebyte(c.number, date), 0);
    EXPECT_EQ(std::vector<unsigned char>(date, date + 3), c.date) << c.number;
    EXPECT_EQ(date[3], 0xEE) << "wrote past the 3 date bytes";
  }
  EXPECT_EQ(KQ_Datebyte(1, nullptr), 4);
}

TEST(KqDates, RoundTripOverEveryDayOfTheByteYears) {
  for (int n = 1; n <= orvix::kq::dayNumber(255, 12, 31); ++n) {
    unsigned char date[3];
    KQ_Datebyte(n, date);
    ASSERT_EQ(KQ_Daysbyte(date), n);
    ASSERT_GE(date[1], 1);
    ASSERT_LE(date[1], 12);
    ASSERT_GE(date[2], 1);
    ASSERT_LE(date[2], orvix::kq::daysInMonth(date[0], date[1]));
  }
}

}  // namespace
