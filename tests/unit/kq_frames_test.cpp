// Attendance terminal exports, byte for byte on the line, against the
// scripted fake port.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "fake_fixture.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::Wire;

namespace {

using Kq = fake::LinkedTest;

TEST_F(Kq, EveryExchangingExportSendsItsCommandAndData) {
  const int clock[7] = {24, 6, 15, 8, 0x11E, 0, -1};
  int clockOut[7] = {};
  int first = 0;
  unsigned char position[4] = {};
  unsigned char buffer[256] = {0xB1, 0xB2, 0xB3, 0xB4};
  const int newYear0[3] = {0, 1, 1};
  const int wrapped[3] = {256, 257, 0x301};  // low bytes 0, 1, 1
  const int day8933[3] = {24, 6, 15};
  const unsigned char text[17] = "Good morning 123";
  const unsigned char password[6] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36};
  // clang-format off
  const fake::FrameCase cases[] = {
      {"EndTrans", [] { return KQ_EndTrans(); }, 0x01, {}},
      {"GetTime", [&] { return KQ_GetTime(clockOut); }, 0xC1, {}},
      {"SetTime", [&] { return KQ_SetTime(clock); }, 0xC2, bytes({24, 6, 15, 8, 0x1E, 0, 0xFF})},
      {"GetCurrentPos", [&] { return KQ_GetCurrentPos(&first, position); }, 0xC3, {}},
      {"GetStartPos 0-1-1", [&] { return KQ_GetStartPos(newYear0, &first, position); }, 0xC4,
       bytes({0x6E, 0x01})},
      {"GetStartPos low bytes", [&] { return KQ_GetStartPos(wrapped, &first, position); }, 0xC4,
       bytes({0x6E, 0x01})},
      {"GetEndPos 24-6-15", [&] { return KQ_GetEndPos(day8933, &first, position); }, 0xC5,
       bytes({(8933 + 365) & 0xFF, (8933 + 365) >> 8})},
      {"ReadRecord", [&] { return KQ_ReadRecord(0x100, 0x51234, 0x203, buffer); }, 0xC6,
       bytes({0x00, 0x34, 0x12, 0x03})},
      {"SysInit", [] { return KQ_SysInit(); }, 0xC7, {}},
      {"Display", [&] { return KQ_Display(text); }, 0xC8, Bytes(text, text + 16)},
      {"TransCmd 4", [&] { return KQ_TransCmd(0x110, 4, buffer); }, 0xC9,
       bytes({0x10, 0xB1, 0xB2, 0xB3})},
      {"TransCmd 1 sends the code only", [&] { return KQ_TransCmd(0x12, 1, buffer); }, 0xC9,
       bytes({0x12})},
      {"TransCmd 0 sends nothing", [&] { return KQ_TransCmd(0x12, 0, buffer); }, 0xC9, {}},
      {"DownloadPSW 1", [&] { return KQ_DownloadPSW(1, password); }, 0xCA,
       bytes({0x01, 0x31, 0x32, 0x33, 0x34})},
      {"DownloadPSW 2", [&] { return KQ_DownloadPSW(2, password); }, 0xCA,
       bytes({0x02, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36})},
      {"DownloadPSW 257 is not kind 1", [&] { return KQ_DownloadPSW(257, password); }, 0xCA,
       bytes({0x01, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36})},
  };
  // clang-format on
  expectFrames(cases, [&] { buffer[0] = 0xB1; });  // a reply of length 0 writes buffer[0]
}

TEST_F(Kq, PassThroughOfTheLongestFrameAndItsReply) {
  std::array<unsigned char, 256> buffer;
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i);
  wire().reply(0x00, Bytes(255, 0x5A));
  EXPECT_EQ(KQ_TransCmd(0xAB, 255, buffer.data()), 0);
  // The code, then the first 254 bytes the buffer held before the reply.
  Bytes data(255);
  data[0] = 0xAB;
  for (std::size_t i = 1; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i - 1);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0xC9, data));
  EXPECT_EQ(buffer[0], 255);  // the reply: its length, then its bytes
  EXPECT_EQ(Bytes(buffer.begin() + 1, buffer.end()), Bytes(255, 0x5A));
  wire().reply(0x49, bytes({0x09}));
  EXPECT_EQ(KQ_TransCmd(0x10, 1, buffer.data()), 0x49);
  EXPECT_EQ(buffer[0], 255) << "a failed pass-through must leave the buffer alone";
}

TEST_F(Kq, ArgumentsThatCannotFitAFrameAreRefusedWithoutAnExchange) {
  // The last date whose terminal day number fits 16 bits, and the day after.
  unsigned char last[3], next[3];
  KQ_Datebyte(65535 - 365, last);
  KQ_Datebyte(65535 - 365 + 1, next);
  const int lastDate[3] = {last[0], last[1], last[2]};
  const int nextDate[3] = {next[0], next[1], next[2]};
  int first = 9;
  unsigned char position[4] = {9, 9, 9, 9};
  wire().reply(0x00, bytes({1, 2, 3}));
  EXPECT_EQ(KQ_GetStartPos(lastDate, &first, position), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0xC4, bytes({0xFF, 0xFF})));
  wire().written.clear();
  first = position[0] = 9;

  unsigned char buffer[300] = {7};
  int date[3] = {0, 1, 1};
  std::vector<std::function<int()>> calls = {
      [&] { return KQ_GetStartPos(nextDate, &first, position); },
      [&] { return KQ_GetEndPos(nextDate, &first, position); },
      [] { return KQ_GetTime(nullptr); },
      [] { return KQ_SetTime(nullptr); },
      [&] { return KQ_GetCurrentPos(nullptr, position); },
      [&] { return KQ_GetCurrentPos(&first, nullptr); },
      [&] { return KQ_GetStartPos(nullptr, &first, position); },
      [&] { return KQ_GetEndPos(date, &first, nullptr); },
      [] { return KQ_ReadRecord(0, 0, 1, nullptr); },
      [] { return KQ_Display(nullptr); },
      [] { return KQ_DownloadPSW(1, nullptr); },
      [] { return KQ_TransCmd(0x10, 1, nullptr); }};
  for (int length : {-1, -255, 256, 257, 1000, -2147483647 - 1})
    calls.push_back([&buffer, length] { return KQ_TransCmd(0x10, length, buffer); });
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i](), 4) << "call " << i;
  EXPECT_TRUE(wire().written.empty());
  EXPECT_EQ(first, 9);
  EXPECT_EQ(position[0], 9);
  EXPECT_EQ(buffer[0], 7);
}

TEST_F(Kq, PositionAnswersAndClockAreTakenOnlyOnStatusZero) {
  const int date[3] = {24, 6, 15};
  const std::function<int(int*, unsigned char*)> queries[] = {
      [](int* f, unsigned char* p) { return KQ_GetCurrentPos(f, p); },
      [&](int* f, unsigned char* p) { return KQ_GetStartPos(date, f, p); },
      [&](int* f, unsigned char* p) { return KQ_GetEndPos(date, f, p); },
  };
  for (const auto& query : queries) {
    int first = -1;
    unsigned char position[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    wire().reply(0x00, bytes({0x81, 0x34, 0x12, 0x77, 0x66}));
    EXPECT_EQ(query(&first, position), 0);
    EXPECT_EQ(first, 0x81);
    EXPECT_EQ(Bytes(position, position + 4), bytes({0x34, 0x12, 0x00, 0x00}));
    first = -1;
    position[0] = 0xEE;
    wire().reply(0x4A, bytes({0x01, 0x02, 0x03}));
    EXPECT_EQ(query(&first, position), 0x4A);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(position[0], 0xEE);
  }
  int clock[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  wire().reply(0x00, bytes({24, 6, 15, 8, 30, 59, 6, 0x99}));
  EXPECT_EQ(KQ_GetTime(clock), 0);
  EXPECT_EQ(std::vector<int>(clock, clock + 8), std::vector<int>({24, 6, 15, 8, 30, 59, 6, -1}));
  wire().reply(0x48);
  clock[0] = -1;
  EXPECT_EQ(KQ_GetTime(clock), 0x48);
  EXPECT_EQ(clock[0], -1);
}

TEST_F(Kq, ReadRecordCopiesTheWholeReplyOnStatusZero) {
  std::array<unsigned char, 255> buffer;
  buffer.fill(0xEE);
  Bytes reply(248);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i);
  wire().reply(0x00, reply);
  EXPECT_EQ(KQ_ReadRecord(0, 0, 31, buffer.data()), 0);
  reply.push_back(0xEE);  // and nothing past it
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 249), reply);
  buffer.fill(0xEE);
  wire().reply(0x4A, bytes({1, 2, 3}));
  EXPECT_EQ(KQ_ReadRecord(0, 9, 1, buffer.data()), 0x4A);
  EXPECT_EQ(buffer[0], 0xEE);
}

}  // namespace
