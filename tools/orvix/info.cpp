// orvix info: the reader behind the link.
#include <string>

#include "commands.h"
#include "orvix.h"

namespace orvix {

namespace {

// The firmware version as text where it is printable, else in hex.
std::string printable(const unsigned char* b, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] == 0) break;
    if (b[i] < 0x20 || b[i] > 0x7E) return hex(b, n);
    s += static_cast<char>(b[i]);
  }
  return s;
}

}  // namespace

void addInfo(CLI::App& app, Context& ctx) {
  auto* c = app.add_subcommand("info", "link, module number, device number, firmware, line speed");
  c->callback([&ctx] {
    ctx.link();
    unsigned char module[4] = {}, device[8] = {}, version[8] = {};
    check(orvix_mifare_module(reader(), module, sizeof module), "module number (0xA1)");
    check(orvix_device_number(reader(), device, sizeof device), "device number (0x20)");
    check(orvix_device_version(reader(), version, sizeof version), "firmware version (0x22)");
    const int number = module[0] | module[1] << 8;
    const std::string fw = printable(version, 8);
    emit(ctx,
         {{"port", Context::portLabel(ctx.linked)},
          {"module", number},
          {"device", hex(device, 8)},
          {"firmware", fw},
          {"speed", orvix_baud_rate(reader())}},
         "link      " + Context::portLabel(ctx.linked) + "\nmodule    " + std::to_string(number) +
             "\ndevice    " + hex(device, 8) + "\nfirmware  " + fw + "\nspeed     " +
             std::to_string(orvix_baud_rate(reader())) + " bit/s\n");
  });
}

}  // namespace orvix
