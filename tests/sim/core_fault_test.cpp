// Injected faults: which queued fault an exchange gets, how the fault words
// are read, and that each makes the reader do exactly what lies behind one of
// the host's link errors, only for the exchanges it was meant for.
#include <gtest/gtest.h>

#include <thread>

#include "core/fault.h"
#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using namespace simtest;
using readersim::FaultKind;

readersim::Fault make(FaultKind k, std::optional<std::uint8_t> cmd = {}, int skip = 0) {
  return {k, cmd, 1, 0, 0, skip};
}

TEST(CoreFaultQueue, OneFaultPerExchangeInQueueOrderAndTheWords) {
  readersim::FaultQueue q;
  q.push(make(FaultKind::NoAck));
  q.push(make(FaultKind::SilentOnSync));
  q.push(make(FaultKind::WrongAck));
  EXPECT_FALSE(q.takeAtSync());  // exchange 1: the unfiltered NoAck is due, the silent one waits
  EXPECT_EQ(q.takeAtFrame(0x22)->kind, FaultKind::NoAck);
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::SilentOnSync);
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtFrame(0x22)->kind, FaultKind::WrongAck);
  EXPECT_EQ(q.size(), 0u);
  q.push(make(FaultKind::NoAck, 0xB9));  // a filtered frame fault does not hold back a sync fault
  q.push(make(FaultKind::WrongReady));
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::WrongReady);
  EXPECT_FALSE(q.takeAtFrame(0x00));
  EXPECT_TRUE(q.takeAtFrame(0xB9));
  q.push(make(FaultKind::Unplug, {}, 1));  // sync faults count every exchange for their skip
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::Unplug);

  std::string err;
  auto f = readersim::parseFault(words("delay cmd=b9 count=3 skip=2 ms=750"), err);
  ASSERT_TRUE(f) << err;
  EXPECT_TRUE(f->kind == FaultKind::Delay && f->command == 0xB9 && f->count == 3 && f->skip == 2 &&
              f->delayMs == 750);
  f = readersim::parseFault(words("status status=0x30 count=all cmd=0x22"), err);
  ASSERT_TRUE(f) << err;
  EXPECT_TRUE(f->status == 0x30 && f->count == -1);
  f = readersim::parseFault(words("status status=48"), err);
  EXPECT_TRUE(f && f->status == 48);
  for (const char* bad : {"", "bogus", "101", "noack cmd=1FF", "noack count=0", "noack skip=-1",
                          "noack color=red", "noack 22", "status status=256",
                          "wrongready status=0x45", "wrongack status=0x67", "silent cmd=22"})
    EXPECT_FALSE(readersim::parseFault(words(bad), err)) << bad;  // 101: no reader fault causes it
  EXPECT_NE(err.find("sync"), std::string::npos);
}

class CoreFault : public SimLineTest {
 protected:
  void SetUp() override { start(); }
  void fault(const std::string& line) {
    ASSERT_EQ(control("fault " + line).rfind("fault queued", 0), 0u);
  }
  // Sync and frame by hand; what the reader answered to the frame.
  int afterFrame(std::uint8_t cmd, const Bytes& data = {}, int ms = 1100) {
    EXPECT_TRUE(host->write(0x23) && host->readByte(300) == 0x45 && host->write(frame(cmd, data)));
    return host->readByte(ms);
  }
  void expectHealthy() {
    const auto r = host->exchange(0x22);
    EXPECT_EQ(r.linkError + r.status, 0);
    EXPECT_EQ(sim->pendingFaults(), 0u);
  }
  void replugged() {
    sim->replug();
    host = std::make_unique<HostLine>(sim->path());
    expectHealthy();
  }
};

TEST_F(CoreFault, SyncAcknowledgeAndResponseFaults) {
  // clang-format off
  const std::tuple<const char*, std::uint8_t, Bytes, const char*> cases[] = {
      // fault, command and data, then what the reader sends from the sync byte on
      // ("|" where the host sends the frame, "/" where it polls).
      // After a silent or wrong ready byte the reader is idle: a frame without a sync is not taken.
      {"silent", 0x22, {}, "|"},                                 {"wrongready", 0x22, {}, "3F|"},
      {"wrongready status=0x12", 0x22, {}, "12|"},
      {"nostatus", 0x22, {}, "45|67/"},                          {"nolength", 0x22, {}, "45|67/00"},
      {"shortdata", 0x22, {}, "45|67/0008544B363120322E"},      {"shortdata", 0x00, {}, "45|67/0001"},
      {"nochecksum", 0x22, {}, "45|67/0008544B363120322E31"},   {"status status=0x30", 0x7A, {1, 2, 3, 4},
       "45|67/300030"},
      {"noack", 0x7A, {7, 1, 2, 3}, "45|"},                      // none within the host's second
      {"wrongack", 0x7A, {7, 1, 2, 3}, "45|3F/"},                // after carrying the command out
  };
  // clang-format on
  for (const auto& [line, cmd, data, reader] : cases) {
    fault(line);
    std::string got;
    ASSERT_TRUE(host->write(0x23));
    for (std::string r = reader;
         r.find('|') != std::string::npos || r.find('/') != std::string::npos;) {
      const std::size_t cut = r.find_first_of("|/");
      got += toHex(host->read(cut / 2, 400)) + r[cut];
      ASSERT_TRUE(host->write(r[cut] == '|' ? frame(cmd, data) : Bytes{0x89}));
      r = r.substr(cut + 1);
    }
    got += toHex(host->read(300, std::string(line) == "noack" ? 1100 : 250));
    EXPECT_EQ(got, reader) << line;
    EXPECT_EQ(sim->signalOutputs().has_value(), std::string(line) == "wrongack") << line;
    sim->clearFaults();
    ASSERT_TRUE(host->setSpeed(B57600));  // the reader is idle again: a fresh exchange
    expectHealthy();
  }
  fault("badchecksum");
  EXPECT_EQ(afterFrame(0xA1), 0x67);
  ASSERT_TRUE(host->write(0x89));
  const Bytes got = host->read(300, 250);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(toHex(got).substr(0, 8), "00021100");
  EXPECT_NE(got[4], 0x13);
  expectHealthy();
  fault("status");
  EXPECT_EQ(host->exchange(0x22).status, readersim::status::kInjected);
  for (int code : {102, 103, 108, 109, 111, 112, 113, 114, 115}) {  // a link error names its fault
    fault(std::to_string(code));
    EXPECT_EQ(host->exchange(0x22).linkError, code);
    expectHealthy();
  }
  fault("nack");
  EXPECT_EQ(host->exchange(0x00).linkError, 108);
}

TEST_F(CoreFault, FilterSkipCountOrderAndDelay) {
  fault("nostatus cmd=22 skip=1 count=2");
  for (auto [cmd, want] :
       {std::pair{0x00, 0}, {0x22, 0}, {0xA1, 0}, {0x22, 111}, {0x22, 111}, {0x22, 0}})
    EXPECT_EQ(host->exchange(std::uint8_t(cmd)).linkError, want);
  EXPECT_EQ(sim->pendingFaults(), 0u);
  fault("108"), fault("102"), fault("status status=0x33");
  EXPECT_EQ(host->exchange(0x22).linkError, 108);
  EXPECT_EQ(host->exchange(0x22).linkError, 102);
  EXPECT_EQ(host->exchange(0x22).status, 0x33);
  fault("115 count=all");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(host->exchange(0x00).linkError, 115);
  sim->clearFaults();
  expectHealthy();
  sim->inject(make(FaultKind::BadChecksum, 0xA1));  // from code, with a command filter
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  EXPECT_EQ(host->exchange(0xA1).linkError, 115);
}

// Delays as the host's clock sees them (the timing label: run alone).
using CoreFaultTiming = CoreFault;

TEST_F(CoreFaultTiming, DelaysAndNoWaitingForOneAtUnplugOrStop) {
  fault("delay ms=400");
  auto t0 = Clock::now();
  EXPECT_EQ(afterFrame(0x22), 0x67);
  EXPECT_TRUE(msSince(t0) >= 390 && msSince(t0) < 700) << msSince(t0);
  ASSERT_TRUE(host->write(0x89));
  EXPECT_EQ(host->read(11, 300).size(), 11u);
  fault("delay ms=800");  // under the host's allowance it still succeeds; over it, a 108
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
  fault("delay ms=1300");
  EXPECT_EQ(host->exchange(0x22).linkError, 108);
  for (int end = 0; end < 2; ++end) {  // unplug, then stop, during a 20 s delay: at once
    start();  // a fresh reader, not still in the last delay
    fault("delay ms=20000");
    const auto cmd = std::uint8_t(0x30 + end);
    ASSERT_TRUE(host->write(0x23) && host->readByte(300) == 0x45 && host->write(frame(cmd)));
    EXPECT_TRUE(waitUntil([&] { return sim->lastCommand() == cmd; }));  // delaying now
    t0 = Clock::now();
    end ? sim->stop() : sim->unplug();
    EXPECT_LT(msSince(t0), 200);
    if (!end) replugged();
    sim->stop();
  }
}

TEST_F(CoreFault, UnplugAtTheSyncByte) {
  fault("unplug");
  ASSERT_TRUE(host->write(0x23));
  pollfd p{host->fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 500), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_FALSE(sim->plugged() || ::access(sim->path().c_str(), F_OK) == 0);
  replugged();
}

}  // namespace
