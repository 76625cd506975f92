// The fixture of the byte-exact command tests: the fake reader installed and
// COM1 linked before each test, its wire at hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>

#include "fake_port.h"

namespace fake {

// An export call and the command frame it must send.
struct FrameCase {
  const char* name;
  std::function<int()> call;
  std::uint8_t cmd;
  Bytes data;
};

class LinkedTest : public ::testing::Test {
 protected:
  void SetUp() override { fx.link(); }
  Wire& wire() { return *fx.wire(0); }

  // Each call, answered with status 0 (after `prepare`), succeeds and writes
  // exactly its command frame.
  void expectFrames(std::span<const FrameCase> cases, const std::function<void()>& prepare) {
    for (const auto& c : cases) {
      wire().written.clear();
      wire().reply(0x00);
      prepare();
      EXPECT_EQ(c.call(), 0) << c.name;
      EXPECT_EQ(wire().written, Wire::expectedFrame(c.cmd, c.data)) << c.name;
    }
  }

  FakeReader fx;
};

}  // namespace fake
