// The RF5550 family: read, write and configure RF5550 contactless tags, wake
// them with their password, and ask the reader for its module number. Each
// export builds one command frame, runs one exchange and copies the reply out
// only when the reader answered status 0.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "link/reader.h"
#include "orvix32.h"

namespace orvix::rf5550 {
namespace {

constexpr std::uint8_t kReadBlock = 0x64;
constexpr std::uint8_t kWriteBlock = 0x65;
constexpr std::uint8_t kConfigure = 0x66;
constexpr std::uint8_t kWake = 0x67;
constexpr std::uint8_t kReadAfterWake = 0x68;
constexpr std::uint8_t kWriteAfterWake = 0x69;
constexpr std::uint8_t kModuleNumber = 0xA1;

// The data of a block write is 4 bytes, and so is the room the caller gives
// for the tag's answer over it.
constexpr std::size_t kBlockSize = 4;

// Block number on the wire: block 0 is written only when asked for as -1.
inline std::uint8_t blockByte(int block) {
  return block == -1 ? std::uint8_t{0} : static_cast<std::uint8_t>(block);
}

// The configuration byte from items 0, 3 and 9 of the caller's record.
std::uint8_t configurationByte(const std::int32_t* record) {
  const std::int32_t top = record[9];
  const unsigned topBits = (top >= 0 && top <= 7) ? static_cast<unsigned>(top) : 7u;
  unsigned value = (topBits << 5) | 0x07u;
  if (record[3] != 0) value |= 0x10u;
  if (record[0] != 0) value |= 0x08u;
  return static_cast<std::uint8_t>(value);
}

// Copies the reply (as many bytes as the reader sent, at most limit) to out.
void copyReply(const LinkState& s, unsigned char* out, std::size_t limit) {
  std::copy_n(s.RecvData.begin(), std::min<std::size_t>(s.RecvLen, limit), out);
}

template <std::uint8_t Cmd>
int writeBlock(LinkState& s, int block, const unsigned char* password, unsigned char* data,
               int option) {
  if (block == 0 || !password || !data) return kBadArgument;
  std::uint8_t frame[10];
  std::copy_n(password, 4, frame);
  frame[4] = blockByte(block);
  std::copy_n(data, 4, frame + 5);
  frame[9] = static_cast<std::uint8_t>(option);
  setCommand(s, Cmd, frame, sizeof frame);
  const std::uint8_t status = ExchangeFrame(s);
  // The caller's data field holds 4 bytes: a longer answer is cut there.
  if (status == 0) copyReply(s, data, kBlockSize);
  return status;
}

int readBlock(LinkState& s, std::uint8_t cmd, const std::uint8_t* frame, std::size_t len,
              unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  setCommand(s, cmd, frame, len);
  const std::uint8_t status = ExchangeFrame(s);
  if (status == 0) copyReply(s, buffer, s.RecvData.size());
  return status;
}

int readBlk(LinkState& s, int block, unsigned char* buffer) {
  const std::uint8_t frame[1] = {static_cast<std::uint8_t>(block)};
  return readBlock(s, kReadBlock, frame, 1, buffer);
}

int init(LinkState& s, const int* config, const unsigned char* password, int option) {
  if (!config || !password) return kBadArgument;
  std::uint8_t frame[6];
  std::copy_n(password, 4, frame);
  frame[4] = configurationByte(config);
  frame[5] = static_cast<std::uint8_t>(option);
  setCommand(s, kConfigure, frame, sizeof frame);
  return ExchangeFrame(s);
}

int wake(LinkState& s, const unsigned char* password) {
  if (!password) return kBadArgument;
  setCommand(s, kWake, password, 4);
  return ExchangeFrame(s);
}

int readAfterWake(LinkState& s, int block, const unsigned char* password, unsigned char* buffer) {
  if (!password) return kBadArgument;
  std::uint8_t frame[5];
  std::copy_n(password, 4, frame);
  frame[4] = static_cast<std::uint8_t>(block);
  return readBlock(s, kReadAfterWake, frame, sizeof frame, buffer);
}

int moduleNumber(LinkState& s, unsigned char* number) {
  if (!number) return kBadArgument;
  setCommand(s, kModuleNumber, nullptr, 0);
  const std::uint8_t status = ExchangeFrame(s);
  if (status == 0) {
    const auto& reply = s.RecvData;
    number[0] = reply[0];
    number[1] = reply[1];
    number[2] = 0;
    number[3] = 0;
  }
  return status;
}

// A read on a reader: the whole reply into the caller's buffer when it fits.
template <auto Read, class... Args>
int readSized(LinkState& s, unsigned char* buffer, std::size_t size, std::size_t* received,
              Args... args) {
  if (received) *received = 0;
  if (!buffer) return kBadArgument;
  unsigned char reply[255];
  const int status = Read(s, args..., reply);
  if (status != 0) return status;
  if (received) *received = s.RecvLen;
  if (s.RecvLen > size) return ORVIX_BUFFER_TOO_SMALL;
  std::memcpy(buffer, reply, s.RecvLen);
  return 0;
}

int passwordRoom(const unsigned char* password, std::size_t size) {
  return room(true, inFits(password, size, 4));
}

}  // namespace
}  // namespace orvix::rf5550

using namespace orvix;
using namespace orvix::rf5550;

extern "C" {

ORVIX32_API int ORVIX32_CALL RF5550_ReadBlk(int block, unsigned char* buffer) {
  return flat<readBlk>(block, buffer);
}
ORVIX32_API int ORVIX32_CALL RF5550_WriteBlk(int block, const unsigned char* password,
                                             unsigned char* data, int option) {
  return flat<writeBlock<kWriteBlock>>(block, password, data, option);
}
ORVIX32_API int ORVIX32_CALL RF5550_Init(const int* config, const unsigned char* password,
                                         int option) {
  return flat<init>(config, password, option);
}
ORVIX32_API int ORVIX32_CALL RF5550_Wake(const unsigned char* password) {
  return flat<wake>(password);
}
ORVIX32_API int ORVIX32_CALL RF5550_ReadAfterWake(int block, const unsigned char* password,
                                                  unsigned char* buffer) {
  return flat<readAfterWake>(block, password, buffer);
}
ORVIX32_API int ORVIX32_CALL RF5550_WriteAfterWake(int block, const unsigned char* password,
                                                   unsigned char* data, int option) {
  return flat<writeBlock<kWriteAfterWake>>(block, password, data, option);
}
ORVIX32_API int ORVIX32_CALL RF5550_Mcmno(unsigned char* number) {
  return flat<moduleNumber>(number);
}

// ---- The same commands on a reader ------------------------------------------

ORVIX32_API int ORVIX32_CALL orvix_rf5550_read_block(orvix_reader* r, int block,
                                                     unsigned char* buffer, size_t buffer_size,
                                                     size_t* received) {
  return handle<readSized<readBlk, int>>(r, 0, buffer, buffer_size, received, block);
}
ORVIX32_API int ORVIX32_CALL orvix_rf5550_write_block(orvix_reader* r, int block,
                                                      const unsigned char* password,
                                                      size_t password_size, unsigned char* data,
                                                      size_t data_size, int option) {
  const int error = passwordRoom(password, password_size);
  return handle<writeBlock<kWriteBlock>>(
      r, error ? error : room(true, inFits(data, data_size, kBlockSize)), block, password, data,
      option);
}
ORVIX32_API int ORVIX32_CALL orvix_rf5550_init(orvix_reader* r, const int* config,
                                               size_t config_count, const unsigned char* password,
                                               size_t password_size, int option) {
  const int error = passwordRoom(password, password_size);
  return handle<init>(r, error ? error : room(true, inFits(config, config_count, 10)), config,
                      password, option);
}
ORVIX32_API int ORVIX32_CALL orvix_rf5550_wake(orvix_reader* r, const unsigned char* password,
                                               size_t password_size) {
  return handle<wake>(r, passwordRoom(password, password_size), password);
}
ORVIX32_API int ORVIX32_CALL orvix_rf5550_read_after_wake(orvix_reader* r, int block,
                                                          const unsigned char* password,
                                                          size_t password_size,
                                                          unsigned char* buffer, size_t buffer_size,
                                                          size_t* received) {
  return handle<readSized<readAfterWake, int, const unsigned char*>>(
      r, passwordRoom(password, password_size), buffer, buffer_size, received, block, password);
}
ORVIX32_API int ORVIX32_CALL orvix_rf5550_write_after_wake(orvix_reader* r, int block,
                                                           const unsigned char* password,
                                                           size_t password_size,
                                                           unsigned char* data, size_t data_size,
                                                           int option) {
  const int error = passwordRoom(password, password_size);
  return handle<writeBlock<kWriteAfterWake>>(
      r, error ? error : room(true, inFits(data, data_size, kBlockSize)), block, password, data,
      option);
}
ORVIX32_API int ORVIX32_CALL orvix_rf5550_module(orvix_reader* r, unsigned char* number,
                                                 size_t number_size) {
  return handle<moduleNumber>(r, room(outFits(number, number_size, 4)), number);
}

}  // extern "C"
