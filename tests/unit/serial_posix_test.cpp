// The POSIX serial backend on a real pseudo-terminal: line settings,
// time-outs, purge, exclusive open, and the ports it refuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "link/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
long long msSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// A pty that COM1 maps to; the test plays the reader on the master and keeps
// a slave handle of its own so the line never hangs up between opens.
class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    keeper = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(keeper, 0);
    termios t{};
    tcgetattr(keeper, &t);
    cfmakeraw(&t);
    tcsetattr(keeper, TCSANOW, &t);
    setenv("ORVIX32_COM1", ptsname(master), 1);
  }
  void TearDown() override {
    orvix::setLatencyControl(nullptr);
    unsetenv("ORVIX32_LOW_LATENCY");
    if (port) port->close();
    delete port;
    for (int fd : {keeper, master})
      if (fd >= 0) ::close(fd);
  }
  void open(int rate, int m) {
    port = orvix::systemPorts().open(0);
    ASSERT_NE(port, nullptr);
    orvix::Timeouts t;
    t.readMultiplier = t.writeMultiplier = m;
    ASSERT_TRUE(port->buildLine("COM1: baud=9600 parity=N data=8 stop=1"));
    ASSERT_TRUE(port->applyLine(rate));
    ASSERT_TRUE(port->setTimeouts(t));
  }
  // The reader's bytes, written and then waited for in the line's input queue.
  void readerSends(std::vector<std::uint8_t> v) {
    int before = 0, now = 0;
    ASSERT_EQ(ioctl(keeper, FIONREAD, &before), 0);
    ASSERT_EQ(write(master, v.data(), v.size()), ssize_t(v.size()));
    for (int i = 0; i < 2000 && now < before + int(v.size()); ++i)
      if (ioctl(keeper, FIONREAD, &now) != 0 || now < before + int(v.size()))
        usleep(1000);  // poll: until the bytes are in the queue
  }
  // What the host wrote, as the reader reads it: n bytes, or fewer after 2 s.
  std::vector<std::uint8_t> readerGets(std::size_t n) {
    std::vector<std::uint8_t> got(n);
    std::size_t have = 0;
    pollfd p{master, POLLIN, 0};
    while (have < n && poll(&p, 1, 2000) == 1) {
      const ssize_t k = read(master, got.data() + have, n - have);
      if (k <= 0) break;
      have += std::size_t(k);
    }
    got.resize(have);
    return got;
  }

  int master = -1, keeper = -1;
  orvix::SerialPort* port = nullptr;
};

TEST_F(Pty, LineSettingsReadsAndWrites) {
  open(56000, 1);
  termios t{};
  ASSERT_EQ(tcgetattr(keeper, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B57600);  // the fast rate value runs at 57600
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  std::uint8_t b[4] = {};
  EXPECT_EQ(port->read(b, 1), 0u);  // nothing there: the time-out
  readerSends({1, 2, 3});
  EXPECT_EQ(port->read(b, 3), 3u);
  EXPECT_EQ(b[2], 3);
  readerSends({0x45, 0x67, 0x00});  // bytes beyond a request wait, until purged
  ASSERT_EQ(port->read(b, 1), 1u);
  EXPECT_EQ(b[0], 0x45);
  EXPECT_TRUE(port->purge());
  EXPECT_EQ(port->read(b, 1), 0u);
  const std::uint8_t frame[] = {0x23, 0xA1, 0x00, 0xA1};
  EXPECT_EQ(port->write(frame, 4), 4u);
  EXPECT_EQ(readerGets(4), std::vector<std::uint8_t>(frame, frame + 4));
  ASSERT_TRUE(port->applyLine(9600));
  ASSERT_EQ(tcgetattr(keeper, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
}

// Wall-clock bounds of the time-outs (the timing label: run alone).
using PtyTiming = Pty;

TEST_F(PtyTiming, TotalTimeOutAndBytesThereAtOnce) {
  open(56000, 1);
  std::uint8_t b[3] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(b, 1), 0u);  // the total time-out: 100 + 1 ms
  EXPECT_GE(msSince(t0), 95);
  EXPECT_LT(msSince(t0), 400);
  readerSends({1, 2, 3});
  t0 = Clock::now();
  EXPECT_EQ(port->read(b, 3), 3u);  // with its bytes there: at once
  EXPECT_LT(msSince(t0), 50);
}

TEST_F(PtyTiming, SilenceBetweenBytesEndsARead) {
  open(9600, 2);
  // Total allowance for 200 bytes is 100 + 400 ms; the 200 ms gap ends it first.
  std::thread reader([&] {
    ASSERT_EQ(write(master, "\xAA\xBB", 2), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(330));  // the gap under test
    ASSERT_EQ(write(master, "\xCC", 1), 1);
  });
  std::uint8_t b[200] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(b, sizeof b), 2u);
  const auto ms = msSince(t0);
  reader.join();
  EXPECT_GE(ms, 190);
  EXPECT_LT(ms, 340);
}

TEST_F(PtyTiming, HungUpLineEndsAReadAtOnce) {
  open(9600, 2);
  ::close(keeper);
  ::close(master);
  keeper = master = -1;
  std::uint8_t b[64] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(b, sizeof b), 0u);
  EXPECT_LT(msSince(t0), 100);
}

TEST_F(Pty, ExclusiveOpenAndAClosedPortRefusesEverything) {
  open(56000, 1);
  orvix::SerialPort* second = orvix::systemPorts().open(0);  // even as root
  EXPECT_EQ(second, nullptr);
  delete second;
  ASSERT_TRUE(port->close());
  std::uint8_t b = 0;
  EXPECT_FALSE(port->clearErrors() || port->setEventMaskNone() || port->purge() || port->close());
  EXPECT_EQ(port->write(&b, 1), 0u);
  delete port;
  port = orvix::systemPorts().open(0);  // closed, it opens again
  EXPECT_NE(port, nullptr);
}

// The driver's low-latency flag as a test scripts it; every request is noted.
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

TEST_F(Pty, LowLatencyAskedForAtOpenPutBackAtCloseAndARefusalChangesNothing) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedFlag flag(c.supported, c.onBefore, c.refuseSet);
    orvix::setLatencyControl(&flag);
    c.env ? setenv("ORVIX32_LOW_LATENCY", c.env, 1) : unsetenv("ORVIX32_LOW_LATENCY");
    std::unique_ptr<orvix::SerialPort> p(orvix::systemPorts().open(0));
    ASSERT_NE(p, nullptr);
    flag.calls += "| ";
    std::uint8_t b = 0x23;
    EXPECT_EQ(p->write(&b, 1), 1u);  // the line works either way
    EXPECT_EQ(readerGets(1).size(), 1u);
    EXPECT_TRUE(p->close());
    EXPECT_EQ(flag.calls, c.calls);
  }
}

}  // namespace
