// The library and the reader as such: line speed, version numbers, the
// reader's device number and its signal outputs.
#include <algorithm>
#include <cstring>

#include "link/link_state.h"
#include "orvix32.h"

using namespace orvix;

namespace {
constexpr int kLibraryVersion = 7321;
constexpr std::size_t kIdentityBytes = 8;
}  // namespace

extern "C" ORVIX32_API int ORVIX32_CALL ComBaudRate(void) {
  const CallGuard guard;
  return link().BaudInUse;
}

extern "C" ORVIX32_API int ORVIX32_CALL DLLVER(void) { return kLibraryVersion; }

extern "C" ORVIX32_API int ORVIX32_CALL GetDeviceNumber(unsigned char* number) {
  const CallGuard guard;
  if (!number) return kBadArgument;
  std::memset(number, 0, kIdentityBytes);
  setCommand(0x20, nullptr, 0);
  const std::uint8_t status = ExchangeFrame();
  if (status == 0) std::copy_n(link().RecvData.begin(), kIdentityBytes, number);
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL DEVVER(unsigned char* version) {
  const CallGuard guard;
  if (!version) return kBadArgument;
  setCommand(0x22, nullptr, 0);
  const std::uint8_t status = ExchangeFrame();
  if (status == 0) std::copy_n(link().RecvData.begin(), kIdentityBytes, version);
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL ALARM(int select, int a, int b, int c) {
  const CallGuard guard;
  if (select < 1 || select > 7) return kBadArgument;
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(select), static_cast<std::uint8_t>(a),
                                static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c)};
  setCommand(0x7A, data, sizeof data);
  return ExchangeFrame();
}
