// A C++ caller of the installed library, built with find_package(ORVIX32):
// the library's version, a link on COM1 and a one-shot read of block 0.
#include <orvix32.h>

#include <cstdio>
#include <cstring>

int main() {
  const unsigned char keyA[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  unsigned char type[4], snr[4], block[16];
  std::printf("DLLVER %d\nLinkCom %d\n", DLLVER(), LinkCom(0));
  int serial = 0, st = RFMifare_LoadKey(0, 0, keyA);
  if (st == 0 && (st = RFMifare_Request(1, type)) == 0 && (st = RFMifare_AntiColl(snr)) == 0) {
    std::memcpy(&serial, snr, 4);
    st = RFMifare_ReadBlock(0, serial, block);
  }
  std::printf("block 0 status %d:", st);
  for (int i = 0; st == 0 && i < 16; ++i) std::printf(" %02X", block[i]);
  std::printf("\nUnLinkCom %d\n", UnLinkCom());
  return st;
}
