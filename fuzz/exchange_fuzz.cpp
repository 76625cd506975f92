// Feeds arbitrary reader bytes to the frame exchange and to the exports that
// copy replies into caller buffers. Caller buffers are exactly the documented
// size, so AddressSanitizer catches any copy past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

namespace {

struct Input {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t take() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const std::uint8_t choice = in.take();
  const std::uint8_t failures = in.take();

  fake::FakeReader fx;
  auto w = fx.wire(0);
  fx.link();
  // A few write and read operations fail, as a flaky line would.
  if (failures & 0x80) w->failWrites.insert(failures & 0x07);
  if (failures & 0x40) w->emptyReads.insert((failures >> 3) & 0x07);
  if (failures & 0x20) w->readChunk = 1 + (failures & 0x0F);
  w->raw(fake::Bytes(in.p, in.p + in.n));

  switch (choice % 6) {
    case 0: {
      const std::uint8_t cmd = in.n ? in.p[0] : 0;
      const std::uint8_t len = in.n > 1 ? in.p[1] : 0;
      std::vector<std::uint8_t> payload(len, 0x5A);
      orvix::setCommand(cmd, payload.data(), payload.size());
      orvix::ExchangeFrame();
      break;
    }
    case 1: {
      orvix::setCommand(0xA1, nullptr, 0);
      orvix::ExchangeWithRelink();  // relinks on the same fake port
      break;
    }
    case 2: {
      auto number = std::make_unique<unsigned char[]>(8);
      GetDeviceNumber(number.get());
      break;
    }
    case 3: {
      auto version = std::make_unique<unsigned char[]>(8);
      DEVVER(version.get());
      break;
    }
    case 4:
      ALARM(choice & 7, 30, 30, 3);
      break;
    default: {
      int port = choice & 1;
      AutoLinkCom(&port);
      break;
    }
  }
  return 0;
}
