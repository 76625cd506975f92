// orvix-demo: the library's main road against whatever reader ORVIX32_COM1
// names (scripts/demo points it at readersim). Prints every call and result.
#include <cstdio>
#include <cstring>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

int main(int argc, char** argv) {
  bool all = argc < 2;
  auto want = [&](const char* name) {
    if (all) return true;
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], name) == 0) return true;
    return false;
  };
  int failed = 0;
  int port = 0;
  heading("Link");
  int st = AutoLinkCom(&port);
  show("AutoLinkCom(&port)  port=" + std::to_string(port), st);
  if (st != 0) {
    std::printf("no reader answered on COM1 or COM2\n");
    return 1;
  }
  failed += demoLink();
  if (want("mifare")) failed += demoMifare();
  if (want("contact")) failed += demoContact();
  if (want("rf5550")) failed += demoRf5550();
  if (want("des")) failed += demoDes();
  if (want("attendance")) failed += demoAttendance();
  heading("Unlink");
  show("UnLinkCom()", UnLinkCom());
  std::printf("\n%d call(s) did not succeed\n", failed);
  return failed ? 1 : 0;
}
