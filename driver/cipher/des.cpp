// EnDesData and UnDesData: single DES in electronic codebook mode on caller
// data, on the host (no reader involved, no link state touched).
#include "cipher/des.h"

#include <cstdint>

#include "orvix32.h"

namespace orvix::des {
namespace {

// The standard's tables, bit positions numbered from 1 at the most
// significant end.
// clang-format off
constexpr std::uint8_t kSBox[8][64] = {
    // S1
    {
        14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
         0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
         4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
        15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13
    },
    // S2
    {
        15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
         3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
         0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
        13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9
    },
    // S3
    {
        10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
        13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
        13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
         1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12
    },
    // S4
    {
         7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
        13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
        10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
         3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14
    },
    // S5
    {
         2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
        14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
         4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
        11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3
    },
    // S6
    {
        12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
        10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
         9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
         4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13
    },
    // S7
    {
         4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
        13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
         1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
         6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12
    },
    // S8
    {
        13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
         1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
         7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
         2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11
    },
};
// clang-format on

constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr std::uint32_t rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
constexpr std::uint32_t rotr(std::uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }

// SP tables: for S-box i and its 6 input bits b (first bit most significant),
// the S-box output passed through P, rotated left by one bit. The halves are
// kept rotated the same way between the permutations, which lines each 6-bit
// group of the expansion up with a byte of the half or of the half rotated
// right by four.
using SpTables = std::array<std::array<std::uint32_t, 64>, 8>;

constexpr SpTables makeSpTables() {
  SpTables t{};
  for (int i = 0; i < 8; ++i) {
    for (int b = 0; b < 64; ++b) {
      const int row = ((b >> 4) & 2) | (b & 1);
      const int col = (b >> 1) & 15;
      const std::uint32_t beforeP = static_cast<std::uint32_t>(kSBox[i][row * 16 + col])
                                    << (28 - 4 * i);
      std::uint32_t afterP = 0;
      for (int k = 0; k < 32; ++k)
        if ((beforeP >> (32 - kP[k])) & 1u) afterP |= 1u << (31 - k);
      t[i][b] = rotl(afterP, 1);
    }
  }
  return t;
}

alignas(64) constexpr SpTables kSp = makeSpTables();

// Swaps the bits of a selected by mask << n with the bits of b selected by mask.
inline void swapBits(std::uint32_t& a, std::uint32_t& b, int n, std::uint32_t mask) {
  const std::uint32_t t = ((a >> n) ^ b) & mask;
  b ^= t;
  a ^= t << n;
}

// Initial permutation of (l, r), then both halves rotated left by one.
inline void initialPermutation(std::uint32_t& l, std::uint32_t& r) {
  swapBits(l, r, 4, 0x0f0f0f0fu);
  swapBits(l, r, 16, 0x0000ffffu);
  swapBits(r, l, 2, 0x33333333u);
  swapBits(r, l, 8, 0x00ff00ffu);
  swapBits(l, r, 1, 0x55555555u);
  l = rotl(l, 1);
  r = rotl(r, 1);
}

// Undoes the rotation, then the final permutation (the same swaps in reverse).
inline void finalPermutation(std::uint32_t& l, std::uint32_t& r) {
  l = rotr(l, 1);
  r = rotr(r, 1);
  swapBits(l, r, 1, 0x55555555u);
  swapBits(r, l, 8, 0x00ff00ffu);
  swapBits(r, l, 2, 0x33333333u);
  swapBits(l, r, 16, 0x0000ffffu);
  swapBits(l, r, 4, 0x0f0f0f0fu);
}

// The cipher function of one round on a rotated half.
inline std::uint32_t roundFunction(std::uint32_t r, const std::uint32_t* k) {
  const std::uint32_t w = rotr(r, 4) ^ k[0];
  const std::uint32_t v = r ^ k[1];
  return kSp[0][(w >> 24) & 63] ^ kSp[2][(w >> 16) & 63] ^ kSp[4][(w >> 8) & 63] ^ kSp[6][w & 63] ^
         kSp[1][(v >> 24) & 63] ^ kSp[3][(v >> 16) & 63] ^ kSp[5][(v >> 8) & 63] ^ kSp[7][v & 63];
}

inline std::uint32_t load32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline void store32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// N independent blocks at once: the rounds of one block form a chain of
// dependent table look-ups, so interleaving blocks keeps the processor busy.
// All N blocks are read before any result is written.
template <int N>
inline void cryptLanes(const std::uint32_t* keys, const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t l[N], r[N];
  for (int j = 0; j < N; ++j) {
    l[j] = load32(in + 8 * j);
    r[j] = load32(in + 8 * j + 4);
    initialPermutation(l[j], r[j]);
  }
  for (int round = 0; round < 16; round += 2) {
    const std::uint32_t* k = keys + 2 * round;
    for (int j = 0; j < N; ++j) l[j] ^= roundFunction(r[j], k);
    for (int j = 0; j < N; ++j) r[j] ^= roundFunction(l[j], k + 2);
  }
  // After sixteen rounds the output block is R16 followed by L16.
  for (int j = 0; j < N; ++j) {
    finalPermutation(r[j], l[j]);
    store32(out + 8 * j, r[j]);
    store32(out + 8 * j + 4, l[j]);
  }
}

}  // namespace

KeySchedule makeKeySchedule(const std::uint8_t key[8], Direction direction) {
  std::uint64_t k = 0;
  for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
  auto keyBit = [k](int position) { return static_cast<std::uint32_t>(k >> (64 - position)) & 1u; };

  std::uint32_t c = 0, d = 0;
  for (int j = 0; j < 28; ++j) c = (c << 1) | keyBit(kPC1[j]);
  for (int j = 28; j < 56; ++j) d = (d << 1) | keyBit(kPC1[j]);

  KeySchedule ks;
  for (int round = 0; round < 16; ++round) {
    const int s = kShifts[round];
    c = ((c << s) | (c >> (28 - s))) & 0x0fffffffu;
    d = ((d << s) | (d >> (28 - s))) & 0x0fffffffu;
    const std::uint64_t cd = (static_cast<std::uint64_t>(c) << 28) | d;
    std::uint32_t group[8] = {};
    for (int j = 0; j < 48; ++j) {
      const auto bit = static_cast<std::uint32_t>(cd >> (56 - kPC2[j])) & 1u;
      group[j / 6] = (group[j / 6] << 1) | bit;
    }
    const int slot = direction == Direction::Encrypt ? round : 15 - round;
    ks.words[2 * slot] = (group[0] << 24) | (group[2] << 16) | (group[4] << 8) | group[6];
    ks.words[2 * slot + 1] = (group[1] << 24) | (group[3] << 16) | (group[5] << 8) | group[7];
  }
  return ks;
}

void cryptBlock(const KeySchedule& ks, const std::uint8_t in[8], std::uint8_t out[8]) {
  cryptLanes<1>(ks.words.data(), in, out);
}

void cryptBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out,
                 std::size_t blocks) {
  const std::uint32_t* keys = ks.words.data();
  const auto inAddr = reinterpret_cast<std::uintptr_t>(in);
  const auto outAddr = reinterpret_cast<std::uintptr_t>(out);
  const std::uintptr_t bytes = blocks * 8;
  const bool partlyOverlapping = in != out && inAddr < outAddr + bytes && outAddr < inAddr + bytes;
  std::size_t i = 0;
  if (!partlyOverlapping) {
    // Three lanes measured fastest; four run out of registers on x86-64.
    for (; i + 3 <= blocks; i += 3) cryptLanes<3>(keys, in + 8 * i, out + 8 * i);
  }
  for (; i < blocks; ++i) cryptLanes<1>(keys, in + 8 * i, out + 8 * i);
}

}  // namespace orvix::des

namespace {

int desData(const unsigned char* input, const unsigned char* key, unsigned char* output, int length,
            orvix::des::Direction direction) {
  if (length % 8 != 0) return 4;
  if (length <= 0) return 0;
  if (!input || !key || !output) return 4;
  const orvix::des::KeySchedule ks = orvix::des::makeKeySchedule(key, direction);
  orvix::des::cryptBlocks(ks, input, output, static_cast<std::size_t>(length) / 8);
  return 0;
}

}  // namespace

extern "C" ORVIX32_API int ORVIX32_CALL EnDesData(const unsigned char* input,
                                                  const unsigned char* key, unsigned char* output,
                                                  int length) {
  return desData(input, key, output, length, orvix::des::Direction::Encrypt);
}

extern "C" ORVIX32_API int ORVIX32_CALL UnDesData(const unsigned char* input,
                                                  const unsigned char* key, unsigned char* output,
                                                  int length) {
  return desData(input, key, output, length, orvix::des::Direction::Decrypt);
}
