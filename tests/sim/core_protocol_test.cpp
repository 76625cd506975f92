// The reader side of the exchange, byte by byte over the real pty.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using simtest::Bytes;
using simtest::frame;
using simtest::HostLine;

class CoreProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    readersim::Options o;
    o.log = [this](const std::string& l) {
      std::lock_guard<std::mutex> lk(logMu);
      logLines.push_back(l);
    };
    tweak(o);
    sim = std::make_unique<readersim::Simulator>(o);
    auto m = std::make_unique<simtest::EchoModule>();
    echo = m.get();
    sim->addModule(std::move(m));
    ASSERT_TRUE(sim->start());
    host = std::make_unique<HostLine>(sim->path());
    ASSERT_TRUE(host->ok());
  }
  void TearDown() override {
    host.reset();
    sim->stop();
  }
  virtual void tweak(readersim::Options&) {}

  // Runs an exchange byte by byte and returns every byte the reader sent.
  Bytes raw(const Bytes& cmdFrame, std::size_t respBytes) {
    Bytes got;
    EXPECT_TRUE(host->write(0x23));
    got.push_back(static_cast<std::uint8_t>(host->readByte(300)));
    EXPECT_TRUE(host->write(cmdFrame));
    got.push_back(static_cast<std::uint8_t>(host->readByte(1200)));
    EXPECT_TRUE(host->write(0x89));
    Bytes r = host->read(respBytes, 300);
    got.insert(got.end(), r.begin(), r.end());
    EXPECT_EQ(host->readByte(50), -1) << "extra bytes after the response";
    return got;
  }
  // Modules are used under the simulator's mutex from other threads.
  int echoCalls() {
    std::lock_guard<std::mutex> lk(sim->mutex());
    return echo->calls;
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lk(logMu);
    return logLines;
  }

  std::unique_ptr<readersim::Simulator> sim;
  simtest::EchoModule* echo = nullptr;
  std::unique_ptr<HostLine> host;
  std::mutex logMu;
  std::vector<std::string> logLines;
};

TEST_F(CoreProtocol, ProbeIsAnsweredWithStatusZeroAndNoData) {
  EXPECT_EQ(raw({0x00, 0x00, 0x00}, 3), (Bytes{0x45, 0x67, 0x00, 0x00, 0x00}));
}

TEST_F(CoreProtocol, ModuleNumberIs17And0) {
  EXPECT_EQ(raw({0xA1, 0x00, 0xA1}, 5), (Bytes{0x45, 0x67, 0x00, 0x02, 0x11, 0x00, 0x13}));
}

TEST_F(CoreProtocol, DeviceNumberAndFirmwareVersionFromOptions) {
  auto r = host->exchange(0x20);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, 0);
  readersim::Options def;
  EXPECT_EQ(r.data, Bytes(def.deviceNumber.begin(), def.deviceNumber.end()));
  r = host->exchange(0x22);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data, (Bytes{'T', 'K', '6', '1', ' ', '2', '.', '1'}));
}

TEST_F(CoreProtocol, SignalOutputsTakeFourBytesAndAreLogged) {
  // ALARM(7, 30, 30, 3): the signal frame, checksum 0x7A.
  Bytes f{0x7A, 0x04, 0x07, 0x1E, 0x1E, 0x03, 0x7A};
  EXPECT_EQ(frame(0x7A, {7, 30, 30, 3}), f);
  EXPECT_EQ(raw(f, 3), (Bytes{0x45, 0x67, 0x00, 0x00, 0x00}));
  auto s = sim->signalOutputs();
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(*s, (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
  bool logged = false;
  for (const auto& l : lines())
    logged = logged || l.find("signal outputs: select=07 a=1E b=1E c=03") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(CoreProtocol, SignalOutputsWithAWrongLengthGiveWrongLength) {
  auto r = host->exchange(0x7A, {7, 30, 30});
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, readersim::status::kWrongLength);
  EXPECT_TRUE(r.data.empty());
  EXPECT_FALSE(sim->signalOutputs().has_value());
}

TEST_F(CoreProtocol, UnknownCommandGivesStatus1) {
  EXPECT_EQ(raw(frame(0x99), 3), (Bytes{0x45, 0x67, 0x01, 0x00, 0x01}));
}

TEST_F(CoreProtocol, FrameChecksumMismatchIsAcknowledgedWithStatus2AndNotCarriedOut) {
  Bytes bad{0x55, 0x02, 0x01, 0x02, 0x00};  // right checksum is 0x54
  EXPECT_EQ(raw(bad, 3), (Bytes{0x45, 0x67, 0x02, 0x00, 0x02}));
  EXPECT_EQ(echoCalls(), 0);
}

TEST_F(CoreProtocol, ModulesGetTheirCommandsWithTheData) {
  auto r = host->exchange(0x55, {1, 2, 3});
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data, (Bytes{3, 2, 1}));
  r = host->exchange(0x56, {9, 9});
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.status, 0x42);
  EXPECT_EQ(r.data, (Bytes{2}));
  EXPECT_EQ(echoCalls(), 2);
}

TEST_F(CoreProtocol, LongestFramesBothWays) {
  Bytes d(255);
  for (int i = 0; i < 255; ++i) d[i] = static_cast<std::uint8_t>(i);
  auto r = host->exchange(0x55, d);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data, Bytes(d.rbegin(), d.rend()));
  r = host->exchange(0x55, {});
  ASSERT_EQ(r.linkError, 0);
  EXPECT_TRUE(r.data.empty());
}

TEST_F(CoreProtocol, SyncBytesInsideAFrameAreData) {
  auto r = host->exchange(0x55, {0x23, 0x89, 0x23});
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data, (Bytes{0x23, 0x89, 0x23}));
}

TEST_F(CoreProtocol, ModulesRunWithTheMutexHeld) {
  simtest::HostLine::Result r;
  long ms = 0;
  std::unique_lock<std::mutex> lk(sim->mutex());
  std::thread exchange([&] {
    auto t0 = simtest::Clock::now();
    r = host->exchange(0x55, {7});
    ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(simtest::Clock::now() - t0).count());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  lk.unlock();
  exchange.join();
  ASSERT_EQ(r.linkError, 0);
  EXPECT_GE(ms, 240);
}

TEST_F(CoreProtocol, GarbageBeforeSyncIsIgnored) {
  ASSERT_TRUE(host->write(Bytes{0x00, 0x11, 0x89, 0x67, 0x45, 0xFF, 0xA1, 0x00, 0xA1}));
  EXPECT_EQ(host->readByte(150), -1);
  auto r = host->exchange(0xA1);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data, (Bytes{0x11, 0x00}));
}

TEST_F(CoreProtocol, AStalledFrameIsAbandoned) {
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(Bytes{0x55, 0x03, 0x01}));  // two data bytes short
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  // The reader is idle again: this sync byte starts a fresh exchange.
  auto r = host->exchange(0x00);
  EXPECT_EQ(r.linkError, 0);
  EXPECT_EQ(echoCalls(), 0);
}

TEST_F(CoreProtocol, AFrameWithShortPausesIsNotAbandoned) {
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  for (std::uint8_t b : frame(0x55, {1, 2})) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(host->write(b));
  }
  ASSERT_EQ(host->readByte(300), 0x67);
  ASSERT_TRUE(host->write(0x89));
  EXPECT_EQ(host->read(5, 300), (Bytes{0x00, 0x02, 0x02, 0x01, 0x01}));
}

TEST_F(CoreProtocol, ASyncInsteadOfThePollStartsAgain) {
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x55, {1})));
  ASSERT_EQ(host->readByte(300), 0x67);
  ASSERT_TRUE(host->write(0x11));  // noise while the response waits: ignored
  EXPECT_EQ(host->readByte(100), -1);
  auto r = host->exchange(0x22);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data.size(), 8u);
}

TEST_F(CoreProtocol, CountsExchangesAndRemembersTheLastCommand) {
  EXPECT_EQ(sim->exchanges(), 0u);
  ASSERT_EQ(host->exchange(0x00).linkError, 0);
  ASSERT_EQ(host->exchange(0x22).linkError, 0);
  ASSERT_EQ(host->exchange(0x99).linkError, 0);
  EXPECT_EQ(sim->exchanges(), 3u);
  EXPECT_EQ(sim->lastCommand(), 0x99);
}

TEST_F(CoreProtocol, LogsOneLinePerExchange) {
  ASSERT_EQ(host->exchange(0x55, {1, 2}).linkError, 0);
  ASSERT_EQ(host->exchange(0x99).linkError, 0);
  auto l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0], "#1 cmd 55 [01 02] status 00 [02 01] -> 00 02 02 01 01");
  EXPECT_EQ(l[1], "#2 cmd 99 [] status 01 [] -> 01 00 01");
}

TEST_F(CoreProtocol, TheHostMayCloseAndReopen) {
  ASSERT_EQ(host->exchange(0x00).linkError, 0);
  host = std::make_unique<HostLine>(sim->path());
  ASSERT_TRUE(host->ok());
  ASSERT_EQ(host->exchange(0x00).linkError, 0);
  host->close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  host = std::make_unique<HostLine>(sim->path(), B9600);
  ASSERT_EQ(host->exchange(0xA1).linkError, 0);
  EXPECT_EQ(sim->exchanges(), 3u);
}

class CoreModuleNumber : public CoreProtocol {
  void tweak(readersim::Options& o) override {
    o.moduleNumber = 5;
    o.firmwareVersion = {'V', '1', '.', '0', 0, 0, 0, 0};
  }
};

TEST_F(CoreModuleNumber, ComesFromTheOptions) {
  auto r = host->exchange(0xA1);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data, (Bytes{5, 0}));
  r = host->exchange(0x22);
  EXPECT_EQ(r.data, (Bytes{'V', '1', '.', '0', 0, 0, 0, 0}));
}

}  // namespace
