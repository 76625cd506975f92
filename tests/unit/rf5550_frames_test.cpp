// RF5550 exports, byte for byte on the line, against the scripted fake port.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "fake_fixture.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::Wire;

namespace {

const unsigned char kPassword[4] = {0x11, 0x22, 0x33, 0x44};
using Write = int(int, const unsigned char*, unsigned char*, int);

using Rf5550 = fake::LinkedTest;

TEST_F(Rf5550, EveryExportSendsItsCommandAndData) {
  unsigned char buffer[255] = {};
  unsigned char data[4] = {0xA0, 0xA1, 0xA2, 0xA3};
  int config[10] = {1, 0, 0, 1, 0, 0, 0, 0, 0, 2};
  const Bytes pw = bytes({0x11, 0x22, 0x33, 0x44});
  // clang-format off
  const fake::FrameCase cases[] = {
      {"ReadBlk 5", [&] { return RF5550_ReadBlk(5, buffer); }, 0x64, bytes({0x05})},
      {"ReadBlk 261 (low byte)", [&] { return RF5550_ReadBlk(261, buffer); }, 0x64, bytes({0x05})},
      {"WriteBlk -1 is block 0", [&] { return RF5550_WriteBlk(-1, kPassword, data, 0x01); }, 0x65,
       bytes({0x11, 0x22, 0x33, 0x44, 0x00, 0xA0, 0xA1, 0xA2, 0xA3, 0x01})},
      {"WriteBlk 7", [&] { return RF5550_WriteBlk(7, kPassword, data, 0x1FE); }, 0x65,
       bytes({0x11, 0x22, 0x33, 0x44, 0x07, 0xA0, 0xA1, 0xA2, 0xA3, 0xFE})},
      {"Init", [&] { return RF5550_Init(config, kPassword, 0x02); }, 0x66,
       bytes({0x11, 0x22, 0x33, 0x44, 0x5F, 0x02})},
      {"Wake", [&] { return RF5550_Wake(kPassword); }, 0x67, bytes({0x11, 0x22, 0x33, 0x44})},
      {"ReadAfterWake 3", [&] { return RF5550_ReadAfterWake(3, kPassword, buffer); }, 0x68,
       bytes({0x11, 0x22, 0x33, 0x44, 0x03})},
      {"WriteAfterWake -1", [&] { return RF5550_WriteAfterWake(-1, kPassword, data, 0x00); }, 0x69,
       bytes({0x11, 0x22, 0x33, 0x44, 0x00, 0xA0, 0xA1, 0xA2, 0xA3, 0x00})},
      {"Mcmno", [&] { return RF5550_Mcmno(buffer); }, 0xA1, {}},
  };
  // clang-format on
  expectFrames(cases, [&] { std::copy_n(bytes({0xA0, 0xA1, 0xA2, 0xA3}).begin(), 4, data); });
}

TEST_F(Rf5550, ConfigurationByteFromItemsZeroThreeAndNine) {
  struct Case {
    int item0, item3, item9;
    std::uint8_t expected;
  } cases[] = {{1, 1, 2, 0x5F}, {0, 0, 0, 0x07},  {0, 0, 12, 0xE7}, {0, 0, -1, 0xE7},
               {5, 0, 0, 0x0F}, {0, -3, 0, 0x17}, {1, 1, 7, 0xFF},  {0, 0, 1, 0x27}};
  for (const auto& c : cases) {
    wire().written.clear();
    wire().reply(0x00);
    int config[10] = {c.item0, 99, -7, c.item3, 1, 1, 1, 1, 1, c.item9};  // others do not matter
    ASSERT_EQ(RF5550_Init(config, kPassword, 0), 0);
    ASSERT_EQ(wire().written.size(), 11u);  // sync, command, length, 6 data bytes, checksum, poll
    EXPECT_EQ(wire().written[7], c.expected) << c.item0 << " " << c.item3 << " " << c.item9;
  }
}

TEST_F(Rf5550, BlockZeroAndNullBuffersAreRefusedWithoutAnExchange) {
  unsigned char data[4] = {1, 2, 3, 4};
  int config[10] = {};
  const std::function<int()> calls[] = {
      [&] { return RF5550_WriteBlk(0, kPassword, data, 0); },
      [&] { return RF5550_WriteAfterWake(0, kPassword, data, 0); },
      [] { return RF5550_ReadBlk(1, nullptr); },
      [&] { return RF5550_WriteBlk(1, nullptr, data, 0); },
      [] { return RF5550_WriteBlk(1, kPassword, nullptr, 0); },
      [] { return RF5550_Init(nullptr, kPassword, 0); },
      [&] { return RF5550_Init(config, nullptr, 0); },
      [] { return RF5550_Wake(nullptr); },
      [&] { return RF5550_ReadAfterWake(1, nullptr, data); },
      [] { return RF5550_ReadAfterWake(1, kPassword, nullptr); },
      [] { return RF5550_WriteAfterWake(1, kPassword, nullptr, 0); },
      [] { return RF5550_Mcmno(nullptr); }};
  for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), 4) << "call " << i;
  EXPECT_TRUE(wire().written.empty());
  EXPECT_EQ(Bytes(data, data + 4), bytes({1, 2, 3, 4}));
}

TEST_F(Rf5550, ReadsCopyTheWholeReplyOnlyOnStatusZero) {
  for (bool afterWake : {false, true}) {
    auto read = [&](unsigned char* buf) {
      return afterWake ? RF5550_ReadAfterWake(2, kPassword, buf) : RF5550_ReadBlk(2, buf);
    };
    std::array<unsigned char, 255> buf;
    buf.fill(0xEE);
    wire().reply(0x00, bytes({0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02}));
    EXPECT_EQ(read(buf.data()), 0);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 7),
              bytes({0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0xEE}));
    buf.fill(0xEE);
    wire().reply(0x40, bytes({0x99, 0x99, 0x99, 0x99}));
    EXPECT_EQ(read(buf.data()), 0x40);
    wire().input.push_back(0x46);  // a wrong answer to the sync byte
    EXPECT_EQ(read(buf.data()), 103);
    EXPECT_EQ(buf[0], 0xEE) << "a failed read must leave the buffer alone";
  }
}

TEST_F(Rf5550, WritesCopyAtMostFourReplyBytesOverTheData) {
  for (Write* write : {&RF5550_WriteBlk, &RF5550_WriteAfterWake}) {
    // The caller's 4 data bytes, followed by bytes that are not its to give.
    unsigned char area[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0x55, 0x55, 0x55, 0x55};
    wire().reply(0x00, Bytes(200, 0x77));
    EXPECT_EQ(write(3, kPassword, area, 0), 0);
    EXPECT_EQ(Bytes(area, area + 8), bytes({0x77, 0x77, 0x77, 0x77, 0x55, 0x55, 0x55, 0x55}));
    wire().reply(0x00, bytes({0x01, 0x02}));  // a shorter reply replaces only its own bytes
    EXPECT_EQ(write(3, kPassword, area, 0), 0);
    EXPECT_EQ(Bytes(area, area + 4), bytes({0x01, 0x02, 0x77, 0x77}));
    wire().reply(0x43, bytes({0x09, 0x09, 0x09, 0x09}));  // nothing on a reader error
    EXPECT_EQ(write(3, kPassword, area, 0), 0x43);
    EXPECT_EQ(Bytes(area, area + 4), bytes({0x01, 0x02, 0x77, 0x77}));
  }
}

TEST_F(Rf5550, ModuleNumberFillsFourBytesWhateverTheReplyLength) {
  struct Case {
    std::uint8_t status;
    Bytes reply, expected;
  } cases[] = {
      {0, bytes({0x11, 0x00}), bytes({0x11, 0x00, 0x00, 0x00})},
      {0, bytes({0x12, 0x34, 0x56, 0x78, 0x9A}), bytes({0x12, 0x34, 0x00, 0x00})},
      // One byte: the second comes from what the response buffer held before.
      {0, bytes({0x21}), bytes({0x21, 0x34, 0x00, 0x00})},
      {1, {}, bytes({0xEE, 0xEE, 0xEE, 0xEE})},
  };
  for (const auto& c : cases) {
    unsigned char number[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    wire().reply(c.status, c.reply);
    EXPECT_EQ(RF5550_Mcmno(number), c.status);
    EXPECT_EQ(Bytes(number, number + 4), c.expected);
  }
}

}  // namespace
