// Mifare and RF5550 exports on the line: command byte, data layout and
// length, the bytes copied out (fixed counts, stale or not), refusals, and
// the Mifare relink after a link error.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_fixture.h"
#include "orvix32.h"

using namespace fake;

namespace {
// clang-format off

const unsigned char kKey[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const int kSerial = 0x44332211;  // 11 22 33 44 in memory, as AntiColl gives it
const std::string kData = "00112233445566778899AABBCCDDEEFF";
const Bytes kR16 = hex("C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF");
int* asInt(unsigned char* b) { return reinterpret_cast<int*>(b); }

struct MifareCase {
  const char* name;
  std::function<int(unsigned char*)> call;
  std::string line;
  Bytes reply;  // the reader's data under status 0
  std::size_t room;
  Bytes start, out;  // the caller's buffer before and after
};

const MifareCase kMifare[] = {
  {"Mcmno", [](unsigned char* b) { return RFMifare_Mcmno(b); }, "A1:", hex("11003344"), 4, {}, hex("11000000")},
  {"TransKey", [](unsigned char*) { return RFMifare_TransKey(15, kKey); }, "A4:0FA0A1A2A3A4A5", {}, 0, {}, {}},
  {"Authmode 1", [](unsigned char*) { return RFMifare_Authmode(1); }, "A9:01", {}, 0, {}, {}},
  {"Authmode 0", [](unsigned char*) { return RFMifare_Authmode(0); }, "A9:00", {}, 0, {}, {}},
  {"GetType", [](unsigned char* b) { return RFMifare_GetType(b); }, "AA:", hex("10007788"), 4, {}, hex("10000000")},
  {"GetSnr", [](unsigned char* b) { return RFMifare_GetSnr(b); }, "AB:", hex("123456789A"), 4, {}, hex("12345678")},
  {"ReadBlock", [](unsigned char* b) { return RFMifare_ReadBlock(4, kSerial, b); }, "AC:0411223344",
   kR16 + hex("0102"), 16, {}, kR16},
  {"WriteBlock", [](unsigned char* b) { return RFMifare_WriteBlock(0x105, kSerial, b); },
   "AD:0511223344" + kData, kR16, 16, hex(kData), kR16},
  {"WriteKey", [](unsigned char*) { return RFMifare_WriteKey(2, kSerial, kKey, 255); },
   "AE:0211223344A0A1A2A3A4A5FF", {}, 0, {}, {}},
  {"ReadValue", [](unsigned char* b) { return RFMifare_ReadValue(9, kSerial, asInt(b)); }, "AF:0911223344",
   hex("FEFFFFFF05"), 4, {}, hex("FEFFFFFF")},
  {"WriteValue", [](unsigned char* b) { return RFMifare_WriteValue(9, kSerial, asInt(b)); },
   "B0:0911223344FEFFFFFF", hex("01020304"), 4, hex("FEFFFFFF"), hex("01020304")},
  {"IncrementValue", [](unsigned char* b) { return RFMifare_IncrementValue(62, kSerial, asInt(b)); },
   "B1:3E11223344FEFFFFFF", hex("10270000"), 4, hex("FEFFFFFF"), hex("10270000")},
  {"DecrementValue", [](unsigned char* b) { return RFMifare_DecrementValue(0, kSerial, asInt(b)); },
   "B2:0011223344FEFFFFFF", hex("00000080"), 4, hex("FEFFFFFF"), hex("00000080")},
  {"LoadKey", [](unsigned char*) { return RFMifare_LoadKey(4, 5, kKey); }, "B4:0405A0A1A2A3A4A5", {}, 0, {}, {}},
  {"Request", [](unsigned char* b) { return RFMifare_Request(1, b); }, "B5:01", hex("040055"), 4, {}, hex("04000000")},
  {"AntiColl", [](unsigned char* b) { return RFMifare_AntiColl(b); }, "B6:", hex("11223344"), 4, {}, hex("11223344")},
  {"Select", [](unsigned char*) { return RFMifare_Select(kSerial); }, "B7:11223344", hex("08"), 0, {}, {}},
  {"Authentication", [](unsigned char*) { return RFMifare_Authentication(1, 15, 63); }, "B8:010F3F", {}, 0, {}, {}},
  {"Read", [](unsigned char* b) { return RFMifare_Read(5, b); }, "B9:05", kR16, 16, {}, kR16},
  {"Write", [](unsigned char*) { return RFMifare_Write(5, hex(kData).data()); }, "BA:05" + kData, {}, 0, {}, {}},
  {"Increment", [](unsigned char*) { return RFMifare_Increment(9, 100); }, "BB:0964000000", {}, 0, {}, {}},
  {"Decrment", [](unsigned char*) { return RFMifare_Decrment(9, -1); }, "BC:09FFFFFFFF", {}, 0, {}, {}},
  {"Halt", [](unsigned char*) { return RFMifare_Halt(); }, "BD:", {}, 0, {}, {}},
};

using Mifare = LinkedTest;

// Each export answered with status 0, then refused by the reader after an
// earlier read left 16 known bytes: the fixed counts are copied either way,
// stale bytes included, and a reader status brings no relink.
TEST_F(Mifare, FramesAndWhatIsCopied) {
  for (const auto& c : kMifare) {
    SCOPED_TRACE(c.name);
    clear();
    wire().reply(0x00, c.reply);
    Guarded ok(c.room, 0xEE, c.start);
    EXPECT_EQ(c.call(ok.data()), 0);
    EXPECT_EQ(line(), c.line);
    EXPECT_EQ(ok.bytes(), c.room ? c.out : Bytes{});
    wire().reply(0x00, kR16);
    ASSERT_EQ(RFMifare_Read(1, Guarded(16).data()), 0);
    wire().reply(0x20);
    Guarded refused(c.room, 0xEE, c.start);
    EXPECT_EQ(c.call(refused.data()), 0x20);
    Bytes stale(kR16.begin(), kR16.begin() + long(c.room));
    if (c.line == "A1:" || c.line == "AA:" || c.line == "B5:01")
      stale[2] = stale[3] = 0;  // two-byte answers fill up with zeros
    EXPECT_EQ(refused.bytes(), stale);
    EXPECT_TRUE(ok.guardsIntact() && refused.guardsIntact());
  }
  EXPECT_EQ(wire().opens, 1);
}

TEST_F(Mifare, RefusalsRelinkAndGivingUp) {
  const std::function<int()> refused[] = {
      [] { return RFMifare_Authmode(2); }, [] { return RFMifare_Authmode(-1); },
      [] { return RFMifare_Authmode(256); }, [] { return RFMifare_TransKey(16, kKey); },
      [] { return RFMifare_TransKey(-1, kKey); }};
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i](), 4) << "call " << i;
  EXPECT_TRUE(wire().written.empty());

  // A link error: relink at the fast speed on the same port, then the same
  // frame again, its data and length included.
  wire().raw({0x00});  // garbage for the first sync: 103
  wire().reply(0x00);  // the relink's probe
  wire().reply(0x00, kR16);
  Guarded data(16);
  EXPECT_EQ(RFMifare_Read(5, data.data()), 0);
  EXPECT_EQ(data.bytes(), kR16);
  EXPECT_EQ(wire().written, hex("23  23 00 00 00 89  23 B9 01 05 BD 89"));
  EXPECT_EQ(wire().opens, 2);
  EXPECT_EQ(wire().rates.back(), 56000);

  // Gone for good: three relinks, then the link error; the copy is of the
  // response buffer as it stands.
  Guarded gone(16, 0x5A);
  EXPECT_EQ(RFMifare_Read(5, gone.data()), 102);
  EXPECT_EQ(gone.bytes(), kR16);
  EXPECT_EQ(wire().opens, 2 + 2 * orvix::kMaxRelinks);
}

const unsigned char kPw[4] = {0x11, 0x22, 0x33, 0x44};
using Rf5550 = LinkedTest;
const Bytes kA0 = hex("A0A1A2A3");

TEST_F(Rf5550, FramesConfigurationByteAndCopies) {
  auto init = [](int i0, int i3, int i9) {
    return [=](unsigned char*) {
      int config[10] = {i0, 99, -7, i3, 1, 1, 1, 1, 1, i9};  // only items 0, 3 and 9 count
      return RF5550_Init(config, kPw, 2);
    };
  };
  auto readBlk = [](unsigned char* b) { return RF5550_ReadBlk(2, b); };
  auto readWake = [](unsigned char* b) { return RF5550_ReadAfterWake(2, kPw, b); };
  auto writeBlk = [](unsigned char* b) { return RF5550_WriteBlk(3, kPw, b, 0); };
  auto writeWake = [](unsigned char* b) { return RF5550_WriteAfterWake(3, kPw, b, 0); };
  const Bytes six = hex("DEADBEEF0102"), start8 = kA0 + hex("55555555");
  const Row rows[] = {
    {"ReadBlk 5", -1, {answer(0)}, [](unsigned char* b) { return RF5550_ReadBlk(5, b); }, 4, 0xEE, {}, "64:05", 0, {}},
    {"ReadBlk 261: low byte", -1, {answer(0)}, [](unsigned char* b) { return RF5550_ReadBlk(261, b); }, 4, 0xEE, {},
     "64:05", 0, {}},
    {"WriteBlk -1 is block 0", -1, {answer(0)}, [](unsigned char* b) { return RF5550_WriteBlk(-1, kPw, b, 1); },
     4, 0, kA0, "65:1122334400A0A1A2A301", 0, {}},
    {"WriteBlk 7", -1, {answer(0)}, [](unsigned char* b) { return RF5550_WriteBlk(7, kPw, b, 0x1FE); },
     4, 0, kA0, "65:1122334407A0A1A2A3FE", 0, {}},
    {"Wake", -1, {answer(0)}, [](unsigned char*) { return RF5550_Wake(kPw); }, 0, 0, {}, "67:11223344", 0, {}},
    {"ReadAfterWake 3", -1, {answer(0)}, [](unsigned char* b) { return RF5550_ReadAfterWake(3, kPw, b); },
     4, 0xEE, {}, "68:1122334403", 0, {}},
    {"WriteAfterWake -1", -1, {answer(0)}, [](unsigned char* b) { return RF5550_WriteAfterWake(-1, kPw, b, 0); },
     4, 0, kA0, "69:1122334400A0A1A2A300", 0, {}},
    {"Init 1 1 2", -1, {answer(0)}, init(1, 1, 2), 0, 0, {}, "66:112233445F02", 0, {}},
    {"Init 0 0 0", -1, {answer(0)}, init(0, 0, 0), 0, 0, {}, "66:112233440702", 0, {}},
    {"Init 0 0 12", -1, {answer(0)}, init(0, 0, 12), 0, 0, {}, "66:11223344E702", 0, {}},
    {"Init 0 0 -1", -1, {answer(0)}, init(0, 0, -1), 0, 0, {}, "66:11223344E702", 0, {}},
    {"Init 5 0 0", -1, {answer(0)}, init(5, 0, 0), 0, 0, {}, "66:112233440F02", 0, {}},
    {"Init 0 -3 0", -1, {answer(0)}, init(0, -3, 0), 0, 0, {}, "66:112233441702", 0, {}},
    {"Init 1 1 7", -1, {answer(0)}, init(1, 1, 7), 0, 0, {}, "66:11223344FF02", 0, {}},
    {"Init 0 0 1", -1, {answer(0)}, init(0, 0, 1), 0, 0, {}, "66:112233442702", 0, {}},
    {"ReadBlk: whole reply", -1, {answer(0, six)}, readBlk, 7, 0xEE, {}, "64:02", 0, six + hex("EE")},
    {"ReadBlk: reader error", -1, {answer(0x40, six)}, readBlk, 7, 0xEE, {}, "64:02", 0x40, {}},
    {"ReadBlk: link error", -1, {{0x46}}, readBlk, 7, 0xEE, {}, "?23", 103, {}},
    {"ReadAfterWake: whole reply", -1, {answer(0, six)}, readWake, 7, 0xEE, {}, "68:1122334402", 0, six + hex("EE")},
    {"ReadAfterWake: reader error", -1, {answer(0x40, six)}, readWake, 7, 0xEE, {}, "68:1122334402", 0x40, {}},
    {"ReadAfterWake: link error", -1, {{0x46}}, readWake, 7, 0xEE, {}, "?23", 103, {}},
    {"WriteBlk: 4 of 200", -1, {answer(0, Bytes(200, 0x77))}, writeBlk, 8, 0, start8, "65:1122334403A0A1A2A300", 0,
     hex("7777777755555555")},
    {"WriteBlk: short reply", -1, {answer(0, hex("0102"))}, writeBlk, 8, 0, start8, "65:1122334403A0A1A2A300", 0,
     hex("0102A2A355555555")},
    {"WriteBlk: reader error", -1, {answer(0x43, hex("09090909"))}, writeBlk, 8, 0, start8, "65:1122334403A0A1A2A300",
     0x43, {}},
    {"WriteAfterWake: 4 of 200", -1, {answer(0, Bytes(200, 0x77))}, writeWake, 8, 0, start8,
     "69:1122334403A0A1A2A300", 0, hex("7777777755555555")},
    {"WriteAfterWake: reader error", -1, {answer(0x43, hex("09090909"))}, writeWake, 8, 0, start8,
     "69:1122334403A0A1A2A300", 0x43, {}},
    {"Mcmno: two bytes", -1, {answer(0, hex("1100"))}, RF5550_Mcmno, 4, 0xEE, {}, "A1:", 0, hex("11000000")},
    {"Mcmno: five bytes", -1, {answer(0, hex("123456789A"))}, RF5550_Mcmno, 4, 0xEE, {}, "A1:", 0, hex("12340000")},
    {"Mcmno: one byte and a stale one", -1, {answer(0, hex("21"))}, RF5550_Mcmno, 4, 0xEE, {}, "A1:", 0,
     hex("21340000")},
    {"Mcmno: reader error", -1, {answer(1)}, RF5550_Mcmno, 4, 0xEE, {}, "A1:", 1, {}},
  };
  run(rows);
}

TEST_F(Rf5550, BlockZeroIsRefusedWithoutAnExchange) {
  unsigned char data[4] = {1, 2, 3, 4};
  EXPECT_EQ(RF5550_WriteBlk(0, kPw, data, 0), 4);
  EXPECT_EQ(RF5550_WriteAfterWake(0, kPw, data, 0), 4);
  EXPECT_TRUE(wire().written.empty());
  EXPECT_EQ(Bytes(data, data + 4), hex("01020304"));
}

// clang-format on
}  // namespace
