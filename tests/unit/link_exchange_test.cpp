// The frame exchange, byte for byte, against the scripted fake port.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;
using fake::FakeReader;
using fake::Wire;

namespace {

std::uint8_t exchange(std::uint8_t cmd, const Bytes& data) {
  orvix::setCommand(cmd, data.data(), data.size());
  return orvix::ExchangeFrame();
}

TEST(Exchange, ModuleNumberCommandPutsTheExactBytesOnTheLine) {
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  orvix::link().RecvData[0] = 0x5A;  // must survive a response without data
  w->reply(0x00);
  EXPECT_EQ(exchange(0xA1, {}), 0);
  EXPECT_EQ(w->written, bytes({0x23, 0xA1, 0x00, 0xA1, 0x89}));
  EXPECT_EQ(orvix::link().RecvLen, 0);
  EXPECT_EQ(orvix::link().RecvData[0], 0x5A);
  EXPECT_TRUE(w->input.empty());
}

TEST(Exchange, ChecksumsFollowTheXorOfTheFrame) {
  struct Case {
    std::uint8_t cmd;
    Bytes data;
    std::uint8_t sum;
  } cases[] = {
      {0x00, {}, 0x00},                              // the probe
      {0xAC, {0x04, 0x11, 0x22, 0x33, 0x44}, 0xE9},  // a one-shot block read
      {0x7A, {0x07, 0x1E, 0x1E, 0x03}, 0x7A},        // the signal command
      {0xB9, {0x05}, 0xBD},                          // a block read
  };
  for (const auto& c : cases) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    w->reply(0x00);
    EXPECT_EQ(exchange(c.cmd, c.data), 0);
    Bytes want{0x23, c.cmd, static_cast<std::uint8_t>(c.data.size())};
    want.insert(want.end(), c.data.begin(), c.data.end());
    want.push_back(c.sum);
    want.push_back(0x89);
    EXPECT_EQ(w->written, want) << "command " << int(c.cmd);
  }
}

TEST(Exchange, ResponseChecksumIsChecked) {
  for (int last = 0; last < 256; ++last) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    w->raw({0x45, 0x67, 0x00, 0x02, 0x11, 0x00, static_cast<std::uint8_t>(last)});
    const std::uint8_t st = exchange(0xAB, {});
    EXPECT_EQ(st, last == 0x13 ? 0 : 115) << last;
    EXPECT_EQ(orvix::link().Status, st);
    EXPECT_EQ(orvix::link().RecvData[0], 0x11);  // data stays even on a bad checksum
  }
}

// Every link error at the step that raises it. Write operations are numbered
// sync 0 (1 on the retry), command, length, data, checksum, poll.
TEST(Exchange, EachLinkErrorAtItsStep) {
  struct Case {
    const char* what;
    Bytes data;                // command data
    std::set<int> failWrites;  // write operations that fail
    Bytes reader;              // what the reader sends
    std::uint8_t want;
  } cases[] = {
      {"sync fails twice", {}, {0, 1}, {}, 101},
      {"silent reader", {}, {}, {}, 102},
      {"wrong ready byte", {}, {}, {0x46, 0x67, 0, 0, 0}, 103},
      {"command byte", {}, {1}, {0x45}, 104},
      {"length byte", {}, {2}, {0x45}, 105},
      {"data", {0x01, 0x02}, {3}, {0x45}, 106},
      {"checksum fails twice", {}, {3, 4}, {0x45}, 107},
      {"no acknowledge", {}, {}, {0x45}, 108},
      {"wrong acknowledge", {}, {}, {0x45, 0x66}, 109},
      {"poll byte", {}, {4}, {0x45, 0x67}, 110},
      {"no status", {}, {}, {0x45, 0x67}, 111},
      {"no length", {}, {}, {0x45, 0x67, 0x00}, 112},
      {"data short", {}, {}, {0x45, 0x67, 0x00, 0x03, 0xAA, 0xBB}, 113},
      {"no checksum", {}, {}, {0x45, 0x67, 0x00, 0x01, 0xAA}, 114},
      {"bad checksum", {}, {}, {0x45, 0x67, 0x00, 0x01, 0xAA, 0x00}, 115},
      {"sync retried once", {}, {0}, {0x45, 0x67, 0x00, 0x00, 0x00}, 0},
      {"checksum retried once", {}, {3}, {0x45, 0x67, 0x00, 0x00, 0x00}, 0},
      {"reader status passes", {}, {}, {0x45, 0x67, 0x0C, 0x00, 0x0C}, 0x0C},
  };
  for (const auto& c : cases) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    w->failWrites = c.failWrites;
    w->raw(c.reader);
    EXPECT_EQ(exchange(0x22, c.data), c.want) << c.what;
    EXPECT_EQ(orvix::link().Status, c.want) << c.what;
  }
}

TEST(Exchange, NoResyncAfterAWrongReadyByte) {
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  w->raw({0x00, 0x45, 0x67});
  EXPECT_EQ(exchange(0x22, {}), 103);
  EXPECT_EQ(w->written, bytes({0x23}));
  EXPECT_EQ(w->reads, 1);
}

TEST(Exchange, AcknowledgeAllowanceIsTwoForTheProbeAndTenOtherwise) {
  struct Case {
    std::uint8_t cmd;
    int emptyBeforeAck;
    std::uint8_t want;
  } cases[] = {
      {0x00, 1, 0},
      {0x00, 2, 108},
      {0x22, 9, 0},
      {0x22, 10, 108},
  };
  for (const auto& c : cases) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    // Read 0 is the ready byte; the acknowledge reads follow.
    for (int i = 1; i <= c.emptyBeforeAck; ++i) w->emptyReads.insert(i);
    w->reply(0x00);
    EXPECT_EQ(exchange(c.cmd, {}), c.want) << int(c.cmd) << " " << c.emptyBeforeAck;
    if (c.want == 108) {
      EXPECT_EQ(w->reads, 1 + (c.cmd == 0 ? 2 : 10));
    }
  }
}

TEST(Exchange, NoAcknowledgeWaitWhenTheAllowanceIsBelowOne) {
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  orvix::link().CmdReplyTries = 0;
  w->reply(0x00);
  EXPECT_EQ(exchange(0x22, {}), 108);
  EXPECT_EQ(w->reads, 1);  // only the ready byte was read
}

TEST(Exchange, SilentReaderIsAskedTwiceForTheReadyByte) {
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  EXPECT_EQ(exchange(0x22, {}), 102);
  EXPECT_EQ(w->reads, 2);
  EXPECT_EQ(w->written, bytes({0x23}));
}

TEST(Exchange, RecvDataIsNeverCleared) {
  FakeReader fx;
  fx.link();
  auto w = fx.wire(0);
  Bytes sixteen(16);
  for (int i = 0; i < 16; ++i) sixteen[i] = static_cast<std::uint8_t>(0xA0 + i);
  w->reply(0x00, sixteen);
  ASSERT_EQ(exchange(0xB9, {0x05}), 0);
  // A failed exchange leaves every byte as it was.
  EXPECT_EQ(exchange(0xB9, {0x05}), 102);
  EXPECT_TRUE(std::equal(sixteen.begin(), sixteen.end(), orvix::link().RecvData.begin()));
  // A shorter answer overwrites only its own bytes.
  w->reply(0x00, {0x01, 0x02});
  ASSERT_EQ(exchange(0xAA, {}), 0);
  EXPECT_EQ(orvix::link().RecvData[0], 0x01);
  EXPECT_EQ(orvix::link().RecvData[2], 0xA2);
  // A response cut short keeps what came: announced 16, sent 15.
  w->raw({0x45, 0x67, 0x00, 0x10});
  for (int i = 0; i < 15; ++i) w->input.push_back(static_cast<std::uint8_t>(0x30 + i));
  EXPECT_EQ(exchange(0xB9, {0x05}), 113);
  EXPECT_EQ(orvix::link().RecvLen, 16);
  EXPECT_EQ(orvix::link().RecvData[14], 0x3E);
  EXPECT_EQ(orvix::link().RecvData[15], 0xAF);  // from the first answer
}

TEST(Exchange, ResponseDataMayArriveInPieces) {
  // The port may hand over a response in any split; the exchange reads the
  // data with one read of the announced length, which the port completes.
  for (std::size_t chunk = 1; chunk <= 4; ++chunk) {
    FakeReader fx;
    fx.link();
    auto w = fx.wire(0);
    w->reply(0x00, {1, 2, 3, 4});
    w->readChunk = chunk;
    const std::uint8_t st = exchange(0xAB, {});
    // A port that returns fewer bytes than asked has timed out: 113.
    EXPECT_EQ(st, chunk >= 4 ? 0 : 113) << chunk;
  }
}

TEST(Exchange, EveryExchangeFailsWith101BeforeAnyPortIsOpen) {
  FakeReader fx;
  EXPECT_EQ(exchange(0x22, {}), 101);
  EXPECT_TRUE(fx.wire(0)->written.empty());
}

}  // namespace
