// The simulated reader of the benchmarks: answers 0xB9 (a Mifare block read)
// with 16 bytes, status 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/simulator.h"

namespace bench {

class BlockModule : public readersim::Module {
 public:
  std::string name() const override { return "bench"; }
  bool handles(std::uint8_t cmd) const override { return cmd == 0xB9; }
  readersim::Reply execute(std::uint8_t, std::span<const std::uint8_t>) override {
    readersim::Reply r;
    r.data.assign(16, 0x5A);
    return r;
  }
};

}  // namespace bench
