// Opening, linking and unlinking, and the identity exports, against fake ports.
#include <gtest/gtest.h>

#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::FakeReader;

namespace {

const Bytes kProbe = bytes({0x23, 0x00, 0x00, 0x00, 0x89});

TEST(OpenComPort, ConfiguresThePortInOrder) {
  struct Case {
    int baud;
    int rate;
    int m;
  } cases[] = {{57600, 56000, 1}, {9600, 9600, 2}};
  for (const auto& c : cases) {
    FakeReader fx;
    auto w = fx.wire(3);
    ASSERT_EQ(orvix::OpenComPort(3, c.baud), 0);
    EXPECT_EQ(w->ops, (std::vector<std::string>{"build COM4: baud=9600 parity=N data=8 stop=1",
                                                "apply " + std::to_string(c.rate), "timeouts",
                                                "queues 512 512", "purge", "mask"}));
    EXPECT_EQ(w->timeouts.readInterval, 200);
    EXPECT_EQ(w->timeouts.readMultiplier, c.m);
    EXPECT_EQ(w->timeouts.readConstant, 100);
    EXPECT_EQ(w->timeouts.writeMultiplier, c.m);
    EXPECT_EQ(w->timeouts.writeConstant, 100);
    EXPECT_EQ(orvix::link().ProbeReplyTries, 2);
    EXPECT_EQ(orvix::link().CmdReplyTries, 10);
    EXPECT_EQ(orvix::link().PortIndex, 3);
  }
}

TEST(OpenComPort, AFailedStepClosesThePortAndLeavesNoneOpen) {
  bool fake::Wire::*steps[] = {&fake::Wire::failBuild,    &fake::Wire::failApply,
                               &fake::Wire::failTimeouts, &fake::Wire::failQueues,
                               &fake::Wire::failPurge,    &fake::Wire::failMask};
  for (auto step : steps) {
    FakeReader fx;
    auto w = fx.wire(0);
    (*w).*step = true;
    EXPECT_EQ(orvix::OpenComPort(0, 57600), 1);
    EXPECT_EQ(orvix::link().ComHandle, nullptr);
    EXPECT_EQ(w->closes, 1);
  }
}

TEST(OpenComPort, BadIndexOrMissingPortOpensNothing) {
  for (int index : {-1, 10, 1000}) {
    FakeReader fx;
    EXPECT_EQ(orvix::OpenComPort(index, 57600), 1);
    EXPECT_EQ(orvix::link().PortIndex, index);
    EXPECT_TRUE(fx.system.openAttempts.empty());
  }
  FakeReader fx;
  EXPECT_EQ(orvix::OpenComPort(5, 57600), 1);  // no wire on COM6
  EXPECT_EQ(orvix::link().PortIndex, 5);
  EXPECT_EQ(orvix::link().ComHandle, nullptr);
}

TEST(LinkCom, ReaderAtTheFastSpeed) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  EXPECT_EQ(LinkCom(0), 0);
  EXPECT_EQ(ComBaudRate(), 57600);
  EXPECT_EQ(w->rates, std::vector<int>{56000});
  EXPECT_EQ(w->written, kProbe);
  EXPECT_TRUE(fx.system.pauses.empty());  // nothing was open: no pause
}

TEST(LinkCom, ReaderOnlyAt9600) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->emptyReads = {0, 1};  // the fast probe hears nothing
  w->reply(0x00);
  EXPECT_EQ(LinkCom(0), 0);
  EXPECT_EQ(ComBaudRate(), 9600);
  EXPECT_EQ(w->rates, (std::vector<int>{56000, 9600}));
  EXPECT_EQ(fx.system.pauses, std::vector<int>{1000});  // the close between speeds
}

TEST(LinkCom, NoReaderLeavesThePortOpenAt9600Unproven) {
  FakeReader fx;
  auto w = fx.wire(0);
  orvix::link().BaudInUse = 9600;
  EXPECT_EQ(LinkCom(0), 1);
  EXPECT_EQ(ComBaudRate(), 0);
  EXPECT_NE(orvix::link().ComHandle, nullptr);
  EXPECT_EQ(orvix::link().Status, 102);
  EXPECT_EQ(w->written, (Bytes{0x23, 0x23}));  // one sync per speed, both unanswered
  EXPECT_EQ(UnLinkCom(), 0);
  EXPECT_EQ(UnLinkCom(), 1);
}

TEST(LinkCom, WhileLinkedClosesWithAPauseFirst) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  fx.system.pauses.clear();
  orvix::link().Contact.SelectedCardType = 21;
  EXPECT_EQ(LinkCom(0), 0);
  EXPECT_EQ(fx.system.pauses, std::vector<int>{1000});
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 255);
}

TEST(LinkCom, BadIndexClosesTheOpenPortAndFails) {
  for (int index : {10, -1}) {
    FakeReader fx;
    auto w = fx.wire(0);
    w->reply(0x00);
    ASSERT_EQ(LinkCom(0), 0);
    EXPECT_EQ(LinkCom(index), 1);
    EXPECT_EQ(orvix::link().ComHandle, nullptr);
    EXPECT_EQ(orvix::link().PortIndex, index);
    EXPECT_EQ(ComBaudRate(), 0);
    EXPECT_EQ(w->closes, 1);
  }
}

TEST(UnLinkCom, ClosesWithAPauseAndKeepsTheSpeed) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  EXPECT_EQ(UnLinkCom(), 0);
  EXPECT_EQ(fx.system.pauses, std::vector<int>{1000});
  EXPECT_EQ(ComBaudRate(), 57600);
  EXPECT_EQ(UnLinkCom(), 1);  // nothing open: at once, no pause
  EXPECT_EQ(fx.system.pauses.size(), 1u);
}

TEST(UnLinkCom, AFailingStepKeepsThePort) {
  bool fake::Wire::*steps[] = {&fake::Wire::failMask, &fake::Wire::failPurge,
                               &fake::Wire::failClose};
  for (auto step : steps) {
    FakeReader fx;
    auto w = fx.wire(0);
    w->reply(0x00);
    ASSERT_EQ(LinkCom(0), 0);
    (*w).*step = true;
    EXPECT_EQ(UnLinkCom(), 1);
    EXPECT_NE(orvix::link().ComHandle, nullptr);
    EXPECT_TRUE(fx.system.pauses.empty());
    (*w).*step = false;
  }
}

TEST(LinkCom, DropsAPortThatUnLinkComCouldNotClose) {
  // A line that went away refuses the purge, so UnLinkCom keeps the port;
  // the next link must not lose that handle under the new one.
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  w->failPurge = true;
  auto fresh = fx.wire(1);
  fresh->reply(0x00);
  EXPECT_EQ(LinkCom(1), 0);
  EXPECT_EQ(w->closes, 1);
  EXPECT_FALSE(w->open);
  EXPECT_TRUE(fresh->open);
}

TEST(AutoLinkCom, OrderAndThePortVariable) {
  struct Case {
    int in;
    bool com1Reader, com2Reader;
    std::vector<int> opens;
    int out;
    int result;
  } cases[] = {
      {5, true, true, {0}, 0, 0},
      {0, false, true, {0, 0, 1}, 1, 0},
      {1, true, true, {1}, 1, 0},
      {1, true, false, {1, 1, 0}, 0, 0},
      {-3, false, false, {0, 0, 1, 1}, -3, 102},
  };
  for (const auto& c : cases) {
    FakeReader fx;
    if (c.com1Reader) fx.wire(0)->reply(0x00);
    fx.wire(1);
    if (c.com2Reader) fx.wire(1)->reply(0x00);
    int port = c.in;
    EXPECT_EQ(AutoLinkCom(&port), c.result) << c.in;
    EXPECT_EQ(port, c.out) << c.in;
    EXPECT_EQ(fx.system.openAttempts, c.opens) << c.in;
  }
}

TEST(AutoLinkCom, NoPortAtAllIsNotALink) {
  FakeReader fx;
  fx.wire(0)->missing = true;
  // A stale success from an earlier exchange must not read as a link.
  orvix::link().Status = 0;
  int port = 0;
  EXPECT_EQ(AutoLinkCom(&port), 1);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(fx.system.openAttempts, (std::vector<int>{0, 0, 1, 1}));
}

// The retrying exchange: relink on the same port and repeat the caller's own
// frame, a bounded number of times.
TEST(ExchangeWithRelink, RelinksAndRepeatsTheCallersFrame) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);  // LinkCom's probe
  ASSERT_EQ(LinkCom(0), 0);
  w->written.clear();
  w->raw({0x45, 0x66});  // first try: a garbled acknowledge
  w->reply(0x00);        // relink probe
  w->reply(0x00, {0x11, 0x00});
  orvix::setCommand(0xA1, nullptr, 0);
  EXPECT_EQ(orvix::ExchangeWithRelink(), 0);
  Bytes want = fake::Wire::expectedFrame(0xA1, {});
  Bytes probe = kProbe;
  Bytes all = want;
  all.insert(all.end(), probe.begin(), probe.end());
  all.insert(all.end(), want.begin(), want.end());
  all.erase(all.begin() + 4);  // the garbled try never got to the poll byte
  EXPECT_EQ(w->written, all);
  EXPECT_EQ(fx.system.pauses, std::vector<int>{1000});
  EXPECT_EQ(orvix::link().RecvData[0], 0x11);
}

TEST(ExchangeWithRelink, GivesUpAfterThreeRelinks) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  w->missing = true;  // the reader is gone: reopening fails
  fx.system.openAttempts.clear();
  orvix::setCommand(0xB9, bytes({0x05}).data(), 1);
  EXPECT_EQ(orvix::ExchangeWithRelink(), 101);
  // Each cycle: UnLinkCom, then LinkCom's two opens fail.
  EXPECT_EQ(fx.system.openAttempts.size(), 2u * orvix::kMaxRelinks);
  EXPECT_EQ(fx.system.pauses, std::vector<int>{1000});  // only the first close had a port
}

TEST(ExchangeWithRelink, ReaderStatusIsNotRetried) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  w->reply(0x0A);
  orvix::setCommand(0xB9, bytes({0x05}).data(), 1);
  EXPECT_EQ(orvix::ExchangeWithRelink(), 0x0A);
  EXPECT_TRUE(fx.system.pauses.empty());
}

TEST(ExchangeWithRelink, LinksByItselfOnComOneWhenNothingIsOpen) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);  // probe of the relink
  w->reply(0x00, {0x11, 0x00});
  orvix::setCommand(0xA1, nullptr, 0);
  EXPECT_EQ(orvix::ExchangeWithRelink(), 0);
  EXPECT_EQ(ComBaudRate(), 57600);
}

TEST(Identity, VersionNumbersAndSpeedNeedNoReader) {
  FakeReader fx;
  EXPECT_EQ(DLLVER(), 7321);
  EXPECT_EQ(ComBaudRate(), 0);
  EXPECT_TRUE(fx.system.openAttempts.empty());
}

TEST(Identity, DeviceNumberAndVersionCopyOnlyOnSuccess) {
  FakeReader fx;
  unsigned char number[8];
  std::fill(std::begin(number), std::end(number), 0xEE);
  EXPECT_EQ(GetDeviceNumber(number), 101);
  EXPECT_EQ(Bytes(number, number + 8), Bytes(8, 0));
  unsigned char version[8];
  std::fill(std::begin(version), std::end(version), 0xEE);
  EXPECT_EQ(DEVVER(version), 101);
  EXPECT_EQ(Bytes(version, version + 8), Bytes(8, 0xEE));

  fx.link();
  auto w = fx.wire(0);
  w->reply(0x00, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(DEVVER(version), 0);
  EXPECT_EQ(Bytes(version, version + 8), bytes({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(w->written, fake::Wire::expectedFrame(0x22, {}));
  w->written.clear();
  w->reply(0x07, {});
  EXPECT_EQ(GetDeviceNumber(number), 7);
  EXPECT_EQ(Bytes(number, number + 8), Bytes(8, 0));
  EXPECT_EQ(w->written, fake::Wire::expectedFrame(0x20, {}));
}

TEST(Identity, AlarmFrameAndRange) {
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  for (int select : {0, 8, -1, 256 + 7}) EXPECT_EQ(ALARM(select, 30, 30, 3), 4);
  EXPECT_TRUE(w->written.empty());
  w->reply(0x00);
  EXPECT_EQ(ALARM(7, 30, 30, 3), 0);
  EXPECT_EQ(w->written, bytes({0x23, 0x7A, 0x04, 0x07, 0x1E, 0x1E, 0x03, 0x7A, 0x89}));
  w->written.clear();
  w->reply(0x00);
  EXPECT_EQ(ALARM(1, 0x1FF, -1, 0x100), 0);  // only the low bytes travel
  EXPECT_EQ(w->written, fake::Wire::expectedFrame(0x7A, {0x01, 0xFF, 0xFF, 0x00}));
}

}  // namespace
