// Feeds arbitrary reader bytes to the frame exchange and to the exports that
// copy replies into caller buffers. Caller buffers are exactly the documented
// size, so AddressSanitizer catches any copy past them.
#include <algorithm>
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

  const std::uint8_t arg = in.n ? in.p[0] : 0;
  const int n = arg % 200 + 1;
  // Each caller buffer is allocated at exactly its documented size.
  auto buf = [](std::size_t size) {
    auto b = std::make_unique<unsigned char[]>(size);
    std::memset(b.get(), 0xA5, size);
    return b;
  };
  // A security code: length bytes, and at least 4 for the types whose code
  // and counter sit at fixed positions.
  auto codeRoom = [n](int type) {
    const bool fixed = type == 0 || (type >= 15 && type <= 17);
    return std::max<std::size_t>(static_cast<std::size_t>(n % 9) + 1, fixed ? 4 : 0);
  };
  int value = 0;
  switch (choice % 40) {
    case 0: {
      const std::uint8_t len = in.n > 1 ? in.p[1] : 0;
      std::vector<std::uint8_t> payload(len, 0x5A);
      orvix::setCommand(arg, payload.data(), payload.size());
      orvix::ExchangeFrame();
      break;
    }
    case 1:
      orvix::setCommand(0xA1, nullptr, 0);
      orvix::ExchangeWithRelink();  // relinks on the same fake port
      break;
    case 2:
      GetDeviceNumber(buf(8).get());
      break;
    case 3:
      DEVVER(buf(8).get());
      break;
    case 4:
      ALARM(choice & 7, 30, 30, 3);
      break;
    case 5: {
      int port = choice & 1;
      AutoLinkCom(&port);
      break;
    }
    case 6:
      RFMifare_Mcmno(buf(4).get());
      break;
    case 7:
      RFMifare_GetType(buf(4).get());
      break;
    case 8:
      RFMifare_AntiColl(buf(4).get());
      break;
    case 9:
      RFMifare_ReadBlock(5, 0x78563412, buf(16).get());
      break;
    case 10:
      RFMifare_WriteBlock(5, 0x78563412, buf(16).get());
      break;
    case 11:
      RFMifare_ReadValue(5, 0x78563412, &value);
      break;
    case 12:
      RFMifare_IncrementValue(5, 0x78563412, &value);
      break;
    case 13:
      RFMifare_Request(1, buf(4).get());
      break;
    case 14:
      RFMifare_Read(5, buf(16).get());
      break;
    case 15:
      RF5550_ReadBlk(1, buf(255).get());
      break;
    case 16:
      RF5550_WriteBlk(1, buf(4).get(), buf(4).get(), 0);
      break;
    case 17:
      RF5550_ReadAfterWake(1, buf(4).get(), buf(255).get());
      break;
    case 18:
      RF5550_WriteAfterWake(1, buf(4).get(), buf(4).get(), 0);
      break;
    case 19:
      RF5550_Mcmno(buf(4).get());
      break;
    case 20: {
      int type = 0, second = 0, power = 0;
      Inquire(&type, &second, &power);
      break;
    }
    case 21:
      orvix::link().Contact.SelectedCardType = arg % 32;
      CheckSecret(n % 9, buf(codeRoom(arg % 32)).get());
      break;
    case 22:
      orvix::link().Contact.SelectedCardType = arg % 32;
      ReadSecret(buf(2).get(), buf(8).get());
      break;
    case 23:
      orvix::link().Contact.SelectedCardType = arg % 32;
      ModifySecret(n % 9, buf(codeRoom(arg % 32)).get());
      break;
    case 24:
      ReadCard(18, 0, arg, n, buf(static_cast<std::size_t>(n)).get());
      break;
    case 25:
      WriteCard(18, 0, arg, n, buf(static_cast<std::size_t>(n)).get());
      break;
    case 26:
      orvix::link().Contact.SelectedCardType = arg % 32;
      CheckEraseSecret(4 + (arg & 1), buf(6).get());
      break;
    case 27:
      orvix::link().Contact.SelectedCardType = 25 + (arg & 1);
      CheckZoneSecret(1, buf(2).get());
      break;
    case 28:
      orvix::link().Contact.SelectedCardType = 21 + (arg & 1);
      ReadMemCard(arg * 7, n, buf(static_cast<std::size_t>(n)).get());
      break;
    case 29:
      orvix::link().Contact.SelectedCardType = 21 + (arg & 1);
      WriteMemCard(arg * 7, n, buf(static_cast<std::size_t>(n)).get());
      break;
    case 30:
      AT1608_Read(1, 0, n % 161, buf(static_cast<std::size_t>(n % 161) + 1).get());
      break;
    case 31:
      AT1608_Psw(arg % 16, buf(4).get());
      break;
    case 32:
      AT1608_Authentic(buf(8).get(), buf(8).get());
      break;
    case 33:
      AT1608_ReadFuse(buf(1).get());
      break;
    case 34:
      CpuCardReset(buf(256).get());
      break;
    case 35: {
      auto command = buf(134);
      command[4] = static_cast<unsigned char>(arg % 84);
      ProCpuCardCmd(command.get(), buf(136).get());
      break;
    }
    case 36: {
      auto command = buf(93);
      command[4] = static_cast<unsigned char>(arg % 84);
      ProSamCard2(command.get(), buf(136).get());
      break;
    }
    case 37: {
      int first = 0;
      KQ_GetCurrentPos(&first, buf(4).get());
      break;
    }
    case 38:
      KQ_ReadRecord(0, 0, 1 + arg % 31, buf(255).get());
      break;
    default:
      KQ_TransCmd(0x10, n, buf(256).get());
      break;
  }
  return 0;
}
