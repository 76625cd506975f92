// DES on the host: the FIPS 81 example enciphered and deciphered in place,
// and a length that is not a multiple of 8.
#include <cstring>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

int demoDes() {
  heading("DES data encryption");
  int failed = 0;
  const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  unsigned char text[24];
  std::memcpy(text, "Now is the time for all ", 24);
  const unsigned char expected[24] = {0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15,
                                      0x6A, 0x27, 0x17, 0x87, 0xAB, 0x88, 0x83, 0xF9,
                                      0x89, 0x3D, 0x51, 0xEC, 0x4B, 0x56, 0x3B, 0x53};
  std::printf("  plain text \"Now is the time for all \"  [%s]\n", hexBytes(text, 24).c_str());
  failed +=
      show("EnDesData(text, 0123456789ABCDEF, text, 24)", EnDesData(text, key, text, 24), text, 24);
  if (std::memcmp(text, expected, 24) != 0) {
    std::printf("  the cipher text differs from the published one\n");
    ++failed;
  }
  failed +=
      show("UnDesData(text, 0123456789ABCDEF, text, 24)", UnDesData(text, key, text, 24), text, 24);
  if (std::memcmp(text, "Now is the time for all ", 24) != 0) {
    std::printf("  decryption did not restore the text\n");
    ++failed;
  }
  unsigned char out[16] = {};
  const int refused = EnDesData(text, key, out, 12);
  std::printf("  %-48s -> %3d   (expected 4)\n", "EnDesData(text, key, out, 12)", refused);
  failed += refused != 4;
  return failed;
}
