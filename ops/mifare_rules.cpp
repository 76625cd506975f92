#include "orvix/ops/mifare_rules.h"

#include <cstdio>

namespace orvix::ops {

namespace {

constexpr const char* kWho[] = {"never", "A", "B", "A|B"};
enum : std::uint8_t { N = 0, A = 1, B = 2, AB = 3 };

// Data blocks by C1C2C3: read, write, increment, decrement/transfer/restore.
constexpr std::uint8_t kData[8][4] = {
    {AB, AB, AB, AB}, {AB, N, N, AB}, {AB, N, N, N},  {B, B, N, N},
    {AB, B, N, N},    {B, N, N, N},   {AB, B, B, AB}, {N, N, N, N},
};
// Trailer by C1C2C3: key A write, access read, access write, key B read,
// key B write (key A never reads back).
constexpr std::uint8_t kTrailer[8][5] = {
    {A, A, N, A, A},  {A, A, A, A, A},  {N, A, N, A, N},  {B, AB, B, N, B},
    {B, AB, N, N, B}, {N, AB, B, N, N}, {N, AB, N, N, N}, {N, AB, N, N, N},
};

}  // namespace

std::optional<Conditions> decodeAccess(const std::uint8_t* b) {
  const unsigned notC1 = b[0] & 15u, notC2 = b[0] >> 4, c1 = b[1] >> 4, notC3 = b[1] & 15u,
                 c3 = b[2] >> 4, c2 = b[2] & 15u;
  if ((c1 ^ notC1) != 15 || (c2 ^ notC2) != 15 || (c3 ^ notC3) != 15) return std::nullopt;
  Conditions out{};
  for (unsigned n = 0; n < 4; ++n)
    out[n] = static_cast<std::uint8_t>((c1 >> n & 1u) << 2 | (c2 >> n & 1u) << 1 | (c3 >> n & 1u));
  return out;
}

std::array<std::uint8_t, 3> encodeAccess(const Conditions& c) {
  unsigned c1 = 0, c2 = 0, c3 = 0;
  for (unsigned n = 0; n < 4; ++n) {
    c1 |= (c[n] >> 2 & 1u) << n;
    c2 |= (c[n] >> 1 & 1u) << n;
    c3 |= (c[n] & 1u) << n;
  }
  return {static_cast<std::uint8_t>((~c2 & 15u) << 4 | (~c1 & 15u)),
          static_cast<std::uint8_t>(c1 << 4 | (~c3 & 15u)),
          static_cast<std::uint8_t>(c3 << 4 | c2)};
}

std::string dataRights(std::uint8_t c) {
  const auto* r = kData[c & 7];
  return std::string("read ") + kWho[r[0]] + ", write " + kWho[r[1]] + ", increment " + kWho[r[2]] +
         ", decrement " + kWho[r[3]];
}

std::string trailerRights(std::uint8_t c) {
  const auto* r = kTrailer[c & 7];
  return std::string("key A write ") + kWho[r[0]] + ", access bits read " + kWho[r[1]] + " write " +
         kWho[r[2]] + ", key B read " + kWho[r[3]] + " write " + kWho[r[4]];
}

bool locksKeysForever(std::uint8_t c) {
  const auto* r = kTrailer[c & 7];
  return r[0] == N && r[2] == N && r[4] == N;
}

bool keyBReadable(std::uint8_t c) { return kTrailer[c & 7][3] != N; }

bool mayRead(const Conditions& c, int index, int keyType) {
  if (keyType == 1 && keyBReadable(c[3])) return false;
  const std::uint8_t who = index == 3 ? kTrailer[c[3] & 7][1] : kData[c[index & 3] & 7][0];
  return (who & (keyType ? B : A)) != 0;
}

std::optional<Value> decodeValue(const Block& b) {
  auto le = [&](int at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
  };
  if (le(0) != le(8) || le(0) != ~le(4)) return std::nullopt;
  if (b[12] != b[14] || b[13] != b[15] || b[12] != static_cast<std::uint8_t>(~b[13]))
    return std::nullopt;
  return Value{static_cast<std::int32_t>(le(0)), b[12]};
}

Block encodeValue(std::int32_t amount, std::uint8_t address) {
  Block b{};
  const auto v = static_cast<std::uint32_t>(amount);
  for (int i = 0; i < 4; ++i) {
    b[i] = b[8 + i] = static_cast<std::uint8_t>(v >> (8 * i));
    b[4 + i] = static_cast<std::uint8_t>(~v >> (8 * i));
  }
  b[12] = b[14] = address;
  b[13] = b[15] = static_cast<std::uint8_t>(~address);
  return b;
}

std::string writeRefusal(int block, const Block& data, bool force) {
  if (block < 0 || block >= kBlocks) return "block: 0-63, not " + std::to_string(block);
  if (block == 0) return "block 0 holds the serial and the maker's data; it is never written";
  if (!isTrailer(block)) return {};
  char bytes[16];
  std::snprintf(bytes, sizeof bytes, "%02X %02X %02X", data[6], data[7], data[8]);
  const std::string where =
      "sector " + std::to_string(block / 4) + " trailer (access bytes " + bytes + ")";
  const auto c = decodeAccess(data.data() + 6);
  if (!c)
    return where +
           ": an inverted copy does not match, the card would lock the sector; never "
           "written";
  if (!force && locksKeysForever((*c)[3]))
    return where +
           ": the keys and access bits could never be changed again; not written "
           "without force";
  return {};
}

}  // namespace orvix::ops
