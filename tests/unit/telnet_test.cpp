// The Telnet layer of rfc2217:// ports, byte for byte: what a server's bytes
// give as line data, answers and COM Port Control results, fed whole and fed
// one byte at a time (a TCP stream may split anywhere).
#include "link/telnet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace orvix::telnet;

constexpr std::uint8_t F = 0xFF, SB = 0xFA, SE = 0xF0, DO = 0xFD, DONT = 0xFE, WILL = 0xFB,
                       WONT = 0xFC, NOP = 0xF1;

struct Result {
  Bytes data, reply;
  std::uint32_t answers = 0, baud = 0;
  bool refused = false;
  bool operator==(const Result&) const = default;
};
Result R(Bytes data = {}, Bytes reply = {}, std::uint32_t answers = 0, std::uint32_t baud = 0,
         bool refused = false) {
  return {std::move(data), std::move(reply), answers, baud, refused};
}

Result run(const Bytes& in, bool offered, std::size_t chunk) {
  Decoder d;
  if (offered) d.offered(true);
  Result r;
  for (std::size_t at = 0; at < in.size(); at += chunk) {
    const std::size_t n = std::min(chunk, in.size() - at);
    Bytes out(n);
    out.resize(d.feed(in.data() + at, n, out.data()));
    r.data.insert(r.data.end(), out.begin(), out.end());
    r.reply.insert(r.reply.end(), d.reply(), d.reply() + d.replyLength());
    d.clearReply();
  }
  r.answers = d.answers();
  r.baud = d.answeredBaud();
  r.refused = d.comPortRefused();
  return r;
}

TEST(Telnet, ServerBytesGiveDataAnswersAndPortControlResults) {
  struct Case {
    const char* name;
    bool offered;
    Bytes in;
    Result want;
    bool split = true;  // the answer buffer bounds one feed: fed whole only
  };
  Bytes doFlood, manyOptions, refusals, longSub = {F, SB, 44, 101};
  for (std::uint8_t i = 0; i < 200; ++i) {
    doFlood.insert(doFlood.end(), {F, DO, 99, F, NOP});
    if (i < 40)
      manyOptions.insert(manyOptions.end(), {F, DO, std::uint8_t(100 + i)}), longSub.push_back(7);
    if (i < 32) refusals.insert(refusals.end(), {F, WONT, std::uint8_t(100 + i)});
  }
  longSub.insert(longSub.end(), {F, SE, 0x45});
  const Case cases[] = {
      {"data with a doubled IAC", true, {0x45, F, F, 0x67, 0x00}, R({0x45, F, 0x67, 0x00})},
      {"granted offers are not answered", true, {F, DO, 0, F, WILL, 0, F, DO, 44, F, WILL, 3}, R()},
      {"requests not offered are granted once",
       false,
       {F, DO, 0, F, DO, 0, F, WILL, 3, F, WILL, 3},
       R({}, {F, WILL, 0, F, DO, 3})},
      {"unknown options refused once each",
       true,
       {F, DO, 99, F, DO, 99, F, WILL, 1, F, WILL, 1, 0x45},
       R({0x45}, {F, WONT, 99, F, DONT, 1})},
      {"the server offering port control is refused", true, {F, WILL, 44}, R({}, {F, DONT, 44})},
      {"port control refused", true, {F, DONT, 44}, R({}, {}, 0, 0, true)},
      {"an enabled option turned off is confirmed",
       true,
       {F, DO, 0, F, DONT, 0, F, WILL, 3, F, WONT, 3, F, WONT, 3},
       R({}, {F, WONT, 0, F, DONT, 3})},
      {"baud answer between data",
       true,
       {0x11, F, SB, 44, 101, 0, 0, 0xE1, 0, F, SE, 0x22},
       R({0x11, 0x22}, {}, 1u << 1, 57600)},
      {"escaped IAC inside a value",
       true,
       {F, SB, 44, 101, 0, 0, F, F, 0, F, SE},
       R({}, {}, 1u << 1, 0xFF00)},
      {"answers to the settings and the purge",
       true,
       {F, SB, 44, 102, 8, F, SE, F, SB, 44, 103, 1, F, SE, F, SB, 44, 112, 3, F, SE},
       R({}, {}, 1u << 2 | 1u << 3 | 1u << 12)},
      {"client commands and other options are no answers",
       true,
       {F, SB, 44, 1, 0, 0, 0xE1, 0, F, SE, F, SB, 24, 101, 1, F, SE, F, SB, 44, 113, 0, F, SE},
       R()},
      {"a baud answer of the wrong length keeps no rate",
       true,
       {F, SB, 44, 101, 0, 0xE1, 0, F, SE},
       R({}, {}, 1u << 1, 0)},
      {"an overlong subnegotiation is skipped whole", true, longSub, R({0x45})},
      {"a command inside a subnegotiation ends it",
       true,
       {F, SB, 44, 101, 0, F, DO, 99, 0x45},
       R({0x45}, {F, WONT, 99})},
      {"stray commands carry no data", true, {F, NOP, F, 249, F, SE, 0x45}, R({0x45})},
      {"a flood is answered once", true, doFlood, R({}, {F, WONT, 99})},
      {"answers are bounded", true, manyOptions, R({}, refusals), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.in, c.offered, c.in.size()), c.want) << c.name;
    if (c.split) {
      EXPECT_EQ(run(c.in, c.offered, 1), c.want) << c.name << " (byte by byte)";
    }
  }
}

TEST(Telnet, BytesForTheServer) {
  std::uint8_t out[32];
  const Bytes data = {0x23, F, 0x00, F, F};
  EXPECT_EQ(Bytes(out, out + escape(data.data(), data.size(), out)),
            Bytes({0x23, F, F, 0x00, F, F, F, F}));
  const std::uint8_t rate[] = {0, 0, 0x25, 0x80}, odd[] = {F, 0, 0, F, 9};
  EXPECT_EQ(Bytes(out, out + comPortCommand(kSetBaudRate, rate, 4, out)),
            Bytes({F, SB, 44, 1, 0, 0, 0x25, 0x80, F, SE}));
  EXPECT_EQ(Bytes(out, out + comPortCommand(kPurgeData, odd, 5, out)),
            Bytes({F, SB, 44, 12, F, F, 0, 0, F, F, F, SE}));
  EXPECT_EQ(Bytes(out, out + greeting(true, out)),
            Bytes({F, WILL, 0, F, DO, 0, F, WILL, 3, F, DO, 3, F, WILL, 44}));
}

// A purge on a network port drops what the connection has already brought
// in (here: the rest of one segment, taken in by a one-byte read).
TEST(NetworkPort, PurgeDropsBytesAlreadyReceived) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(listen(listener, 1) | getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::string url = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  std::unique_ptr<orvix::SerialPort> port(orvix::openNetworkPort(url.c_str()));
  ASSERT_NE(port, nullptr);
  const int server = accept(listener, nullptr, nullptr);
  ASSERT_EQ(send(server, "ABC", 3, 0), 3);
  std::uint8_t b = 0;
  ASSERT_EQ(port->read(&b, 1), 1u);
  EXPECT_EQ(b, 'A');
  EXPECT_TRUE(port->purge());
  ASSERT_EQ(send(server, "Z", 1, 0), 1);
  ASSERT_EQ(port->read(&b, 1), 1u);
  EXPECT_EQ(b, 'Z');
  close(server);
  close(listener);
}

}  // namespace
