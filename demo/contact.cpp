// Contact cards: a memory card with a security code (select the type, check
// the identity, verify the code, write and read), the AT1608 password check,
// and a few APDUs to the CPU card and a T=1 SAM.
#include <cstdio>
#include <string>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

namespace {

// An APDU exchange: its result is SW1 SW2 (36864 = 9000 on success).
int showApdu(const std::string& call, int result, const unsigned char* response) {
  std::printf("  %-48s -> %04X", call.c_str(), static_cast<unsigned>(result));
  if (response[0]) std::printf("   [%s]", hexBytes(response + 1, response[0]).c_str());
  std::printf("\n");
  std::fflush(stdout);
  return result != 0x9000;
}

}  // namespace

int demoContact() {
  heading("Contact memory card (type 2, 3-byte code)");
  int failed = 0;
  failed += show("SelectCard(2)", SelectCard(2));
  failed += show("PowerOn()", PowerOn());
  failed += show("VerifyIC()", VerifyIC());
  unsigned char code[3] = {0xFF, 0xFF, 0xFF};
  failed += show("CheckSecret(3, FFFFFF)", CheckSecret(3, code), code, 3);
  unsigned char counter[2] = {}, shown[8] = {};
  failed += show("ReadSecret(counter, code)", ReadSecret(counter, shown), shown, 3);
  unsigned char data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xA0 + i);
  failed += show("WriteCard(18, 0, 32, 16, A0..AF)", WriteCard(18, 0, 32, 16, data), data, 16);
  unsigned char back[16] = {};
  failed += show("ReadCard(18, 0, 32, 16, buffer)", ReadCard(18, 0, 32, 16, back), back, 16);
  failed += show("PowerOff()", PowerOff());

  heading("AT1608");
  unsigned char identity[8] = {};
  failed += show("AT1608_Read(8, 40, 8, identity)", AT1608_Read(8, 40, 8, identity), identity, 8);
  unsigned char password[4] = {0xA3, 0xB3, 0xC3, 0x00};
  failed += show("AT1608_Psw(3, A3B3C3)  -> tries left", AT1608_Psw(3, password), password, 4);

  heading("CPU card (T=0) and SAM 2 (T=1)");
  unsigned char atr[256] = {};
  int st = CpuCardReset(atr);
  failed += show("CpuCardReset(answer)", st, atr + 1, atr[0]);
  std::printf("  %-48s -> %3d\n", "CPUCardProtocolType()", CPUCardProtocolType());
  unsigned char response[136] = {};
  unsigned char select[134] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02};
  failed +=
      showApdu("ProCpuCardCmd(00 A4 00 00 02 0002)", ProCpuCardCmd(select, response), response);
  unsigned char read[134] = {0x00, 0xB0, 0x00, 0x00, 0x00};
  read[133] = 8;
  failed += showApdu("ProCpuCardCmd(00 B0 00 00, Le 08)", ProCpuCardCmd(read, response), response);
  st = SamCard2Reset(atr);
  failed += show("SamCard2Reset(answer)", st, atr + 1, atr[0]);
  std::printf("  %-48s -> %3d\n", "CPUCardProtocolType()", CPUCardProtocolType());
  unsigned char challenge[93] = {0x00, 0x84, 0x00, 0x00, 0x00, 0x08};
  failed += showApdu("ProSamCard2(00 84 00 00 08)", ProSamCard2(challenge, response), response);
  std::printf("  %-48s        [%s]\n", "  (the T=1 block sent)",
              hexBytes(challenge + 1, challenge[0]).c_str());
  return failed;
}
