// The reader answers only at the line speeds it accepts.
#include <gtest/gtest.h>

#include "core/simulator.h"
#include "core_host.h"

namespace {

using simtest::HostLine;

std::unique_ptr<readersim::Simulator> startSim(readersim::Speeds s) {
  readersim::Options o;
  o.speeds = s;
  auto sim = std::make_unique<readersim::Simulator>(o);
  EXPECT_TRUE(sim->start());
  return sim;
}

TEST(CoreSpeed, BothAnswersAtTheFastSpeedAndAt9600) {
  auto sim = startSim(readersim::Speeds::Both);
  HostLine h(sim->path(), B57600);
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
  EXPECT_EQ(sim->hostSpeed(), 57600);
  ASSERT_TRUE(h.setSpeed(B9600));
  EXPECT_EQ(sim->hostSpeed(), 9600);
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
}

TEST(CoreSpeed, FastOnlyIsSilentAt9600) {
  auto sim = startSim(readersim::Speeds::FastOnly);
  HostLine h(sim->path(), B9600);
  EXPECT_EQ(h.exchange(0x00).linkError, 102);
  ASSERT_TRUE(h.setSpeed(B57600));
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
}

TEST(CoreSpeed, SlowOnlyIsSilentAtTheFastSpeed) {
  auto sim = startSim(readersim::Speeds::SlowOnly);
  HostLine h(sim->path(), B57600);
  EXPECT_EQ(h.exchange(0x00).linkError, 102);
  ASSERT_TRUE(h.setSpeed(B9600));
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
}

TEST(CoreSpeed, SilentAtAnyOtherSpeed) {
  auto sim = startSim(readersim::Speeds::Both);
  for (speed_t s : {B19200, B38400, B115200, B4800}) {
    HostLine h(sim->path(), s);
    EXPECT_EQ(h.exchange(0x00).linkError, 102) << "speed code " << s;
  }
  EXPECT_EQ(sim->exchanges(), 0u);
}

TEST(CoreSpeed, SilentBeforeTheHostProgramsASpeed) {
  auto sim = startSim(readersim::Speeds::Both);
  EXPECT_NE(sim->hostSpeed(), 57600);
  EXPECT_NE(sim->hostSpeed(), 9600);
  int fd = ::open(sim->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "\x23", 1), 1);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 250), 0);
  ::close(fd);
}

TEST(CoreSpeed, SpeedsCanChangeWhileServing) {
  auto sim = startSim(readersim::Speeds::Both);
  HostLine h(sim->path(), B57600);
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
  sim->setSpeeds(readersim::Speeds::SlowOnly);
  EXPECT_EQ(h.exchange(0x00).linkError, 102);
  std::string out;
  ASSERT_TRUE(sim->control({"speeds", "fast"}, out));
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
}

TEST(CoreSpeed, ASpeedChangeMidFrameDropsTheFrame) {
  auto sim = startSim(readersim::Speeds::FastOnly);
  HostLine h(sim->path(), B57600);
  ASSERT_TRUE(h.write(0x23));
  ASSERT_EQ(h.readByte(300), 0x45);
  ASSERT_TRUE(h.write(simtest::Bytes{0x22, 0x00}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  termios t{};
  ASSERT_EQ(tcgetattr(h.fd(), &t), 0);
  cfsetspeed(&t, B9600);
  ASSERT_EQ(tcsetattr(h.fd(), TCSANOW, &t), 0);
  ASSERT_TRUE(h.write(0x22));  // the checksum, at a speed the reader cannot read
  EXPECT_EQ(h.readByte(200), -1);
  ASSERT_TRUE(h.setSpeed(B57600));
  EXPECT_EQ(h.exchange(0x22).linkError, 0);
}

}  // namespace
