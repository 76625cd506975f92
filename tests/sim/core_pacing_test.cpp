// Pacing: each byte takes its wire time (10 bits) at the line speed, both
// ways. Bounds are generous: the machine may be busy.
#include <gtest/gtest.h>

#include "core/simulator.h"
#include "core_host.h"

namespace {

using simtest::Bytes;
using simtest::Clock;
using simtest::HostLine;
using simtest::msSince;

class CorePacing : public ::testing::Test {
 protected:
  void SetUp() override {
    readersim::Options o;
    o.paced = true;
    sim = std::make_unique<readersim::Simulator>(o);
    sim->addModule(std::make_unique<simtest::EchoModule>());
    ASSERT_TRUE(sim->start());
  }
  // An echo of n bytes: the time from writing the frame to its acknowledge,
  // and from the poll byte to the last byte of the response.
  std::pair<double, double> echoMs(HostLine& h, std::size_t n) {
    EXPECT_TRUE(h.write(0x23));
    EXPECT_EQ(h.readByte(300), 0x45);
    auto t0 = Clock::now();
    EXPECT_TRUE(h.write(simtest::frame(0x55, Bytes(n, 0x5A))));
    EXPECT_EQ(h.readByte(1500), 0x67);
    const double frame = msSince(t0);
    t0 = Clock::now();
    EXPECT_TRUE(h.write(0x89));
    EXPECT_EQ(h.read(n + 3, 2000).size(), n + 3);
    return {frame, msSince(t0)};
  }
  std::unique_ptr<readersim::Simulator> sim;
};

TEST_F(CorePacing, FrameAndResponseTakeTheirWireTime) {
  for (auto [speed, bps] : {std::pair{B9600, 9600}, std::pair{B57600, 57600}}) {
    HostLine h(sim->path(), speed);
    // 203 frame bytes in and the acknowledge out; the poll and 203 bytes out.
    const double wire = 204 * 10.0 / bps * 1000;  // 212.5 ms, 35.4 ms
    auto [frame, response] = echoMs(h, 200);
    EXPECT_GE(frame, wire - 1) << bps;
    EXPECT_LT(frame, wire * 1.5 + 20) << bps;
    EXPECT_GE(response, wire - 1) << bps;
    EXPECT_LT(response, wire * 1.5 + 20) << bps;
  }
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
  std::string out;
  ASSERT_TRUE(sim->control({"paced", "off"}, out));
  EXPECT_EQ(out, "paced off");
  EXPECT_LT(echoMs(h, 200).second, 100.0);
  ASSERT_TRUE(sim->control({"paced", "on"}, out));
  EXPECT_EQ(out, "paced on");
  EXPECT_GE(echoMs(h, 200).second, 200.0);
}

}  // namespace
