// Pacing: each byte takes its wire time (10 bits) at the line speed, both
// ways. Bounds are generous: the machine may be busy.
#include <gtest/gtest.h>

#include "core/simulator.h"
#include "core_host.h"

namespace {

using simtest::Bytes;
using simtest::Clock;
using simtest::frame;
using simtest::HostLine;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

class CorePacing : public ::testing::Test {
 protected:
  void SetUp() override {
    readersim::Options o;
    o.paced = true;
    sim = std::make_unique<readersim::Simulator>(o);
    sim->addModule(std::make_unique<simtest::EchoModule>());
    ASSERT_TRUE(sim->start());
  }
  // Time from the poll byte to the last byte of an r-byte response.
  double responseMs(HostLine& h, std::size_t r) {
    Bytes d(r, 0x5A);
    EXPECT_TRUE(h.write(0x23));
    EXPECT_EQ(h.readByte(300), 0x45);
    EXPECT_TRUE(h.write(frame(0x55, d)));
    EXPECT_EQ(h.readByte(1500), 0x67);
    auto t0 = Clock::now();
    EXPECT_TRUE(h.write(0x89));
    EXPECT_EQ(h.read(r + 3, 2000).size(), r + 3);
    return msSince(t0);
  }
  // Time from writing a frame with n data bytes to its acknowledge.
  double frameMs(HostLine& h, std::size_t n) {
    Bytes d(n, 0xA5);
    EXPECT_TRUE(h.write(0x23));
    EXPECT_EQ(h.readByte(300), 0x45);
    auto t0 = Clock::now();
    EXPECT_TRUE(h.write(frame(0x55, d)));
    EXPECT_EQ(h.readByte(1500), 0x67);
    double ms = msSince(t0);
    EXPECT_TRUE(h.write(0x89));
    EXPECT_EQ(h.read(n + 3, 2000).size(), n + 3);
    return ms;
  }
  std::unique_ptr<readersim::Simulator> sim;
};

TEST_F(CorePacing, ResponseTakesItsWireTimeAt9600) {
  HostLine h(sim->path(), B9600);
  // The poll byte and 203 response bytes, 10 bits each at 9600 bit/s.
  double wire = (1 + 203) * 10.0 / 9600 * 1000;  // 212.5 ms
  double ms = responseMs(h, 200);
  EXPECT_GE(ms, wire - 1);
  EXPECT_LT(ms, wire * 1.25 + 20);
}

TEST_F(CorePacing, CommandFrameTakesItsWireTimeAt9600) {
  HostLine h(sim->path(), B9600);
  // 258 frame bytes in, then the acknowledge out.
  double wire = (258 + 1) * 10.0 / 9600 * 1000;  // 269.8 ms
  double ms = frameMs(h, 255);
  EXPECT_GE(ms, wire - 1);
  EXPECT_LT(ms, wire * 1.25 + 20);
}

TEST_F(CorePacing, ResponseTakesItsWireTimeAtTheFastSpeed) {
  HostLine h(sim->path(), B57600);
  double wire = (1 + 203) * 10.0 / 57600 * 1000;  // 35.4 ms
  double ms = responseMs(h, 200);
  EXPECT_GE(ms, wire - 0.5);
  EXPECT_LT(ms, wire * 1.5 + 10);
}

TEST_F(CorePacing, ManySmallExchangesDoNotDrift) {
  HostLine h(sim->path(), B57600);
  // 0x22: host 5 bytes, reader 13 bytes per exchange.
  const int n = 100;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) ASSERT_EQ(h.exchange(0x22).linkError, 0);
  double ms = msSince(t0);
  double wire = n * 18 * 10.0 / 57600 * 1000;  // 312.5 ms
  EXPECT_GE(ms, wire - 1);
  EXPECT_LT(ms, wire * 1.6 + 50);
}

TEST_F(CorePacing, UnpacedIsFastAndPacingSwitchesLive) {
  HostLine h(sim->path(), B9600);
  sim->setPaced(false);
  EXPECT_LT(responseMs(h, 200), 100.0);
  std::string out;
  ASSERT_TRUE(sim->control({"paced", "on"}, out));
  EXPECT_GE(responseMs(h, 200), 200.0);
}

}  // namespace
