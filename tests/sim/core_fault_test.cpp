// Each injected fault makes the reader do exactly what lies behind one of
// the host's link errors, and only for the exchanges it was meant for.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using readersim::Fault;
using readersim::FaultKind;
using simtest::Bytes;
using simtest::Clock;
using simtest::frame;
using simtest::HostLine;

long msSince(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

class CoreFault : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<readersim::Simulator>();
    ASSERT_TRUE(sim->start());
    host = std::make_unique<HostLine>(sim->path());
    ASSERT_TRUE(host->ok());
  }
  void TearDown() override {
    host.reset();
    sim->stop();
  }
  void fault(const std::string& spec) {
    std::string out;
    std::vector<std::string> words{"fault"};
    std::istringstream in(spec);
    for (std::string w; in >> w;) words.push_back(w);
    ASSERT_TRUE(sim->control(words, out));
    ASSERT_EQ(out.rfind("fault queued", 0), 0u) << out;
  }
  // Sync, frame, ack, poll by hand; returns what came after the poll.
  Bytes afterPoll(std::uint8_t cmd, const Bytes& data = {}, std::size_t n = 300) {
    EXPECT_TRUE(host->write(0x23));
    EXPECT_EQ(host->readByte(300), 0x45);
    EXPECT_TRUE(host->write(frame(cmd, data)));
    EXPECT_EQ(host->readByte(1100), 0x67);
    EXPECT_TRUE(host->write(0x89));
    return host->read(n, 250);
  }
  void expectHealthy() {
    auto r = host->exchange(0x22);
    EXPECT_EQ(r.linkError, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sim->pendingFaults(), 0u);
  }

  std::unique_ptr<readersim::Simulator> sim;
  std::unique_ptr<HostLine> host;
};

TEST_F(CoreFault, SilentOnSyncGives102) {
  fault("silent");
  ASSERT_TRUE(host->write(0x23));
  EXPECT_EQ(host->readByte(300), -1);
  expectHealthy();
  fault("102");
  EXPECT_EQ(host->exchange(0x00).linkError, 102);
  expectHealthy();
}

TEST_F(CoreFault, WrongReadyGives103) {
  fault("wrongready");
  ASSERT_TRUE(host->write(0x23));
  EXPECT_EQ(host->readByte(300), 0x3F);
  EXPECT_EQ(host->readByte(100), -1);
  expectHealthy();
  fault("wrongready status=0x12");
  ASSERT_TRUE(host->write(0x23));
  EXPECT_EQ(host->readByte(300), 0x12);
  // The reader is idle after it: a frame without a sync byte is not taken.
  ASSERT_TRUE(host->write(frame(0x22)));
  EXPECT_EQ(host->readByte(150), -1);
  expectHealthy();
  fault("103");
  EXPECT_EQ(host->exchange(0x22).linkError, 103);
}

TEST_F(CoreFault, NoAckGives108AndCarriesNothingOut) {
  fault("noack");
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x7A, {7, 1, 2, 3})));
  auto t0 = Clock::now();
  EXPECT_EQ(host->readByte(1100), -1);
  EXPECT_GE(msSince(t0), 1000);
  EXPECT_FALSE(sim->signalOutputs().has_value());
  expectHealthy();
  fault("nack");
  EXPECT_EQ(host->exchange(0x00).linkError, 108);
}

TEST_F(CoreFault, WrongAckGives109AfterCarryingTheCommandOut) {
  fault("wrongack");
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x7A, {7, 1, 2, 3})));
  EXPECT_EQ(host->readByte(300), 0x3F);
  ASSERT_TRUE(host->write(0x89));  // a poll after it is ignored
  EXPECT_EQ(host->readByte(150), -1);
  EXPECT_TRUE(sim->signalOutputs().has_value());
  expectHealthy();
  fault("109");
  EXPECT_EQ(host->exchange(0x22).linkError, 109);
}

TEST_F(CoreFault, NoStatusGives111) {
  fault("nostatus");
  EXPECT_EQ(afterPoll(0x22), Bytes{});
  expectHealthy();
  fault("111");
  EXPECT_EQ(host->exchange(0x22).linkError, 111);
}

TEST_F(CoreFault, NoLengthGives112) {
  fault("nolength");
  EXPECT_EQ(afterPoll(0x22), Bytes{0x00});
  expectHealthy();
  fault("112");
  EXPECT_EQ(host->exchange(0x22).linkError, 112);
}

TEST_F(CoreFault, ShortDataGives113) {
  fault("shortdata");
  EXPECT_EQ(afterPoll(0x22), (Bytes{0x00, 0x08, 'T', 'K', '6', '1', ' ', '2', '.'}));
  fault("shortdata");
  EXPECT_EQ(afterPoll(0x00), (Bytes{0x00, 0x01}));  // announces one byte, sends none
  expectHealthy();
  fault("113");
  auto r = host->exchange(0x22);
  EXPECT_EQ(r.linkError, 113);
  EXPECT_EQ(r.data.size(), 7u);
  fault("113");
  EXPECT_EQ(host->exchange(0x00).linkError, 113);
}

TEST_F(CoreFault, NoChecksumGives114) {
  fault("nochecksum");
  EXPECT_EQ(afterPoll(0x22), (Bytes{0x00, 0x08, 'T', 'K', '6', '1', ' ', '2', '.', '1'}));
  expectHealthy();
  fault("114");
  EXPECT_EQ(host->exchange(0x22).linkError, 114);
}

TEST_F(CoreFault, BadChecksumGives115) {
  fault("badchecksum");
  Bytes got = afterPoll(0xA1);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{0x00, 0x02, 0x11, 0x00}));
  EXPECT_NE(got[4], 0x13);
  expectHealthy();
  fault("115");
  EXPECT_EQ(host->exchange(0x00).linkError, 115);
}

TEST_F(CoreFault, DelayHoldsTheAcknowledge) {
  fault("delay ms=400");
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x22)));
  auto t0 = Clock::now();
  EXPECT_EQ(host->readByte(1100), 0x67);
  long ms = msSince(t0);
  EXPECT_GE(ms, 390);
  EXPECT_LT(ms, 700);
  ASSERT_TRUE(host->write(0x89));
  EXPECT_EQ(host->read(11, 300).size(), 11u);
  // A delay under the host's allowance still succeeds; one over it is a 108.
  fault("delay ms=800");
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  fault("delay ms=1300");
  EXPECT_EQ(host->exchange(0x22).linkError, 108);
}

TEST_F(CoreFault, StatusAnswersTheGivenStatusAndCarriesNothingOut) {
  fault("status status=0x30");
  EXPECT_EQ(afterPoll(0x7A, {1, 2, 3, 4}), (Bytes{0x30, 0x00, 0x30}));
  EXPECT_FALSE(sim->signalOutputs().has_value());
  fault("status");
  auto r = host->exchange(0x22);
  EXPECT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, readersim::status::kInjected);
  expectHealthy();
}

TEST_F(CoreFault, UnplugAtTheSyncByte) {
  fault("unplug");
  ASSERT_TRUE(host->write(0x23));
  pollfd p{host->fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 500), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_FALSE(sim->plugged());
  EXPECT_NE(::access(sim->path().c_str(), F_OK), 0);
  sim->replug();
  host = std::make_unique<HostLine>(sim->path());
  ASSERT_TRUE(host->ok());
  expectHealthy();
}

TEST_F(CoreFault, CommandFilterSkipAndCount) {
  fault("nostatus cmd=22 skip=1 count=2");
  EXPECT_EQ(host->exchange(0x00).linkError, 0);
  EXPECT_EQ(host->exchange(0x22).linkError, 0);  // skipped
  EXPECT_EQ(host->exchange(0xA1).linkError, 0);
  EXPECT_EQ(host->exchange(0x22).linkError, 111);
  EXPECT_EQ(host->exchange(0x22).linkError, 111);
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  EXPECT_EQ(sim->pendingFaults(), 0u);
}

TEST_F(CoreFault, CountAllUntilCleared) {
  fault("115 count=all");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(host->exchange(0x00).linkError, 115);
  std::string out;
  ASSERT_TRUE(sim->control({"faults", "clear"}, out));
  expectHealthy();
}

TEST_F(CoreFault, FaultsTakeTurnsInQueueOrder) {
  fault("108");
  fault("102");
  fault("112");
  fault("status status=0x33");
  EXPECT_EQ(host->exchange(0x22).linkError, 108);
  EXPECT_EQ(host->exchange(0x22).linkError, 102);
  EXPECT_EQ(host->exchange(0x22).linkError, 112);
  auto r = host->exchange(0x22);
  EXPECT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, 0x33);
  expectHealthy();
}

TEST_F(CoreFault, InjectFromCode) {
  Fault f;
  f.kind = FaultKind::BadChecksum;
  f.command = 0xA1;
  sim->inject(f);
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  EXPECT_EQ(host->exchange(0xA1).linkError, 115);
  sim->inject(f);
  sim->clearFaults();
  EXPECT_EQ(host->exchange(0xA1).linkError, 0);
}

TEST_F(CoreFault, StopDoesNotWaitForADelay) {
  fault("delay ms=20000");
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x22)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto t0 = Clock::now();
  sim->stop();
  EXPECT_LT(msSince(t0), 200);
}

TEST_F(CoreFault, UnplugDoesNotWaitForADelay) {
  fault("delay ms=20000");
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x22)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto t0 = Clock::now();
  sim->unplug();
  EXPECT_LT(msSince(t0), 200);
  sim->replug();
  host = std::make_unique<HostLine>(sim->path());
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
}

}  // namespace
