// Mifare 1 dump files and key files, as pure functions: the formats other
// tools read and write, and which of them can hold a partial dump.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orvix/ops/mifare_rules.h"

namespace orvix::ops {

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

// Empty when the format can mark blocks not read (JSON, sector text); else
// why a partial dump cannot be written in it, naming a format that can.
std::string partialRefusal(Format f);

// The file's bytes. Trailers carry the keys found; blocks not read are null
// (JSON) or dashes (sector text). Raw and emulator files hold whole dumps
// only (see partialRefusal); a block not read there would be zeros.
std::string writeDump(const Dump& d, Format f);
// Any of the formats; an Error (Fault::Data) naming the fault otherwise.
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

}  // namespace orvix::ops
