// Single DES (FIPS 46-3) on the host, in electronic codebook mode: the engine
// behind EnDesData and UnDesData.
//
// The rounds are table driven: each of the eight SP tables combines one S-box
// with the P permutation, and the initial and final permutations are done
// with bit-swap steps on the two 32-bit halves. The key schedule is expanded
// once per call into sixteen round keys, already laid out for the tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvix::des {

enum class Direction { Encrypt, Decrypt };

// The sixteen round keys in the order the rounds use them (reversed for
// decryption). Round key i is two words: the 6-bit groups 1, 3, 5, 7 and the
// groups 2, 4, 6, 8, each group in bits 29…24, 21…16, 13…8 and 5…0.
struct KeySchedule {
  std::array<std::uint32_t, 32> words{};
};

// Expands an 8-byte key (the low bit of each byte, its parity bit, is ignored).
KeySchedule makeKeySchedule(const std::uint8_t key[8], Direction direction);

// One 8-byte block; in and out may be the same address.
void cryptBlock(const KeySchedule& ks, const std::uint8_t in[8], std::uint8_t out[8]);

// blocks consecutive 8-byte blocks, each on its own (no chaining). in and out
// may be the same address; other overlaps are handled block by block, each
// block read completely before its result is written.
void cryptBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out,
                 std::size_t blocks);

}  // namespace orvix::des
