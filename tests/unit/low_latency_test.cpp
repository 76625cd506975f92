// Low-latency mode of POSIX ports, seen through the serial driver's flag:
// asked for at open, put back at close, and never in the way of an open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "link/serial_port.h"

namespace {

// The driver's flag as a test scripts it; every request is noted.
class ScriptedFlag final : public orvix::LatencyControl {
 public:
  ScriptedFlag(bool s, bool o, bool r) : supported(s), on(o), refuseSet(r) {}
  bool supported, on, refuseSet;
  std::string calls;
  bool get(int, bool& lowLatency) override {
    calls += "get ";
    lowLatency = on;
    return supported;
  }
  bool set(int, bool lowLatency) override {
    calls += lowLatency ? "set " : "clear ";
    if (refuseSet) return false;
    on = lowLatency;
    return true;
  }
};

TEST(LowLatency, AskedForAtOpenPutBackAtCloseAndARefusalChangesNothing) {
  struct Case {
    const char* name;
    const char* env;  // ORVIX32_LOW_LATENCY, nullptr = unset
    bool supported, onBefore, refuseSet;
    const char* calls;  // at open | at close
  } cases[] = {
      {"adapter", nullptr, true, false, false, "get set | clear "},
      {"already on: left on", nullptr, true, true, false, "get | "},
      {"no such flag (pty, UART)", nullptr, false, false, false, "get | "},
      {"driver refuses", nullptr, true, false, true, "get set | "},
      {"turned off", "0", true, false, false, "| "},
  };
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  setenv("ORVIX32_COM1", ptsname(master), 1);
  for (const auto& c : cases) {
    ScriptedFlag flag(c.supported, c.onBefore, c.refuseSet);
    orvix::setLatencyControl(&flag);
    c.env ? setenv("ORVIX32_LOW_LATENCY", c.env, 1) : unsetenv("ORVIX32_LOW_LATENCY");
    orvix::SerialPort* port = orvix::systemPorts().open(0);
    ASSERT_NE(port, nullptr) << c.name;
    flag.calls += "| ";
    const std::uint8_t b = 0x23;
    EXPECT_EQ(port->write(&b, 1), 1u) << c.name;  // the line works either way
    std::uint8_t got = 0;
    EXPECT_EQ(read(master, &got, 1), 1) << c.name;
    EXPECT_TRUE(port->close()) << c.name;
    delete port;
    EXPECT_EQ(flag.calls, c.calls) << c.name;
  }
  orvix::setLatencyControl(nullptr);
  unsetenv("ORVIX32_LOW_LATENCY");
  close(master);
}

TEST(PortNames, AnEmptyVariableMeansNoPort) {
  setenv("ORVIX32_COM4", "", 1);
  EXPECT_EQ(std::unique_ptr<orvix::SerialPort>(orvix::systemPorts().open(3)), nullptr);
}

}  // namespace
