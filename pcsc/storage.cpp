// The contactless field as PC/SC sees it: a storage card with a built ATR
// and the class FF storage-card commands.
//
//   FF CA 00 00 Le          get data: the serial (P1 01: the historical bytes)
//   FF 82 00 KN 06 key      load a key into key number KN (0 … 31, volatile)
//   FF 86 00 00 05 01 00 B KT KN   general authenticate block B, KT 60 key A /
//                                   61 key B (FF 88 00 B KT KN: the same)
//   FF B0 00 B 10           read binary: the 16 bytes of block B
//   FF D6 00 B 10 data      update binary: block B, through the trailer guard
// Status words: 9000; 6300 authentication refused; 6982 the block is not
// readable or writable now (not authenticated for its sector, or the
// sector's access conditions refuse it); 6985 a write the trailer guard
// refuses (block 0, a trailer whose access bits are not well formed);
// 6A81 a function not supported (a non-volatile key, an unknown version);
// 6B00 a wrong block, key number or parameter; 6700 a wrong length;
// 6D00 an unknown instruction; 6E00 a class other than FF.
extern "C" {
#include <ifdhandler.h>
}

#include <algorithm>
#include <cstring>

#include "ifd.h"
#include "orvix/ops/mifare_rules.h"

namespace orvix::ifd {

namespace {

constexpr std::uint16_t kClassic1k = 4;
constexpr std::uint16_t kClassic4k = 2;
constexpr std::uint8_t kKeyA = 0x60, kKeyB = 0x61;

Bytes sw(std::uint16_t w) {
  return {static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w & 0xFF)};
}

int blocksOf(std::uint16_t type) { return type == kClassic1k ? 64 : type == kClassic4k ? 256 : 0; }

int sectorOf(int block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }

// Wakes and selects the card the slot holds (after a refused authentication
// the card is idle again; after a halt it sleeps).
int activate(Link& link, Slot& s) {
  unsigned char type[4] = {};
  int st = orvix_mifare_request(link.reader, 1, type, sizeof type);
  if (st == 0) {
    int serial = 0;
    std::memcpy(&serial, s.uid.data(), 4);
    st = orvix_mifare_select(link.reader, serial);
  }
  return st;
}

// Finds a card in the field: request for all cards, then anticollision.
bool discover(Link& link, Slot& s) {
  unsigned char type[4] = {}, serial[4] = {};
  int st = orvix_mifare_request(link.reader, 1, type, sizeof type);
  if (st == 0) st = orvix_mifare_anticoll(link.reader, serial, sizeof serial);
  if (dropOnLinkError(link, st) || st != 0) return s.present = false;
  std::copy_n(serial, 4, s.uid.begin());
  s.type = static_cast<std::uint16_t>(type[0] | type[1] << 8);
  s.atr = storageAtr(s.type);
  return s.present = true;
}

Bytes authenticate(Link& link, Slot& s, int block, std::uint8_t keyType, std::uint8_t keyNumber) {
  if (block >= blocksOf(s.type)) return sw(0x6B00);
  if (keyType != kKeyA && keyType != kKeyB) return sw(0x6B00);
  if (keyNumber >= kKeySlots) return sw(0x6B00);
  if (!s.loaded[keyNumber]) return sw(0x6300);
  const int kt = keyType == kKeyA ? 0 : 1, sector = sectorOf(block);
  const auto& key = s.keys[keyNumber];
  int st = orvix_mifare_load_key(link.reader, kt * 4, sector, key.data(), key.size());
  if (st == 0) st = orvix_mifare_authenticate(link.reader, kt, sector, block);
  if (dropOnLinkError(link, st)) return {};
  if (st == 0) return sw(0x9000);
  if (dropOnLinkError(link, activate(link, s))) return {};
  return sw(0x6300);
}

// After a refused read or write: whether the card is still the one the
// slot holds (false: it left the field, and the command fails).
bool stillThere(Link& link, Slot& s) {
  unsigned char serial[4] = {};
  const int st = orvix_mifare_get_serial(link.reader, serial, sizeof serial);
  if (dropOnLinkError(link, st)) return false;
  s.present = st == 0 && std::equal(serial, serial + 4, s.uid.begin());
  s.powered = s.present;
  return s.present;
}

Bytes readBlock(Link& link, Slot& s, int block) {
  unsigned char data[16] = {};
  const int st = orvix_mifare_read(link.reader, block, data, sizeof data);
  if (dropOnLinkError(link, st)) return {};
  if (st != 0) return stillThere(link, s) ? sw(0x6982) : Bytes{};
  Bytes r(data, data + 16);
  r.push_back(0x90);
  r.push_back(0x00);
  return r;
}

Bytes writeBlock(Link& link, Slot& s, int block, const std::uint8_t* data) {
  orvix::ops::Block d{};
  std::copy_n(data, 16, d.begin());
  if (!orvix::ops::writeRefusal(block, d, false).empty()) return sw(0x6985);
  const int st = orvix_mifare_write(link.reader, block, d.data(), d.size());
  if (dropOnLinkError(link, st)) return {};
  if (st != 0) return stillThere(link, s) ? sw(0x6982) : Bytes{};
  return sw(0x9000);
}

}  // namespace

Bytes storageAtr(std::uint16_t type) {
  const std::uint8_t name = type == kClassic1k ? 0x01 : type == kClassic4k ? 0x02 : 0x00;
  Bytes atr{0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
            0x03, 0x06, 0x03, 0x00, name, 0x00, 0x00, 0x00, 0x00};
  std::uint8_t tck = 0;
  for (std::size_t i = 1; i < atr.size(); ++i) tck ^= atr[i];
  atr.push_back(tck);
  return atr;
}

// An empty answer means the link failed (the caller reports a communication
// error).
Bytes storageCommand(Link& link, const std::uint8_t* a, std::size_t n) {
  Slot& s = link.slots[static_cast<int>(Kind::Contactless)];
  if (n < 4) return sw(0x6700);
  if (a[0] != 0xFF) return sw(0x6E00);
  const std::uint8_t ins = a[1], p1 = a[2], p2 = a[3];
  const std::size_t lc = n > 5 ? a[4] : 0;
  if (n > 5 && n != 5 + lc) return sw(0x6700);
  const std::uint8_t* data = a + 5;
  switch (ins) {
    case 0xCA: {  // get data
      if (n != 5) return sw(0x6700);
      if (p2 != 0) return sw(0x6B00);
      Bytes r;
      if (p1 == 0x00)
        r.assign(s.uid.begin(), s.uid.end());
      else if (p1 == 0x01)
        r.assign(s.atr.begin() + 4, s.atr.end() - 1);
      else
        return sw(0x6A81);
      if (a[4] != 0 && a[4] < r.size()) return sw(0x6700);
      r.push_back(0x90);
      r.push_back(0x00);
      return r;
    }
    case 0x82:  // load keys
      if (p1 != 0x00) return sw(0x6A81);
      if (p2 >= kKeySlots) return sw(0x6B00);
      if (n != 11 || lc != 6) return sw(0x6700);
      std::copy_n(data, 6, s.keys[p2].begin());
      s.loaded.set(p2);
      return sw(0x9000);
    case 0x86:  // general authenticate
      if (p1 != 0 || p2 != 0) return sw(0x6B00);
      if (n != 10 || lc != 5) return sw(0x6700);
      if (data[0] != 0x01) return sw(0x6A81);
      return authenticate(link, s, data[1] << 8 | data[2], data[3], data[4]);
    case 0x88:  // authenticate (the older form)
      if (p1 != 0) return sw(0x6B00);
      if (n != 6 || lc != 0) return sw(0x6700);
      return authenticate(link, s, p2, a[4], a[5]);
    case 0xB0:  // read binary
      if (p1 != 0 || p2 >= blocksOf(s.type)) return sw(0x6B00);
      if (n != 5 || (a[4] != 0x10 && a[4] != 0x00)) return sw(0x6700);
      return readBlock(link, s, p2);
    case 0xD6:  // update binary
      if (p1 != 0 || p2 >= blocksOf(s.type)) return sw(0x6B00);
      if (lc != 16) return sw(0x6700);
      return writeBlock(link, s, p2, data);
    default:
      return sw(0x6D00);
  }
}

long fieldPower(Link& link, bool up, Bytes& atr) {
  Slot& s = link.slots[static_cast<int>(Kind::Contactless)];
  if (s.powered) {  // power down (and the first half of a reset): the card sleeps
    s.powered = false;
    s.loaded.reset();
    if (dropOnLinkError(link, orvix_mifare_halt(link.reader))) return IFD_COMMUNICATION_ERROR;
  }
  if (!up) return IFD_SUCCESS;
  if (!discover(link, s)) return link.reader ? IFD_ERROR_POWER_ACTION : IFD_COMMUNICATION_ERROR;
  const int st = activate(link, s);
  if (dropOnLinkError(link, st)) return IFD_COMMUNICATION_ERROR;
  if (st != 0) return IFD_ERROR_POWER_ACTION;
  s.powered = true;
  atr = s.atr;
  return IFD_SUCCESS;
}

// Unpowered, the field is searched for a card; powered, the reader is asked
// for the serial of the card it holds, which leaves its authentication as it
// is.
long fieldPresence(Link& link) {
  Slot& s = link.slots[static_cast<int>(Kind::Contactless)];
  if (!s.powered) return discover(link, s) ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
  unsigned char serial[4] = {};
  const int st = orvix_mifare_get_serial(link.reader, serial, sizeof serial);
  if (dropOnLinkError(link, st)) return IFD_ICC_NOT_PRESENT;
  s.present = st == 0 && std::equal(serial, serial + 4, s.uid.begin());
  s.powered = s.present;  // a card that left ends the session
  return s.present ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
}

long fieldTransmit(Link& link, const std::uint8_t* tx, std::size_t txLength, std::uint8_t* rx,
                   std::size_t& rxLength) {
  const std::size_t room = rxLength;
  rxLength = 0;
  if (!link.slots[static_cast<int>(Kind::Contactless)].powered) return IFD_ICC_NOT_PRESENT;
  const Bytes r = storageCommand(link, tx, txLength);
  if (r.empty()) return IFD_COMMUNICATION_ERROR;
  if (room < r.size()) return IFD_ERROR_INSUFFICIENT_BUFFER;
  std::copy(r.begin(), r.end(), rx);
  rxLength = r.size();
  return IFD_SUCCESS;
}

}  // namespace orvix::ifd
