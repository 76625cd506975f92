// The RFMifare_ family: one reader command per export. Each export checks its
// arguments, fills the command frame, runs the retrying exchange and copies a
// fixed number of bytes out of the response data, whatever the status. The
// reader's firmware runs the card protocol; nothing here knows about cards.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/link_state.h"
#include "orvix32.h"

namespace {

using orvix::kBadArgument;

// Command bytes of the family.
enum : std::uint8_t {
  kMcmno = 0xA1,
  kTransKey = 0xA4,
  kAuthmode = 0xA9,
  kGetType = 0xAA,
  kGetSnr = 0xAB,
  kReadBlock = 0xAC,
  kWriteBlock = 0xAD,
  kWriteKey = 0xAE,
  kReadValue = 0xAF,
  kWriteValue = 0xB0,
  kIncrementValue = 0xB1,
  kDecrementValue = 0xB2,
  kLoadKey = 0xB4,
  kRequest = 0xB5,
  kAntiColl = 0xB6,
  kSelect = 0xB7,
  kAuthentication = 0xB8,
  kRead = 0xB9,
  kWrite = 0xBA,
  kIncrement = 0xBB,
  kDecrement = 0xBC,
  kHalt = 0xBD,
};

constexpr std::size_t kKeyLen = 6;
constexpr std::size_t kBlockLen = 16;

// The data of one command frame, built front to back. The longest frame of
// the family is 21 bytes (RFMifare_WriteBlock).
class Frame {
 public:
  // Low 8 bits of an argument the reader takes as one byte.
  Frame& byte(int v) {
    put(static_cast<std::uint8_t>(v & 0xFF));
    return *this;
  }
  // A 32-bit integer, least significant byte first: serials are sent in the
  // byte order the reader delivered them, values as little-endian numbers.
  Frame& le32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) put(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Frame& bytes(const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) put(p[i]);
    return *this;
  }
  // Sends the frame under the command byte with the retrying exchange.
  int exchange(std::uint8_t cmd) const {
    orvix::setCommand(cmd, data_, len_);
    return orvix::ExchangeWithRelink();
  }

 private:
  void put(std::uint8_t b) {
    if (len_ < sizeof data_) data_[len_++] = b;
  }
  std::uint8_t data_[21] = {};
  std::size_t len_ = 0;
};

// Copies the first n bytes of the last response data, stale or not.
void copyOut(unsigned char* out, std::size_t n) {
  std::memcpy(out, orvix::link().RecvData.data(), n);
}

// Two response bytes followed by two zero bytes (module number, card type).
void copyTwoOfFour(unsigned char* out) {
  copyOut(out, 2);
  out[2] = 0;
  out[3] = 0;
}

std::uint32_t serialBits(int serial) { return static_cast<std::uint32_t>(serial); }

// The caller's value, read as a 32-bit integer, and the response's first four
// bytes written back into it, least significant first.
std::uint32_t valueBits(const int* value) { return static_cast<std::uint32_t>(*value); }
void copyValueOut(int* value) {
  const auto& r = orvix::link().RecvData;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | r[static_cast<std::size_t>(i)];
  *value = static_cast<int>(v);
}

// The value commands of the one-shot set share their layout:
// block, serial, value (9 bytes); the answer replaces the caller's value.
int valueCommand(std::uint8_t cmd, int block, int serial, int* value) {
  if (!value) return kBadArgument;
  int st = Frame().byte(block).le32(serialBits(serial)).le32(valueBits(value)).exchange(cmd);
  copyValueOut(value);
  return st;
}

// Increment and decrement of the selected, authenticated card: block, value.
int stepCommand(std::uint8_t cmd, int block, int value) {
  return Frame().byte(block).le32(static_cast<std::uint32_t>(value)).exchange(cmd);
}

}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL RFMifare_Mcmno(unsigned char* info) {
  const orvix::CallGuard guard;
  if (!info) return kBadArgument;
  int st = Frame().exchange(kMcmno);
  copyTwoOfFour(info);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_TransKey(int sector, const unsigned char* key) {
  const orvix::CallGuard guard;
  if (sector < 0 || sector > 15 || !key) return kBadArgument;
  return Frame().byte(sector).bytes(key, kKeyLen).exchange(kTransKey);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Authmode(int mode) {
  const orvix::CallGuard guard;
  if (mode != 0 && mode != 1) return kBadArgument;
  return Frame().byte(mode).exchange(kAuthmode);
}

ORVIX32_API int ORVIX32_CALL RFMifare_GetType(unsigned char* type) {
  const orvix::CallGuard guard;
  if (!type) return kBadArgument;
  int st = Frame().exchange(kGetType);
  copyTwoOfFour(type);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_GetSnr(unsigned char* serial) {
  const orvix::CallGuard guard;
  if (!serial) return kBadArgument;
  int st = Frame().exchange(kGetSnr);
  copyOut(serial, 4);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_ReadBlock(int block, int serial, unsigned char* data) {
  const orvix::CallGuard guard;
  if (!data) return kBadArgument;
  int st = Frame().byte(block).le32(serialBits(serial)).exchange(kReadBlock);
  copyOut(data, kBlockLen);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_WriteBlock(int block, int serial, unsigned char* data) {
  const orvix::CallGuard guard;
  if (!data) return kBadArgument;
  int st =
      Frame().byte(block).le32(serialBits(serial)).bytes(data, kBlockLen).exchange(kWriteBlock);
  copyOut(data, kBlockLen);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_WriteKey(int sector, int serial, const unsigned char* key,
                                               int last) {
  const orvix::CallGuard guard;
  if (!key) return kBadArgument;
  return Frame()
      .byte(sector)
      .le32(serialBits(serial))
      .bytes(key, kKeyLen)
      .byte(last)
      .exchange(kWriteKey);
}

ORVIX32_API int ORVIX32_CALL RFMifare_ReadValue(int block, int serial, int* value) {
  const orvix::CallGuard guard;
  if (!value) return kBadArgument;
  int st = Frame().byte(block).le32(serialBits(serial)).exchange(kReadValue);
  copyValueOut(value);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_WriteValue(int block, int serial, int* value) {
  const orvix::CallGuard guard;
  return valueCommand(kWriteValue, block, serial, value);
}

ORVIX32_API int ORVIX32_CALL RFMifare_IncrementValue(int block, int serial, int* value) {
  const orvix::CallGuard guard;
  return valueCommand(kIncrementValue, block, serial, value);
}

ORVIX32_API int ORVIX32_CALL RFMifare_DecrementValue(int block, int serial, int* value) {
  const orvix::CallGuard guard;
  return valueCommand(kDecrementValue, block, serial, value);
}

ORVIX32_API int ORVIX32_CALL RFMifare_LoadKey(int mode, int sector, const unsigned char* key) {
  const orvix::CallGuard guard;
  if (!key) return kBadArgument;
  return Frame().byte(mode).byte(sector).bytes(key, kKeyLen).exchange(kLoadKey);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Request(int mode, unsigned char* type) {
  const orvix::CallGuard guard;
  if (!type) return kBadArgument;
  int st = Frame().byte(mode).exchange(kRequest);
  copyTwoOfFour(type);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_AntiColl(unsigned char* serial) {
  const orvix::CallGuard guard;
  if (!serial) return kBadArgument;
  int st = Frame().exchange(kAntiColl);
  copyOut(serial, 4);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_Select(int serial) {
  const orvix::CallGuard guard;
  return Frame().le32(serialBits(serial)).exchange(kSelect);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Authentication(int keyType, int sector, int block) {
  const orvix::CallGuard guard;
  return Frame().byte(keyType).byte(sector).byte(block).exchange(kAuthentication);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Read(int block, unsigned char* data) {
  const orvix::CallGuard guard;
  if (!data) return kBadArgument;
  int st = Frame().byte(block).exchange(kRead);
  copyOut(data, kBlockLen);
  return st;
}

ORVIX32_API int ORVIX32_CALL RFMifare_Write(int block, const unsigned char* data) {
  const orvix::CallGuard guard;
  if (!data) return kBadArgument;
  return Frame().byte(block).bytes(data, kBlockLen).exchange(kWrite);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Increment(int block, int value) {
  const orvix::CallGuard guard;
  return stepCommand(kIncrement, block, value);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Decrment(int block, int value) {
  const orvix::CallGuard guard;
  return stepCommand(kDecrement, block, value);
}

ORVIX32_API int ORVIX32_CALL RFMifare_Halt(void) {
  const orvix::CallGuard guard;
  return Frame().exchange(kHalt);
}

}  // extern "C"
