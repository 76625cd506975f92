// Every export of the identity, contact-card, AT1608 and CPU card/SAM families
// that takes a pointer, called once for each pointer it needs with that one
// null: the result is 4 and not a byte reaches the line. (The Mifare, RF5550,
// DES and attendance families check theirs in their own argument tables.)
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_fixture.h"
#include "orvix32.h"

namespace {

// The pointer arguments of one call: room for any buffer each, or null.
struct Args {
  unsigned char* p[3];
  int* i(int k) const { return reinterpret_cast<int*>(p[k]); }
};
using A = const Args&;
struct Row {
  std::string name;
  int pointers;
  std::function<int(A)> call;
};

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
    rows.push_back(
        {"reset of slot " + std::to_string(s), 1, [f = resets[s]](A a) { return f(a.p[0]); }});
  for (int s = 0; s < 10; ++s)
    rows.push_back(
        {"APDU export " + std::to_string(s), 2, [f = apdus[s]](A a) { return f(a.p[0], a.p[1]); }});
  return rows;
}

using NullPointers = fake::LinkedTest;

TEST_F(NullPointers, EachNeededPointerNullGives4AndSendsNothing) {
  alignas(int) static unsigned char room[3][512];
  for (const Row& row : allRows())
    for (int k = 0; k < row.pointers; ++k) {
      std::memset(room, 0, sizeof room);
      Args a{{room[0], room[1], room[2]}};
      a.p[k] = nullptr;
      wire().written.clear();
      wire().input.clear();
      for (int r = 0; r < 4; ++r) wire().reply(0, fake::Bytes(16, 0x5A));
      orvix::link().Contact.SelectedCardType = 0;
      EXPECT_EQ(row.call(a), 4) << row.name << ", pointer " << k;
      EXPECT_TRUE(wire().written.empty()) << row.name << ", pointer " << k;
    }
}

}  // namespace
