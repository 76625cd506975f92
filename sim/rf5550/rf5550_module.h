// RF5550 tags in the simulated reader's field (commands 0x64 … 0x69).
//
// A tag holds eight blocks of 4 bytes. Block 0 is its configuration (byte 0
// the configuration byte, bytes 1 … 3 kept as written) and block 7 its
// password. The configuration byte:
//   bits 7-5  the highest block a read returns (block 0 is always readable)
//   bit 4     password mode: writes and configuration need the password, and
//             block 7 is read only by the read that wakes with the password
//   bit 3     wake mode: the tag stays silent until woken with its password;
//             it stays awake until it leaves the field
//   bits 2-0  not used by the tag (the library always sends 1 1 1)
// Bit 0 of the option byte of a write or configuration locks the block
// written (block 0 for the configuration) against further writes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/module.h"

namespace readersim::rf5550 {

using Block = std::array<std::uint8_t, 4>;
inline constexpr int kBlocks = 8;
inline constexpr int kConfigBlock = 0;
inline constexpr int kPasswordBlock = 7;

struct Tag {
  std::array<Block, kBlocks> blocks{};
  std::array<bool, kBlocks> locked{};
  bool awake = false;

  // A tag as it leaves the factory: configuration E7 (all blocks readable,
  // no password mode, no wake mode), password 00 00 00 00, data blocks zero.
  static Tag factory();

  std::uint8_t config() const { return blocks[kConfigBlock][0]; }
  int maxBlock() const { return config() >> 5; }
  bool passwordMode() const { return (config() & 0x10) != 0; }
  bool wakeMode() const { return (config() & 0x08) != 0; }
  bool passwordMatches(const std::uint8_t* password) const;
};

class Rf5550Module final : public Module {
 public:
  Rf5550Module();

  std::string name() const override { return "rf5550"; }
  bool handles(std::uint8_t cmd) const override { return cmd >= 0x64 && cmd <= 0x69; }
  Reply execute(std::uint8_t cmd, std::span<const std::uint8_t> data) override;
  bool control(const std::vector<std::string>& words, std::string& out) override;
  std::string help() const override;

  // For tests (hold the simulator's mutex while the service runs).
  bool inField() const { return inField_; }
  Tag& tag() { return tag_; }
  void insert(const Tag& tag);
  void insert();  // the same tag back into the field, asleep
  void remove();

 private:
  Reply read(std::span<const std::uint8_t> data, bool wake);
  Reply write(std::span<const std::uint8_t> data, bool wake);
  Reply configure(std::span<const std::uint8_t> data);
  Reply wake(std::span<const std::uint8_t> data);
  // The tag answers: in the field, and awake unless it waits for a wake.
  bool answers() const { return inField_ && (tag_.awake || !tag_.wakeMode()); }
  std::string describe() const;

  Tag tag_;
  bool inField_ = true;
};

}  // namespace readersim::rf5550
