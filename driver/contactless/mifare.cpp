// The RFMifare_ family: one reader command per export. Each export checks its
// arguments, fills the command frame, runs the retrying exchange and copies a
// fixed number of bytes out of the response data, whatever the status. The
// reader's firmware runs the card protocol; nothing here knows about cards.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/reader.h"
#include "orvix32.h"

namespace {

using namespace orvix;

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
  int exchange(LinkState& s, std::uint8_t cmd) const {
    setCommand(s, cmd, data_, len_);
    return ExchangeWithRelink(s);
  }

 private:
  void put(std::uint8_t b) {
    if (len_ < sizeof data_) data_[len_++] = b;
  }
  std::uint8_t data_[21] = {};
  std::size_t len_ = 0;
};

// Copies the first n bytes of the last response data, stale or not.
void copyOut(const LinkState& s, unsigned char* out, std::size_t n) {
  std::memcpy(out, s.RecvData.data(), n);
}

// Two response bytes followed by two zero bytes (module number, card type).
void copyTwoOfFour(const LinkState& s, unsigned char* out) {
  copyOut(s, out, 2);
  out[2] = 0;
  out[3] = 0;
}

std::uint32_t serialBits(int serial) { return static_cast<std::uint32_t>(serial); }

// The caller's value, read as a 32-bit integer, and the response's first four
// bytes written back into it, least significant first.
std::uint32_t valueBits(const int* value) { return static_cast<std::uint32_t>(*value); }
void copyValueOut(const LinkState& s, int* value) {
  const auto& r = s.RecvData;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | r[static_cast<std::size_t>(i)];
  *value = static_cast<int>(v);
}

// The value commands of the one-shot set share their layout:
// block, serial, value (9 bytes); the answer replaces the caller's value.
template <std::uint8_t Cmd>
int valueCommand(LinkState& s, int block, int serial, int* value) {
  if (!value) return kBadArgument;
  int st = Frame().byte(block).le32(serialBits(serial)).le32(valueBits(value)).exchange(s, Cmd);
  copyValueOut(s, value);
  return st;
}

// Increment and decrement of the selected, authenticated card: block, value.
template <std::uint8_t Cmd>
int stepCommand(LinkState& s, int block, int value) {
  return Frame().byte(block).le32(static_cast<std::uint32_t>(value)).exchange(s, Cmd);
}

// A command with no data whose answer gives out its first bytes: four bytes
// as two and two zero bytes, or the four bytes of a serial.
template <std::uint8_t Cmd, bool TwoOfFour>
int fourOut(LinkState& s, unsigned char* out) {
  if (!out) return kBadArgument;
  int st = Frame().exchange(s, Cmd);
  if (TwoOfFour)
    copyTwoOfFour(s, out);
  else
    copyOut(s, out, 4);
  return st;
}

int transKey(LinkState& s, int sector, const unsigned char* key) {
  if (sector < 0 || sector > 15 || !key) return kBadArgument;
  return Frame().byte(sector).bytes(key, kKeyLen).exchange(s, kTransKey);
}

int authmode(LinkState& s, int mode) {
  if (mode != 0 && mode != 1) return kBadArgument;
  return Frame().byte(mode).exchange(s, kAuthmode);
}

int readBlock(LinkState& s, int block, int serial, unsigned char* data) {
  if (!data) return kBadArgument;
  int st = Frame().byte(block).le32(serialBits(serial)).exchange(s, kReadBlock);
  copyOut(s, data, kBlockLen);
  return st;
}

int writeBlock(LinkState& s, int block, int serial, unsigned char* data) {
  if (!data) return kBadArgument;
  int st =
      Frame().byte(block).le32(serialBits(serial)).bytes(data, kBlockLen).exchange(s, kWriteBlock);
  copyOut(s, data, kBlockLen);
  return st;
}

int writeKey(LinkState& s, int sector, int serial, const unsigned char* key, int last) {
  if (!key) return kBadArgument;
  return Frame()
      .byte(sector)
      .le32(serialBits(serial))
      .bytes(key, kKeyLen)
      .byte(last)
      .exchange(s, kWriteKey);
}

int readValue(LinkState& s, int block, int serial, int* value) {
  if (!value) return kBadArgument;
  int st = Frame().byte(block).le32(serialBits(serial)).exchange(s, kReadValue);
  copyValueOut(s, value);
  return st;
}

int loadKey(LinkState& s, int mode, int sector, const unsigned char* key) {
  if (!key) return kBadArgument;
  return Frame().byte(mode).byte(sector).bytes(key, kKeyLen).exchange(s, kLoadKey);
}

int request(LinkState& s, int mode, unsigned char* type) {
  if (!type) return kBadArgument;
  int st = Frame().byte(mode).exchange(s, kRequest);
  copyTwoOfFour(s, type);
  return st;
}

int selectCard(LinkState& s, int serial) {
  return Frame().le32(serialBits(serial)).exchange(s, kSelect);
}

int authentication(LinkState& s, int keyType, int sector, int block) {
  return Frame().byte(keyType).byte(sector).byte(block).exchange(s, kAuthentication);
}

int readSelected(LinkState& s, int block, unsigned char* data) {
  if (!data) return kBadArgument;
  int st = Frame().byte(block).exchange(s, kRead);
  copyOut(s, data, kBlockLen);
  return st;
}

int writeSelected(LinkState& s, int block, const unsigned char* data) {
  if (!data) return kBadArgument;
  return Frame().byte(block).bytes(data, kBlockLen).exchange(s, kWrite);
}

int halt(LinkState& s) { return Frame().exchange(s, kHalt); }

int keyRoom(const unsigned char* key, size_t size) {
  return room(true, inFits(key, size, kKeyLen));
}
int outRoom(const void* p, size_t size, size_t need) { return room(outFits(p, size, need)); }

// The numbers a reader call takes whole (the flat exports send their low
// byte): blocks 0 … 255, the reader's key memory's sectors 0 … 15, and the
// sectors of the largest card (a 4K card's 40). A number out of range gives
// 4 before the buffers are looked at; nothing is sent.
constexpr int kLastBlock = 255, kLastKeySector = 15, kLastCardSector = 39;
int inRange(int v, int last, int then = 0) { return v < 0 || v > last ? kBadArgument : then; }

}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL RFMifare_Mcmno(unsigned char* info) {
  return flat<fourOut<kMcmno, true>>(info);
}
ORVIX32_API int ORVIX32_CALL RFMifare_TransKey(int sector, const unsigned char* key) {
  return flat<transKey>(sector, key);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Authmode(int mode) { return flat<authmode>(mode); }
ORVIX32_API int ORVIX32_CALL RFMifare_GetType(unsigned char* type) {
  return flat<fourOut<kGetType, true>>(type);
}
ORVIX32_API int ORVIX32_CALL RFMifare_GetSnr(unsigned char* serial) {
  return flat<fourOut<kGetSnr, false>>(serial);
}
ORVIX32_API int ORVIX32_CALL RFMifare_ReadBlock(int block, int serial, unsigned char* data) {
  return flat<readBlock>(block, serial, data);
}
ORVIX32_API int ORVIX32_CALL RFMifare_WriteBlock(int block, int serial, unsigned char* data) {
  return flat<writeBlock>(block, serial, data);
}
ORVIX32_API int ORVIX32_CALL RFMifare_WriteKey(int sector, int serial, const unsigned char* key,
                                               int last) {
  return flat<writeKey>(sector, serial, key, last);
}
ORVIX32_API int ORVIX32_CALL RFMifare_ReadValue(int block, int serial, int* value) {
  return flat<readValue>(block, serial, value);
}
ORVIX32_API int ORVIX32_CALL RFMifare_WriteValue(int block, int serial, int* value) {
  return flat<valueCommand<kWriteValue>>(block, serial, value);
}
ORVIX32_API int ORVIX32_CALL RFMifare_IncrementValue(int block, int serial, int* value) {
  return flat<valueCommand<kIncrementValue>>(block, serial, value);
}
ORVIX32_API int ORVIX32_CALL RFMifare_DecrementValue(int block, int serial, int* value) {
  return flat<valueCommand<kDecrementValue>>(block, serial, value);
}
ORVIX32_API int ORVIX32_CALL RFMifare_LoadKey(int mode, int sector, const unsigned char* key) {
  return flat<loadKey>(mode, sector, key);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Request(int mode, unsigned char* type) {
  return flat<request>(mode, type);
}
ORVIX32_API int ORVIX32_CALL RFMifare_AntiColl(unsigned char* serial) {
  return flat<fourOut<kAntiColl, false>>(serial);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Select(int serial) { return flat<selectCard>(serial); }
ORVIX32_API int ORVIX32_CALL RFMifare_Authentication(int keyType, int sector, int block) {
  return flat<authentication>(keyType, sector, block);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Read(int block, unsigned char* data) {
  return flat<readSelected>(block, data);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Write(int block, const unsigned char* data) {
  return flat<writeSelected>(block, data);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Increment(int block, int value) {
  return flat<stepCommand<kIncrement>>(block, value);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Decrment(int block, int value) {
  return flat<stepCommand<kDecrement>>(block, value);
}
ORVIX32_API int ORVIX32_CALL RFMifare_Halt(void) { return flat<halt>(); }

// ---- The same commands on a reader ------------------------------------------

ORVIX32_API int ORVIX32_CALL orvix_mifare_module(orvix_reader* r, unsigned char* info,
                                                 size_t info_size) {
  return handle<fourOut<kMcmno, true>>(r, outRoom(info, info_size, 4), info);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_trans_key(orvix_reader* r, int sector,
                                                    const unsigned char* key, size_t key_size) {
  return handle<transKey>(r, inRange(sector, kLastKeySector, keyRoom(key, key_size)), sector, key);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_auth_mode(orvix_reader* r, int mode) {
  return handle<authmode>(r, 0, mode);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_get_type(orvix_reader* r, unsigned char* type,
                                                   size_t type_size) {
  return handle<fourOut<kGetType, true>>(r, outRoom(type, type_size, 4), type);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_get_serial(orvix_reader* r, unsigned char* serial,
                                                     size_t serial_size) {
  return handle<fourOut<kGetSnr, false>>(r, outRoom(serial, serial_size, 4), serial);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_read_block(orvix_reader* r, int block, int serial,
                                                     unsigned char* data, size_t data_size) {
  return handle<readBlock>(r, inRange(block, kLastBlock, outRoom(data, data_size, kBlockLen)), block,
                           serial, data);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_write_block(orvix_reader* r, int block, int serial,
                                                      unsigned char* data, size_t data_size) {
  return handle<writeBlock>(r, inRange(block, kLastBlock, room(true, inFits(data, data_size, kBlockLen))),
                            block, serial, data);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_write_key(orvix_reader* r, int sector, int serial,
                                                    const unsigned char* key, size_t key_size,
                                                    int last) {
  return handle<writeKey>(r, inRange(sector, kLastCardSector, keyRoom(key, key_size)), sector, serial,
                          key, last);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_read_value(orvix_reader* r, int block, int serial,
                                                     int* value) {
  return handle<readValue>(r, inRange(block, kLastBlock), block, serial, value);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_write_value(orvix_reader* r, int block, int serial,
                                                      int* value) {
  return handle<valueCommand<kWriteValue>>(r, inRange(block, kLastBlock), block, serial, value);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_increment_value(orvix_reader* r, int block, int serial,
                                                          int* value) {
  return handle<valueCommand<kIncrementValue>>(r, inRange(block, kLastBlock), block, serial, value);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_decrement_value(orvix_reader* r, int block, int serial,
                                                          int* value) {
  return handle<valueCommand<kDecrementValue>>(r, inRange(block, kLastBlock), block, serial, value);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_load_key(orvix_reader* r, int mode, int sector,
                                                   const unsigned char* key, size_t key_size) {
  return handle<loadKey>(r, inRange(sector, kLastKeySector, keyRoom(key, key_size)), mode, sector,
                         key);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_request(orvix_reader* r, int mode, unsigned char* type,
                                                  size_t type_size) {
  return handle<request>(r, outRoom(type, type_size, 4), mode, type);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_anticoll(orvix_reader* r, unsigned char* serial,
                                                   size_t serial_size) {
  return handle<fourOut<kAntiColl, false>>(r, outRoom(serial, serial_size, 4), serial);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_select(orvix_reader* r, int serial) {
  return handle<selectCard>(r, 0, serial);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_authenticate(orvix_reader* r, int key_type, int sector,
                                                       int block) {
  return handle<authentication>(
      r, inRange(sector, kLastKeySector, inRange(block, kLastBlock)), key_type, sector, block);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_read(orvix_reader* r, int block, unsigned char* data,
                                               size_t data_size) {
  return handle<readSelected>(r, inRange(block, kLastBlock, outRoom(data, data_size, kBlockLen)),
                              block, data);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_write(orvix_reader* r, int block,
                                                const unsigned char* data, size_t data_size) {
  return handle<writeSelected>(
      r, inRange(block, kLastBlock, room(true, inFits(data, data_size, kBlockLen))), block, data);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_increment(orvix_reader* r, int block, int value) {
  return handle<stepCommand<kIncrement>>(r, inRange(block, kLastBlock), block, value);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_decrement(orvix_reader* r, int block, int value) {
  return handle<stepCommand<kDecrement>>(r, inRange(block, kLastBlock), block, value);
}
ORVIX32_API int ORVIX32_CALL orvix_mifare_halt(orvix_reader* r) { return handle<halt>(r, 0); }

}  // extern "C"
