// Mifare 1 card rules and file formats, as pure functions: access bits,
// value blocks, the dump files other tools read and write, key files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common.h"

namespace orvix::mifare {

constexpr int kSectors = 16;
constexpr int kBlocks = 64;
using Block = std::array<std::uint8_t, 16>;
using Key = std::array<std::uint8_t, 6>;
// C1C2C3 of blocks 0, 1, 2 and the trailer, each as a 3-bit number (C1 high).
using Conditions = std::array<std::uint8_t, 4>;

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

struct Value {
  std::int32_t amount;
  std::uint8_t address;
};
// A value block: amount, ~amount, amount, addr ~addr addr ~addr.
std::optional<Value> decodeValue(const Block& b);
Block encodeValue(std::int32_t amount, std::uint8_t address);

inline int trailerOf(int sector) { return sector * 4 + 3; }
inline bool isTrailer(int block) { return block % 4 == 3; }

// A card's content as far as it is known.
struct Dump {
  std::array<std::optional<Block>, kBlocks> blocks;
  std::array<std::optional<Key>, kSectors> keyA, keyB;
};

enum class Format { Raw, Eml, Json, Mct };
// From a file name's extension (.mfd .bin .dump .eml .json .mct .txt);
// nullopt when it tells nothing.
std::optional<Format> formatFor(const std::string& path);
std::optional<Format> formatNamed(const std::string& name);  // mfd|bin|eml|json|mct

// The file's bytes. Trailers carry the keys found; blocks not read are zeros
// (raw, emulator), null (JSON) or dashes (sector text).
std::string writeDump(const Dump& d, Format f);
// Any of the formats; a Failure (exit 4) naming the fault otherwise.
Dump readDump(const std::string& bytes, Format f, const std::string& name);

// Key lists (one 12-digit key a line, # comments) or binary key files (16
// key A values then 16 key B values). Lists give keys for every sector.
struct KeyFile {
  std::vector<Key> any;
  std::array<std::optional<Key>, kSectors> keyA, keyB;
};
KeyFile readKeys(const std::string& bytes, const std::string& name);
// A key list of the distinct keys found, or with binary set the 192-byte
// file (unknown keys as zeros).
std::string writeKeys(const Dump& d, bool binary);
// The well-known keys tried when no key file is given.
std::vector<Key> defaultKeys();

}  // namespace orvix::mifare
