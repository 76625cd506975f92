/* A caller of the installed library, built with pkg-config (and with MinGW
 * against the Windows import libraries): the library's version, a link on
 * COM1 and the road to block 0 of the card in the field. */
#include <orvix32.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  const unsigned char keyA[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  unsigned char type[4], snr[4], block[16];
  int serial = 0, st, i;
  printf("DLLVER %d\nLinkCom %d\n", DLLVER(), LinkCom(0));
  if ((st = RFMifare_Request(1, type)) == 0 && (st = RFMifare_AntiColl(snr)) == 0) {
    memcpy(&serial, snr, 4);
    if ((st = RFMifare_Select(serial)) == 0 && (st = RFMifare_LoadKey(0, 0, keyA)) == 0 &&
        (st = RFMifare_Authentication(0, 0, 3)) == 0)
      st = RFMifare_Read(0, block);
  }
  printf("block 0 status %d:", st);
  for (i = 0; st == 0 && i < 16; ++i) printf(" %02X", block[i]);
  printf("\nUnLinkCom %d\n", UnLinkCom());
  return st;
}
