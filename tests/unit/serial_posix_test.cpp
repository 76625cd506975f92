// The POSIX serial backend on a real pseudo-terminal: time-outs, exclusive
// open, purge, and the ports it refuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "link/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// A pty whose slave COM1 maps to; the test plays the reader on the master.
class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    slavePath = ptsname(master);
    // Keep a slave handle of our own so the line never hangs up between opens.
    keeper = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(keeper, 0);
    termios t{};
    tcgetattr(keeper, &t);
    cfmakeraw(&t);
    tcsetattr(keeper, TCSANOW, &t);
    setenv("ORVIX32_COM1", slavePath.c_str(), 1);
  }
  void TearDown() override {
    if (port) {
      port->close();
      delete port;
    }
    if (keeper >= 0) close(keeper);
    if (master >= 0) close(master);
  }
  orvix::SerialPort* openConfigured(int rate = 56000, int m = 1) {
    orvix::SerialPort* p = orvix::systemPorts().open(0);
    if (!p) return nullptr;
    orvix::Timeouts t;
    t.readMultiplier = m;
    t.writeMultiplier = m;
    EXPECT_TRUE(p->buildLine("COM1: baud=9600 parity=N data=8 stop=1"));
    EXPECT_TRUE(p->applyLine(rate));
    EXPECT_TRUE(p->setTimeouts(t));
    return p;
  }
  void readerSends(std::initializer_list<std::uint8_t> b) {
    std::vector<std::uint8_t> v(b);
    ASSERT_EQ(write(master, v.data(), v.size()), static_cast<ssize_t>(v.size()));
  }

  int master = -1;
  int keeper = -1;
  std::string slavePath;
  orvix::SerialPort* port = nullptr;
};

TEST_F(Pty, FastRateValueRunsTheLineAt57600And9600StaysSo) {
  port = openConfigured(56000);
  ASSERT_NE(port, nullptr);
  termios t{};
  ASSERT_EQ(tcgetattr(keeper, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B57600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  ASSERT_TRUE(port->applyLine(9600));
  ASSERT_EQ(tcgetattr(keeper, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
}

TEST_F(Pty, EmptyReadGivesUpAfterTheTotalTimeout) {
  port = openConfigured(56000, 1);
  ASSERT_NE(port, nullptr);
  std::uint8_t b = 0;
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(&b, 1), 0u);
  const auto ms = msSince(t0);
  EXPECT_GE(ms, 95);  // 100 + 1 ms
  EXPECT_LT(ms, 400);
}

TEST_F(Pty, ReadWithItsBytesReturnsAtOnce) {
  port = openConfigured();
  ASSERT_NE(port, nullptr);
  readerSends({1, 2, 3});
  std::uint8_t b[3] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(b, 3), 3u);
  EXPECT_LT(msSince(t0), 50);
  EXPECT_EQ(b[2], 3);
}

TEST_F(Pty, SilenceBetweenBytesEndsTheRead) {
  port = openConfigured(9600, 2);
  ASSERT_NE(port, nullptr);
  // Total allowance for 200 bytes is 100 + 400 ms; the 200 ms gap ends it first.
  std::thread reader([&] {
    readerSends({0xAA, 0xBB});
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    readerSends({0xCC});
  });
  std::uint8_t b[200] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(b, sizeof b), 2u);
  const auto ms = msSince(t0);
  reader.join();
  EXPECT_GE(ms, 190);
  EXPECT_LT(ms, 340);
}

TEST_F(Pty, PurgeEmptiesWhatTheReaderSent) {
  port = openConfigured();
  ASSERT_NE(port, nullptr);
  readerSends({1, 2, 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(port->purge());
  std::uint8_t b = 0;
  EXPECT_EQ(port->read(&b, 1), 0u);
}

TEST_F(Pty, BytesBeyondARequestWaitForTheNextReadUntilPurged) {
  port = openConfigured();
  ASSERT_NE(port, nullptr);
  readerSends({0x45, 0x67, 0x00});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::uint8_t b = 0;
  ASSERT_EQ(port->read(&b, 1), 1u);
  EXPECT_EQ(b, 0x45);
  ASSERT_EQ(port->read(&b, 1), 1u);
  EXPECT_EQ(b, 0x67);
  EXPECT_TRUE(port->purge());
  EXPECT_EQ(port->read(&b, 1), 0u);
}

TEST_F(Pty, HungUpLineEndsAReadAtOnce) {
  port = openConfigured(9600, 2);
  ASSERT_NE(port, nullptr);
  close(keeper);
  keeper = -1;
  close(master);
  master = -1;
  std::uint8_t b[64] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(port->read(b, sizeof b), 0u);
  EXPECT_LT(msSince(t0), 100);
}

TEST_F(Pty, WrittenBytesReachTheReader) {
  port = openConfigured();
  ASSERT_NE(port, nullptr);
  const std::uint8_t frame[] = {0x23, 0xA1, 0x00, 0xA1};
  EXPECT_EQ(port->write(frame, sizeof frame), sizeof frame);
  std::uint8_t got[4] = {};
  std::size_t n = 0;
  for (int i = 0; i < 50 && n < 4; ++i) {
    const ssize_t r = read(master, got + n, 4 - n);
    if (r > 0) n += static_cast<std::size_t>(r);
  }
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(got[1], 0xA1);
}

TEST_F(Pty, ASecondOpenerIsRefusedEvenAsRoot) {
  port = openConfigured();
  ASSERT_NE(port, nullptr);
  orvix::SerialPort* second = orvix::systemPorts().open(0);
  EXPECT_EQ(second, nullptr);
  delete second;
  // Closed again, it opens.
  port->close();
  delete port;
  port = orvix::systemPorts().open(0);
  EXPECT_NE(port, nullptr);
}

TEST_F(Pty, ClosedPortRefusesEveryOperation) {
  port = openConfigured();
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(port->close());
  EXPECT_FALSE(port->clearErrors());
  EXPECT_FALSE(port->setEventMaskNone());
  EXPECT_FALSE(port->purge());
  std::uint8_t b = 0;
  EXPECT_EQ(port->write(&b, 1), 0u);
  EXPECT_FALSE(port->close());
}

TEST(PortNames, MissingPathsPlainFilesAndTheConsoleAreNotOpened) {
  char file[] = "/tmp/orvix32-notatty-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  for (const char* path :
       {"/nonexistent/orvix32-port", static_cast<const char*>(file), "/dev/console"}) {
    setenv("ORVIX32_COM3", path, 1);
    orvix::SerialPort* p = orvix::systemPorts().open(2);
    EXPECT_EQ(p, nullptr) << path;
    delete p;
  }
  unlink(file);
}

}  // namespace
