// The RFMifare_ exports on the line: command byte, data layout and length,
// the bytes copied out (fixed counts, stale or not), argument refusals, and
// the relink after a link error.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>

#include "fake_port.h"
#include "orvix32.h"

namespace {

using fake::Bytes;
using fake::bytes;
using fake::Wire;

// Caller memory: the room an export fills (at most 16 bytes), then guards.
struct Buffer {
  alignas(int) unsigned char b[24];
  Buffer() { std::memset(b, 0xEE, sizeof b); }
  int* asInt() { return reinterpret_cast<int*>(b); }
  Bytes first(std::size_t n) const { return Bytes(b, b + n); }
};

Bytes run(int n, int first, int step = 1) {
  Bytes r;
  for (int i = 0; i < n; ++i) r.push_back(static_cast<std::uint8_t>(first + i * step));
  return r;
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const unsigned char kKey[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const Bytes kKeyB(kKey, kKey + 6);
const Bytes kData = run(16, 0x00, 0x11);  // 00 11 22 .. FF
const Bytes kR16 = run(16, 0xC0);         // a 16-byte response
const int kSerial = 0x44332211;           // 11 22 33 44 in memory, as AntiColl gives it
const Bytes kSer = bytes({0x11, 0x22, 0x33, 0x44});
const Bytes kMinus2 = bytes({0xFE, 0xFF, 0xFF, 0xFF});

int withData(Buffer& b, int (*f)(int, int, unsigned char*), int block) {
  std::memcpy(b.b, kData.data(), 16);
  return f(block, kSerial, b.b);
}
int withMinus2(Buffer& b, int (*f)(int, int, int*), int block) {
  *b.asInt() = -2;
  return f(block, kSerial, b.asInt());
}

struct FrameCase {
  const char* name;
  std::function<int(Buffer&)> call;
  std::uint8_t cmd;
  Bytes sent, reply;  // SendData; the reader's data under status 0
  std::size_t room;   // bytes the export fills in the caller's buffer...
  Bytes out;          // ...and what they must hold afterwards
};

// clang-format off
const FrameCase kFrames[] = {
  {"Mcmno", [](Buffer& b) { return RFMifare_Mcmno(b.b); }, 0xA1, {}, bytes({0x11, 0, 0x33, 0x44}),
   4, bytes({0x11, 0, 0, 0})},
  {"TransKey", [](Buffer&) { return RFMifare_TransKey(15, kKey); }, 0xA4, bytes({0x0F}) + kKeyB,
   {}, 0, {}},
  {"Authmode1", [](Buffer&) { return RFMifare_Authmode(1); }, 0xA9, bytes({0x01}), {}, 0, {}},
  {"Authmode0", [](Buffer&) { return RFMifare_Authmode(0); }, 0xA9, bytes({0x00}), {}, 0, {}},
  {"GetType", [](Buffer& b) { return RFMifare_GetType(b.b); }, 0xAA, {},
   bytes({0x10, 0, 0x77, 0x88}), 4, bytes({0x10, 0, 0, 0})},
  {"GetSnr", [](Buffer& b) { return RFMifare_GetSnr(b.b); }, 0xAB, {}, run(5, 0x12, 0x22), 4,
   run(4, 0x12, 0x22)},
  {"ReadBlock", [](Buffer& b) { return RFMifare_ReadBlock(4, kSerial, b.b); }, 0xAC,
   bytes({0x04}) + kSer, kR16 + bytes({1, 2}), 16, kR16},
  {"WriteBlock", [](Buffer& b) { return withData(b, RFMifare_WriteBlock, 0x105); }, 0xAD,
   bytes({0x05}) + kSer + kData, kR16, 16, kR16},
  {"WriteKey", [](Buffer&) { return RFMifare_WriteKey(2, kSerial, kKey, 255); }, 0xAE,
   bytes({0x02}) + kSer + kKeyB + bytes({0xFF}), {}, 0, {}},
  {"ReadValue", [](Buffer& b) { return RFMifare_ReadValue(9, kSerial, b.asInt()); }, 0xAF,
   bytes({0x09}) + kSer, kMinus2 + bytes({5}), 4, kMinus2},
  {"WriteValue", [](Buffer& b) { return withMinus2(b, RFMifare_WriteValue, 9); }, 0xB0,
   bytes({0x09}) + kSer + kMinus2, bytes({1, 2, 3, 4}), 4, bytes({1, 2, 3, 4})},
  {"IncrementValue", [](Buffer& b) { return withMinus2(b, RFMifare_IncrementValue, 62); }, 0xB1,
   bytes({0x3E}) + kSer + kMinus2, bytes({0x10, 0x27, 0, 0}), 4, bytes({0x10, 0x27, 0, 0})},
  {"DecrementValue", [](Buffer& b) { return withMinus2(b, RFMifare_DecrementValue, 0); }, 0xB2,
   bytes({0x00}) + kSer + kMinus2, bytes({0, 0, 0, 0x80}), 4, bytes({0, 0, 0, 0x80})},
  {"LoadKey", [](Buffer&) { return RFMifare_LoadKey(4, 5, kKey); }, 0xB4,
   bytes({0x04, 0x05}) + kKeyB, {}, 0, {}},
  {"Request", [](Buffer& b) { return RFMifare_Request(1, b.b); }, 0xB5, bytes({0x01}),
   bytes({0x04, 0, 0x55}), 4, bytes({0x04, 0, 0, 0})},
  {"AntiColl", [](Buffer& b) { return RFMifare_AntiColl(b.b); }, 0xB6, {}, kSer, 4, kSer},
  {"Select", [](Buffer&) { return RFMifare_Select(kSerial); }, 0xB7, kSer, bytes({0x08}), 0, {}},
  {"Authentication", [](Buffer&) { return RFMifare_Authentication(1, 15, 63); }, 0xB8,
   bytes({0x01, 0x0F, 0x3F}), {}, 0, {}},
  {"Read", [](Buffer& b) { return RFMifare_Read(5, b.b); }, 0xB9, bytes({0x05}), kR16, 16, kR16},
  {"Write", [](Buffer&) { return RFMifare_Write(5, kData.data()); }, 0xBA, bytes({0x05}) + kData,
   {}, 0, {}},
  {"Increment", [](Buffer&) { return RFMifare_Increment(9, 100); }, 0xBB,
   bytes({0x09, 0x64, 0, 0, 0}), {}, 0, {}},
  {"Decrment", [](Buffer&) { return RFMifare_Decrment(9, -1); }, 0xBC,
   bytes({0x09, 0xFF, 0xFF, 0xFF, 0xFF}), {}, 0, {}},
  {"Halt", [](Buffer&) { return RFMifare_Halt(); }, 0xBD, {}, {}, 0, {}},
};
// clang-format on

class MifareFrames : public ::testing::TestWithParam<FrameCase> {
 protected:
  void SetUp() override { fx.link(); }
  fake::FakeReader fx;
  std::shared_ptr<Wire> w = fx.wire(0);
};

TEST_P(MifareFrames, SendsTheFrameAndCopiesTheAnswer) {
  const FrameCase& c = GetParam();
  w->written.clear();
  w->reply(0x00, c.reply);
  Buffer buf;
  EXPECT_EQ(c.call(buf), 0);
  EXPECT_EQ(w->written, Wire::expectedFrame(c.cmd, c.sent));
  EXPECT_EQ(buf.first(c.room), c.out);
  EXPECT_EQ(Bytes(buf.b + c.room, buf.b + sizeof buf.b), Bytes(sizeof buf.b - c.room, 0xEE));
}

TEST_P(MifareFrames, ReaderErrorIsReturnedAndOutputsTakeStaleBytes) {
  const FrameCase& c = GetParam();
  w->reply(0x00, kR16);  // an earlier exchange left 16 known bytes
  unsigned char first[16];
  ASSERT_EQ(RFMifare_Read(1, first), 0);
  w->reply(0x20);  // now the reader refuses with no data; no relink follows
  Buffer buf;
  EXPECT_EQ(c.call(buf), 0x20);
  EXPECT_EQ(w->opens, 1);
  Bytes stale(kR16.begin(), kR16.begin() + static_cast<long>(c.room));
  if (c.cmd == 0xA1 || c.cmd == 0xAA || c.cmd == 0xB5) stale[2] = stale[3] = 0;
  EXPECT_EQ(buf.first(c.room), stale);
}

INSTANTIATE_TEST_SUITE_P(AllExports, MifareFrames, ::testing::ValuesIn(kFrames),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(MifareArguments, RefusedWithFourAndNothingSent) {
  fake::FakeReader fx;
  fx.link();
  const int k = kSerial;
  const std::function<int()> calls[] = {[] { return RFMifare_Authmode(2); },
                                        [] { return RFMifare_Authmode(-1); },
                                        [] { return RFMifare_Authmode(256); },
                                        [] { return RFMifare_TransKey(16, kKey); },
                                        [] { return RFMifare_TransKey(-1, kKey); },
                                        [] { return RFMifare_TransKey(0, nullptr); },
                                        [] { return RFMifare_Mcmno(nullptr); },
                                        [] { return RFMifare_GetType(nullptr); },
                                        [] { return RFMifare_GetSnr(nullptr); },
                                        [=] { return RFMifare_ReadBlock(1, k, nullptr); },
                                        [=] { return RFMifare_WriteBlock(1, k, nullptr); },
                                        [=] { return RFMifare_WriteKey(1, k, nullptr, 255); },
                                        [=] { return RFMifare_ReadValue(1, k, nullptr); },
                                        [=] { return RFMifare_WriteValue(1, k, nullptr); },
                                        [=] { return RFMifare_IncrementValue(1, k, nullptr); },
                                        [=] { return RFMifare_DecrementValue(1, k, nullptr); },
                                        [] { return RFMifare_LoadKey(0, 1, nullptr); },
                                        [] { return RFMifare_Request(1, nullptr); },
                                        [] { return RFMifare_AntiColl(nullptr); },
                                        [] { return RFMifare_Read(1, nullptr); },
                                        [] { return RFMifare_Write(1, nullptr); }};
  for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), 4) << "call " << i;
  EXPECT_TRUE(fx.wire(0)->written.empty());
  EXPECT_EQ(fx.wire(0)->opens, 1);
}

TEST(MifareRelink, LinkErrorRelinksAndRepeatsTheSameFrame) {
  fake::FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->written.clear();
  w->raw(bytes({0x00}));  // garbage for the first sync (103)
  w->reply(0x00);         // the relink's probe
  w->reply(0x00, kSer);   // the command again
  unsigned char serial[4] = {};
  EXPECT_EQ(RFMifare_AntiColl(serial), 0);
  EXPECT_EQ(Bytes(serial, serial + 4), kSer);
  // The failed attempt stopped after its sync byte.
  EXPECT_EQ(w->written,
            bytes({0x23}) + Wire::expectedFrame(0x00, {}) + Wire::expectedFrame(0xB6, {}));
  EXPECT_EQ(w->opens, 2);
  EXPECT_EQ(w->rates.back(), 56000);
}

TEST(MifareRelink, ReaderGoneForGoodGivesUpWithTheLinkError) {
  fake::FakeReader fx;
  fx.link();
  unsigned char data[16];
  std::memset(data, 0x5A, sizeof data);
  EXPECT_EQ(RFMifare_Read(5, data), 102);  // nothing ever answers
  // No response data ever came: the copy is of the untouched (zero) buffer.
  EXPECT_EQ(Bytes(data, data + 16), Bytes(16, 0));
  EXPECT_EQ(fx.wire(0)->opens, 1 + 2 * orvix::kMaxRelinks);
}

}  // namespace
