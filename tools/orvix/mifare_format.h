// Mifare 1 file formats, as pure functions: the dump files other tools read
// and write, key files. The card rules themselves live in orvix/ops.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "orvix/ops/mifare_rules.h"

namespace orvix::mifare {

using ops::Block;
using ops::Conditions;
using ops::dataRights;
using ops::decodeAccess;
using ops::decodeValue;
using ops::encodeAccess;
using ops::encodeValue;
using ops::isTrailer;
using ops::kBlocks;
using ops::Key;
using ops::kSectors;
using ops::locksKeysForever;
using ops::trailerOf;
using ops::trailerRights;
using ops::Value;

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
