// Mifare 1 card rules as pure functions: block and sector numbers, access
// bits, value blocks and the guard every block write passes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace orvix::ops {

constexpr int kSectors = 16;
constexpr int kBlocks = 64;
using Block = std::array<std::uint8_t, 16>;
using Key = std::array<std::uint8_t, 6>;
// C1C2C3 of blocks 0, 1, 2 and the trailer, each as a 3-bit number (C1 high).
using Conditions = std::array<std::uint8_t, 4>;

constexpr int trailerOf(int sector) { return sector * 4 + 3; }
constexpr bool isTrailer(int block) { return block % 4 == 3; }

// Access bytes 6 … 8 of a trailer; nullopt when an inverted copy does not
// match (the card treats such a sector as locked).
std::optional<Conditions> decodeAccess(const std::uint8_t* bytes);
std::array<std::uint8_t, 3> encodeAccess(const Conditions& c);
// In words: "read A|B, write A|B, increment A|B, decrement A|B".
std::string dataRights(std::uint8_t condition);
// In words: "key A write A, access bits read A write A, key B read A write A".
std::string trailerRights(std::uint8_t condition);
// True when the trailer condition leaves neither key nor the access bits
// writable by any key: the sector's keys are fixed for ever.
bool locksKeysForever(std::uint8_t trailerCondition);
// True when key B is readable (with key A) under this trailer condition; a
// card then shows key B in a trailer read, and key B cannot authenticate.
bool keyBReadable(std::uint8_t trailerCondition);
// True when the key (0 = A, 1 = B) may read the block at index 0 … 2 of its
// sector, or the trailer's access bits (index 3), under these conditions. A
// readable key B opens nothing.
bool mayRead(const Conditions& c, int indexInSector, int keyType);

struct Value {
  std::int32_t amount;
  std::uint8_t address;
};
// A value block: amount, ~amount, amount, addr ~addr addr ~addr.
std::optional<Value> decodeValue(const Block& b);
Block encodeValue(std::int32_t amount, std::uint8_t address);

// Empty when the 16 bytes may be written to the block; else the one-line
// reason it is not: block 0 never, a block outside the card never, a
// trailer only with well-formed access bits, and one fixing the keys for
// ever only with force.
std::string writeRefusal(int block, const Block& data, bool force);

}  // namespace orvix::ops
