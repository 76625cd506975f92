// The library and the reader as such: line speed, version numbers, the
// reader's device number and its signal outputs.
#include <algorithm>
#include <cstring>

#include "link/reader.h"
#include "orvix32.h"

using namespace orvix;

namespace {
constexpr int kLibraryVersion = 7321;
constexpr std::size_t kIdentityBytes = 8;

int deviceNumber(LinkState& s, unsigned char* number) {
  if (!number) return kBadArgument;
  std::memset(number, 0, kIdentityBytes);
  setCommand(s, 0x20, nullptr, 0);
  const std::uint8_t status = ExchangeFrame(s);
  if (status == 0) std::copy_n(s.RecvData.begin(), kIdentityBytes, number);
  return status;
}

int deviceVersion(LinkState& s, unsigned char* version) {
  if (!version) return kBadArgument;
  setCommand(s, 0x22, nullptr, 0);
  const std::uint8_t status = ExchangeFrame(s);
  if (status == 0) std::copy_n(s.RecvData.begin(), kIdentityBytes, version);
  return status;
}

int signalOutputs(LinkState& s, int select, int a, int b, int c) {
  if (select < 1 || select > 7) return kBadArgument;
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(select), static_cast<std::uint8_t>(a),
                                static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c)};
  setCommand(s, 0x7A, data, sizeof data);
  return ExchangeFrame(s);
}

}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL ComBaudRate(void) {
  return onDefault([](LinkState& s) { return s.BaudInUse; });
}

ORVIX32_API int ORVIX32_CALL DLLVER(void) { return kLibraryVersion; }

ORVIX32_API int ORVIX32_CALL GetDeviceNumber(unsigned char* number) {
  return flat<deviceNumber>(number);
}

ORVIX32_API int ORVIX32_CALL DEVVER(unsigned char* version) { return flat<deviceVersion>(version); }

ORVIX32_API int ORVIX32_CALL ALARM(int select, int a, int b, int c) {
  return flat<signalOutputs>(select, a, b, c);
}

ORVIX32_API int ORVIX32_CALL orvix_device_number(orvix_reader* reader, unsigned char* number,
                                                 size_t number_size) {
  return handle<deviceNumber>(reader, room(outFits(number, number_size, kIdentityBytes)), number);
}

ORVIX32_API int ORVIX32_CALL orvix_device_version(orvix_reader* reader, unsigned char* version,
                                                  size_t version_size) {
  return handle<deviceVersion>(reader, room(outFits(version, version_size, kIdentityBytes)),
                               version);
}

ORVIX32_API int ORVIX32_CALL orvix_alarm(orvix_reader* reader, int select, int a, int b, int c) {
  return handle<signalOutputs>(reader, 0, select, a, b, c);
}

}  // extern "C"
