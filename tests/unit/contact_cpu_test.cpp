// CPU card and SAM slots: protocol detection, T=0 and T=1 framing with the
// shared sequence bit, result decoding and replies that try to overrun.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "fake_fixture.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::Wire;
using orvix::link;

namespace {

// Each slot: its exchange command, its reset and its fixed-layout export.
struct SlotFns {
  std::uint8_t apduCmd;
  int (*reset)(unsigned char*);
  int (*fixed)(unsigned char*, unsigned char*);
};
const SlotFns kSlots[5] = {{0x33, CpuCardReset, ProCpuCardCmd},
                           {0x3D, SamCard1Reset, ProSamCard1Cmd},
                           {0x47, SamCard2Reset, ProSamCard2Cmd},
                           {0x51, SamCard3Reset, ProSamCard3Cmd},
                           {0x5B, SamCard4Reset, ProSamCard4Cmd}};

const Bytes kAtrT0 = bytes({0x3B, 0x02, 0x14, 0x50});
const Bytes kAtrT1 = bytes({0x3B, 0x80, 0x01});

// A fixed-layout command: header, Lc, data, Le at byte 133.
std::array<unsigned char, 134> fixedCommand(const Bytes& head, const Bytes& data, int le) {
  std::array<unsigned char, 134> c{};
  std::copy(head.begin(), head.end(), c.begin());
  c[4] = static_cast<unsigned char>(data.size());
  std::copy(data.begin(), data.end(), c.begin() + 5);
  c[133] = static_cast<unsigned char>(le);
  return c;
}

Bytes t1Block(int pcb, const Bytes& apdu) {
  Bytes b{0x00, static_cast<std::uint8_t>(pcb), static_cast<std::uint8_t>(apdu.size())};
  b.insert(b.end(), apdu.begin(), apdu.end());
  b.push_back(fake::xorOf(b));
  return b;
}

class CpuCard : public fake::LinkedTest {
 protected:
  void resetWith(int slot, const Bytes& atr) {
    wire().reply(0, atr);
    std::array<unsigned char, 256> answer{};
    ASSERT_EQ(kSlots[slot].reset(answer.data()), 0);
    wire().written.clear();
  }
};

TEST_F(CpuCard, AnswerToResetSelectsTheProtocol) {
  EXPECT_EQ(CPUCardProtocolType(), 1);  // before any reset
  struct Case {
    Bytes atr;
    int t1;
  } cases[] = {
      {kAtrT0, 0},
      {kAtrT1, 1},
      {bytes({0x3B, 0xF0, 0x11, 0x22, 0x33, 0x01}), 1},  // TD1 after TA1 TB1 TC1
      {bytes({0x3B, 0xF0, 0x11, 0x22, 0x33, 0x02}), 0},
      {bytes({0x3B, 0x90, 0x11, 0x81, 0x31, 0xFE}), 1},  // TD1 = 81
      {bytes({0x3B, 0xE3, 0x00, 0xFF, 0x81, 0x31, 0x52, 0x45, 0xA1, 0xA2, 0xA3, 0x1B}), 1},
      {bytes({0x3B, 0x80}), 0},  // ends before TD1
      {bytes({0x3B}), 0},
  };
  for (const auto& c : cases) {
    link().Contact.ProtocolT1 = static_cast<std::uint8_t>(1 - c.t1);
    wire().reply(0, c.atr);
    std::array<unsigned char, 257> answer{};
    answer.fill(0xEE);
    EXPECT_EQ(CpuCardReset(answer.data()), 0);
    EXPECT_EQ(CPUCardProtocolType(), c.t1) << "T0 " << std::hex << int(c.atr.back());
    Bytes want{static_cast<std::uint8_t>(c.atr.size())};
    want.insert(want.end(), c.atr.begin(), c.atr.end());
    want.push_back(0xEE);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + static_cast<long>(want.size())), want);
  }
}

TEST_F(CpuCard, AFailedResetClearsTheAnswerAndKeepsTheProtocol) {
  resetWith(0, kAtrT0);
  wire().reply(0x49, kAtrT1);
  std::array<unsigned char, 256> answer{};
  answer.fill(0x77);
  EXPECT_EQ(SamCard3Reset(answer.data()), 0x49);
  EXPECT_EQ(answer[0], 0);
  EXPECT_EQ(answer[1], 0x77);
  EXPECT_EQ(CPUCardProtocolType(), 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x50, {}));
}

// One fixed-layout exchange after a reset: the APDU on the line (T=1: in a
// block), the result, and the response area (length, data; 77 untouched).
// Case 2 (read): Le goes out as the fifth byte; case 4 (select): Lc and data, no Le.
TEST_F(CpuCard, ApduExchangesSendTheApduAndDecodeTheReply) {
  const auto read = fixedCommand(bytes({0x00, 0x84, 0x00, 0x00}), {}, 8);
  const auto select = fixedCommand(bytes({0x00, 0xA4, 0x00, 0x00}), bytes({0x3F, 0x00}), 0x10);
  const Bytes readApdu = bytes({0x00, 0x84, 0x00, 0x00, 8});
  const Bytes selectApdu = bytes({0x00, 0xA4, 0x00, 0x00, 2, 0x3F, 0x00});
  const int noSw = ORVIX32_NO_STATUS_WORD;
  struct Case {
    bool t1;
    int slot;
    bool select;
    Bytes reply;
    int result;
    Bytes resp;
  };
  // clang-format off
  const Case cases[] = {
      {false, 0, false, bytes({1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0}), 0x9000,
       bytes({8, 1, 2, 3, 4, 5, 6, 7, 8, 0x77})},
      {false, 0, true, bytes({0x6A, 0x82}), 27266, bytes({0, 0x77})},
      {false, 2, true, bytes({0x90, 0x00}), 36864, bytes({0, 0x77})},
      {true, 1, false, t1Block(0, bytes({0x90, 0})), 0x9000, bytes({0, 0x77})},
      {true, 4, true, t1Block(0x40, bytes({0xA1, 0xA2, 0xA3, 0x62, 0x82})), 0x6282,
       bytes({3, 0xA1, 0xA2, 0xA3, 0x77})},
      // Replies too short for status words have their own result.
      {false, 0, false, {}, noSw, bytes({0, 0x77})},
      {false, 0, false, bytes({0x90}), noSw, bytes({0, 0x77})},
      {true, 0, false, bytes({0, 0, 2, 0x90, 0}), noSw, bytes({0, 0x77})},
      {true, 0, false, {}, noSw, bytes({0, 0x77})},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE("reply size " + std::to_string(c.reply.size()));
    resetWith(c.slot, c.t1 ? kAtrT1 : kAtrT0);
    auto cmd = c.select ? select : read;
    std::array<unsigned char, 136> resp{};
    resp.fill(0x77);
    wire().reply(0, c.reply);
    EXPECT_EQ(kSlots[c.slot].fixed(cmd.data(), resp.data()), c.result);
    const Bytes& apdu = c.select ? selectApdu : readApdu;
    EXPECT_EQ(wire().written,
              Wire::expectedFrame(kSlots[c.slot].apduCmd, c.t1 ? t1Block(0, apdu) : apdu));
    EXPECT_EQ(Bytes(resp.begin(), resp.begin() + static_cast<long>(c.resp.size())), c.resp);
    EXPECT_EQ(link().Contact.SequenceBit, 1);  // the exchange itself succeeded
  }
}

TEST_F(CpuCard, T1BlocksAlternateTheSequenceBitAcrossSlotsAndResets) {
  resetWith(0, kAtrT1);
  const Bytes apdu = bytes({0x00, 0x84, 0x00, 0x00, 0x04});
  auto cmd = fixedCommand(bytes({0x00, 0x84, 0x00, 0x00}), {}, 4);
  std::array<unsigned char, 136> resp{};
  struct Step {
    int slot;       // exchange on this slot, or reset when resetSlot >= 0
    int resetSlot;  // -1: an exchange
    std::uint8_t status;
    int pcb;  // the PCB the exchange must send
  } steps[] = {
      {0, -1, 0, 0x00},    {0, -1, 0, 0x40}, {0, -1, 0, 0x00},
      {1, -1, 0, 0x40},                                     // another slot continues the same bit
      {2, -1, 0x4D, 0x00},                                  // a failed exchange does not flip it
      {3, -1, 0, 0x00},    {4, -1, 0, 0x40}, {0, 2, 0, 0},  // a reset of any slot clears it
      {0, -1, 0, 0x00},    {4, -1, 0, 0x40},
  };
  for (const auto& s : steps) {
    wire().written.clear();
    if (s.resetSlot >= 0) {
      resetWith(s.resetSlot, kAtrT1);
      continue;
    }
    wire().reply(s.status, t1Block(0, bytes({0x90, 0x00})));
    EXPECT_EQ(kSlots[s.slot].fixed(cmd.data(), resp.data()), s.status ? s.status : 0x9000);
    EXPECT_EQ(wire().written, Wire::expectedFrame(kSlots[s.slot].apduCmd, t1Block(s.pcb, apdu)))
        << "slot " << s.slot;
  }
}

TEST_F(CpuCard, LongRepliesStopAtTheResponseArea) {
  for (const Bytes* atr : {&kAtrT0, &kAtrT1}) {
    resetWith(0, *atr);
    auto cmd = fixedCommand(bytes({0x00, 0xB0, 0x00, 0x00}), {}, 0);
    std::vector<unsigned char> resp(136 + 16, 0xEE);
    Bytes reply(255, 0x5A);  // T=0: status words last; T=1: before the block's check byte
    reply[252 + (atr == &kAtrT0)] = 0x90;
    reply[253 + (atr == &kAtrT0)] = 0x00;
    wire().reply(0, reply);
    EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 0x9000);
    EXPECT_EQ(resp[0], 135);
    EXPECT_EQ(Bytes(resp.begin() + 136, resp.end()), Bytes(16, 0xEE));
  }
}

TEST_F(CpuCard, LcBeyondTheApduAreaIsRefused) {
  auto cmd = fixedCommand(bytes({0x00, 0xD6, 0x00, 0x00}), Bytes(84, 1), 0);
  std::array<unsigned char, 136> resp{};
  resp.fill(0x77);
  EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 4);
  std::array<unsigned char, 134> packed{0x00, 0xD6, 0x00, 0x00, 200};
  EXPECT_EQ(ProSamCard4(packed.data(), resp.data()), 4);
  EXPECT_EQ(packed[0], 0x00);
  EXPECT_EQ(resp[0], 0x77);
  EXPECT_TRUE(wire().written.empty());
  // 83 data bytes still go.
  resetWith(0, kAtrT1);
  cmd = fixedCommand(bytes({0x00, 0xD6, 0x00, 0x00}), Bytes(83, 1), 0);
  wire().reply(0, t1Block(0, bytes({0x90, 0x00})));
  EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 0x9000);
  EXPECT_EQ(wire().written[2], 92);
}

TEST_F(CpuCard, PackedCommandsAreOverwrittenWithWhatWasSent) {
  // T=0: Le right after the data; the buffer becomes length + APDU.
  resetWith(0, kAtrT0);
  std::array<unsigned char, 93> cmd{0x80, 0xCA, 0x01, 0x02, 0x00, 0x10};
  std::array<unsigned char, 136> resp{};
  wire().reply(0, bytes({0x6D, 0x00}));
  EXPECT_EQ(ProCpuCard(cmd.data(), resp.data()), 0x6D00);
  EXPECT_EQ(Bytes(cmd.begin(), cmd.begin() + 6), bytes({5, 0x80, 0xCA, 0x01, 0x02, 0x10}));
  // T=1: the whole block, also when the exchange fails.
  resetWith(0, kAtrT1);
  std::array<unsigned char, 93> c1{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x55};
  wire().reply(0x4E, {});
  EXPECT_EQ(ProSamCard3(c1.data(), resp.data()), 0x4E);
  const Bytes block = t1Block(0, bytes({0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}));
  EXPECT_EQ(c1[0], block.size());
  EXPECT_EQ(Bytes(c1.begin() + 1, c1.begin() + 1 + static_cast<long>(block.size())), block);
  EXPECT_EQ(resp[0], 0);
  EXPECT_EQ(wire().written, Wire::expectedFrame(0x51, block));
}

TEST_F(CpuCard, ALinkErrorGivesTheStatusAndAnEmptyResponse) {
  resetWith(0, kAtrT0);
  auto cmd = fixedCommand(bytes({0x00, 0x84, 0x00, 0x00}), {}, 8);
  std::array<unsigned char, 136> resp{};
  resp[0] = 9;
  wire().raw(bytes({0x45}));  // no acknowledge
  EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 108);
  EXPECT_EQ(resp[0], 0);
  EXPECT_EQ(link().Contact.SequenceBit, 0);
}

}  // namespace
