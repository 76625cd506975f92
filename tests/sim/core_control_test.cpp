// The core's control words, the hand-over to modules, and the line speeds
// the reader answers at.
#include <gtest/gtest.h>

#include <thread>

#include "core/simulator.h"
#include "core_host.h"

namespace {

using simtest::HostLine;

class CoreControl : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<readersim::Simulator>();
    sim->addModule(std::make_unique<simtest::EchoModule>());
    ASSERT_TRUE(sim->start());
  }
  std::string run(const std::string& line, bool known = true) {
    std::string out;
    EXPECT_EQ(sim->control(simtest::words(line), out), known) << line;
    return out;
  }
  std::unique_ptr<readersim::Simulator> sim;
};

TEST_F(CoreControl, FaultsQueueListAndClear) {
  EXPECT_EQ(run("fault noack cmd=22 count=2 skip=1"), "fault queued: noack cmd=22 count=2 skip=1");
  EXPECT_EQ(run("fault delay ms=300"), "fault queued: delay count=1 skip=0 ms=300");
  EXPECT_EQ(sim->pendingFaults(), 2u);
  EXPECT_EQ(run("faults"),
            "2 fault(s) queued; noack cmd=22 count=2 skip=1; delay count=1 skip=0 ms=300");
  EXPECT_EQ(run("faults clear"), "faults cleared");
  EXPECT_EQ(sim->pendingFaults(), 0u);
}

TEST_F(CoreControl, MistakesAnswerErrorAndOtherWordsGoToModules) {
  for (const char* bad :
       {"fault bogus", "fault silent cmd=22", "speeds turbo", "paced", "faults drop"})
    EXPECT_EQ(run(bad).rfind("error:", 0), 0u) << bad;
  EXPECT_EQ(sim->pendingFaults(), 0u);
  run("frobnicate", false);
  run("", false);
  run("echo pong", false);
  EXPECT_EQ(run("echo ping"), "pong");
}

TEST_F(CoreControl, StatusTellsExchangesSpeedAndSignals) {
  HostLine h(sim->path(), B9600);
  ASSERT_EQ(h.exchange(0x7A, {1, 2, 3, 4}).linkError, 0);
  std::string s = run("status");
  for (const char* part : {"exchanges=1", "last=7A", "speed=9600", "speeds=both", "paced=off",
                           "plugged=yes", "signals=01 02 03 04"})
    EXPECT_NE(s.find(part), std::string::npos) << part << " in " << s;
}

TEST(CoreSpeed, EachSettingAnswersOnlyAtItsSpeeds) {
  using readersim::Speeds;
  struct {
    Speeds speeds;
    int fast, slow;  // link error at 57600 and at 9600
  } cases[] = {{Speeds::Both, 0, 0}, {Speeds::FastOnly, 0, 102}, {Speeds::SlowOnly, 102, 0}};
  for (const auto& c : cases) {
    readersim::Options o;
    o.speeds = c.speeds;
    readersim::Simulator sim(o);
    ASSERT_TRUE(sim.start());
    HostLine h(sim.path(), B57600);
    EXPECT_EQ(h.exchange(0x00).linkError, c.fast);
    EXPECT_EQ(sim.hostSpeed(), 57600);
    ASSERT_TRUE(h.setSpeed(B9600));
    EXPECT_EQ(sim.hostSpeed(), 9600);
    EXPECT_EQ(h.exchange(0x00).linkError, c.slow);
    EXPECT_EQ(sim.exchanges(), (c.fast == 0) + (c.slow == 0) + 0u);
  }
}

TEST_F(CoreControl, SilentAtAnyOtherSpeedAndBeforeASpeedIsSet) {
  int fd = ::open(sim->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "\x23", 1), 1);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 250), 0);
  ::close(fd);
  for (speed_t s : {B19200, B38400, B115200, B4800}) {
    HostLine h(sim->path(), s);
    EXPECT_EQ(h.exchange(0x00).linkError, 102) << "speed code " << s;
  }
  EXPECT_EQ(sim->exchanges(), 0u);
}

TEST_F(CoreControl, SpeedsChangeWhileServing) {
  HostLine h(sim->path(), B57600);
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
  EXPECT_EQ(run("speeds slow"), "speeds slow");
  EXPECT_EQ(h.exchange(0x00).linkError, 102);
  EXPECT_EQ(run("speeds both"), "speeds both");
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
  // A speed change in mid-frame drops the frame.
  EXPECT_EQ(run("speeds fast"), "speeds fast");
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
