// The AT1608 authentication cipher at register level.
#include "contact/at1608_cipher.h"

#include <gtest/gtest.h>

namespace {

using orvix::at1608::Block;
using orvix::at1608::Registers;
using L7 = std::array<std::uint8_t, 7>;
using R5 = std::array<std::uint8_t, 5>;

Registers exampleState() {
  Registers r;
  r.L = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  r.M = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  r.R = {0x11, 0x12, 0x13, 0x14, 0x15};
  return r;
}

TEST(At1608Cipher, FoldKeepsTheModulusForMultiples) {
  struct Case {
    unsigned v, m, want;
  } cases[] = {{0, 31, 0}, {31, 31, 31}, {32, 31, 1}, {62, 31, 31}, {254, 127, 127}, {255, 127, 1}};
  for (const auto& c : cases)
    EXPECT_EQ(orvix::at1608::fold(c.v, c.m), c.want) << c.v << " mod " << c.m;
}

TEST(At1608Cipher, FeedAndOutputStepsClockAllThreeRegisters) {
  Registers r = exampleState();
  r.feed(0x5A);
  EXPECT_EQ(r.L, (L7{0x12, 0x01, 0x02, 0x19, 0x04, 0x05, 0x06}));
  EXPECT_EQ(r.M, (L7{0x2C, 0x09, 0x0A, 0x0B, 0x0C, 0x5F, 0x0E}));
  EXPECT_EQ(r.R, (R5{0x09, 0x11, 0x19, 0x13, 0x14}));
  r = exampleState();
  r.outputStep();
  EXPECT_EQ(r.outputStep(), 0x5);
  EXPECT_EQ(r.L, (L7{0x0F, 0x12, 0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_EQ(r.M, (L7{0x29, 0x2C, 0x09, 0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(r.R, (R5{0x07, 0x09, 0x11, 0x12, 0x13}));
}

TEST(At1608Cipher, AuthenticationIsAPureFunctionOfItsInputs) {
  const Block id{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  const Block secret{1, 2, 3, 4, 5, 6, 7, 8};
  const Block challenge{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
  const auto a = orvix::at1608::authenticate(id, secret, challenge);
  // A dirty workspace gives the same answers: it is cleared first.
  Registers dirty = exampleState();
  const auto b = orvix::at1608::authenticate(dirty, id, secret, challenge);
  EXPECT_EQ(a.host, b.host);
  EXPECT_EQ(a.expected, b.expected);
  EXPECT_NE(a.host, a.expected);
  // Every input matters.
  Block other = challenge;
  other[7] ^= 1;
  EXPECT_NE(orvix::at1608::authenticate(id, secret, other).host, a.host);
  other = secret;
  other[0] ^= 0x80;
  EXPECT_NE(orvix::at1608::authenticate(id, other, challenge).expected, a.expected);
}

}  // namespace
