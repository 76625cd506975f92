// The RFMifare_ exports on the line: command byte, data layout and length,
// the bytes copied out (fixed counts, stale or not), argument checks, and the
// relink-and-repeat after a link error.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "fake_port.h"
#include "orvix32.h"

namespace {

using fake::Bytes;
using fake::bytes;

// Caller memory: the documented room plus guard bytes that must stay as
// they were. Value exports get the same memory as an int.
struct Buffer {
  static constexpr std::size_t kRoom = 16;
  static constexpr std::size_t kGuard = 8;
  alignas(int) unsigned char b[kRoom + kGuard];
  Buffer() { std::memset(b, 0xEE, sizeof b); }
  int* asInt() { return reinterpret_cast<int*>(b); }
  Bytes first(std::size_t n) const { return Bytes(b, b + n); }
};

const unsigned char kKey[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const unsigned char kData[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
// The serial as RFMifare_AntiColl delivered it: bytes 11 22 33 44 in memory.
const int kSerial = 0x44332211;

Bytes reply16() {
  Bytes r;
  for (int i = 0; i < 16; ++i) r.push_back(static_cast<std::uint8_t>(0xC0 + i));
  return r;
}

struct FrameCase {
  std::string name;
  std::function<int(Buffer&)> call;
  std::uint8_t cmd;
  Bytes sent;                                      // SendData of the frame
  Bytes reply;                                     // the reader's response data (status 0)
  std::size_t room;                                // bytes the export fills in the caller's buffer
  Bytes out;                                       // what those bytes must be afterwards
  std::function<void(Buffer&)> prepare = nullptr;  // caller's buffer before the call
};

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Bytes kSerialBytes = bytes({0x11, 0x22, 0x33, 0x44});
const Bytes kKeyBytes = bytes({0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5});
const Bytes kDataBytes(kData, kData + 16);

void putData(Buffer& b) { std::memcpy(b.b, kData, 16); }
void putMinus2(Buffer& b) { *b.asInt() = -2; }

std::vector<FrameCase> frameCases() {
  return {
      {"Mcmno",
       [](Buffer& b) { return RFMifare_Mcmno(b.b); },
       0xA1,
       {},
       bytes({0x11, 0x00, 0x33, 0x44}),
       4,
       bytes({0x11, 0x00, 0x00, 0x00})},
      {"TransKey",
       [](Buffer&) { return RFMifare_TransKey(15, kKey); },
       0xA4,
       cat(bytes({0x0F}), kKeyBytes),
       {},
       0,
       {}},
      {"Authmode1", [](Buffer&) { return RFMifare_Authmode(1); }, 0xA9, bytes({0x01}), {}, 0, {}},
      {"Authmode0", [](Buffer&) { return RFMifare_Authmode(0); }, 0xA9, bytes({0x00}), {}, 0, {}},
      {"GetType",
       [](Buffer& b) { return RFMifare_GetType(b.b); },
       0xAA,
       {},
       bytes({0x10, 0x00, 0x77, 0x88}),
       4,
       bytes({0x10, 0x00, 0x00, 0x00})},
      {"GetSnr",
       [](Buffer& b) { return RFMifare_GetSnr(b.b); },
       0xAB,
       {},
       bytes({0x12, 0x34, 0x56, 0x78, 0x9A}),
       4,
       bytes({0x12, 0x34, 0x56, 0x78})},
      {"ReadBlock", [](Buffer& b) { return RFMifare_ReadBlock(4, kSerial, b.b); }, 0xAC,
       cat(bytes({0x04}), kSerialBytes), cat(reply16(), bytes({0x01, 0x02})), 16, reply16()},
      {"WriteBlock", [](Buffer& b) { return RFMifare_WriteBlock(0x105, kSerial, b.b); }, 0xAD,
       cat(cat(bytes({0x05}), kSerialBytes), kDataBytes), reply16(), 16, reply16(), putData},
      {"WriteKey",
       [](Buffer&) { return RFMifare_WriteKey(2, kSerial, kKey, 255); },
       0xAE,
       cat(cat(cat(bytes({0x02}), kSerialBytes), kKeyBytes), bytes({0xFF})),
       {},
       0,
       {}},
      {"ReadValue", [](Buffer& b) { return RFMifare_ReadValue(9, kSerial, b.asInt()); }, 0xAF,
       cat(bytes({0x09}), kSerialBytes), bytes({0x9C, 0xFF, 0xFF, 0xFF}), 4,
       bytes({0x9C, 0xFF, 0xFF, 0xFF})},
      {"WriteValue", [](Buffer& b) { return RFMifare_WriteValue(9, kSerial, b.asInt()); }, 0xB0,
       cat(cat(bytes({0x09}), kSerialBytes), bytes({0xFE, 0xFF, 0xFF, 0xFF})),
       bytes({0x01, 0x02, 0x03, 0x04}), 4, bytes({0x01, 0x02, 0x03, 0x04}), putMinus2},
      {"IncrementValue", [](Buffer& b) { return RFMifare_IncrementValue(62, kSerial, b.asInt()); },
       0xB1, cat(cat(bytes({0x3E}), kSerialBytes), bytes({0xFE, 0xFF, 0xFF, 0xFF})),
       bytes({0x10, 0x27, 0x00, 0x00}), 4, bytes({0x10, 0x27, 0x00, 0x00}), putMinus2},
      {"DecrementValue", [](Buffer& b) { return RFMifare_DecrementValue(0, kSerial, b.asInt()); },
       0xB2, cat(cat(bytes({0x00}), kSerialBytes), bytes({0xFE, 0xFF, 0xFF, 0xFF})),
       bytes({0x00, 0x00, 0x00, 0x80}), 4, bytes({0x00, 0x00, 0x00, 0x80}), putMinus2},
      {"LoadKey",
       [](Buffer&) { return RFMifare_LoadKey(4, 5, kKey); },
       0xB4,
       cat(bytes({0x04, 0x05}), kKeyBytes),
       {},
       0,
       {}},
      {"Request", [](Buffer& b) { return RFMifare_Request(1, b.b); }, 0xB5, bytes({0x01}),
       bytes({0x04, 0x00, 0x55}), 4, bytes({0x04, 0x00, 0x00, 0x00})},
      {"AntiColl",
       [](Buffer& b) { return RFMifare_AntiColl(b.b); },
       0xB6,
       {},
       kSerialBytes,
       4,
       kSerialBytes},
      {"Select",
       [](Buffer&) { return RFMifare_Select(kSerial); },
       0xB7,
       kSerialBytes,
       bytes({0x08}),
       0,
       {}},
      {"Authentication",
       [](Buffer&) { return RFMifare_Authentication(1, 15, 63); },
       0xB8,
       bytes({0x01, 0x0F, 0x3F}),
       {},
       0,
       {}},
      {"Read", [](Buffer& b) { return RFMifare_Read(5, b.b); }, 0xB9, bytes({0x05}), reply16(), 16,
       reply16()},
      {"Write",
       [](Buffer&) { return RFMifare_Write(5, kData); },
       0xBA,
       cat(bytes({0x05}), kDataBytes),
       {},
       0,
       {}},
      {"Increment",
       [](Buffer&) { return RFMifare_Increment(9, 100); },
       0xBB,
       bytes({0x09, 0x64, 0x00, 0x00, 0x00}),
       {},
       0,
       {}},
      {"Decrment",
       [](Buffer&) { return RFMifare_Decrment(9, -1); },
       0xBC,
       bytes({0x09, 0xFF, 0xFF, 0xFF, 0xFF}),
       {},
       0,
       {}},
      {"Halt", [](Buffer&) { return RFMifare_Halt(); }, 0xBD, {}, {}, 0, {}},
  };
}

class MifareFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(MifareFrames, SendsTheFrameAndCopiesTheAnswer) {
  const FrameCase& c = GetParam();
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->written.clear();
  w->reply(0x00, c.reply);
  Buffer buf;
  if (c.prepare) c.prepare(buf);
  const Bytes before = buf.first(sizeof buf.b);

  EXPECT_EQ(c.call(buf), 0);
  EXPECT_EQ(w->written, fake::Wire::expectedFrame(c.cmd, c.sent));
  EXPECT_EQ(buf.first(c.room), c.out);
  // Nothing past the documented room, and nothing at all where nothing is
  // copied out.
  const Bytes after = buf.first(sizeof buf.b);
  EXPECT_EQ(Bytes(after.begin() + static_cast<long>(c.room), after.end()),
            Bytes(before.begin() + static_cast<long>(c.room), before.end()));
}

TEST_P(MifareFrames, ReaderErrorIsReturnedAndOutputsTakeStaleBytes) {
  const FrameCase& c = GetParam();
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  // An earlier exchange left 16 known bytes in the response data.
  w->reply(0x00, reply16());
  unsigned char first[16];
  ASSERT_EQ(RFMifare_Read(1, first), 0);
  // Now the reader refuses with no data (and no relink follows).
  w->reply(0x20);
  Buffer buf;
  if (c.prepare) c.prepare(buf);
  EXPECT_EQ(c.call(buf), 0x20);
  EXPECT_EQ(w->opens, 1);
  if (c.room == 0) return;
  const Bytes earlier = reply16();
  Bytes stale(earlier.begin(), earlier.begin() + static_cast<long>(c.room));
  if (c.cmd == 0xA1 || c.cmd == 0xAA || c.cmd == 0xB5) stale[2] = stale[3] = 0;
  EXPECT_EQ(buf.first(c.room), stale);
}

INSTANTIATE_TEST_SUITE_P(AllExports, MifareFrames, ::testing::ValuesIn(frameCases()),
                         [](const auto& p) { return p.param.name; });

TEST(MifareFrames, ShortAnswerLeavesTheRestAsEarlierExchangesLeftIt) {
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->reply(0x00, reply16());
  unsigned char data[16];
  ASSERT_EQ(RFMifare_Read(1, data), 0);
  w->reply(0x00, bytes({0x01, 0x02}));
  ASSERT_EQ(RFMifare_ReadBlock(1, kSerial, data), 0);
  Bytes expect = reply16();
  expect[0] = 0x01;
  expect[1] = 0x02;
  EXPECT_EQ(Bytes(data, data + 16), expect);
}

struct ArgCase {
  std::string name;
  std::function<int()> call;
};

class MifareArguments : public ::testing::TestWithParam<ArgCase> {};

TEST_P(MifareArguments, RefusedWithFourAndNothingSent) {
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->written.clear();
  const int opens = w->opens;
  EXPECT_EQ(GetParam().call(), 4);
  EXPECT_TRUE(w->written.empty());
  EXPECT_EQ(w->opens, opens);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, MifareArguments,
    ::testing::Values(
        ArgCase{"Authmode2", [] { return RFMifare_Authmode(2); }},
        ArgCase{"AuthmodeMinus1", [] { return RFMifare_Authmode(-1); }},
        ArgCase{"Authmode256", [] { return RFMifare_Authmode(256); }},
        ArgCase{"TransKey16", [] { return RFMifare_TransKey(16, kKey); }},
        ArgCase{"TransKeyMinus1", [] { return RFMifare_TransKey(-1, kKey); }},
        ArgCase{"TransKeyNullKey", [] { return RFMifare_TransKey(0, nullptr); }},
        ArgCase{"McmnoNull", [] { return RFMifare_Mcmno(nullptr); }},
        ArgCase{"GetTypeNull", [] { return RFMifare_GetType(nullptr); }},
        ArgCase{"GetSnrNull", [] { return RFMifare_GetSnr(nullptr); }},
        ArgCase{"ReadBlockNull", [] { return RFMifare_ReadBlock(1, kSerial, nullptr); }},
        ArgCase{"WriteBlockNull", [] { return RFMifare_WriteBlock(1, kSerial, nullptr); }},
        ArgCase{"WriteKeyNull", [] { return RFMifare_WriteKey(1, kSerial, nullptr, 255); }},
        ArgCase{"ReadValueNull", [] { return RFMifare_ReadValue(1, kSerial, nullptr); }},
        ArgCase{"WriteValueNull", [] { return RFMifare_WriteValue(1, kSerial, nullptr); }},
        ArgCase{"IncrementValueNull", [] { return RFMifare_IncrementValue(1, kSerial, nullptr); }},
        ArgCase{"DecrementValueNull", [] { return RFMifare_DecrementValue(1, kSerial, nullptr); }},
        ArgCase{"LoadKeyNull", [] { return RFMifare_LoadKey(0, 1, nullptr); }},
        ArgCase{"RequestNull", [] { return RFMifare_Request(1, nullptr); }},
        ArgCase{"AntiCollNull", [] { return RFMifare_AntiColl(nullptr); }},
        ArgCase{"ReadNull", [] { return RFMifare_Read(1, nullptr); }},
        ArgCase{"WriteNull", [] { return RFMifare_Write(1, nullptr); }}),
    [](const auto& p) { return p.param.name; });

TEST(MifareRelink, LinkErrorRelinksAndRepeatsTheSameFrame) {
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->written.clear();
  // The reader answers the first sync with garbage (103); after the relink
  // it answers the probe, then the repeated command.
  w->raw(bytes({0x00}));
  w->reply(0x00);                // probe
  w->reply(0x00, kSerialBytes);  // the command again
  unsigned char serial[4] = {};
  EXPECT_EQ(RFMifare_AntiColl(serial), 0);
  EXPECT_EQ(Bytes(serial, serial + 4), kSerialBytes);

  Bytes expect = bytes({0x23});  // the failed attempt stops after the sync byte
  expect = cat(expect, fake::Wire::expectedFrame(0x00, {}));
  expect = cat(expect, fake::Wire::expectedFrame(0xB6, {}));
  EXPECT_EQ(w->written, expect);
  EXPECT_EQ(w->opens, 2);
  EXPECT_EQ(w->rates.back(), 56000);
}

TEST(MifareRelink, ReaderErrorIsNotRetried) {
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->written.clear();
  w->reply(0x22);
  EXPECT_EQ(RFMifare_Authentication(0, 1, 7), 0x22);
  EXPECT_EQ(w->written, fake::Wire::expectedFrame(0xB8, bytes({0x00, 0x01, 0x07})));
  EXPECT_EQ(w->opens, 1);
}

TEST(MifareRelink, WithNoPortOpenTheFirstCallLinksOnCom1) {
  fake::FakeReader fx;  // nothing opened yet
  auto w = fx.wire(0);
  w->reply(0x00);  // probe
  w->reply(0x00);  // the halt
  EXPECT_EQ(RFMifare_Halt(), 0);
  EXPECT_EQ(w->written,
            cat(fake::Wire::expectedFrame(0x00, {}), fake::Wire::expectedFrame(0xBD, {})));
}

TEST(MifareRelink, ReaderGoneForGoodGivesUpWithTheLinkError) {
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  // Nothing is ever queued: every sync goes unanswered, every probe fails.
  unsigned char data[16];
  std::memset(data, 0x5A, sizeof data);
  EXPECT_EQ(RFMifare_Read(5, data), 102);
  // No response data ever came: the copy is of the untouched (zero) buffer.
  EXPECT_EQ(Bytes(data, data + 16), Bytes(16, 0));
  // The first attempt and every relink cycle sent the command's sync byte.
  EXPECT_EQ(w->opens, 1 + 2 * orvix::kMaxRelinks);
}

}  // namespace
