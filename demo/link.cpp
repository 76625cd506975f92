#include <string>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

int demoLink() {
  int failed = 0;
  std::printf("  ComBaudRate() = %d, DLLVER() = %d\n", ComBaudRate(), DLLVER());
  unsigned char version[8] = {};
  failed += show("DEVVER(version)", DEVVER(version), version, 8);
  unsigned char number[8] = {};
  failed += show("GetDeviceNumber(number)", GetDeviceNumber(number), number, 8);
  failed += show("ALARM(7, 30, 30, 3)", ALARM(7, 30, 30, 3));
  return failed;
}
