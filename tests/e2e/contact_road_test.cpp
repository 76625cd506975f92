// The contact-card families through the shared library, as a caller sees
// them, against the simulated reader on a pty.
#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "../../driver/contact/at1608_cipher.h"
#include "contact/contact_module.h"
#include "core/status.h"
#include "e2e.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace st = readersim::status;

using ContactRoad = e2e::LinkedReaderTest;

TEST_F(ContactRoad, MemoryCards) {
  auto SelectCard = fn<int(int)>("SelectCard");
  auto PowerOn = fn<int()>("PowerOn");
  auto PowerOff = fn<int()>("PowerOff");
  auto VerifyIC = fn<int()>("VerifyIC");
  auto CheckSecret = fn<int(int, unsigned char*)>("CheckSecret");
  auto ReadSecret = fn<int(unsigned char*, unsigned char*)>("ReadSecret");
  auto ModifySecret = fn<int(int, unsigned char*)>("ModifySecret");
  auto ReadCard = fn<int(int, int, int, int, unsigned char*)>("ReadCard");
  auto WriteCard = fn<int(int, int, int, int, unsigned char*)>("WriteCard");
  auto Inquire = fn<int(int*, int*, int*)>("Inquire");

  control({"contact", "insert", "2", "code=A1B2C3"});
  ASSERT_EQ(SelectCard(2), 0);
  ASSERT_EQ(PowerOn(), 0);
  EXPECT_EQ(VerifyIC(), 0);
  int type = 0, present = 0, power = 0;
  ASSERT_EQ(Inquire(&type, &present, &power), 0);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(present, 1);
  EXPECT_EQ(power, 1);

  Bytes data(130);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 3);
  Bytes w = data;
  EXPECT_EQ(WriteCard(18, 0, 64, 130, w.data()), st::kContactNotVerified);

  unsigned char wrong[3] = {0xA1, 0xB2, 0x00};
  EXPECT_EQ(CheckSecret(3, wrong), st::kContactWrongCode);
  unsigned char code[3] = {0xA1, 0xB2, 0xC3};
  ASSERT_EQ(CheckSecret(3, code), 0);
  EXPECT_EQ(code[0], 0x07);  // the reply (the refilled counter) comes back into the code
  unsigned char counter[2] = {0xEE, 0xEE}, shown[8] = {};
  ASSERT_EQ(ReadSecret(counter, shown), 0);
  EXPECT_EQ(Bytes(counter, counter + 2), Bytes({0x07, 0x00}));
  EXPECT_EQ(Bytes(shown, shown + 3), Bytes({0xA1, 0xB2, 0xC3}));

  ASSERT_EQ(WriteCard(18, 0, 64, 130, w.data()), 0);
  EXPECT_EQ(w, data);  // the reader answers with what it stored
  Bytes r(130 + 1, 0xEE);
  ASSERT_EQ(ReadCard(18, 0, 64, 130, r.data()), 0);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 130), data);
  EXPECT_EQ(r.back(), 0xEE);

  unsigned char next[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(ModifySecret(3, next), 0);
  EXPECT_EQ(Bytes(next, next + 3), Bytes({0x11, 0x22, 0x33}));
  ASSERT_EQ(PowerOff(), 0);
  ASSERT_EQ(PowerOn(), 0);
  unsigned char old[3] = {0xA1, 0xB2, 0xC3};
  EXPECT_EQ(CheckSecret(3, old), st::kContactWrongCode);
  unsigned char fresh[3] = {0x11, 0x22, 0x33};
  EXPECT_EQ(CheckSecret(3, fresh), 0);

  // Another type selected over this card: its identity does not match.
  ASSERT_EQ(SelectCard(4), 0);
  EXPECT_EQ(VerifyIC(), 19);

  // The rack again; the code in memory (type 0): check, change, erase.
  control({"contact", "rack"});
  auto EraseCard = fn<int(int, int, int, int, unsigned char*)>("EraseCard");
  ASSERT_EQ(SelectCard(0), 0);
  ASSERT_EQ(PowerOn(), 0);
  EXPECT_EQ(VerifyIC(), 0);
  unsigned char code4[4] = {0xF0, 0xF0, 0, 0};
  ASSERT_EQ(CheckSecret(4, code4), 0);
  EXPECT_EQ(Bytes(code4, code4 + 4), Bytes({0xF0, 0xF0, 0x0F, 0x00}));  // code, then counter
  unsigned char next4[4] = {0x12, 0x34, 0xEE, 0xEE};
  ASSERT_EQ(ModifySecret(4, next4), 0);
  EXPECT_EQ(Bytes(next4, next4 + 4), Bytes({0x0F, 0x00, 0x12, 0x34}));
  ASSERT_EQ(ReadSecret(counter, shown), 0);
  EXPECT_EQ(Bytes(shown, shown + 2), Bytes({0x12, 0x34}));
  // Erase 70 bytes from address 40 (two pieces through the erase command).
  Bytes erased(70, 0x00);
  ASSERT_EQ(EraseCard(5, 0, 40, 70, erased.data()), 0);
  EXPECT_EQ(erased, Bytes(70, 0xFF));
  erased.assign(70, 0x00);
  ASSERT_EQ(ReadCard(18, 0, 40, 70, erased.data()), 0);
  EXPECT_EQ(erased, Bytes(70, 0xFF));

  // Blocks across pages of 264 bytes (type 21).
  auto ReadMemCard = fn<int(int, int, unsigned char*)>("ReadMemCard");
  auto WriteMemCard = fn<int(int, int, unsigned char*)>("WriteMemCard");
  auto EraseMemCard = fn<int(int, int, unsigned char*)>("EraseMemCard");
  ASSERT_EQ(SelectCard(21), 0);
  ASSERT_EQ(PowerOn(), 0);
  Bytes pages(600);
  for (std::size_t i = 0; i < pages.size(); ++i) pages[i] = static_cast<unsigned char>(i % 251);
  w = pages;
  const int address = 300 * 264 - 10;
  ASSERT_EQ(WriteMemCard(address, 600, w.data()), 0);
  EXPECT_EQ(w, pages);
  r.assign(600, 0);
  ASSERT_EQ(ReadMemCard(address, 600, r.data()), 0);
  EXPECT_EQ(r, pages);
  Bytes e(20, 0);
  ASSERT_EQ(EraseMemCard(address, 20, e.data()), 0);
  ASSERT_EQ(ReadMemCard(address, 600, r.data()), 0);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 20), Bytes(20, 0xFF));
  EXPECT_EQ(r[20], pages[20]);
  // A card without pages refuses the transfer with the reader's status.
  ASSERT_EQ(SelectCard(2), 0);
  EXPECT_EQ(ReadMemCard(0, 10, r.data()), st::kContactWrongCard);
}

TEST_F(ContactRoad, At1608CpuCardAndSams) {
  auto Psw = fn<int(int, unsigned char*)>("AT1608_Psw");
  auto Write = fn<int(int, int, int, unsigned char*)>("AT1608_Write");
  auto Read = fn<int(int, int, int, unsigned char*)>("AT1608_Read");
  auto Authentic = fn<int(unsigned char*, unsigned char*)>("AT1608_Authentic");
  auto ReadFuse = fn<int(unsigned char*)>("AT1608_ReadFuse");
  auto Reset = fn<int()>("AT1608_Reset");

  control({"contact", "insert", "at1608", "secret=0102030405060708"});
  ASSERT_EQ(Reset(), 0);
  unsigned char wrong[4] = {0xA5, 0xB5, 0x00, 0x99};
  EXPECT_EQ(Psw(5, wrong), st::kContactWrongCode);
  EXPECT_EQ(Bytes(wrong, wrong + 4), Bytes({7, 0, 0, 0}));
  unsigned char pw[4] = {0xA5, 0xB5, 0xC5, 0};
  ASSERT_EQ(Psw(5, pw), 0);
  EXPECT_EQ(Bytes(pw, pw + 4), Bytes({8, 0xA5, 0xB5, 0xC5}));
  Bytes data(160);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
  ASSERT_EQ(Write(5, 90, 160, data.data()), 0);
  Bytes back(160);
  ASSERT_EQ(Read(5, 90, 160, back.data()), 0);
  EXPECT_EQ(back, data);
  EXPECT_EQ(Write(6, 0, 1, data.data()), st::kContactNotVerified);
  unsigned char fuse = 0;
  ASSERT_EQ(ReadFuse(&fuse), 0);
  EXPECT_EQ(fuse, 0x07);

  unsigned char challenge[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  unsigned char secret[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Authentic(challenge, secret), 0);
  EXPECT_EQ(challenge[0], 8);
  EXPECT_EQ(challenge[1], '8');
  unsigned char challenge2[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  unsigned char bad[8] = {1, 2, 3, 4, 5, 6, 7, 9};
  EXPECT_EQ(Authentic(challenge2, bad), st::kContactAuthFailed);
  EXPECT_EQ(challenge2[0], 7);
  EXPECT_EQ(challenge2[1], '7');

  // The CPU card and SAMs share the protocol and the sequence bit.
  control({"contact", "rack"});
  auto CpuCardReset = fn<int(unsigned char*)>("CpuCardReset");
  auto ProCpuCardCmd = fn<int(unsigned char*, unsigned char*)>("ProCpuCardCmd");
  auto ProCpuCard = fn<int(unsigned char*, unsigned char*)>("ProCpuCard");
  auto Protocol = fn<int()>("CPUCardProtocolType");
  auto Sam2Reset = fn<int(unsigned char*)>("SamCard2Reset");
  auto ProSam2 = fn<int(unsigned char*, unsigned char*)>("ProSamCard2");
  auto ProSam2Cmd = fn<int(unsigned char*, unsigned char*)>("ProSamCard2Cmd");
  auto Sam4Reset = fn<int(unsigned char*)>("SamCard4Reset");

  EXPECT_EQ(Protocol(), 1);
  std::array<unsigned char, 256> atr{};
  ASSERT_EQ(CpuCardReset(atr.data()), 0);
  EXPECT_EQ(atr[0], 9);
  EXPECT_EQ(atr[1], 0x3B);
  EXPECT_EQ(Protocol(), 0);

  std::array<unsigned char, 134> cmd{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02};
  std::array<unsigned char, 136> resp{};
  EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 0x9000);
  cmd = {0x00, 0xB0, 0x00, 0x10, 0x00};
  cmd[133] = 4;
  EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 0x9000);
  EXPECT_EQ(Bytes(resp.begin(), resp.begin() + 5), Bytes({4, 0x10, 0x11, 0x12, 0x13}));
  std::array<unsigned char, 93> packed{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x09, 0x00};
  EXPECT_EQ(ProCpuCard(packed.data(), resp.data()), 0x6A82);
  EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 8),
            Bytes({7, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x09}));

  // SAM 2 answers T=1: every slot now frames T=1 blocks.
  ASSERT_EQ(Sam2Reset(atr.data()), 0);
  EXPECT_EQ(Protocol(), 1);
  std::array<unsigned char, 93> samChallenge{0x00, 0x84, 0x00, 0x00, 0x00, 0x08};
  EXPECT_EQ(ProSam2(samChallenge.data(), resp.data()), 0x9000);
  EXPECT_EQ(resp[0], 8);
  EXPECT_EQ(Bytes(samChallenge.begin(), samChallenge.begin() + 4), Bytes({9, 0x00, 0x00, 0x05}));
  std::array<unsigned char, 134> unknown{0x00, 0xCA, 0x00, 0x00, 0x00};
  EXPECT_EQ(ProSam2Cmd(unknown.data(), resp.data()), 0x6D00);
  {
    std::lock_guard<std::mutex> lk(sim->mutex());
    auto* m = sim->find<readersim::contact::ContactModule>();
    EXPECT_EQ(m->sam(2)->hostSequence(), (std::vector<int>{0, 1}));
  }
  EXPECT_EQ(Sam4Reset(atr.data()), st::kContactNoCard);
  EXPECT_EQ(atr[0], 0);
  EXPECT_EQ(Protocol(), 1);

  // Lc beyond 83 never reaches the reader.
  const auto before = sim->exchanges();
  std::array<unsigned char, 134> big{0x00, 0xD6, 0x00, 0x00, 84};
  EXPECT_EQ(ProCpuCardCmd(big.data(), resp.data()), 4);
  EXPECT_EQ(sim->exchanges(), before);
}

}  // namespace
