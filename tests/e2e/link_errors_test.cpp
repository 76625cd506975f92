// Every link error the reader can cause, reader delays, the line going away,
// and the Mifare family's relinking exchange.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "link_helpers.h"

namespace {

using linke2e::Clock;
using linke2e::fault;
using linke2e::LinkTest;
using linke2e::msSince;

TEST_F(LinkTest, EveryReaderSideLinkErrorComesBackFromDevver) {
  linkUp();
  for (int code : {102, 103, 108, 109, 111, 112, 113, 114, 115}) {
    SCOPED_TRACE("link error " + std::to_string(code));
    fault(*sim, std::to_string(code));
    unsigned char v[8];
    std::memset(v, 0xEE, sizeof v);
    EXPECT_EQ(api->DEVVER(v), code);
    for (auto b : v) EXPECT_EQ(b, 0xEE);
    // The next exchange starts afresh from the sync byte.
    EXPECT_EQ(api->DEVVER(v), 0);
  }
  EXPECT_EQ(sim->pendingFaults(), 0u);
}

TEST_F(LinkTest, LinkErrorsComeBackFromGetDeviceNumberAndAlarm) {
  linkUp();
  fault(*sim, "nochecksum cmd=20");
  unsigned char n[8];
  std::memset(n, 0xEE, sizeof n);
  EXPECT_EQ(api->GetDeviceNumber(n), 114);
  for (auto b : n) EXPECT_EQ(b, 0);
  fault(*sim, "shortdata cmd=7A");  // status 0 with no data: announces 1, sends none
  EXPECT_EQ(api->ALARM(7, 30, 30, 3), 113);
}

TEST_F(LinkTest, AReaderDelayUnderASecondStillSucceeds) {
  linkUp();
  fault(*sim, "delay ms=800");
  unsigned char v[8] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_GE(msSince(t0), 790);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");
}

TEST_F(LinkTest, AReaderDelayOverTheAllowanceIs108) {
  linkUp();
  fault(*sim, "delay ms=1500");
  unsigned char v[8] = {};
  auto t0 = Clock::now();
  EXPECT_EQ(api->DEVVER(v), 108);
  double ms = msSince(t0);
  EXPECT_GE(ms, 1000);  // ten one-byte reads of ~101 ms
  EXPECT_LT(ms, 1400);
}

TEST_F(LinkTest, TheProbeGivesTheReaderOnlyAboutPointTwoSeconds) {
  linkUp();
  fault(*sim, "delay ms=400 cmd=00");
  // LinkCom: close (pause), fast probe too slow (108), close (pause), the
  // 9600 probe answers.
  EXPECT_EQ(api->LinkCom(0), 0);
  EXPECT_EQ(api->ComBaudRate(), 9600);
}

TEST_F(LinkTest, LinkFailsAfterUnplugAndLinksAgainAfterReplug) {
  linkUp();
  sim->unplug();
  unsigned char v[8];
  std::memset(v, 0xEE, sizeof v);
  int st = api->DEVVER(v);
  EXPECT_GE(st, 101);
  EXPECT_LE(st, 115);
  EXPECT_EQ(api->LinkCom(0), 1);
  EXPECT_EQ(api->ComBaudRate(), 0);
  sim->replug();
  EXPECT_EQ(api->LinkCom(0), 0);
  EXPECT_EQ(api->ComBaudRate(), 57600);
  EXPECT_EQ(api->DEVVER(v), 0);
}

TEST_F(LinkTest, UnplugAtTheSyncByteOfAnExchange) {
  linkUp();
  fault(*sim, "unplug");
  unsigned char v[8];
  int st = api->DEVVER(v);
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
  void SetUp() override {
    LinkTest::SetUp();
    if (HasFatalFailure()) return;
    void* h = dlopen(ORVIX32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (h) {
      mcmno = reinterpret_cast<int (*)(unsigned char*)>(dlsym(h, "RFMifare_Mcmno"));
      dlclose(h);  // the fixture's handle keeps the library loaded
    }
  }
  int (*mcmno)(unsigned char*) = nullptr;
  std::atomic<int> a1Frames{0};
};

TEST_F(LinkRelink, RelinksAndRepeatsTheCommandAfterALinkError) {
  if (!mcmno) GTEST_SKIP() << "RFMifare_Mcmno is not exported yet";
  linkUp();
  fault(*sim, "nostatus cmd=A1");
  unsigned char info[4];
  std::memset(info, 0xEE, sizeof info);
  auto t0 = Clock::now();
  EXPECT_EQ(mcmno(info), 0);
  EXPECT_GE(msSince(t0), 990);  // one close with its pause
  EXPECT_EQ(info[0], 17);
  EXPECT_EQ(info[1], 0);
  // Probe, the failed 0xA1, the relink's probe, the repeated 0xA1.
  EXPECT_EQ(sim->exchanges(), 3u);
  EXPECT_EQ(sim->lastCommand(), 0xA1);
}

TEST_F(LinkRelink, AReaderStatusIsNotRetried) {
  if (!mcmno) GTEST_SKIP() << "RFMifare_Mcmno is not exported yet";
  linkUp();
  fault(*sim, "status status=0x21 cmd=A1");
  unsigned char info[4];
  auto t0 = Clock::now();
  EXPECT_EQ(mcmno(info), 0x21);
  EXPECT_LT(msSince(t0), 500);
  EXPECT_EQ(sim->exchanges(), 2u);
}

TEST_F(LinkRelink, GivesUpWhenTheReaderIsGoneForGood) {
  if (!mcmno) GTEST_SKIP() << "RFMifare_Mcmno is not exported yet";
  linkUp();
  sim->unplug();
  unsigned char info[4];
  auto t0 = Clock::now();
  int st = mcmno(info);
  double ms = msSince(t0);
  EXPECT_GE(st, 101);
  EXPECT_LE(st, 115);
  EXPECT_LT(ms, 15000);
}

TEST_F(LinkRelink, GivesUpAfterABoundedNumberOfRelinks) {
  if (!mcmno) GTEST_SKIP() << "RFMifare_Mcmno is not exported yet";
  linkUp();
  // Every 0xA1 fails (111) while every relink probe succeeds.
  fault(*sim, "nostatus cmd=A1 count=all");
  unsigned char info[4];
  auto t0 = Clock::now();
  EXPECT_EQ(mcmno(info), 111);
  double ms = msSince(t0);
  int frames = a1Frames.load();
  EXPECT_GE(frames, 2);   // it did retry
  EXPECT_LE(frames, 11);  // and gave up
  // Each relink costs one close with its 1000 ms pause.
  EXPECT_GE(ms, (frames - 1) * 990.0);
  EXPECT_LT(ms, frames * 1500.0);
  std::printf("relink bound: %d frames of 0xA1 in %.0f ms\n", frames, ms);
}

}  // namespace
