// AT1608 family frames: argument limits, the attempt counter, authentication
// against the host-side cipher, fuse and hostile replies.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "contact/at1608_cipher.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::Wire;

namespace {

class At1608 : public ::testing::Test {
 protected:
  void SetUp() override { fx.link(); }
  Wire& wire() { return *fx.wire(0); }
  fake::FakeReader fx;
};

TEST_F(At1608, WriteAndReadLimits) {
  std::vector<unsigned char> data(160, 0x42);
  wire().reply(0, {});
  EXPECT_EQ(AT1608_Write(8, 255, 160, data.data()), 0);
  ASSERT_GT(wire().written.size(), 3u);
  EXPECT_EQ(wire().written[2], 163);
  Bytes head(wire().written.begin() + 1, wire().written.begin() + 6);
  EXPECT_EQ(head, bytes({0x28, 163, 8, 255, 160}));

  wire().written.clear();
  wire().reply(0, {});
  EXPECT_EQ(AT1608_Write(0, 0, 0, data.data()), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x28, bytes({0, 0, 0})));

  wire().written.clear();
  struct Case {
    int zone, address, length;
  } bad[] = {{9, 0, 1}, {-1, 0, 1}, {0, 256, 1}, {0, -1, 1}, {0, 0, 161}, {0, 0, -1}};
  for (const auto& c : bad) {
    EXPECT_EQ(AT1608_Write(c.zone, c.address, c.length, data.data()), 4);
    EXPECT_EQ(AT1608_Read(c.zone, c.address, c.length, data.data()), 4);
  }
  EXPECT_TRUE(wire().written.empty());
}

TEST_F(At1608, ReadCopiesExactlyLengthBytes) {
  wire().reply(0, Bytes(255, 0x31));
  std::array<unsigned char, 12> buf{};
  buf.fill(0xEE);
  EXPECT_EQ(AT1608_Read(3, 16, 10, buf.data() + 1), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x29, bytes({3, 16, 10})));
  EXPECT_EQ(buf[0], 0xEE);
  EXPECT_EQ(buf[11], 0xEE);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(buf[i], 0x31);
  // A failing read copies nothing.
  wire().reply(0x4A, bytes({1, 2}));
  EXPECT_EQ(AT1608_Read(3, 16, 2, buf.data()), 0x4A);
  EXPECT_EQ(buf[0], 0xEE);
}

TEST_F(At1608, PasswordAttemptCounterConversion) {
  struct Case {
    std::uint8_t counter;
    int count;  // -1: not converted
  } cases[] = {{0x00, 0}, {0x80, 1}, {0xC0, 2}, {0xE0, 3},  {0xF0, 4},  {0xF8, 5},
               {0xFC, 6}, {0xFE, 7}, {0xFF, 8}, {0x7F, -1}, {0x01, -1}, {0xF1, -1}};
  for (const auto& c : cases) {
    wire().written.clear();
    wire().reply(0, bytes({c.counter, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
    std::array<unsigned char, 6> pw{0x11, 0x22, 0x33, 0x99, 0xEE, 0xEE};
    EXPECT_EQ(AT1608_Psw(7, pw.data()), 0);
    EXPECT_EQ(wire().written, Wire::expectedFrame(0x2A, bytes({7, 0x11, 0x22, 0x33})));
    EXPECT_EQ(pw[0], c.count < 0 ? 0x11 : c.count) << std::hex << int(c.counter);
    EXPECT_EQ(Bytes(pw.begin() + 1, pw.end()), bytes({0xA1, 0xA2, 0xA3, 0xEE, 0xEE}));
  }
}

TEST_F(At1608, FailedPasswordKeepsTheCounterAndClearsTheRest) {
  wire().reply(0x45, bytes({0xFC}));
  std::array<unsigned char, 4> pw{1, 2, 3, 4};
  EXPECT_EQ(AT1608_Psw(15, pw.data()), 0x45);
  EXPECT_EQ(pw, (std::array<unsigned char, 4>{6, 0, 0, 0}));
  // After a link error there is no counter to convert.
  wire().raw(bytes({0x45, 0x67, 0x00, 0x01, 0xF0, 0x00}));
  pw = {1, 2, 3, 4};
  EXPECT_EQ(AT1608_Psw(0, pw.data()), 115);
  EXPECT_EQ(pw, (std::array<unsigned char, 4>{1, 0, 0, 0}));
  wire().written.clear();
  EXPECT_EQ(AT1608_Psw(16, pw.data()), 4);
  EXPECT_EQ(AT1608_Psw(-1, pw.data()), 4);
  EXPECT_TRUE(wire().written.empty());
}

struct AuthCase {
  orvix::at1608::Block id{0x3B, 0x21, 0x60, 0x08, 0x12, 0x34, 0x56, 0x78};
  orvix::at1608::Block secret{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17};
  orvix::at1608::Block challenge{1, 2, 3, 4, 5, 6, 7, 8};
  orvix::at1608::Answers answers = orvix::at1608::authenticate(id, secret, challenge);
};

TEST_F(At1608, AuthenticationSendsTheHostAnswerAndChecksTheCards) {
  AuthCase a;
  Bytes id(a.id.begin(), a.id.end());
  struct Case {
    Bytes reply;  // after the counter byte
    int result;
  } cases[] = {
      {Bytes(a.answers.expected.begin(), a.answers.expected.end()), 0},
      {{}, 0},  // counter only
      {Bytes(a.answers.expected.begin(), a.answers.expected.begin() + 3), 0},
      {[&] {
         Bytes b(a.answers.expected.begin(), a.answers.expected.end());
         b[5] ^= 1;
         return b;
       }(),
       3},
      {[&] {
         Bytes b(a.answers.expected.begin(), a.answers.expected.end());
         b.push_back(0);
         return b;
       }(),
       3},  // more than 8 answer bytes
  };
  for (const auto& c : cases) {
    wire().written.clear();
    wire().reply(0, id);
    Bytes reply{0xFE};
    reply.insert(reply.end(), c.reply.begin(), c.reply.end());
    wire().reply(0, reply);
    std::array<unsigned char, 8> ch;
    std::copy(a.challenge.begin(), a.challenge.end(), ch.begin());
    std::array<unsigned char, 8> sec;
    std::copy(a.secret.begin(), a.secret.end(), sec.begin());
    EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), c.result);
    Bytes want = Wire::expectedFrame(0x29, bytes({8, 40, 8}));
    Bytes auth(a.challenge.begin(), a.challenge.end());
    auth.insert(auth.end(), a.answers.host.begin(), a.answers.host.end());
    Bytes second = Wire::expectedFrame(0x2B, auth);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(wire().written, want);
    EXPECT_EQ(ch[0], 7);
    EXPECT_EQ(ch[1], '7');
    EXPECT_EQ(ch[2], 3);  // the rest of the challenge stays
  }
}

TEST_F(At1608, AuthenticationFailuresReturnEarly) {
  AuthCase a;
  std::array<unsigned char, 8> ch{1, 2, 3, 4, 5, 6, 7, 8};
  std::array<unsigned char, 8> sec{};
  // The identity read fails: nothing more is sent.
  wire().reply(0x4B, {});
  EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), 0x4B);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x29, bytes({8, 40, 8})));
  EXPECT_EQ(ch[0], 1);
  // The card refuses: the counter is converted, the status returned.
  wire().reply(0, Bytes(8, 0));
  wire().reply(0x4C, bytes({0xC0}));
  EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), 0x4C);
  EXPECT_EQ(ch[0], 2);
  EXPECT_EQ(ch[1], '2');
  // An unlisted counter keeps both bytes.
  ch = {1, 2, 3, 4, 5, 6, 7, 8};
  wire().reply(0, Bytes(8, 0));
  wire().reply(0x4C, bytes({0x81}));
  EXPECT_EQ(AT1608_Authentic(ch.data(), sec.data()), 0x4C);
  EXPECT_EQ(ch[0], 1);
  EXPECT_EQ(ch[1], 2);
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
