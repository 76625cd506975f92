// Contact memory cards: power, card type, identity check, security codes,
// byte-addressed read/write/erase in pieces of 64, fuse, keys and standby.
#include <algorithm>
#include <array>
#include <cstdint>

#include "contact/contact_common.h"
#include "orvix32.h"

using namespace orvix;
using namespace orvix::contact;

namespace {

constexpr std::uint8_t kCmdPowerOn = 0x02;
constexpr std::uint8_t kCmdPowerOff = 0x03;
constexpr std::uint8_t kCmdSelectCard = 0x0A;
constexpr std::uint8_t kCmdCheckSecret = 0x0C;
constexpr std::uint8_t kCmdInquire = 0x0D;
constexpr std::uint8_t kCmdFuse = 0x0E;
constexpr std::uint8_t kCmdRead = 0x14;
constexpr std::uint8_t kCmdWrite = 0x15;
constexpr std::uint8_t kCmdZoneSecret = 0x18;
constexpr std::uint8_t kCmdEraseSecret = 0x19;
constexpr std::uint8_t kCmdErase = 0x1A;
constexpr std::uint8_t kCmdZoneBits = 0x1B;
constexpr std::uint8_t kCmdStandby = 0x1C;

constexpr std::uint8_t kMemoryArea = 18;
constexpr std::uint8_t kSecurityArea = 2;
constexpr int kPiece = 64;
// ReadSecret's code area: the most code bytes it ever stores.
constexpr std::size_t kReadSecretCodeBytes = 8;
constexpr std::int64_t kPositions = 65536;  // card positions are 16 bits on the wire

std::uint8_t lowByte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// Argument check shared by ReadCard, WriteCard and EraseCard: the run must
// start at a real position and every byte of it must be addressable in 16 bits.
bool validRun(int page, int address, int length, int& position) {
  if (page < 0 || address < 0 || length <= 0) return false;
  const std::int64_t start = std::int64_t{page} * 256 + address;
  if (start + length > kPositions) return false;
  position = static_cast<int>(start);
  return true;
}

// Read pieces of at most 64 bytes: the card position advances by 64 per
// piece, the output by what the reader returned (never more than asked).
int readPieces(std::uint8_t area, int position, int length, std::uint8_t* buffer) {
  std::size_t out = 0;
  for (;;) {
    const int count = std::min(length, kPiece);
    const std::uint8_t data[4] = {area, static_cast<std::uint8_t>(position >> 8), lowByte(position),
                                  static_cast<std::uint8_t>(count)};
    const std::uint8_t status = exchange(kCmdRead, data, sizeof data);
    if (status != 0) return status;
    out += copyReply(buffer + out, static_cast<std::size_t>(count));
    length -= count;
    if (length == 0) return 0;
    position += kPiece;
  }
}

// Write pieces of at most 64 bytes (command 0x15, or 0x1A for the erase
// command); each piece's reply is copied back over that piece's bytes.
int writePieces(std::uint8_t cmd, std::uint8_t area, int position, int length,
                std::uint8_t* buffer) {
  std::array<std::uint8_t, 4 + kPiece> data{};
  for (int k = 0;; ++k) {
    const int count = std::min(length, kPiece);
    std::uint8_t* piece = buffer + static_cast<std::size_t>(k) * kPiece;
    data[0] = area;
    data[1] = static_cast<std::uint8_t>(position >> 8);
    data[2] = lowByte(position);
    data[3] = static_cast<std::uint8_t>(count);
    std::copy_n(piece, count, data.begin() + 4);
    const std::uint8_t status = exchange(cmd, data.data(), static_cast<std::size_t>(count) + 4);
    if (status != 0) return status;
    copyReply(piece, static_cast<std::size_t>(count));
    length -= count;
    if (length == 0) return 0;
    position += kPiece;
  }
}

// Reads `count` bytes of the card memory (area 18) into tmp.
int readMemory(int address, int count, std::uint8_t* tmp) {
  return ReadCard(kMemoryArea, 0, address, count, tmp);
}

// Two-byte forms copy the reply whatever the reader's status; after a link
// error there is no reply of this exchange, and the buffer is left alone.
void copyUnlessLinkError(std::uint8_t status, std::uint8_t* dst, std::size_t room) {
  if (!isLinkError(status)) copyReply(dst, room);
}

}  // namespace

extern "C" ORVIX32_API int ORVIX32_CALL PowerOn(void) {
  const CallGuard guard;
  return exchange(kCmdPowerOn, nullptr, 0);
}

extern "C" ORVIX32_API int ORVIX32_CALL PowerOff(void) {
  const CallGuard guard;
  return exchange(kCmdPowerOff, nullptr, 0);
}

extern "C" ORVIX32_API int ORVIX32_CALL SelectCard(int type) {
  const CallGuard guard;
  const std::uint8_t data[1] = {lowByte(type)};
  const std::uint8_t status = exchange(kCmdSelectCard, data, 1);
  if (status == 0) link().Contact.SelectedCardType = type;
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL VerifyIC(void) {
  const CallGuard guard;
  const CardBehaviour& b = behaviourOf(selectedType());
  std::uint8_t tmp[2] = {0, 0};
  switch (b.identity) {
    case IdentityCheck::Skipped:
      return 0;
    case IdentityCheck::Fails:
      return kNotSelectedType;
    case IdentityCheck::Address0: {
      for (int i = 0; i < 2; ++i)
        if (const int st = readMemory(0, 2, tmp); st != 0) return st;
      const bool pass = (tmp[0] == 0xB7 || tmp[0] == 0x37) && tmp[1] == 0xA0;
      return pass ? 0 : kNotSelectedType;
    }
    case IdentityCheck::Address6: {
      if (const int st = readMemory(6, 2, tmp); st != 0) return st;
      const bool pass = tmp[0] == 0x81 && tmp[1] == b.identityByte;
      return pass ? 0 : kNotSelectedType;
    }
  }
  return kNotSelectedType;
}

extern "C" ORVIX32_API int ORVIX32_CALL Inquire(int* type, int* second, int* power) {
  const CallGuard guard;
  if (!type || !second || !power) return kBadArgument;
  const std::uint8_t status = exchange(kCmdInquire, nullptr, 0);
  if (status == 0) {
    const auto& r = link().RecvData;
    *type = r[0];
    *second = r[1];
    *power = r[2];
    link().Contact.SelectedCardType = r[0];
  }
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL CheckSecret(int length, unsigned char* code) {
  const CallGuard guard;
  if (!code) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType());
  switch (b.check) {
    case SecretCheck::CheckRefused:
      return kNotAvailable;
    case SecretCheck::TwoByte: {
      if (length != 2) return kNotAvailable;
      const std::uint8_t status = exchange(kCmdCheckSecret, code, 2);
      copyUnlessLinkError(status, code, 2);
      return status;
    }
    case SecretCheck::General:
    case SecretCheck::Reordered:
      break;
  }
  if (length < 0 || length > 255) return kBadArgument;
  const std::uint8_t status = exchange(kCmdCheckSecret, code, static_cast<std::size_t>(length));
  if (status != 0) return status;
  if (b.check == SecretCheck::Reordered) {
    // The reply holds the counter first, then the code: the code goes first.
    // These four positions are written whatever length was sent, so a 2-byte
    // code still gets its counter back.
    const auto& r = link().RecvData;
    code[0] = r[2];
    code[1] = r[3];
    code[2] = r[0];
    code[3] = r[1];
  } else {
    copyReply(code, static_cast<std::size_t>(length));
  }
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL ReadSecret(unsigned char* counter, unsigned char* code) {
  const CallGuard guard;
  if (!counter || !code) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType());
  switch (b.readSecret) {
    case SecretAccess::InMemory: {
      std::uint8_t tmp[6] = {};
      if (const int st = readMemory(b.codeAddress, b.secretReadCount, tmp); st != 0) return st;
      code[0] = tmp[0];
      code[1] = tmp[1];
      counter[0] = tmp[2];
      counter[1] = tmp[3];
      return 0;
    }
    case SecretAccess::SecurityArea:
    case SecretAccess::SecurityArea2: {
      const std::uint8_t data[1] = {kSecurityArea};
      const std::uint8_t status = exchange(kCmdRead, data, 1);
      if (status != 0) return status;
      const LinkState& s = link();
      counter[0] = s.RecvData[0];
      counter[1] = 0;
      if (s.RecvLen > 1) {
        const std::size_t n = std::min<std::size_t>(s.RecvLen - 1u, kReadSecretCodeBytes);
        std::copy_n(s.RecvData.begin() + 1, n, code);
      }
      return status;
    }
    case SecretAccess::AccessRefused:
      break;
  }
  return kNotAvailable;
}

extern "C" ORVIX32_API int ORVIX32_CALL ModifySecret(int length, unsigned char* code) {
  const CallGuard guard;
  if (!code) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType());
  switch (b.modifySecret) {
    case SecretAccess::InMemory: {
      // Erase the two code bytes, write the new code, read the counter back.
      // The four positions of code are fixed: length plays no part here.
      const std::uint8_t c = b.codeAddress;
      const std::uint8_t erase[6] = {kMemoryArea, 0, c, 2, 0xFF, 0xFF};
      const std::uint8_t status = exchange(kCmdErase, erase, sizeof erase);
      if (status != 0) return status;
      const LinkState& s = link();
      for (int i = 0; i < s.RecvLen; ++i)
        if (s.RecvData[i] != 0xFF) return kNotAvailable;
      std::uint8_t tmp[2] = {code[0], code[1]};
      if (const int st = WriteCard(kMemoryArea, 0, c, 2, tmp); st != 0) return st;
      code[2] = tmp[0];
      code[3] = tmp[1];
      if (const int st = readMemory(c + 2, 2, tmp); st != 0) return st;
      code[0] = tmp[0];
      code[1] = tmp[1];
      return 0;
    }
    case SecretAccess::SecurityArea: {
      if (length < 0 || length > 254) return kBadArgument;
      std::array<std::uint8_t, 255> data{};
      data[0] = kSecurityArea;
      std::copy_n(code, length, data.begin() + 1);
      const std::uint8_t status =
          exchange(kCmdWrite, data.data(), static_cast<std::size_t>(length) + 1);
      if (status == 0) copyReply(code, static_cast<std::size_t>(length));
      return status;
    }
    case SecretAccess::SecurityArea2: {
      if (length != 2) return kNotAvailable;
      const std::uint8_t data[3] = {kSecurityArea, code[0], code[1]};
      const std::uint8_t status = exchange(kCmdWrite, data, sizeof data);
      if (status == 0) copyReply(code, 2);
      return status;
    }
    case SecretAccess::AccessRefused:
      break;
  }
  return kNotAvailable;
}

extern "C" ORVIX32_API int ORVIX32_CALL ReadCard(int area, int page, int address, int length,
                                                 unsigned char* buffer) {
  const CallGuard guard;
  if (!buffer) return kBadArgument;
  int position = 0;
  if (!validRun(page, address, length, position)) return kBadArgument;
  return readPieces(lowByte(area), position, length, buffer);
}

extern "C" ORVIX32_API int ORVIX32_CALL WriteCard(int area, int page, int address, int length,
                                                  unsigned char* buffer) {
  const CallGuard guard;
  if (!buffer) return kBadArgument;
  int position = 0;
  if (!validRun(page, address, length, position)) return kBadArgument;
  return writePieces(kCmdWrite, lowByte(area), position, length, buffer);
}

extern "C" ORVIX32_API int ORVIX32_CALL EraseCard(int area, int page, int address, int length,
                                                  unsigned char* buffer) {
  const CallGuard guard;
  if (!buffer) return kBadArgument;
  int position = 0;
  if (!validRun(page, address, length, position)) return kBadArgument;
  std::fill_n(buffer, length, 0xFF);
  if (behaviourOf(selectedType()).eraseCommand)
    return writePieces(kCmdErase, kMemoryArea, position, length, buffer);
  return writePieces(kCmdWrite, lowByte(area), position, length, buffer);
}

extern "C" ORVIX32_API int ORVIX32_CALL Fuse(int value) {
  const CallGuard guard;
  const std::uint8_t data[1] = {lowByte(value)};
  return exchange(kCmdFuse, data, 1);
}

extern "C" ORVIX32_API int ORVIX32_CALL CheckEraseSecret(int selector, unsigned char* key) {
  const CallGuard guard;
  if (!key) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType());
  std::size_t keyBytes = 0;
  switch (b.eraseKey) {
    case EraseKeyForm::KeyRefused:
      return kNotAvailable;
    case EraseKeyForm::TwoByteKey: {
      const std::uint8_t data[3] = {lowByte(selector), key[0], key[1]};
      const std::uint8_t status = exchange(kCmdEraseSecret, data, sizeof data);
      copyUnlessLinkError(status, key, 2);
      return status;
    }
    case EraseKeyForm::FourByte:
      keyBytes = 4;
      break;
    case EraseKeyForm::BySelector:
      if (selector == 4)
        keyBytes = 6;
      else if (selector == 5)
        keyBytes = 4;
      else
        return kNotAvailable;
      break;
  }
  std::uint8_t data[7] = {lowByte(selector)};
  std::copy_n(key, keyBytes, data + 1);
  const std::uint8_t status = exchange(kCmdEraseSecret, data, keyBytes + 1);
  if (status == 0) copyReply(key, keyBytes);
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL CheckZoneSecret(int zone, unsigned char* code) {
  const CallGuard guard;
  if (!code) return kBadArgument;
  if (!behaviourOf(selectedType()).zoneKeys) return kNotAvailable;
  const std::uint8_t data[3] = {lowByte(zone), code[0], code[1]};
  const std::uint8_t status = exchange(kCmdZoneSecret, data, sizeof data);
  copyUnlessLinkError(status, code, 2);
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL SetZoneRWBit(int zone, int bits) {
  const CallGuard guard;
  const std::uint8_t data[2] = {lowByte(zone), lowByte(bits)};
  return exchange(kCmdZoneBits, data, sizeof data);
}

extern "C" ORVIX32_API int ORVIX32_CALL SetStandby(void) {
  const CallGuard guard;
  return exchange(kCmdStandby, nullptr, 0);
}
