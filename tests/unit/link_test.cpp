// The frame exchange, opening and linking ports, the relink, and the
// identity exports, byte for byte against the scripted fake port.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_fixture.h"
#include "link/link_state.h"
#include "orvix32.h"

using namespace fake;
using orvix::link;

namespace {

using Ints = std::vector<int>;
const Bytes kProbe = hex("23 00 00 00 89");

// Every step of an exchange and the link error it raises. Write operations
// are numbered sync 0 (1 on its retry), command, length, data, checksum, poll.
TEST(Exchange, EachStepAndItsLinkError) {
  struct Case {
    const char* what;
    Bytes data;
    std::set<int> failWrites;
    Bytes reader;
    std::uint8_t want;
    const char* wrote;  // bytes the host wrote
    int reads;
  } cases[] = {
      {"sync fails twice", {}, {0, 1}, {}, 101, "", 0},
      {"silent reader: asked twice", {}, {}, {}, 102, "23", 2},
      {"wrong ready byte: no resync", {}, {}, hex("00 45 67"), 103, "23", 1},
      {"command byte", {}, {1}, {0x45}, 104, "23", 1},
      {"length byte", {}, {2}, {0x45}, 105, "23 22", 1},
      {"data", {1, 2}, {3}, {0x45}, 106, "23 22 02", 1},
      {"checksum fails twice", {}, {3, 4}, {0x45}, 107, "23 22 00", 1},
      {"no acknowledge in ten reads", {}, {}, {0x45}, 108, "23 22 00 22", 11},
      {"wrong acknowledge", {}, {}, hex("45 66"), 109, "23 22 00 22", 2},
      {"poll byte", {}, {4}, hex("45 67"), 110, "23 22 00 22", 2},
      {"no status", {}, {}, hex("45 67"), 111, "23 22 00 22 89", 3},
      {"no length", {}, {}, hex("45 67 00"), 112, "23 22 00 22 89", 4},
      {"data short", {}, {}, hex("45 67 00 03 AA BB"), 113, "23 22 00 22 89", 5},
      {"no checksum", {}, {}, hex("45 67 00 01 AA"), 114, "23 22 00 22 89", 6},
      {"bad checksum", {}, {}, hex("45 67 00 01 AA 00"), 115, "23 22 00 22 89", 6},
      {"sync retried once", {}, {0}, hex("45 67 00 00 00"), 0, "23 22 00 22 89", 5},
      {"checksum retried once", {1, 2}, {4}, hex("45 67 00 00 00"), 0, "23 22 02 01 02 23 89", 5},
      {"reader status passes", {}, {}, hex("45 67 0C 00 0C"), 0x0C, "23 22 00 22 89", 5},
  };
  for (const auto& c : cases) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    w->failWrites = c.failWrites;
    w->raw(c.reader);
    EXPECT_EQ(exchange(0x22, c.data), c.want) << c.what;
    EXPECT_EQ(link().Status, c.want) << c.what;
    EXPECT_EQ(w->written, hex(c.wrote)) << c.what;
    EXPECT_EQ(w->reads, c.reads) << c.what;
  }
  FakeReader fx;  // no port open at all
  EXPECT_EQ(exchange(0x22), 101);
  EXPECT_TRUE(fx.wire(0)->written.empty());
}

TEST(Exchange, AcknowledgeAllowanceIsTwoForTheProbeAndTenOtherwise) {
  struct Case {
    std::uint8_t cmd;
    int emptyReads, tries;  // empty reads before the acknowledge; CmdReplyTries
    std::uint8_t want;
  } cases[] = {{0x00, 1, 10, 0},
               {0x00, 2, 10, 108},
               {0x22, 9, 10, 0},
               {0x22, 10, 10, 108},
               {0x22, 0, 0, 108}};
  for (const auto& c : cases) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    link().CmdReplyTries = c.tries;
    for (int i = 1; i <= c.emptyReads; ++i) w->emptyReads.insert(i);  // read 0: the ready byte
    w->reply(0x00);
    EXPECT_EQ(exchange(c.cmd), c.want) << int(c.cmd) << " " << c.emptyReads;
    // Ready, the empty reads, then the acknowledge, status, length and checksum.
    const int reads = c.want ? std::min(c.emptyReads, c.cmd == 0 ? 2 : c.tries) : c.emptyReads + 4;
    EXPECT_EQ(w->reads, 1 + reads) << int(c.cmd) << " " << c.emptyReads;
  }
}

TEST(Exchange, ResponseChecksumAndWhatStaysInTheResponseBuffer) {
  for (int last = 0; last < 256; ++last) {
    FakeReader fx;
    fx.link();
    fx.wire(0)->raw(hex("4567000211 00") + Bytes{std::uint8_t(last)});
    EXPECT_EQ(exchange(0xAB), last == 0x13 ? 0 : 115) << last;
    EXPECT_EQ(link().RecvData[0], 0x11);  // data stays even on a bad checksum
  }
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  Bytes sixteen(16);
  for (int i = 0; i < 16; ++i) sixteen[std::size_t(i)] = std::uint8_t(0xA0 + i);
  w->reply(0x00, sixteen);
  ASSERT_EQ(exchange(0xB9, {0x05}), 0);
  w->reply(0x00);  // no data: RecvLen 0, the bytes stay
  EXPECT_EQ(exchange(0xA1), 0);
  EXPECT_EQ(link().RecvLen, 0);
  EXPECT_EQ(exchange(0xB9, {0x05}), 102);  // a failed exchange leaves every byte
  EXPECT_TRUE(std::equal(sixteen.begin(), sixteen.end(), link().RecvData.begin()));
  w->reply(0x00, {0x01, 0x02});  // a shorter answer overwrites only its own bytes
  ASSERT_EQ(exchange(0xAA), 0);
  EXPECT_EQ(Bytes(link().RecvData.begin(), link().RecvData.begin() + 3), hex("01 02 A2"));
  w->raw(hex("45 67 00 10"));  // announced 16, sent 15: what came is kept
  for (int i = 0; i < 15; ++i) w->input.push_back(std::uint8_t(0x30 + i));
  EXPECT_EQ(exchange(0xB9, {0x05}), 113);
  EXPECT_EQ(link().RecvLen, 16);
  EXPECT_EQ(Bytes(link().RecvData.begin() + 14, link().RecvData.begin() + 16), hex("3E AF"));
  EXPECT_TRUE(w->input.empty());
  // The data is read with one read of the announced length: a port that
  // hands over fewer bytes has timed out.
  for (std::size_t chunk = 1; chunk <= 4; ++chunk) {
    w->reply(0x00, {1, 2, 3, 4});
    w->readChunk = chunk;
    EXPECT_EQ(exchange(0xAB), chunk >= 4 ? 0 : 113) << chunk;
    w->input.clear();
  }
}

TEST(OpenComPort, ConfiguresThePortInOrderAndCleansUpAFailedStep) {
  for (auto [baud, rate, m] : {std::tuple{57600, 56000, 1}, std::tuple{9600, 9600, 2}}) {
    FakeReader fx;
    auto w = fx.wire(3);
    ASSERT_EQ(orvix::OpenComPort(3, baud), 0);
    EXPECT_EQ(w->ops, (std::vector<std::string>{"build COM4: baud=9600 parity=N data=8 stop=1",
                                                "apply " + std::to_string(rate), "timeouts",
                                                "queues 512 512", "purge", "mask"}));
    const auto& t = w->timeouts;
    EXPECT_EQ(Ints({t.readInterval, t.readMultiplier, t.readConstant, t.writeMultiplier,
                    t.writeConstant}),
              Ints({200, m, 100, m, 100}));
    EXPECT_EQ(Ints({link().ProbeReplyTries, link().CmdReplyTries, link().PortIndex}),
              Ints({2, 10, 3}));
  }
  for (auto step : {&Wire::failBuild, &Wire::failApply, &Wire::failTimeouts, &Wire::failQueues,
                    &Wire::failPurge, &Wire::failMask}) {
    FakeReader fx;
    auto w = fx.wire(0);
    (*w).*step = true;
    EXPECT_EQ(orvix::OpenComPort(0, 57600), 1);
    EXPECT_EQ(link().ComHandle, nullptr);
    EXPECT_EQ(w->closes, 1);
  }
  for (int index : {-1, 10, 1000, 5}) {  // no wire on COM6
    FakeReader fx;
    EXPECT_EQ(orvix::OpenComPort(index, 57600), 1);
    EXPECT_EQ(link().PortIndex, index);
    EXPECT_EQ(link().ComHandle, nullptr);
    EXPECT_EQ(fx.system.openAttempts, index == 5 ? Ints{5} : Ints{});
  }
}

// LinkCom from a given start: the result, the speed, the rates tried, what
// went on the line and the pauses.
TEST(LinkCom, SpeedsProbesAndPauses) {
  struct Case {
    const char* what;
    std::function<void(FakeReader&)> before;
    int result, baud;
    Ints rates;
    Bytes wrote;
    Ints pauses;
  };
  // clang-format off
  const Case cases[] = {
    {"reader at the fast speed", [](FakeReader& f) { f.wire(0)->reply(0); }, 0, 57600, {56000}, kProbe, {}},
    {"reader at 9600 only", [](FakeReader& f) { f.wire(0)->emptyReads = {0, 1}, f.wire(0)->reply(0); }, 0, 9600,
     {56000, 9600}, hex("23") + kProbe, {1000}},
    {"no reader: open at 9600 unproven", [](FakeReader&) { link().BaudInUse = 9600; }, 1, 0, {56000, 9600},
     hex("23 23"), {1000}},
    {"while linked: close with a pause, type forgotten", [](FakeReader& f) {
       f.wire(0)->reply(0), f.wire(0)->reply(0), LinkCom(0);
       link().Contact.SelectedCardType = 21;
       f.wire(0)->written.clear(), f.system.pauses.clear();
     }, 0, 57600, {56000, 56000}, kProbe, {1000}},
  };
  // clang-format on
  for (const auto& c : cases) {
    FakeReader fx;
    c.before(fx);
    auto w = fx.wire(0);
    EXPECT_EQ(LinkCom(0), c.result) << c.what;
    EXPECT_EQ(ComBaudRate(), c.baud) << c.what;
    EXPECT_EQ(w->rates, c.rates) << c.what;
    EXPECT_EQ(w->written, c.wrote) << c.what;
    EXPECT_EQ(fx.system.pauses, c.pauses) << c.what;
    EXPECT_NE(link().ComHandle, nullptr) << c.what;
    EXPECT_EQ(link().Contact.SelectedCardType, 255) << c.what;
  }
  for (int index : {10, -1}) {  // a bad index closes the open port and fails
    FakeReader fx;
    fx.wire(0)->reply(0x00);
    ASSERT_EQ(LinkCom(0), 0);
    EXPECT_EQ(LinkCom(index), 1);
    EXPECT_EQ(link().ComHandle, nullptr);
    EXPECT_EQ(Ints({link().PortIndex, ComBaudRate(), fx.wire(0)->closes}), Ints({index, 0, 1}));
  }
}

TEST(UnLinkCom, PausesOnceKeepsTheSpeedAndKeepsAPortItCouldNotClose) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  EXPECT_EQ(UnLinkCom(), 0);
  EXPECT_EQ(UnLinkCom(), 1);  // nothing open: at once, no pause
  EXPECT_EQ(fx.system.pauses, Ints{1000});
  EXPECT_EQ(ComBaudRate(), 57600);
  for (auto step : {&Wire::failMask, &Wire::failPurge, &Wire::failClose}) {
    FakeReader f2;
    auto w2 = f2.wire(0);
    w2->reply(0x00);
    ASSERT_EQ(LinkCom(0), 0);
    (*w2).*step = true;
    EXPECT_EQ(UnLinkCom(), 1);
    EXPECT_NE(link().ComHandle, nullptr);
    EXPECT_TRUE(f2.system.pauses.empty());
    if (step != &Wire::failPurge) continue;
    // A line that went away refuses the purge; the next link drops that port.
    f2.wire(1)->reply(0x00);
    EXPECT_EQ(LinkCom(1), 0);
    EXPECT_EQ(w2->closes, 1);
    EXPECT_FALSE(w2->open);
    EXPECT_TRUE(f2.wire(1)->open);
  }
}

TEST(AutoLinkCom, OrderAndThePortVariable) {
  struct Case {
    int in, com1, com2;  // 1: a reader answers there; 0: silent; -1: no such port
    Ints opens;
    int out, result;
  } cases[] = {
      {5, 1, 1, {0}, 0, 0},
      {0, 0, 1, {0, 0, 1}, 1, 0},
      {1, 1, 1, {1}, 1, 0},
      {1, 1, 0, {1, 1, 0}, 0, 0},
      {-3, 0, 0, {0, 0, 1, 1}, -3, 102},
      {0, -1, -1, {0, 0, 1, 1}, 0, 1},
  };
  for (const auto& c : cases) {
    FakeReader fx;
    for (int i : {0, 1}) {
      const int state = i ? c.com2 : c.com1;
      fx.wire(i)->missing = state < 0;
      if (state > 0) fx.wire(i)->reply(0x00);
    }
    link().Status = 0;  // a stale success must not read as a link
    int port = c.in;
    EXPECT_EQ(AutoLinkCom(&port), c.result) << c.in;
    EXPECT_EQ(port, c.out) << c.in;
    EXPECT_EQ(fx.system.openAttempts, c.opens) << c.in;
  }
}

// The retrying exchange: relink on the same port and repeat the caller's own
// frame, data and length included, a bounded number of times.
TEST(ExchangeWithRelink, RepeatsTheCallersFrameAndGivesUpAfterThreeRelinks) {
  FakeReader fx;
  auto w = fx.wire(0);
  w->reply(0x00);
  ASSERT_EQ(LinkCom(0), 0);
  w->written.clear();
  w->raw(hex("45 66"));  // first try: a garbled acknowledge
  w->reply(0x00);        // the relink's probe
  w->reply(0x00, {0x11, 0x00});
  orvix::setCommand(0xB9, hex("05 06").data(), 2);
  EXPECT_EQ(orvix::ExchangeWithRelink(), 0);
  EXPECT_EQ(w->written, hex("23 B9 02 05 06 B8 23 00 00 00 89 23 B9 02 05 06 B8 89"));
  EXPECT_EQ(fx.system.pauses, Ints{1000});
  EXPECT_EQ(link().RecvData[0], 0x11);

  w->reply(0x0A);  // a reader status is not retried
  fx.system.pauses.clear();
  EXPECT_EQ(orvix::ExchangeWithRelink(), 0x0A);
  EXPECT_TRUE(fx.system.pauses.empty());

  w->missing = true;  // the reader is gone: reopening fails
  fx.system.openAttempts.clear();
  EXPECT_EQ(orvix::ExchangeWithRelink(), 101);
  EXPECT_EQ(fx.system.openAttempts.size(), 2u * orvix::kMaxRelinks);  // two speeds per cycle
  EXPECT_EQ(fx.system.pauses, Ints{1000});  // only the first close had a port

  FakeReader alone;  // nothing open: links by itself on COM1
  alone.wire(0)->reply(0x00);
  alone.wire(0)->reply(0x00, {0x11, 0x00});
  orvix::setCommand(0xA1, nullptr, 0);
  EXPECT_EQ(orvix::ExchangeWithRelink(), 0);
  EXPECT_EQ(ComBaudRate(), 57600);
}

TEST(Identity, FramesAndWhatIsCopied) {
  FakeReader fx;
  EXPECT_EQ(DLLVER(), 7321);
  EXPECT_EQ(ComBaudRate(), 0);
  Guarded number(8), version(8);
  EXPECT_EQ(GetDeviceNumber(number.data()), 101);  // zeroed on failure
  EXPECT_EQ(DEVVER(version.data()), 101);          // untouched on failure
  EXPECT_EQ(number.bytes(), Bytes(8, 0));
  EXPECT_EQ(version.bytes(), Bytes(8, 0xEE));
  EXPECT_TRUE(fx.system.openAttempts.empty());

  fx.link();
  auto w = fx.wire(0);
  w->reply(0x00, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(DEVVER(version.data()), 0);
  EXPECT_EQ(version.bytes(), hex("01 02 03 04 05 06 07 08"));
  w->reply(0x00, {9, 8, 7, 6, 5, 4, 3, 2, 1});
  EXPECT_EQ(GetDeviceNumber(number.data()), 0);
  EXPECT_EQ(number.bytes(), hex("09 08 07 06 05 04 03 02"));
  w->reply(0x07);
  EXPECT_EQ(GetDeviceNumber(number.data()), 7);
  EXPECT_EQ(number.bytes(), Bytes(8, 0));
  EXPECT_TRUE(number.guardsIntact() && version.guardsIntact());
  EXPECT_EQ(frames(w->written), "22: 20: 20:");

  w->written.clear();
  for (int select : {0, 8, -1, 256 + 7}) EXPECT_EQ(ALARM(select, 30, 30, 3), 4);
  EXPECT_TRUE(w->written.empty());
  w->reply(0x00);
  w->reply(0x00);
  EXPECT_EQ(ALARM(7, 30, 30, 3), 0);
  EXPECT_EQ(w->written, hex("23 7A 04 07 1E 1E 03 7A 89"));
  EXPECT_EQ(ALARM(1, 0x1FF, -1, 0x100), 0);  // only the low bytes travel
  EXPECT_EQ(frames(w->written), "7A:071E1E03 7A:01FFFF00");
}

}  // namespace
