#include "mifare/classic_card.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/status.h"

namespace readersim::mifare {

namespace {

constexpr std::uint8_t kA = 1, kB = 2, kAB = 3;

// Data blocks, by condition C1C2C3: read, write, increment, decrement
// (decrement also stands for transfer and restore).
constexpr std::uint8_t kDataRights[8][4] = {
    {kAB, kAB, kAB, kAB},  // 000
    {kAB, 0, 0, kAB},      // 001
    {kAB, 0, 0, 0},        // 010
    {kB, kB, 0, 0},        // 011
    {kAB, kB, 0, 0},       // 100
    {kB, 0, 0, 0},         // 101
    {kAB, kB, kB, kAB},    // 110
    {0, 0, 0, 0},          // 111
};

// Trailer, by condition: key A write, access read, access write, key B read,
// key B write (key A is never readable).
enum { kKeyAWrite, kAccessRead, kAccessWrite, kKeyBRead, kKeyBWrite };
constexpr std::uint8_t kTrailerRights[8][5] = {
    {kA, kA, 0, kA, kA},   // 000
    {kA, kA, kA, kA, kA},  // 001
    {0, kA, 0, kA, 0},     // 010
    {kB, kAB, kB, 0, kB},  // 011
    {kB, kAB, 0, 0, kB},   // 100
    {0, kAB, kB, 0, 0},    // 101
    {0, kAB, 0, 0, 0},     // 110
    {0, kAB, 0, 0, 0},     // 111
};

constexpr std::uint8_t kMakerBytes[8] = {0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};
constexpr std::uint8_t kTransportTrailer[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07,
                                                0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

bool isTrailer(int block) { return block % 4 == 3; }
std::uint8_t keyBit(KeyType kt) { return kt == KeyType::A ? kA : kB; }

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

ClassicCard::ClassicCard(const Serial& serial) {
  for (int sector = 0; sector < 16; ++sector)
    std::memcpy(blockBytes(sector * 4 + 3), kTransportTrailer, 16);
  setSerial(serial);
  std::uint8_t* b0 = blockBytes(0);
  b0[5] = 0x08;  // SAK
  b0[6] = 0x04;  // ATQA
  b0[7] = 0x00;
  std::memcpy(b0 + 8, kMakerBytes, sizeof kMakerBytes);
}

ClassicCard::ClassicCard(const Image& image) : mem_(image) {}

Serial ClassicCard::serial() const {
  Serial s;
  std::copy_n(mem_.begin(), 4, s.begin());
  return s;
}

void ClassicCard::setSerial(const Serial& serial) {
  std::copy(serial.begin(), serial.end(), mem_.begin());
  mem_[4] = static_cast<std::uint8_t>(serial[0] ^ serial[1] ^ serial[2] ^ serial[3]);
}

std::optional<std::array<std::uint8_t, 4>> ClassicCard::decodeAccess(const std::uint8_t* b) {
  const unsigned notC1 = b[0] & 0x0Fu, notC2 = b[0] >> 4;
  const unsigned c1 = b[1] >> 4, notC3 = b[1] & 0x0Fu;
  const unsigned c3 = b[2] >> 4, c2 = b[2] & 0x0Fu;
  if ((c1 ^ notC1) != 0x0F || (c2 ^ notC2) != 0x0F || (c3 ^ notC3) != 0x0F) return std::nullopt;
  std::array<std::uint8_t, 4> cond{};
  for (unsigned n = 0; n < 4; ++n)
    cond[n] =
        static_cast<std::uint8_t>(((c1 >> n) & 1u) << 2 | ((c2 >> n) & 1u) << 1 | ((c3 >> n) & 1u));
  return cond;
}

std::array<std::uint8_t, 3> ClassicCard::encodeAccess(const std::array<std::uint8_t, 4>& cond) {
  unsigned c1 = 0, c2 = 0, c3 = 0;
  for (unsigned n = 0; n < 4; ++n) {
    c1 |= ((cond[n] >> 2) & 1u) << n;
    c2 |= ((cond[n] >> 1) & 1u) << n;
    c3 |= (cond[n] & 1u) << n;
  }
  return {static_cast<std::uint8_t>((~c2 & 0x0Fu) << 4 | (~c1 & 0x0Fu)),
          static_cast<std::uint8_t>(c1 << 4 | (~c3 & 0x0Fu)),
          static_cast<std::uint8_t>(c3 << 4 | c2)};
}

std::optional<std::int32_t> ClassicCard::decodeValue(const std::uint8_t* b) {
  const std::uint32_t v = le32(b), inv = le32(b + 4), again = le32(b + 8);
  if (v != again || v != ~inv) return std::nullopt;
  if (b[12] != b[14] || b[13] != b[15] || b[12] != static_cast<std::uint8_t>(~b[13]))
    return std::nullopt;
  return static_cast<std::int32_t>(v);
}

void ClassicCard::encodeValue(std::uint8_t* b, std::int32_t value, std::uint8_t address) {
  const auto v = static_cast<std::uint32_t>(value);
  putLe32(b, v);
  putLe32(b + 4, ~v);
  putLe32(b + 8, v);
  b[12] = b[14] = address;
  b[13] = b[15] = static_cast<std::uint8_t>(~address);
}

std::optional<Card::AuthTarget> ClassicCard::authTarget(Target what, int address, KeyType) const {
  int sector = -1;
  if (what == Target::KeyArea) {
    if (address >= 0 && address < 16) sector = address;
  } else if (address >= 0 && address < kBlocks) {
    sector = address / 4;
  }
  if (sector < 0) return std::nullopt;
  return AuthTarget{sector, sector * 4 + 3};
}

std::uint8_t ClassicCard::authenticate(KeyType kt, int block, const Key& key) {
  if (!selected()) return status::kMifareNoCard;
  if (block < 0 || block >= kBlocks) return status::kMifareBadAddress;
  const int sector = block / 4;
  const std::uint8_t* trailer = blockBytes(sector * 4 + 3);
  if (!decodeAccess(trailer + 6)) {
    setState(CardState::Idle);
    return status::kMifareSectorLocked;
  }
  const std::uint8_t* stored = trailer + (kt == KeyType::A ? 0 : 10);
  if (!std::equal(key.begin(), key.end(), stored)) {
    setState(CardState::Idle);
    return status::kMifareAuthRefused;
  }
  authenticated(sector, kt);
  return status::kOk;
}

std::uint8_t ClassicCard::check(int block, Op op) const {
  if (block < 0 || block >= kBlocks) return status::kMifareBadAddress;
  const int sector = block / 4;
  if (!authenticatedFor(sector)) return status::kMifareNotAuthenticated;
  const auto cond = decodeAccess(blockBytes(sector * 4 + 3) + 6);
  if (!cond) return status::kMifareSectorLocked;
  const std::uint8_t trailerCond = (*cond)[3];
  // A readable key B is no key: nothing is allowed after authenticating with it.
  if (authKey_ == KeyType::B && kTrailerRights[trailerCond][kKeyBRead] != 0)
    return status::kMifareAccessDenied;
  if (block == 0 && op != Op::Read) return status::kMifareAccessDenied;
  if (isTrailer(block)) {
    // Reads and writes of the trailer go part by part (read(), write()).
    return op == Op::Read || op == Op::Write ? status::kOk : status::kMifareAccessDenied;
  }
  const std::uint8_t allowed = kDataRights[(*cond)[block % 4]][static_cast<int>(op)];
  return (allowed & keyBit(authKey_)) ? status::kOk : status::kMifareAccessDenied;
}

std::uint8_t ClassicCard::read(int block, Block& out) {
  if (std::uint8_t st = check(block, Op::Read)) return st;
  const std::uint8_t* b = blockBytes(block);
  if (!isTrailer(block)) {
    std::copy_n(b, 16, out.begin());
    return status::kOk;
  }
  const auto* rights = kTrailerRights[(*decodeAccess(b + 6))[3]];
  const std::uint8_t me = keyBit(authKey_);
  out.fill(0);  // key A never reads back
  if (rights[kAccessRead] & me) std::copy_n(b + 6, 4, out.begin() + 6);
  if (rights[kKeyBRead] & me) std::copy_n(b + 10, 6, out.begin() + 10);
  return status::kOk;
}

std::uint8_t ClassicCard::write(int block, const Block& data) {
  if (std::uint8_t st = check(block, Op::Write)) return st;
  std::uint8_t* b = blockBytes(block);
  if (!isTrailer(block)) {
    std::copy(data.begin(), data.end(), b);
    return status::kOk;
  }
  // The trailer: each part is written only where the access conditions let
  // the key in use write it; the rest stays as it was.
  const auto* rights = kTrailerRights[(*decodeAccess(b + 6))[3]];
  const std::uint8_t me = keyBit(authKey_);
  const bool keyA = rights[kKeyAWrite] & me, access = rights[kAccessWrite] & me,
             keyB = rights[kKeyBWrite] & me;
  if (!keyA && !access && !keyB) return status::kMifareAccessDenied;
  if (keyA) std::copy_n(data.begin(), 6, b);
  if (access) std::copy_n(data.begin() + 6, 4, b + 6);
  if (keyB) std::copy_n(data.begin() + 10, 6, b + 10);
  return status::kOk;
}

std::uint8_t ClassicCard::readValue(int block, std::int32_t& value) {
  if (std::uint8_t st = check(block, Op::Read)) return st;
  if (isTrailer(block)) return status::kMifareAccessDenied;
  auto v = decodeValue(blockBytes(block));
  if (!v) return status::kMifareBadValue;
  value = *v;
  return status::kOk;
}

std::uint8_t ClassicCard::writeValue(int block, std::int32_t value) {
  if (std::uint8_t st = check(block, Op::Write)) return st;
  if (isTrailer(block)) return status::kMifareAccessDenied;
  encodeValue(blockBytes(block), value, static_cast<std::uint8_t>(block));
  return status::kOk;
}

std::uint8_t ClassicCard::stepValue(int block, std::int64_t delta, Op op, std::int32_t& result) {
  if (std::uint8_t st = check(block, op)) return st;
  // The result goes back into the block by a transfer, which needs its own right.
  if (op == Op::Increment)
    if (std::uint8_t st = check(block, Op::Decrement)) return st;
  std::uint8_t* b = blockBytes(block);
  auto v = decodeValue(b);
  if (!v) return status::kMifareBadValue;
  const std::int64_t sum = static_cast<std::int64_t>(*v) + delta;
  if (sum < std::numeric_limits<std::int32_t>::min() ||
      sum > std::numeric_limits<std::int32_t>::max())
    return status::kMifareBadValue;
  result = static_cast<std::int32_t>(sum);
  encodeValue(b, result, b[12]);
  return status::kOk;
}

std::uint8_t ClassicCard::increment(int block, std::int32_t amount, std::int32_t& result) {
  return stepValue(block, amount, Op::Increment, result);
}

std::uint8_t ClassicCard::decrement(int block, std::int32_t amount, std::int32_t& result) {
  return stepValue(block, -static_cast<std::int64_t>(amount), Op::Decrement, result);
}

std::uint8_t ClassicCard::writeKey(int area, const Key& key) {
  if (area < 0 || area >= 16) return status::kMifareBadAddress;
  const int block = area * 4 + 3;
  if (std::uint8_t st = check(block, Op::Write)) return st;
  std::uint8_t* b = blockBytes(block);
  const auto* rights = kTrailerRights[(*decodeAccess(b + 6))[3]];
  const std::uint8_t me = keyBit(authKey_);
  // Both keys or neither: a half-changed pair would leave the sector
  // reachable by a key the operator did not mean to keep.
  if (!(rights[kKeyAWrite] & me) || !(rights[kKeyBWrite] & me)) return status::kMifareAccessDenied;
  std::copy(key.begin(), key.end(), b);
  std::copy(key.begin(), key.end(), b + 10);
  return status::kOk;
}

}  // namespace readersim::mifare
