// An AT1608 secure memory card in the contact slot (commands 0x28 … 0x2D).
//
// Eight user zones of 256 bytes (0 … 7) and the configuration zone 8 of 128
// bytes, whose bytes 40 … 47 are the card identity. Sixteen passwords of 3
// bytes, each with an attempt counter (PAC) of 8 tries: index z (0 … 7) is
// the write password of zone z, index 8 + z its read password. Writing zone z
// needs its write password verified since the last reset; writing zone 8
// needs password 7. A wrong password clears one more counter bit (FF, FE, FC
// … 00); the right one refills it to FF; at 00 the password is locked.
// Reads are free. The mutual authentication runs the card's side of the
// cipher the host runs, with the card's identity and its secret; its own
// attempt counter (AAC) works like a PAC.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/module.h"

namespace readersim::contact {

class At1608Card {
 public:
  using Bytes = std::vector<std::uint8_t>;
  using Block8 = std::array<std::uint8_t, 8>;

  // Factory state: zones FF, identity 16 08 20 26 12 06 00 01, secret
  // 01 23 45 67 89 AB CD EF, password i = A<i> B<i> C<i> (A0 B0 C0 … AF BF
  // CF), all counters FF, fuse byte 07.
  At1608Card();

  Reply write(std::span<const std::uint8_t> d);         // 0x28
  Reply read(std::span<const std::uint8_t> d);          // 0x29
  Reply password(std::span<const std::uint8_t> d);      // 0x2A
  Reply authenticate(std::span<const std::uint8_t> d);  // 0x2B
  Reply readFuse() const;                               // 0x2C
  Reply reset();                                        // 0x2D

  Block8 identity() const;
  void setIdentity(const Block8& id);
  Block8& secret() { return secret_; }
  std::array<std::uint8_t, 3>& passwordValue(int index) { return passwords_[index]; }
  std::uint8_t& attempts(int index) { return pac_[index]; }
  std::uint8_t& authAttempts() { return aac_; }
  std::uint8_t& fuse() { return fuse_; }
  bool authenticated() const { return authenticated_; }
  const std::vector<std::uint8_t>& zone(int z) const { return zones_[z]; }

  std::string describe() const;

 private:
  std::array<std::vector<std::uint8_t>, 9> zones_;
  std::array<std::array<std::uint8_t, 3>, 16> passwords_{};
  std::array<std::uint8_t, 16> pac_{};
  std::array<bool, 16> open_{};
  Block8 secret_{};
  std::uint8_t aac_ = 0xFF;
  std::uint8_t fuse_ = 0x07;
  bool authenticated_ = false;
};

}  // namespace readersim::contact
