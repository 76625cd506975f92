// AT1608 family frames: argument limits, the attempt counter, authentication
// against the host-side cipher, fuse and hostile replies.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "contact/at1608_cipher.h"
#include "fake_fixture.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::Wire;

namespace {

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using At1608 = fake::LinkedTest;

TEST_F(At1608, WriteAndReadLimits) {
  std::vector<unsigned char> data(160, 0x42);
  wire().reply(0, {});
  wire().reply(0, {});
  EXPECT_EQ(AT1608_Write(8, 255, 160, data.data()), 0);
  EXPECT_EQ(AT1608_Write(0, 0, 0, data.data()), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x28, bytes({8, 255, 160}) + Bytes(160, 0x42)) +
                                Wire::expectedFrame(0x28, bytes({0, 0, 0})));
  wire().written.clear();
  struct Case {
    int zone, address, length;
  } bad[] = {{9, 0, 1}, {-1, 0, 1}, {0, 256, 1}, {0, -1, 1}, {0, 0, 161}, {0, 0, -1}};
  for (const auto& c : bad) {
    EXPECT_EQ(AT1608_Write(c.zone, c.address, c.length, data.data()), 4);
    EXPECT_EQ(AT1608_Read(c.zone, c.address, c.length, data.data()), 4);
  }
  EXPECT_EQ(AT1608_Psw(16, data.data()), 4);
  EXPECT_EQ(AT1608_Psw(-1, data.data()), 4);
  EXPECT_TRUE(wire().written.empty());
  EXPECT_EQ(data, std::vector<unsigned char>(160, 0x42));
}

TEST_F(At1608, ReadCopiesExactlyLengthBytesOnSuccessOnly) {
  wire().reply(0, Bytes(255, 0x31));
  wire().reply(0x4A, bytes({1, 2}));
  std::array<unsigned char, 12> buf{};
  buf.fill(0xEE);
  EXPECT_EQ(AT1608_Read(3, 16, 10, buf.data() + 1), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x29, bytes({3, 16, 10})));
  EXPECT_EQ(Bytes(buf.begin(), buf.end()), bytes({0xEE}) + Bytes(10, 0x31) + bytes({0xEE}));
  EXPECT_EQ(AT1608_Read(3, 16, 2, buf.data()), 0x4A);
  EXPECT_EQ(buf[0], 0xEE);
}

TEST_F(At1608, PasswordAttemptCounterConversion) {
  struct Case {
    std::uint8_t counter;
    int count;  // -1: not converted
  } cases[] = {{0x00, 0}, {0x80, 1}, {0xFE, 7}, {0xFF, 8}, {0x7F, -1}, {0xF1, -1}};
  for (const auto& c : cases) {
    wire().written.clear();
    wire().reply(0, bytes({c.counter, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
    std::array<unsigned char, 6> pw{0x11, 0x22, 0x33, 0x99, 0xEE, 0xEE};
    EXPECT_EQ(AT1608_Psw(7, pw.data()), 0);
    EXPECT_EQ(wire().written, Wire::expectedFrame(0x2A, bytes({7, 0x11, 0x22, 0x33})));
    EXPECT_EQ(pw[0], c.count < 0 ? 0x11 : c.count) << std::hex << int(c.counter);
    EXPECT_EQ(Bytes(pw.begin() + 1, pw.end()), bytes({0xA1, 0xA2, 0xA3, 0xEE, 0xEE}));
  }
  // A refusal keeps the counter and clears the rest; after a link error
  // there is no counter to convert.
  wire().reply(0x45, bytes({0xFC}));
  std::array<unsigned char, 4> pw{1, 2, 3, 4};
  EXPECT_EQ(AT1608_Psw(15, pw.data()), 0x45);
  EXPECT_EQ(pw, (std::array<unsigned char, 4>{6, 0, 0, 0}));
  wire().raw(bytes({0x45, 0x67, 0x00, 0x01, 0xF0, 0x00}));
  pw = {1, 2, 3, 4};
  EXPECT_EQ(AT1608_Psw(0, pw.data()), 115);
  EXPECT_EQ(pw, (std::array<unsigned char, 4>{1, 0, 0, 0}));
}

TEST_F(At1608, AuthenticationSendsTheHostAnswerAndChecksTheCards) {
  const orvix::at1608::Block id{0x3B, 0x21, 0x60, 0x08, 0x12, 0x34, 0x56, 0x78};
  const orvix::at1608::Block secret{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17};
  const orvix::at1608::Block challenge{1, 2, 3, 4, 5, 6, 7, 8};
  const auto answers = orvix::at1608::authenticate(id, secret, challenge);
  const Bytes expected(answers.expected.begin(), answers.expected.end());
  Bytes wrong = expected;
  wrong[5] ^= 1;
  struct Case {
    Bytes reply;  // after the counter byte
    int result;
  } cases[] = {
      {expected, 0},
      {{}, 0},  // counter only
      {Bytes(expected.begin(), expected.begin() + 3), 0},
      {wrong, 3},
      {expected + bytes({0}), 3},  // more than 8 answer bytes
  };
  const Bytes line = Wire::expectedFrame(0x29, bytes({8, 40, 8})) +
                     Wire::expectedFrame(0x2B, Bytes(challenge.begin(), challenge.end()) +
                                                   Bytes(answers.host.begin(), answers.host.end()));
  for (const auto& c : cases) {
    wire().written.clear();
    wire().reply(0, Bytes(id.begin(), id.end()));
    wire().reply(0, bytes({0xFE}) + c.reply);
    auto ch = challenge;
    auto sec = secret;
    EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), c.result);
    EXPECT_EQ(wire().written, line);
    EXPECT_EQ(Bytes(ch.begin(), ch.begin() + 3), bytes({7, '7', 3}));  // the rest stays
  }
}

TEST_F(At1608, AuthenticationFailuresReturnEarly) {
  std::array<unsigned char, 8> ch{1, 2, 3, 4, 5, 6, 7, 8};
  std::array<unsigned char, 8> sec{};
  // The identity read fails: nothing more is sent.
  wire().reply(0x4B, {});
  EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), 0x4B);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x29, bytes({8, 40, 8})));
  EXPECT_EQ(ch[0], 1);
  // The card refuses: the counter is converted, the status returned; an
  // unlisted counter keeps both bytes.
  for (std::uint8_t counter : {std::uint8_t{0xC0}, std::uint8_t{0x81}}) {
    ch = {1, 2, 3, 4, 5, 6, 7, 8};
    wire().reply(0, Bytes(8, 0));
    wire().reply(0x4C, bytes({counter}));
    EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), 0x4C);
    EXPECT_EQ(Bytes(ch.begin(), ch.begin() + 2), counter == 0xC0 ? bytes({2, '2'}) : bytes({1, 2}));
  }
}

TEST_F(At1608, FuseIsTakenFromAOneByteReplyOnly) {
  unsigned char fuse = 0x55;
  wire().reply(0, bytes({0x07, 0x08}));
  EXPECT_EQ(AT1608_ReadFuse(&fuse), 0);
  EXPECT_EQ(fuse, 0x55);
  wire().reply(0, bytes({0x07}));
  EXPECT_EQ(AT1608_ReadFuse(&fuse), 0);
  EXPECT_EQ(fuse, 0x07);
  wire().reply(0x40, bytes({0x09}));
  EXPECT_EQ(AT1608_ReadFuse(&fuse), 0x40);
  EXPECT_EQ(fuse, 0x07);
  wire().written.clear();
  wire().reply(0, {});
  EXPECT_EQ(AT1608_Reset(), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x2D, {}));
}

}  // namespace
