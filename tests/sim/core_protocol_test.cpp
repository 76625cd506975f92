// The reader side of the exchange, byte by byte over the real pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using simtest::Bytes;
using simtest::frame;
using simtest::HostLine;

class CoreProtocol : public simtest::SimLineTest {
 protected:
  void SetUp() override {
    readersim::Options o;
    o.log = [this](const std::string& l) {
      std::lock_guard<std::mutex> lk(logMu);
      logLines.push_back(l);
    };
    auto s = std::make_unique<readersim::Simulator>(o);
    auto m = std::make_unique<simtest::EchoModule>();
    echo = m.get();
    s->addModule(std::move(m));
    startWithLine(std::move(s));
  }
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

  simtest::EchoModule* echo = nullptr;
  std::mutex logMu;
  std::vector<std::string> logLines;
};

TEST_F(CoreProtocol, ReaderBytesOnTheLine) {
  const struct {
    Bytes frame, reader;
  } cases[] = {
      {{0x00, 0x00, 0x00}, {0x45, 0x67, 0x00, 0x00, 0x00}},              // probe
      {{0xA1, 0x00, 0xA1}, {0x45, 0x67, 0x00, 0x02, 0x11, 0x00, 0x13}},  // module 17.0
      // ALARM(7, 30, 30, 3): the signal frame, checksum 0x7A.
      {{0x7A, 0x04, 0x07, 0x1E, 0x1E, 0x03, 0x7A}, {0x45, 0x67, 0x00, 0x00, 0x00}},
      {{0x99, 0x00, 0x99}, {0x45, 0x67, 0x01, 0x00, 0x01}},  // unknown command
      // Wrong frame checksum (0x54 is right): acknowledged, status 2, not carried out.
      {{0x55, 0x02, 0x01, 0x02, 0x00}, {0x45, 0x67, 0x02, 0x00, 0x02}},
  };
  for (const auto& c : cases) EXPECT_EQ(raw(c.frame, c.reader.size() - 2), c.reader);
  EXPECT_EQ(echoCalls(), 0);
  EXPECT_EQ(sim->signalOutputs(), (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
  EXPECT_EQ(sim->exchanges(), 5u);
  EXPECT_EQ(sim->lastCommand(), 0x55);
  auto l = lines();
  ASSERT_GE(l.size(), 4u);
  EXPECT_NE(std::find(l.begin(), l.end(), "signal outputs: select=07 a=1E b=1E c=03"), l.end());
  EXPECT_NE(std::find(l.begin(), l.end(), "#4 cmd 99 [] status 01 [] -> 01 00 01"), l.end());
}

TEST_F(CoreProtocol, ModulesGetTheirCommandsWithTheData) {
  Bytes longest(255);
  for (int i = 0; i < 255; ++i) longest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  const struct {
    std::uint8_t cmd;
    Bytes data;
    std::uint8_t status;
    Bytes reply;
  } cases[] = {
      {0x55, {1, 2, 3}, 0, {3, 2, 1}},
      {0x56, {9, 9}, 0x42, {2}},
      {0x55, longest, 0, Bytes(longest.rbegin(), longest.rend())},
      {0x55, {}, 0, {}},
      {0x55, {0x23, 0x89, 0x23}, 0, {0x23, 0x89, 0x23}},  // sync bytes inside are data
      {0x7A, {7, 30, 30}, readersim::status::kWrongLength, {}},
  };
  for (const auto& c : cases) {
    auto r = host->exchange(c.cmd, c.data);
    ASSERT_EQ(r.linkError, 0);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.data, c.reply);
  }
  EXPECT_EQ(echoCalls(), 5);
  EXPECT_FALSE(sim->signalOutputs().has_value());
  EXPECT_EQ(lines().front(), "#1 cmd 55 [01 02 03] status 00 [03 02 01] -> 00 03 03 02 01 03");
}

TEST_F(CoreProtocol, ModulesRunWithTheMutexHeld) {
  simtest::HostLine::Result r;
  double ms = 0;
  std::unique_lock<std::mutex> lk(sim->mutex());
  std::thread exchange([&] {
    auto t0 = simtest::Clock::now();
    r = host->exchange(0x55, {7});
    ms = simtest::msSince(t0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  lk.unlock();
  exchange.join();
  ASSERT_EQ(r.linkError, 0);
  EXPECT_GE(ms, 240);
}

TEST_F(CoreProtocol, NoiseOutsideAnExchangeIsIgnored) {
  ASSERT_TRUE(host->write(Bytes{0x00, 0x11, 0x89, 0x67, 0x45, 0xFF, 0xA1, 0x00, 0xA1}));
  EXPECT_EQ(host->readByte(150), -1);
  auto r = host->exchange(0xA1);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data, (Bytes{0x11, 0x00}));
  // Noise while the response waits for its poll: ignored, and the next
  // sync byte starts again.
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(frame(0x55, {1})));
  ASSERT_EQ(host->readByte(300), 0x67);
  ASSERT_TRUE(host->write(0x11));
  EXPECT_EQ(host->readByte(100), -1);
  r = host->exchange(0x22);
  ASSERT_EQ(r.linkError, 0);
  EXPECT_EQ(r.data.size(), 8u);
}

TEST_F(CoreProtocol, AStalledFrameIsAbandonedButShortPausesAreNot) {
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(Bytes{0x55, 0x03, 0x01}));  // two data bytes short
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  // The reader is idle again: this sync byte starts a fresh exchange.
  EXPECT_EQ(host->exchange(0x00).linkError, 0);
  EXPECT_EQ(echoCalls(), 0);

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

}  // namespace
