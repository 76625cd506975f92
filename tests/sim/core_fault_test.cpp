// Each injected fault makes the reader do exactly what lies behind one of
// the host's link errors, and only for the exchanges it was meant for.
#include <gtest/gtest.h>

#include <thread>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using simtest::Bytes;
using simtest::cat;
using simtest::Clock;
using simtest::frame;
using simtest::HostLine;
using simtest::msSince;

class CoreFault : public simtest::SimLineTest {
 protected:
  void SetUp() override { startWithLine(std::make_unique<readersim::Simulator>()); }
  void fault(const std::string& line) {
    std::string out;
    ASSERT_TRUE(sim->control(simtest::words("fault " + line), out));
    ASSERT_EQ(out.rfind("fault queued", 0), 0u) << out;
  }
  // Sync and frame by hand; returns what the reader answered to the frame.
  int afterFrame(std::uint8_t cmd, const Bytes& data = {}, int ms = 1100) {
    EXPECT_TRUE(host->write(0x23));
    EXPECT_EQ(host->readByte(300), 0x45);
    EXPECT_TRUE(host->write(frame(cmd, data)));
    return host->readByte(ms);
  }
  void expectHealthy() {
    auto r = host->exchange(0x22);
    EXPECT_EQ(r.linkError, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sim->pendingFaults(), 0u);
  }
  // Stops at a 20 s delay's acknowledge; `end` must return at once.
  template <class F>
  void endDuringALongDelay(F end) {
    fault("delay ms=20000");
    ASSERT_TRUE(host->write(0x23));
    ASSERT_EQ(host->readByte(300), 0x45);
    ASSERT_TRUE(host->write(frame(0x22)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto t0 = Clock::now();
    end();
    EXPECT_LT(msSince(t0), 200);
  }
};

TEST_F(CoreFault, SyncAndAcknowledgeFaults) {
  fault("silent");
  ASSERT_TRUE(host->write(0x23));
  EXPECT_EQ(host->readByte(300), -1);
  expectHealthy();

  fault("wrongready");
  ASSERT_TRUE(host->write(0x23));
  EXPECT_EQ(host->readByte(300), 0x3F);
  EXPECT_EQ(host->readByte(100), -1);
  fault("wrongready status=0x12");
  ASSERT_TRUE(host->write(0x23));
  EXPECT_EQ(host->readByte(300), 0x12);
  // The reader is idle after it: a frame without a sync byte is not taken.
  ASSERT_TRUE(host->write(frame(0x22)));
  EXPECT_EQ(host->readByte(150), -1);
  expectHealthy();

  // No acknowledge within the host's second, and nothing carried out.
  fault("noack");
  auto t0 = Clock::now();
  EXPECT_EQ(afterFrame(0x7A, {7, 1, 2, 3}), -1);
  EXPECT_GE(msSince(t0), 1000);
  EXPECT_FALSE(sim->signalOutputs().has_value());
  expectHealthy();

  // A wrong acknowledge after carrying the command out; a poll is ignored.
  fault("wrongack");
  EXPECT_EQ(afterFrame(0x7A, {7, 1, 2, 3}, 300), 0x3F);
  ASSERT_TRUE(host->write(0x89));
  EXPECT_EQ(host->readByte(150), -1);
  EXPECT_TRUE(sim->signalOutputs().has_value());
  expectHealthy();
}

TEST_F(CoreFault, ResponseFaultsSendExactlyWhatTheyName) {
  const Bytes tk = {'T', 'K', '6', '1', ' ', '2', '.'};
  struct {
    const char* line;
    std::uint8_t cmd;
    Bytes data, after;  // the command's data; what follows the poll
  } cases[] = {
      {"nostatus", 0x22, {}, {}},
      {"nolength", 0x22, {}, {0x00}},
      {"shortdata", 0x22, {}, cat({0x00, 0x08}, tk)},
      {"shortdata", 0x00, {}, {0x00, 0x01}},  // announces one byte, sends none
      {"nochecksum", 0x22, {}, cat(cat({0x00, 0x08}, tk), {'1'})},
      {"status status=0x30", 0x7A, {1, 2, 3, 4}, {0x30, 0x00, 0x30}},
  };
  for (const auto& c : cases) {
    fault(c.line);
    ASSERT_EQ(afterFrame(c.cmd, c.data), 0x67) << c.line;
    ASSERT_TRUE(host->write(0x89));
    EXPECT_EQ(host->read(300, 250), c.after) << c.line;
    expectHealthy();
  }
  EXPECT_FALSE(sim->signalOutputs().has_value());  // the status fault carried nothing out

  fault("badchecksum");
  ASSERT_EQ(afterFrame(0xA1), 0x67);
  ASSERT_TRUE(host->write(0x89));
  Bytes got = host->read(300, 250);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{0x00, 0x02, 0x11, 0x00}));
  EXPECT_NE(got[4], 0x13);
  expectHealthy();

  fault("status");
  auto r = host->exchange(0x22);
  EXPECT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, readersim::status::kInjected);
}

TEST_F(CoreFault, EachLinkErrorNumberNamesItsFault) {
  for (int code : {102, 103, 108, 109, 111, 112, 113, 114, 115}) {
    fault(std::to_string(code));
    EXPECT_EQ(host->exchange(0x22).linkError, code);
    expectHealthy();
  }
  fault("nack");
  EXPECT_EQ(host->exchange(0x00).linkError, 108);
}

TEST_F(CoreFault, DelayHoldsTheAcknowledge) {
  fault("delay ms=400");
  auto t0 = Clock::now();
  EXPECT_EQ(afterFrame(0x22), 0x67);
  EXPECT_GE(msSince(t0), 390);
  EXPECT_LT(msSince(t0), 700);
  ASSERT_TRUE(host->write(0x89));
  EXPECT_EQ(host->read(11, 300).size(), 11u);
  // A delay under the host's allowance still succeeds; one over it is a 108.
  fault("delay ms=800");
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  fault("delay ms=1300");
  EXPECT_EQ(host->exchange(0x22).linkError, 108);
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
  expectHealthy();
}

TEST_F(CoreFault, FilterSkipCountAndQueueOrder) {
  fault("nostatus cmd=22 skip=1 count=2");
  const std::pair<std::uint8_t, int> steps[] = {{0x00, 0},   {0x22, 0},   {0xA1, 0},
                                                {0x22, 111}, {0x22, 111}, {0x22, 0}};
  for (auto [cmd, want] : steps) EXPECT_EQ(host->exchange(cmd).linkError, want);
  EXPECT_EQ(sim->pendingFaults(), 0u);

  fault("108");
  fault("102");
  fault("status status=0x33");
  EXPECT_EQ(host->exchange(0x22).linkError, 108);
  EXPECT_EQ(host->exchange(0x22).linkError, 102);
  EXPECT_EQ(host->exchange(0x22).status, 0x33);

  fault("115 count=all");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(host->exchange(0x00).linkError, 115);
  sim->clearFaults();
  expectHealthy();

  // From code, with a command filter.
  readersim::Fault f;
  f.kind = readersim::FaultKind::BadChecksum;
  f.command = 0xA1;
  sim->inject(f);
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  EXPECT_EQ(host->exchange(0xA1).linkError, 115);
}

TEST_F(CoreFault, UnplugAndStopDoNotWaitForADelay) {
  endDuringALongDelay([&] { sim->unplug(); });
  sim->replug();
  host = std::make_unique<HostLine>(sim->path());
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  endDuringALongDelay([&] { sim->stop(); });
}

}  // namespace
