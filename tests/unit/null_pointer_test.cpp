// Every export that takes a pointer, called once for each pointer it needs
// with that one null: the result is 4 and not a byte reaches the line.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_fixture.h"
#include "orvix32.h"

namespace {

struct Args {  // the pointer arguments of one call: room for any buffer each, or null
  unsigned char* p[3];
  int* i(int k) const { return reinterpret_cast<int*>(p[k]); }
};
using A = const Args&;
struct Row {
  std::string name;
  int pointers;
  std::function<int(A)> call;
};
constexpr int kSn = 0x44332211;

// clang-format off
const Row kRows[] = {
    {"GetDeviceNumber", 1, [](A a) { return GetDeviceNumber(a.p[0]); }},
    {"DEVVER", 1, [](A a) { return DEVVER(a.p[0]); }},
    {"Inquire", 3, [](A a) { return Inquire(a.i(0), a.i(1), a.i(2)); }},
    {"CheckSecret", 1, [](A a) { return CheckSecret(4, a.p[0]); }},
    {"ReadSecret", 2, [](A a) { return ReadSecret(a.p[0], a.p[1]); }},
    {"ModifySecret", 1, [](A a) { return ModifySecret(4, a.p[0]); }},
    {"ReadCard", 1, [](A a) { return ReadCard(18, 0, 0, 8, a.p[0]); }},
    {"WriteCard", 1, [](A a) { return WriteCard(18, 0, 0, 8, a.p[0]); }},
    {"EraseCard", 1, [](A a) { return EraseCard(18, 0, 0, 8, a.p[0]); }},
    {"CheckEraseSecret", 1, [](A a) { return CheckEraseSecret(4, a.p[0]); }},
    {"CheckZoneSecret", 1, [](A a) { return CheckZoneSecret(1, a.p[0]); }},
    {"ReadMemCard", 1, [](A a) { return ReadMemCard(0, 8, a.p[0]); }},
    {"WriteMemCard", 1, [](A a) { return WriteMemCard(0, 8, a.p[0]); }},
    {"EraseMemCard", 1, [](A a) { return EraseMemCard(0, 8, a.p[0]); }},
    {"AT1608_Write", 1, [](A a) { return AT1608_Write(1, 0, 8, a.p[0]); }},
    {"AT1608_Read", 1, [](A a) { return AT1608_Read(1, 0, 8, a.p[0]); }},
    {"AT1608_Psw", 1, [](A a) { return AT1608_Psw(1, a.p[0]); }},
    {"AT1608_Authentic", 2, [](A a) { return AT1608_Authentic(a.p[0], a.p[1]); }},
    {"AT1608_ReadFuse", 1, [](A a) { return AT1608_ReadFuse(a.p[0]); }},
    {"TransKey", 1, [](A a) { return RFMifare_TransKey(0, a.p[0]); }},
    {"Mifare Mcmno", 1, [](A a) { return RFMifare_Mcmno(a.p[0]); }},
    {"GetType", 1, [](A a) { return RFMifare_GetType(a.p[0]); }},
    {"GetSnr", 1, [](A a) { return RFMifare_GetSnr(a.p[0]); }},
    {"ReadBlock", 1, [](A a) { return RFMifare_ReadBlock(1, kSn, a.p[0]); }},
    {"WriteBlock", 1, [](A a) { return RFMifare_WriteBlock(1, kSn, a.p[0]); }},
    {"WriteKey", 1, [](A a) { return RFMifare_WriteKey(1, kSn, a.p[0], 255); }},
    {"ReadValue", 1, [](A a) { return RFMifare_ReadValue(1, kSn, a.i(0)); }},
    {"WriteValue", 1, [](A a) { return RFMifare_WriteValue(1, kSn, a.i(0)); }},
    {"IncrementValue", 1, [](A a) { return RFMifare_IncrementValue(1, kSn, a.i(0)); }},
    {"DecrementValue", 1, [](A a) { return RFMifare_DecrementValue(1, kSn, a.i(0)); }},
    {"LoadKey", 1, [](A a) { return RFMifare_LoadKey(0, 1, a.p[0]); }},
    {"Request", 1, [](A a) { return RFMifare_Request(1, a.p[0]); }},
    {"AntiColl", 1, [](A a) { return RFMifare_AntiColl(a.p[0]); }},
    {"Read", 1, [](A a) { return RFMifare_Read(1, a.p[0]); }},
    {"Write", 1, [](A a) { return RFMifare_Write(1, a.p[0]); }},
    {"ReadBlk", 1, [](A a) { return RF5550_ReadBlk(1, a.p[0]); }},
    {"WriteBlk", 2, [](A a) { return RF5550_WriteBlk(1, a.p[0], a.p[1], 0); }},
    {"Init", 2, [](A a) { return RF5550_Init(a.i(0), a.p[1], 0); }},
    {"Wake", 1, [](A a) { return RF5550_Wake(a.p[0]); }},
    {"ReadAfterWake", 2, [](A a) { return RF5550_ReadAfterWake(1, a.p[0], a.p[1]); }},
    {"WriteAfterWake", 2, [](A a) { return RF5550_WriteAfterWake(1, a.p[0], a.p[1], 0); }},
    {"RF5550 Mcmno", 1, [](A a) { return RF5550_Mcmno(a.p[0]); }},
    {"EnDesData", 3, [](A a) { return EnDesData(a.p[0], a.p[1], a.p[2], 8); }},
    {"UnDesData", 3, [](A a) { return UnDesData(a.p[0], a.p[1], a.p[2], 8); }},
    {"KQ_GetTime", 1, [](A a) { return KQ_GetTime(a.i(0)); }},
    {"KQ_SetTime", 1, [](A a) { return KQ_SetTime(a.i(0)); }},
    {"KQ_GetCurrentPos", 2, [](A a) { return KQ_GetCurrentPos(a.i(0), a.p[1]); }},
    {"KQ_GetStartPos", 3, [](A a) { return KQ_GetStartPos(a.i(0), a.i(1), a.p[2]); }},
    {"KQ_GetEndPos", 3, [](A a) { return KQ_GetEndPos(a.i(0), a.i(1), a.p[2]); }},
    {"KQ_ReadRecord", 1, [](A a) { return KQ_ReadRecord(0, 0, 1, a.p[0]); }},
    {"KQ_Display", 1, [](A a) { return KQ_Display(a.p[0]); }},
    {"KQ_DownloadPSW", 1, [](A a) { return KQ_DownloadPSW(1, a.p[0]); }},
    {"KQ_TransCmd", 1, [](A a) { return KQ_TransCmd(0x10, 1, a.p[0]); }},
    {"KQ_Datebyte", 1, [](A a) { return KQ_Datebyte(1, a.p[0]); }},
};
// clang-format on

// The CPU card and the four SAM slots: resets, then both APDU layouts.
std::vector<Row> allRows() {
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  int (*const resets[])(unsigned char*) = {CpuCardReset, SamCard1Reset, SamCard2Reset,
                                           SamCard3Reset, SamCard4Reset};
  int (*const apdus[])(unsigned char*, unsigned char*) = {
      ProCpuCardCmd, ProSamCard1Cmd, ProSamCard2Cmd, ProSamCard3Cmd, ProSamCard4Cmd,
      ProCpuCard,    ProSamCard1,    ProSamCard2,    ProSamCard3,    ProSamCard4};
  for (int s = 0; s < 5; ++s)
    rows.push_back({"reset " + std::to_string(s), 1, [f = resets[s]](A a) { return f(a.p[0]); }});
  for (int s = 0; s < 10; ++s)
    rows.push_back(
        {"APDU " + std::to_string(s), 2, [f = apdus[s]](A a) { return f(a.p[0], a.p[1]); }});
  return rows;
}

using NullPointers = fake::LinkedTest;

TEST_F(NullPointers, EachNeededPointerNullGives4AndSendsNothing) {
  alignas(int) static unsigned char room[3][512];
  for (const Row& row : allRows())
    for (int k = 0; k < row.pointers; ++k) {
      SCOPED_TRACE(row.name + ", pointer " + std::to_string(k));
      std::memset(room, 0, sizeof room);
      Args a{{room[0], room[1], room[2]}};
      a.p[k] = nullptr;
      clear();
      orvix::link().Contact.SelectedCardType = 0;
      EXPECT_EQ(row.call(a), 4);
      EXPECT_TRUE(wire().written.empty());
    }
}

}  // namespace
