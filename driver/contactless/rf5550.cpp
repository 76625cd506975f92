// The RF5550 family: read, write and configure RF5550 contactless tags, wake
// them with their password, and ask the reader for its module number. Each
// export builds one command frame, runs one exchange and copies the reply out
// only when the reader answered status 0.
#include <algorithm>
#include <cstdint>

#include "link/link_state.h"
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
void copyReply(unsigned char* out, std::size_t limit) {
  const LinkState& s = link();
  std::copy_n(s.RecvData.begin(), std::min<std::size_t>(s.RecvLen, limit), out);
}

int writeBlock(std::uint8_t cmd, int block, const unsigned char* password, unsigned char* data,
               int option) {
  if (block == 0 || !password || !data) return kBadArgument;
  std::uint8_t frame[10];
  std::copy_n(password, 4, frame);
  frame[4] = blockByte(block);
  std::copy_n(data, 4, frame + 5);
  frame[9] = static_cast<std::uint8_t>(option);
  setCommand(cmd, frame, sizeof frame);
  const std::uint8_t status = ExchangeFrame();
  // The caller's data field holds 4 bytes: a longer answer is cut there.
  if (status == 0) copyReply(data, kBlockSize);
  return status;
}

int readBlock(std::uint8_t cmd, const std::uint8_t* frame, std::size_t len, unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  setCommand(cmd, frame, len);
  const std::uint8_t status = ExchangeFrame();
  if (status == 0) copyReply(buffer, link().RecvData.size());
  return status;
}

}  // namespace
}  // namespace orvix::rf5550

using namespace orvix::rf5550;

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_ReadBlk(int block, unsigned char* buffer) {
  const orvix::CallGuard guard;
  const std::uint8_t frame[1] = {static_cast<std::uint8_t>(block)};
  return readBlock(kReadBlock, frame, 1, buffer);
}

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_WriteBlk(int block, const unsigned char* password,
                                                        unsigned char* data, int option) {
  const orvix::CallGuard guard;
  return writeBlock(kWriteBlock, block, password, data, option);
}

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_Init(const int* config,
                                                    const unsigned char* password, int option) {
  const orvix::CallGuard guard;
  if (!config || !password) return orvix::kBadArgument;
  std::uint8_t frame[6];
  std::copy_n(password, 4, frame);
  frame[4] = configurationByte(config);
  frame[5] = static_cast<std::uint8_t>(option);
  orvix::setCommand(kConfigure, frame, sizeof frame);
  return orvix::ExchangeFrame();
}

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_Wake(const unsigned char* password) {
  const orvix::CallGuard guard;
  if (!password) return orvix::kBadArgument;
  orvix::setCommand(kWake, password, 4);
  return orvix::ExchangeFrame();
}

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_ReadAfterWake(int block,
                                                             const unsigned char* password,
                                                             unsigned char* buffer) {
  const orvix::CallGuard guard;
  if (!password) return orvix::kBadArgument;
  std::uint8_t frame[5];
  std::copy_n(password, 4, frame);
  frame[4] = static_cast<std::uint8_t>(block);
  return readBlock(kReadAfterWake, frame, sizeof frame, buffer);
}

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_WriteAfterWake(int block,
                                                              const unsigned char* password,
                                                              unsigned char* data, int option) {
  const orvix::CallGuard guard;
  return writeBlock(kWriteAfterWake, block, password, data, option);
}

extern "C" ORVIX32_API int ORVIX32_CALL RF5550_Mcmno(unsigned char* number) {
  const orvix::CallGuard guard;
  if (!number) return orvix::kBadArgument;
  orvix::setCommand(kModuleNumber, nullptr, 0);
  const std::uint8_t status = orvix::ExchangeFrame();
  if (status == 0) {
    const auto& reply = orvix::link().RecvData;
    number[0] = reply[0];
    number[1] = reply[1];
    number[2] = 0;
    number[3] = 0;
  }
  return status;
}
