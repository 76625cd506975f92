// Mifare 1 (Classic 1K), type code 4: 16 sectors of 4 blocks of 16 bytes.
//
// Block 0 is the manufacturer block: serial (4 bytes), check byte (XOR of
// the four), SAK 08, ATQA 04 00, maker bytes; it is read-only. Block 3 of
// each sector is its trailer: key A (bytes 0-5), access bytes (6-8), user
// byte (9), key B (10-15). A new card carries the transport configuration:
// both keys FF FF FF FF FF FF, access bytes FF 07 80, user byte 69.
//
// Access bytes, with C1 C2 C3 of block n (n = 3: the trailer) at bit n of a
// nibble:  byte 6 = ~C2 (high nibble) | ~C1 (low);  byte 7 = C1 | ~C3;
// byte 8 = C3 | C2. A sector whose inverted copies do not match is locked:
// authentication to it is refused.
//
// The access condition c = C1 C2 C3 of a data block:
//   c    read  write  increment  decrement/transfer/restore
//   000  A|B   A|B    A|B        A|B     (transport)
//   010  A|B   -      -          -
//   100  A|B   B      -          -
//   110  A|B   B      B          A|B     (value)
//   001  A|B   -      -          A|B     (value, decrement only)
//   011  B     B      -          -
//   101  B     -      -          -
//   111  -     -      -          -
// of the trailer (key A is never readable and reads back as zeros):
//   c    key A wr  access rd/wr  key B rd/wr
//   000  A         A / -         A / A
//   010  -         A / -         A / -
//   100  B         A|B / -       - / B
//   110  -         A|B / -       - / -
//   001  A         A / A         A / A   (transport)
//   011  B         A|B / B       - / B
//   101  -         A|B / B       - / -
//   111  -         A|B / -       - / -
// Where key B is readable (000, 010, 001) it cannot serve as a key:
// authentication with it succeeds, every access after it is refused.
//
// Value blocks: value (4 bytes, least significant first), its inverse, the
// value again, then an address byte, its inverse, the address, its inverse.
// Increment and decrement refuse a block in any other format, and a result
// outside the signed 32-bit range; the reader transfers the result back
// into the same block (increment needs the transfer right as well).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "mifare/card.h"

namespace readersim::mifare {

class ClassicCard final : public Card {
 public:
  static constexpr std::uint16_t kTypeCode = 4;
  static constexpr int kBlocks = 64;
  using Image = std::array<std::uint8_t, kBlocks * 16>;

  // A new card in the transport configuration, data blocks zero.
  explicit ClassicCard(const Serial& serial);
  // A card with the given memory (a 1024-byte dump); the serial is the one
  // block 0 holds.
  explicit ClassicCard(const Image& image);

  std::uint16_t typeCode() const override { return kTypeCode; }
  const char* kind() const override { return "classic"; }
  Serial serial() const override;
  // Writes a serial and its check byte into block 0.
  void setSerial(const Serial& serial);

  const Image& image() const { return mem_; }
  std::uint8_t* blockBytes(int block) { return mem_.data() + block * 16; }
  const std::uint8_t* blockBytes(int block) const { return mem_.data() + block * 16; }

  std::uint8_t authenticate(KeyType kt, int block, const Key& key) override;
  std::optional<AuthTarget> authTarget(Target what, int address, KeyType kt) const override;
  std::uint8_t read(int block, Block& out) override;
  std::uint8_t write(int block, const Block& data) override;
  std::uint8_t readValue(int block, std::int32_t& value) override;
  std::uint8_t writeValue(int block, std::int32_t value) override;
  std::uint8_t increment(int block, std::int32_t amount, std::int32_t& result) override;
  std::uint8_t decrement(int block, std::int32_t amount, std::int32_t& result) override;
  // area = sector: writes the key as key A and key B of its trailer.
  std::uint8_t writeKey(int area, const Key& key) override;

  // Access conditions of blocks 0-3 of a sector (C1<<2 | C2<<1 | C3 each)
  // from its three access bytes; nullopt when an inverted copy does not match.
  static std::optional<std::array<std::uint8_t, 4>> decodeAccess(const std::uint8_t* bytes);
  // The three access bytes for the given conditions.
  static std::array<std::uint8_t, 3> encodeAccess(const std::array<std::uint8_t, 4>& conditions);
  // The value-block format.
  static std::optional<std::int32_t> decodeValue(const std::uint8_t* block);
  static void encodeValue(std::uint8_t* block, std::int32_t value, std::uint8_t address);

 private:
  enum class Op { Read, Write, Increment, Decrement };
  // 0 when allowed, else the status that refuses op on block.
  std::uint8_t check(int block, Op op) const;
  // Adds delta to the value block and transfers the result back into it.
  std::uint8_t stepValue(int block, std::int64_t delta, Op op, std::int32_t& result);

  Image mem_{};
};

}  // namespace readersim::mifare
