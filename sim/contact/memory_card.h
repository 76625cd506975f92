// Synchronous memory cards of the contact slot, by type code.
//
// Area 18 is the card memory (256 bytes, 1024 for type 4): identity bytes,
// and for types 0 and 15 … 17 the security code (2 bytes at address 8, or
// 10) with its 2-byte error counter right after it. Cards with a security
// area (the "area-2 form", command data 02) keep an error counter byte and
// the code there instead. A wrong code clears one counter bit; a counter of
// 0 locks the card for good; the right code refills it and opens the card
// for writing until power-off. The code reads as 00 until it is verified.
// A code check compares the first code-length bytes it is sent (the reader
// passes on as many as the card takes); fewer bytes are a wrong code.
// Cards that erase (0, 15, 16, 17, 25, 26) behave like EEPROM: a write can
// only clear bits, the erase command sets bytes back to FF. Page cards
// (types 19 … 24) add a page memory for the block transfer: 1024 pages of
// 264 bytes (type 21) or 256 bytes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/module.h"

namespace readersim::contact {

using Bytes = std::vector<std::uint8_t>;

// A key with its own attempt counter (erase keys, zone keys).
struct Key {
  Bytes value;
  std::uint8_t counter = 0xFF;
};

enum class CodeForm : std::uint8_t { None, InMemory, SecurityArea };

class MemoryCard {
 public:
  // A card of the given type code (0 … 30) as it leaves the factory.
  static MemoryCard make(int type);

  int type() const { return type_; }
  CodeForm codeForm() const { return form_; }
  const Bytes& code() const { return code_; }
  std::uint8_t counter() const;
  bool verified() const { return verified_; }
  bool locked() const { return counter() == 0 && form_ != CodeForm::None; }
  int pageSize() const { return pageSize_; }
  int pages() const { return pageSize_ ? static_cast<int>(pageMemory_.size()) / pageSize_ : 0; }
  const Bytes& memory() const { return memory_; }
  std::uint8_t fuse() const { return fuse_; }

  // Setup (control commands and tests).
  bool setCode(const Bytes& code);  // false: wrong length or no code
  void setCounter(std::uint8_t value);

  // Power off ends the verified session.
  void powerOff() { verified_ = false; }

  // Commands of the contact slot, already checked for power.
  Reply checkSecret(std::span<const std::uint8_t> d);    // 0x0C
  Reply fuse(std::span<const std::uint8_t> d);           // 0x0E
  Reply read(std::span<const std::uint8_t> d);           // 0x14
  Reply write(std::span<const std::uint8_t> d);          // 0x15
  Reply checkZoneKey(std::span<const std::uint8_t> d);   // 0x18
  Reply checkEraseKey(std::span<const std::uint8_t> d);  // 0x19
  Reply erase(std::span<const std::uint8_t> d);          // 0x1A
  Reply setZoneBits(std::span<const std::uint8_t> d);    // 0x1B
  Reply writePiece(std::span<const std::uint8_t> d);     // 0x23
  Reply readPiece(std::span<const std::uint8_t> d);      // 0x24

  std::string describe() const;

 private:
  Reply checkKey(Key& key, std::span<const std::uint8_t> value);
  std::uint8_t memoryByte(std::size_t address) const;  // code hidden until verified
  bool isIdentity(std::size_t address) const;
  // The memory range a write or erase request names (area, address high and
  // low, count, then count bytes); the status that refuses it, or kOk.
  std::uint8_t changeRange(std::span<const std::uint8_t> d, std::size_t& at,
                           std::size_t& count) const;

  int type_ = 0;
  CodeForm form_ = CodeForm::None;
  bool erasable_ = false;  // EEPROM bit rules and the erase command
  Bytes memory_;
  std::size_t identityAt_ = 0;
  std::size_t identityLen_ = 0;
  std::size_t codeAt_ = 0;        // InMemory: code address; counter at codeAt_ + 2
  Bytes code_;                    // SecurityArea: the code
  std::uint8_t areaCounter_ = 0;  // SecurityArea: the error counter
  std::uint8_t fullCounter_ = 0;
  bool verified_ = false;
  std::map<std::uint8_t, Key> eraseKeys_;
  std::vector<Key> zoneKeys_;
  std::vector<std::uint8_t> zoneBits_;
  std::uint8_t fuse_ = 0xFF;
  int pageSize_ = 0;
  Bytes pageMemory_;
};

}  // namespace readersim::contact
