// RF5550 tags: write and read a block, protect the tag with a password,
// wake it with the password, and leave it as it was found.
#include <string>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

namespace {

// A call that must be refused with `expected`: counts as failed otherwise.
int expectResult(const std::string& call, int result, int expected) {
  std::printf("  %-48s -> %3d   (expected %d = 0x%02X)\n", call.c_str(), result, expected,
              expected);
  return result != expected;
}

}  // namespace

int demoRf5550() {
  heading("RF5550 tags");
  int failed = 0;
  const unsigned char factory[4] = {0x00, 0x00, 0x00, 0x00};
  const unsigned char secret[4] = {0xC0, 0xFF, 0xEE, 0x42};

  unsigned char number[4] = {};
  failed += show("RF5550_Mcmno(number)", RF5550_Mcmno(number), number, 4);

  unsigned char data[4] = {0x12, 0x34, 0x56, 0x78};
  failed += show("RF5550_WriteBlk(1, 00000000, 12345678, 0)", RF5550_WriteBlk(1, factory, data, 0),
                 data, 4);
  unsigned char buffer[255] = {};
  failed += show("RF5550_ReadBlk(1, buffer)", RF5550_ReadBlk(1, buffer), buffer, 4);
  failed += expectResult("RF5550_WriteBlk(0, ...)  (block 0 is -1)",
                         RF5550_WriteBlk(0, factory, data, 0), 4);

  // Password C0FFEE42 into block 7, then password mode (item 3) with every
  // block readable (item 9 = 7): configuration byte F7.
  unsigned char password[4] = {secret[0], secret[1], secret[2], secret[3]};
  failed += show("RF5550_WriteBlk(7, 00000000, C0FFEE42, 0)",
                 RF5550_WriteBlk(7, factory, password, 0), password, 4);
  const int passwordMode[10] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 7};
  failed +=
      show("RF5550_Init({0,..,1,..,7}, C0FFEE42, 0)  -> F7", RF5550_Init(passwordMode, secret, 0));
  failed += expectResult("RF5550_ReadBlk(7, buffer)  (guarded)", RF5550_ReadBlk(7, buffer), 0x44);
  failed += show("RF5550_ReadAfterWake(7, C0FFEE42, buffer)",
                 RF5550_ReadAfterWake(7, secret, buffer), buffer, 4);
  failed += show("RF5550_Wake(C0FFEE42)", RF5550_Wake(secret));
  unsigned char update[4] = {0xCA, 0xFE, 0xBA, 0xBE};
  failed += show("RF5550_WriteAfterWake(2, C0FFEE42, CAFEBABE, 0)",
                 RF5550_WriteAfterWake(2, secret, update, 0), update, 4);
  failed += expectResult("RF5550_WriteBlk(2, 00000000, ...)  (wrong pw)",
                         RF5550_WriteBlk(2, factory, data, 0), 0x42);

  // Back to the factory configuration and password.
  const int plain[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
  failed += show("RF5550_Init({0,..,0,..,7}, C0FFEE42, 0)  -> E7", RF5550_Init(plain, secret, 0));
  unsigned char reset[4] = {0x00, 0x00, 0x00, 0x00};
  failed += show("RF5550_WriteBlk(7, C0FFEE42, 00000000, 0)", RF5550_WriteBlk(7, secret, reset, 0),
                 reset, 4);
  return failed;
}
