// Mifare Light 10, type code 16: 12 pages of 4 bytes, addressed by page 0-11.
//
//   page  bytes
//   0     serial 0-3                               read-only
//   1     check byte (XOR of the serial), size code 0C, type 10 00   read-only
//   2-3   data area 1
//   4, 5  the value, each page V0 V1 ~V0 ~V1 (16 bits, 0 … 65535, stored twice)
//   6     key A bytes 0-3
//   7     key A bytes 4-5, access byte A, its inverse
//   8     key B bytes 0-3
//   9     key B bytes 4-5, access byte B, its inverse
//   10-11 data area 2
//
// Keys: one key A and one key B for the whole card. Authentication names
// the page where the key starts: block 6 with key A, block 8 with key B
// (sector 0 of the reader's key memory). The access byte of the key in use
// grants: bit 0 read area 1, bit 1 write area 1, bit 2 write the value,
// bit 3 write keys and access bytes, bit 4 read area 2, bit 5 write area 2.
// An access byte whose inverse does not match grants nothing: authentication
// with that key is refused. New cards: both keys FF FF FF FF FF FF, access
// bytes FF 00 (everything allowed), value 0, data zero.
//
// Every read and write needs authentication. A read returns two pages (the
// page and the next one; past page 11, zeros), padded with zeros to 16
// bytes; key bytes read back as zeros, pages 0, 1 and 4-9 are always
// readable, and a companion page that may not be read comes back as zeros.
// A write takes the first 4 bytes and writes one page; pages 0 and 1 never.
//
// The value commands address the value as 0. It can only be decremented
// (with either key; never below 0); writing it needs bit 2; there is no
// increment. A raw write to pages 4 or 5 may break the format, which the
// value commands then refuse.
#pragma once

#include <array>
#include <cstdint>

#include "mifare/card.h"

namespace readersim::mifare {

class LightCard final : public Card {
 public:
  static constexpr std::uint16_t kTypeCode = 16;
  static constexpr int kPages = 12;
  using Memory = std::array<std::uint8_t, kPages * 4>;

  explicit LightCard(const Serial& serial);

  std::uint16_t typeCode() const override { return kTypeCode; }
  const char* kind() const override { return "light"; }
  Serial serial() const override;

  Memory& memory() { return mem_; }
  const Memory& memory() const { return mem_; }

  std::uint8_t authenticate(KeyType kt, int block, const Key& key) override;
  std::optional<AuthTarget> authTarget(Target what, int address, KeyType kt) const override;
  std::uint8_t read(int page, Block& out) override;
  std::uint8_t write(int page, const Block& data) override;
  std::uint8_t readValue(int address, std::int32_t& value) override;
  std::uint8_t writeValue(int address, std::int32_t value) override;
  std::uint8_t increment(int address, std::int32_t amount, std::int32_t& result) override;
  std::uint8_t decrement(int address, std::int32_t amount, std::int32_t& result) override;
  // area = key type: 0 writes key A, 1 key B.
  std::uint8_t writeKey(int area, const Key& key) override;

  // Access bits of the access byte.
  enum : std::uint8_t {
    kReadData1 = 0x01,
    kWriteData1 = 0x02,
    kWriteValue = 0x04,
    kWriteKeys = 0x08,
    kReadData2 = 0x10,
    kWriteData2 = 0x20,
  };
  static constexpr int kKeyAPage = 6;
  static constexpr int kKeyBPage = 8;

 private:
  // The access byte of a key, or nullopt when its inverse does not match.
  std::optional<std::uint8_t> access(KeyType kt) const;
  bool mayRead(int page, std::uint8_t rights) const;
  std::uint8_t writeRight(int page) const;  // 0 = never
  std::uint8_t* page(int p) { return mem_.data() + p * 4; }
  std::optional<std::uint16_t> value() const;
  void setValue(std::uint16_t v);
  // 0 when the card is authenticated (with a usable key), else the status.
  std::uint8_t rights(std::uint8_t& out) const;

  Memory mem_{};
};

}  // namespace readersim::mifare
