// Contact memory cards: power, card type, identity check, security codes,
// byte-addressed read/write/erase in pieces of 64, fuse, keys and standby.
#include <algorithm>
#include <array>
#include <cstdint>

#include "contact/contact_common.h"
#include "orvix32.h"

using namespace orvix;
using namespace orvix::contact;

using orvix::LinkState;

static int impl_PowerOn(LinkState& s);
static int impl_PowerOff(LinkState& s);
static int impl_SelectCard(LinkState& s, int type);
static int impl_VerifyIC(LinkState& s);
static int impl_Inquire(LinkState& s, int* type, int* second, int* power);
static int impl_CheckSecret(LinkState& s, int length, unsigned char* code);
static int impl_ReadSecret(LinkState& s, unsigned char* counter, unsigned char* code);
static int impl_ModifySecret(LinkState& s, int length, unsigned char* code);
static int impl_ReadCard(LinkState& s, int area, int page, int address, int length,
                         unsigned char* buffer);
static int impl_WriteCard(LinkState& s, int area, int page, int address, int length,
                          unsigned char* buffer);
static int impl_EraseCard(LinkState& s, int area, int page, int address, int length,
                          unsigned char* buffer);
static int impl_Fuse(LinkState& s, int value);
static int impl_CheckEraseSecret(LinkState& s, int selector, unsigned char* key);
static int impl_CheckZoneSecret(LinkState& s, int zone, unsigned char* code);
static int impl_SetZoneRWBit(LinkState& s, int zone, int bits);
static int impl_SetStandby(LinkState& s);

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
int readPieces(LinkState& s, std::uint8_t area, int position, int length, std::uint8_t* buffer) {
  std::size_t out = 0;
  for (;;) {
    const int count = std::min(length, kPiece);
    const std::uint8_t data[4] = {area, static_cast<std::uint8_t>(position >> 8), lowByte(position),
                                  static_cast<std::uint8_t>(count)};
    const std::uint8_t status = exchange(s, kCmdRead, data, sizeof data);
    if (status != 0) return status;
    out += copyReply(s, buffer + out, static_cast<std::size_t>(count));
    length -= count;
    if (length == 0) return 0;
    position += kPiece;
  }
}

// Write pieces of at most 64 bytes (command 0x15, or 0x1A for the erase
// command); each piece's reply is copied back over that piece's bytes.
int writePieces(LinkState& s, std::uint8_t cmd, std::uint8_t area, int position, int length,
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
    const std::uint8_t status = exchange(s, cmd, data.data(), static_cast<std::size_t>(count) + 4);
    if (status != 0) return status;
    copyReply(s, piece, static_cast<std::size_t>(count));
    length -= count;
    if (length == 0) return 0;
    position += kPiece;
  }
}

// Reads `count` bytes of the card memory (area 18) into tmp.
int readMemory(LinkState& s, int address, int count, std::uint8_t* tmp) {
  return impl_ReadCard(s, kMemoryArea, 0, address, count, tmp);
}

// Two-byte forms copy the reply whatever the reader's status; after a link
// error there is no reply of this exchange, and the buffer is left alone.
void copyUnlessLinkError(const LinkState& s, std::uint8_t status, std::uint8_t* dst,
                         std::size_t room) {
  if (!isLinkError(status)) copyReply(s, dst, room);
}

}  // namespace

static int impl_PowerOn(LinkState& s) { return exchange(s, kCmdPowerOn, nullptr, 0); }

static int impl_PowerOff(LinkState& s) { return exchange(s, kCmdPowerOff, nullptr, 0); }

static int impl_SelectCard(LinkState& s, int type) {
  const std::uint8_t data[1] = {lowByte(type)};
  const std::uint8_t status = exchange(s, kCmdSelectCard, data, 1);
  if (status == 0) s.Contact.SelectedCardType = type;
  return status;
}

static int impl_VerifyIC(LinkState& s) {
  const CardBehaviour& b = behaviourOf(selectedType(s));
  std::uint8_t tmp[2] = {0, 0};
  switch (b.identity) {
    case IdentityCheck::Skipped:
      return 0;
    case IdentityCheck::Fails:
      return kNotSelectedType;
    case IdentityCheck::Address0: {
      for (int i = 0; i < 2; ++i)
        if (const int st = readMemory(s, 0, 2, tmp); st != 0) return st;
      const bool pass = (tmp[0] == 0xB7 || tmp[0] == 0x37) && tmp[1] == 0xA0;
      return pass ? 0 : kNotSelectedType;
    }
    case IdentityCheck::Address6: {
      if (const int st = readMemory(s, 6, 2, tmp); st != 0) return st;
      const bool pass = tmp[0] == 0x81 && tmp[1] == b.identityByte;
      return pass ? 0 : kNotSelectedType;
    }
  }
  return kNotSelectedType;
}

static int impl_Inquire(LinkState& s, int* type, int* second, int* power) {
  if (!type || !second || !power) return kBadArgument;
  const std::uint8_t status = exchange(s, kCmdInquire, nullptr, 0);
  if (status == 0) {
    const auto& r = s.RecvData;
    *type = r[0];
    *second = r[1];
    *power = r[2];
    s.Contact.SelectedCardType = r[0];
  }
  return status;
}

static int impl_CheckSecret(LinkState& s, int length, unsigned char* code) {
  if (!code) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType(s));
  switch (b.check) {
    case SecretCheck::CheckRefused:
      return kNotAvailable;
    case SecretCheck::TwoByte: {
      if (length != 2) return kNotAvailable;
      const std::uint8_t status = exchange(s, kCmdCheckSecret, code, 2);
      copyUnlessLinkError(s, status, code, 2);
      return status;
    }
    case SecretCheck::General:
    case SecretCheck::Reordered:
      break;
  }
  if (length < 0 || length > 255) return kBadArgument;
  const std::uint8_t status = exchange(s, kCmdCheckSecret, code, static_cast<std::size_t>(length));
  if (status != 0) return status;
  if (b.check == SecretCheck::Reordered) {
    // The reply holds the counter first, then the code: the code goes first.
    // These four positions are written whatever length was sent, so a 2-byte
    // code still gets its counter back.
    const auto& r = s.RecvData;
    code[0] = r[2];
    code[1] = r[3];
    code[2] = r[0];
    code[3] = r[1];
  } else {
    copyReply(s, code, static_cast<std::size_t>(length));
  }
  return status;
}

static int impl_ReadSecret(LinkState& s, unsigned char* counter, unsigned char* code) {
  if (!counter || !code) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType(s));
  switch (b.readSecret) {
    case SecretAccess::InMemory: {
      std::uint8_t tmp[6] = {};
      if (const int st = readMemory(s, b.codeAddress, b.secretReadCount, tmp); st != 0) return st;
      code[0] = tmp[0];
      code[1] = tmp[1];
      counter[0] = tmp[2];
      counter[1] = tmp[3];
      return 0;
    }
    case SecretAccess::SecurityArea:
    case SecretAccess::SecurityArea2: {
      const std::uint8_t data[1] = {kSecurityArea};
      const std::uint8_t status = exchange(s, kCmdRead, data, 1);
      if (status != 0) return status;
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

static int impl_ModifySecret(LinkState& s, int length, unsigned char* code) {
  if (!code) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType(s));
  switch (b.modifySecret) {
    case SecretAccess::InMemory: {
      // Erase the two code bytes, write the new code, read the counter back.
      // The four positions of code are fixed: length plays no part here.
      const std::uint8_t c = b.codeAddress;
      const std::uint8_t erase[6] = {kMemoryArea, 0, c, 2, 0xFF, 0xFF};
      const std::uint8_t status = exchange(s, kCmdErase, erase, sizeof erase);
      if (status != 0) return status;
      for (int i = 0; i < s.RecvLen; ++i)
        if (s.RecvData[i] != 0xFF) return kNotAvailable;
      std::uint8_t tmp[2] = {code[0], code[1]};
      if (const int st = impl_WriteCard(s, kMemoryArea, 0, c, 2, tmp); st != 0) return st;
      code[2] = tmp[0];
      code[3] = tmp[1];
      if (const int st = readMemory(s, c + 2, 2, tmp); st != 0) return st;
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
          exchange(s, kCmdWrite, data.data(), static_cast<std::size_t>(length) + 1);
      if (status == 0) copyReply(s, code, static_cast<std::size_t>(length));
      return status;
    }
    case SecretAccess::SecurityArea2: {
      if (length != 2) return kNotAvailable;
      const std::uint8_t data[3] = {kSecurityArea, code[0], code[1]};
      const std::uint8_t status = exchange(s, kCmdWrite, data, sizeof data);
      if (status == 0) copyReply(s, code, 2);
      return status;
    }
    case SecretAccess::AccessRefused:
      break;
  }
  return kNotAvailable;
}

static int impl_ReadCard(LinkState& s, int area, int page, int address, int length,
                         unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  int position = 0;
  if (!validRun(page, address, length, position)) return kBadArgument;
  return readPieces(s, lowByte(area), position, length, buffer);
}

static int impl_WriteCard(LinkState& s, int area, int page, int address, int length,
                          unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  int position = 0;
  if (!validRun(page, address, length, position)) return kBadArgument;
  return writePieces(s, kCmdWrite, lowByte(area), position, length, buffer);
}

static int impl_EraseCard(LinkState& s, int area, int page, int address, int length,
                          unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  int position = 0;
  if (!validRun(page, address, length, position)) return kBadArgument;
  std::fill_n(buffer, length, 0xFF);
  if (behaviourOf(selectedType(s)).eraseCommand)
    return writePieces(s, kCmdErase, kMemoryArea, position, length, buffer);
  return writePieces(s, kCmdWrite, lowByte(area), position, length, buffer);
}

static int impl_Fuse(LinkState& s, int value) {
  const std::uint8_t data[1] = {lowByte(value)};
  return exchange(s, kCmdFuse, data, 1);
}

static int impl_CheckEraseSecret(LinkState& s, int selector, unsigned char* key) {
  if (!key) return kBadArgument;
  const CardBehaviour& b = behaviourOf(selectedType(s));
  std::size_t keyBytes = 0;
  switch (b.eraseKey) {
    case EraseKeyForm::KeyRefused:
      return kNotAvailable;
    case EraseKeyForm::TwoByteKey: {
      const std::uint8_t data[3] = {lowByte(selector), key[0], key[1]};
      const std::uint8_t status = exchange(s, kCmdEraseSecret, data, sizeof data);
      copyUnlessLinkError(s, status, key, 2);
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
  const std::uint8_t status = exchange(s, kCmdEraseSecret, data, keyBytes + 1);
  if (status == 0) copyReply(s, key, keyBytes);
  return status;
}

static int impl_CheckZoneSecret(LinkState& s, int zone, unsigned char* code) {
  if (!code) return kBadArgument;
  if (!behaviourOf(selectedType(s)).zoneKeys) return kNotAvailable;
  const std::uint8_t data[3] = {lowByte(zone), code[0], code[1]};
  const std::uint8_t status = exchange(s, kCmdZoneSecret, data, sizeof data);
  copyUnlessLinkError(s, status, code, 2);
  return status;
}

static int impl_SetZoneRWBit(LinkState& s, int zone, int bits) {
  const std::uint8_t data[2] = {lowByte(zone), lowByte(bits)};
  return exchange(s, kCmdZoneBits, data, sizeof data);
}

static int impl_SetStandby(LinkState& s) { return exchange(s, kCmdStandby, nullptr, 0); }

extern "C" {

ORVIX32_API int ORVIX32_CALL PowerOn(void) { return flat<impl_PowerOn>(); }

ORVIX32_API int ORVIX32_CALL PowerOff(void) { return flat<impl_PowerOff>(); }

ORVIX32_API int ORVIX32_CALL SelectCard(int type) { return flat<impl_SelectCard>(type); }

ORVIX32_API int ORVIX32_CALL VerifyIC(void) { return flat<impl_VerifyIC>(); }

ORVIX32_API int ORVIX32_CALL Inquire(int* type, int* second, int* power) {
  return flat<impl_Inquire>(type, second, power);
}

ORVIX32_API int ORVIX32_CALL CheckSecret(int length, unsigned char* code) {
  return flat<impl_CheckSecret>(length, code);
}

ORVIX32_API int ORVIX32_CALL ReadSecret(unsigned char* counter, unsigned char* code) {
  return flat<impl_ReadSecret>(counter, code);
}

ORVIX32_API int ORVIX32_CALL ModifySecret(int length, unsigned char* code) {
  return flat<impl_ModifySecret>(length, code);
}

ORVIX32_API int ORVIX32_CALL ReadCard(int area, int page, int address, int length,
                                      unsigned char* buffer) {
  return flat<impl_ReadCard>(area, page, address, length, buffer);
}

ORVIX32_API int ORVIX32_CALL WriteCard(int area, int page, int address, int length,
                                       unsigned char* buffer) {
  return flat<impl_WriteCard>(area, page, address, length, buffer);
}

ORVIX32_API int ORVIX32_CALL EraseCard(int area, int page, int address, int length,
                                       unsigned char* buffer) {
  return flat<impl_EraseCard>(area, page, address, length, buffer);
}

ORVIX32_API int ORVIX32_CALL Fuse(int value) { return flat<impl_Fuse>(value); }

ORVIX32_API int ORVIX32_CALL CheckEraseSecret(int selector, unsigned char* key) {
  return flat<impl_CheckEraseSecret>(selector, key);
}

ORVIX32_API int ORVIX32_CALL CheckZoneSecret(int zone, unsigned char* code) {
  return flat<impl_CheckZoneSecret>(zone, code);
}

ORVIX32_API int ORVIX32_CALL SetZoneRWBit(int zone, int bits) {
  return flat<impl_SetZoneRWBit>(zone, bits);
}

ORVIX32_API int ORVIX32_CALL SetStandby(void) { return flat<impl_SetStandby>(); }

}  // extern "C"

// ---- The same commands on a reader ------------------------------------------
// Code and key buffers must hold what the selected type reads and writes,
// which only the reader's own state tells: they are checked under its lock.

namespace {

std::size_t positive(int length) { return length > 0 ? static_cast<std::size_t>(length) : 0; }

int checkSecretSized(LinkState& s, int length, unsigned char* code, std::size_t size) {
  const SecretCheck form = behaviourOf(selectedType(s)).check;
  const std::size_t need = form == SecretCheck::Reordered
                               ? std::max<std::size_t>(4, positive(length))
                           : form == SecretCheck::TwoByte ? 2
                           : form == SecretCheck::General ? positive(length)
                                                          : 0;
  if (!outFits(code, size, need)) return ORVIX_BUFFER_TOO_SMALL;
  return impl_CheckSecret(s, length, code);
}

int modifySecretSized(LinkState& s, int length, unsigned char* code, std::size_t size) {
  const SecretAccess form = behaviourOf(selectedType(s)).modifySecret;
  const std::size_t need = form == SecretAccess::InMemory        ? 4
                           : form == SecretAccess::SecurityArea  ? positive(length)
                           : form == SecretAccess::SecurityArea2 ? 2
                                                                 : 0;
  if (!outFits(code, size, need)) return ORVIX_BUFFER_TOO_SMALL;
  return impl_ModifySecret(s, length, code);
}

int eraseSecretSized(LinkState& s, int selector, unsigned char* key, std::size_t size) {
  std::size_t need = 0;
  switch (behaviourOf(selectedType(s)).eraseKey) {
    case EraseKeyForm::FourByte:
      need = 4;
      break;
    case EraseKeyForm::BySelector:
      need = selector == 4 ? 6 : selector == 5 ? 4 : 0;
      break;
    case EraseKeyForm::TwoByteKey:
      need = 2;
      break;
    case EraseKeyForm::KeyRefused:
      break;
  }
  if (!outFits(key, size, need)) return ORVIX_BUFFER_TOO_SMALL;
  return impl_CheckEraseSecret(s, selector, key);
}

int runRoom(const unsigned char* buffer, std::size_t size, int length) {
  return room(outFits(buffer, size, positive(length)));
}

}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL orvix_power_on(orvix_reader* r) { return handle<impl_PowerOn>(r, 0); }
ORVIX32_API int ORVIX32_CALL orvix_power_off(orvix_reader* r) {
  return handle<impl_PowerOff>(r, 0);
}
ORVIX32_API int ORVIX32_CALL orvix_select_card(orvix_reader* r, int type) {
  return handle<impl_SelectCard>(r, 0, type);
}
ORVIX32_API int ORVIX32_CALL orvix_verify_ic(orvix_reader* r) {
  return handle<impl_VerifyIC>(r, 0);
}
ORVIX32_API int ORVIX32_CALL orvix_inquire(orvix_reader* r, int* type, int* second, int* power) {
  return handle<impl_Inquire>(r, 0, type, second, power);
}
ORVIX32_API int ORVIX32_CALL orvix_check_secret(orvix_reader* r, int length, unsigned char* code,
                                                size_t code_size) {
  return handle<checkSecretSized>(r, 0, length, code, code_size);
}
ORVIX32_API int ORVIX32_CALL orvix_read_secret(orvix_reader* r, unsigned char* counter,
                                               size_t counter_size, unsigned char* code,
                                               size_t code_size) {
  return handle<impl_ReadSecret>(
      r, room(outFits(counter, counter_size, 2) && outFits(code, code_size, kReadSecretCodeBytes)),
      counter, code);
}
ORVIX32_API int ORVIX32_CALL orvix_modify_secret(orvix_reader* r, int length, unsigned char* code,
                                                 size_t code_size) {
  return handle<modifySecretSized>(r, 0, length, code, code_size);
}
ORVIX32_API int ORVIX32_CALL orvix_read_card(orvix_reader* r, int area, int page, int address,
                                             int length, unsigned char* buffer,
                                             size_t buffer_size) {
  return handle<impl_ReadCard>(r, runRoom(buffer, buffer_size, length), area, page, address, length,
                               buffer);
}
ORVIX32_API int ORVIX32_CALL orvix_write_card(orvix_reader* r, int area, int page, int address,
                                              int length, unsigned char* buffer,
                                              size_t buffer_size) {
  return handle<impl_WriteCard>(r, runRoom(buffer, buffer_size, length), area, page, address,
                                length, buffer);
}
ORVIX32_API int ORVIX32_CALL orvix_erase_card(orvix_reader* r, int area, int page, int address,
                                              int length, unsigned char* buffer,
                                              size_t buffer_size) {
  return handle<impl_EraseCard>(r, runRoom(buffer, buffer_size, length), area, page, address,
                                length, buffer);
}
ORVIX32_API int ORVIX32_CALL orvix_fuse(orvix_reader* r, int value) {
  return handle<impl_Fuse>(r, 0, value);
}
ORVIX32_API int ORVIX32_CALL orvix_check_erase_secret(orvix_reader* r, int selector,
                                                      unsigned char* key, size_t key_size) {
  return handle<eraseSecretSized>(r, 0, selector, key, key_size);
}
ORVIX32_API int ORVIX32_CALL orvix_check_zone_secret(orvix_reader* r, int zone, unsigned char* code,
                                                     size_t code_size) {
  return handle<impl_CheckZoneSecret>(r, room(outFits(code, code_size, 2)), zone, code);
}
ORVIX32_API int ORVIX32_CALL orvix_set_zone_rw_bit(orvix_reader* r, int zone, int bits) {
  return handle<impl_SetZoneRWBit>(r, 0, zone, bits);
}
ORVIX32_API int ORVIX32_CALL orvix_set_standby(orvix_reader* r) {
  return handle<impl_SetStandby>(r, 0);
}

}  // extern "C"
