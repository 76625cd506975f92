// Reader identity and signalling, every link error the reader can cause,
// reader statuses and delays, the line going away, and the Mifare family's
// relinking exchange.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "link_helpers.h"

namespace {

using linke2e::Clock;
using linke2e::fault;
using linke2e::LinkTest;
using linke2e::msSince;

class LinkOtherIdentity : public LinkTest {
  readersim::Options options() override {
    readersim::Options o;
    o.deviceNumber = {1, 2, 3, 4, 5, 6, 7, 8};
    o.firmwareVersion = {'X', 'Y', 0, 0xFF, 1, 2, 3, 4};
    return o;
  }
};

TEST_F(LinkOtherIdentity, IdentityAndSignalsThroughTheReader) {
  EXPECT_EQ(api->DLLVER(), 7321);  // needs no reader
  linkUp();
  unsigned char v[8] = {}, n[8] = {};
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_EQ(api->GetDeviceNumber(n), 0);
  // The bytes pass through unchanged, zeros and 0xFF included.
  EXPECT_EQ(std::vector<unsigned char>(v, v + 8),
            (std::vector<unsigned char>{'X', 'Y', 0, 0xFF, 1, 2, 3, 4}));
  EXPECT_EQ(std::vector<unsigned char>(n, n + 8),
            (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8}));

  // Out-of-range output selections are refused before anything is sent.
  for (int select : {0, 8, -1}) EXPECT_EQ(api->ALARM(select, 30, 30, 3), 4) << select;
  EXPECT_EQ(sim->exchanges(), 3u);
  EXPECT_FALSE(sim->signalOutputs().has_value());
  EXPECT_EQ(api->ALARM(7, 30, 30, 3), 0);
  EXPECT_EQ(sim->signalOutputs(), (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
  EXPECT_EQ(api->ALARM(1, 0x1FF, -1, 256), 0);  // low 8 bits go out
  EXPECT_EQ(sim->signalOutputs(), (std::array<std::uint8_t, 4>{1, 0xFF, 0xFF, 0x00}));
  EXPECT_EQ(sim->lastCommand(), 0x7A);
}

TEST_F(LinkTest, LinkErrorsReaderStatusesAndDelays) {
  linkUp();
  unsigned char v[8], n[8];
  for (int code : {102, 103, 108, 109, 111, 112, 113, 114, 115}) {
    SCOPED_TRACE("link error " + std::to_string(code));
    fault(*sim, std::to_string(code));
    std::memset(v, 0xEE, sizeof v);
    EXPECT_EQ(api->DEVVER(v), code);
    for (auto b : v) EXPECT_EQ(b, 0xEE);
    // The next exchange starts afresh from the sync byte.
    EXPECT_EQ(api->DEVVER(v), 0);
  }
  // A reader status is passed through; DEVVER leaves its buffer,
  // GetDeviceNumber zeroes its buffer first.
  fault(*sim, "status status=0x30 cmd=22");
  std::memset(v, 0xEE, sizeof v);
  EXPECT_EQ(api->DEVVER(v), 0x30);
  for (auto b : v) EXPECT_EQ(b, 0xEE);
  fault(*sim, "status status=0x31 cmd=20");
  std::memset(n, 0xEE, sizeof n);
  EXPECT_EQ(api->GetDeviceNumber(n), 0x31);
  for (auto b : n) EXPECT_EQ(b, 0);
  fault(*sim, "status status=0x32 cmd=7A");
  EXPECT_EQ(api->ALARM(7, 30, 30, 3), 0x32);
  EXPECT_FALSE(sim->signalOutputs().has_value());
  fault(*sim, "nochecksum cmd=20");
  std::memset(n, 0xEE, sizeof n);
  EXPECT_EQ(api->GetDeviceNumber(n), 114);
  for (auto b : n) EXPECT_EQ(b, 0);
  fault(*sim, "shortdata cmd=7A");  // status 0 with no data: announces 1, sends none
  EXPECT_EQ(api->ALARM(7, 30, 30, 3), 113);
  EXPECT_EQ(sim->pendingFaults(), 0u);

  // A reader delay under a second still succeeds; one over the allowance
  // is a 108 after ten one-byte reads of ~101 ms.
  fault(*sim, "delay ms=800");
  auto t0 = Clock::now();
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_GE(msSince(t0), 790);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");
  fault(*sim, "delay ms=1500");
  t0 = Clock::now();
  EXPECT_EQ(api->DEVVER(v), 108);
  EXPECT_GE(msSince(t0), 1000);
  EXPECT_LT(msSince(t0), 1400);
}

TEST_F(LinkTest, UnplugAndReplug) {
  linkUp();
  unsigned char v[8];
  sim->unplug();
  int st = api->DEVVER(v);
  EXPECT_GE(st, 101);
  EXPECT_LE(st, 115);
  EXPECT_EQ(api->LinkCom(0), 1);
  EXPECT_EQ(api->ComBaudRate(), 0);
  sim->replug();
  EXPECT_EQ(api->LinkCom(0), 0);
  EXPECT_EQ(api->ComBaudRate(), 57600);
  EXPECT_EQ(api->DEVVER(v), 0);
  // Unplugged at the sync byte of an exchange.
  fault(*sim, "unplug");
  st = api->DEVVER(v);
  EXPECT_GE(st, 101);
  EXPECT_LE(st, 115);
  EXPECT_FALSE(sim->plugged());
  sim->replug();
  EXPECT_EQ(api->LinkCom(0), 0);
}

// The retrying exchange of the Mifare family, through RFMifare_Mcmno (0xA1).
class LinkRelink : public LinkTest {
 protected:
  readersim::Options options() override {
    readersim::Options o;
    // Counts the 0xA1 frames the reader takes (one log line per exchange).
    o.log = [this](const std::string& line) {
      if (line.find(" cmd A1 ") != std::string::npos) ++a1Frames;
    };
    return o;
  }
  std::atomic<int> a1Frames{0};
};

TEST_F(LinkRelink, StatusesAreNotRetriedLinkErrorsAreBoundedly) {
  auto* mcmno = lib->fn<int(unsigned char*)>("RFMifare_Mcmno");
  ASSERT_NE(mcmno, nullptr);
  linkUp();
  unsigned char info[4];
  // A reader status comes back at once.
  fault(*sim, "status status=0x21 cmd=A1");
  auto t0 = Clock::now();
  EXPECT_EQ(mcmno(info), 0x21);
  EXPECT_LT(msSince(t0), 500);
  EXPECT_EQ(sim->exchanges(), 2u);

  // One link error: relink (a close with its pause, a probe), repeat.
  fault(*sim, "nostatus cmd=A1");
  std::memset(info, 0xEE, sizeof info);
  t0 = Clock::now();
  EXPECT_EQ(mcmno(info), 0);
  EXPECT_GE(msSince(t0), 990);
  EXPECT_EQ(info[0], 17);
  EXPECT_EQ(info[1], 0);
  EXPECT_EQ(sim->exchanges(), 4u);  // the failed 0xA1 never completed
  EXPECT_EQ(sim->lastCommand(), 0xA1);

  // Every 0xA1 fails (111) while every relink probe succeeds: it gives up.
  fault(*sim, "nostatus cmd=A1 count=all");
  a1Frames = 0;
  t0 = Clock::now();
  EXPECT_EQ(mcmno(info), 111);
  double ms = msSince(t0);
  int frames = a1Frames.load();
  EXPECT_GE(frames, 2);   // it did retry
  EXPECT_LE(frames, 11);  // and gave up
  // Each relink costs one close with its 1000 ms pause.
  EXPECT_GE(ms, (frames - 1) * 990.0);
  EXPECT_LT(ms, frames * 1500.0);
  std::printf("relink bound: %d frames of 0xA1 in %.0f ms\n", frames, ms);
  sim->clearFaults();

  // The reader gone for good: it gives up too.
  sim->unplug();
  t0 = Clock::now();
  int st = mcmno(info);
  EXPECT_GE(st, 101);
  EXPECT_LE(st, 115);
  EXPECT_LT(msSince(t0), 15000);
}

}  // namespace
