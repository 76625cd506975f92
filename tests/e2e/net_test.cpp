// Readers behind a serial device server: the built library reaching
// readersim through ser2net (raw TCP and RFC 2217) with ports named by URL,
// and a hostile server written here that never gets to hang the caller.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "e2e.h"
#include "orvix.h"
#include "ser2net_config.h"

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

// A listening socket on 127.0.0.1 (port 0: any free port, told in chosen).
int listenOn(int port, int& chosen) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = loopback(port);
  socklen_t len = sizeof a;
  auto* any = reinterpret_cast<sockaddr*>(&a);
  if (bind(s, any, len) != 0 || listen(s, 4) != 0 || getsockname(s, any, &len) != 0)
    return close(s), -1;
  chosen = ntohs(a.sin_port);
  return s;
}

bool accepting(int port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in a = loopback(port);
  const bool up = connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return up;
}

// ser2net serving one device on a raw port and an RFC 2217 port, with the
// README's configuration.
class Ser2net {
 public:
  Ser2net(const std::string& device, const std::string& dir) : dir_(dir) {
    for (int* p : {&raw, &rfc2217}) close(listenOn(0, *p));
    std::ofstream(dir_ + "/ser2net.yaml") << ser2net::config(device, raw, rfc2217);
  }
  ~Ser2net() { stop(); }
  bool start() {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string conf = dir_ + "/ser2net.yaml", pid = dir_ + "/ser2net.pid";
      if (!freopen("/dev/null", "w", stderr)) _exit(126);
      execlp("ser2net", "ser2net", "-n", "-c", conf.c_str(), "-P", pid.c_str(), nullptr);
      _exit(127);
    }
    // Each of these probes opens the device; ser2net takes a moment to let
    // it go and turns new connections away until then, which the library's
    // open waits out.
    for (int i = 0; i < 300; ++i, usleep(10'000))  // polls until both ports accept
      if (accepting(raw) && accepting(rfc2217)) return true;
    return false;
  }
  // Stops (SIGSTOP) or resumes the server: a server that stops answering.
  void freeze(bool frozen) {
    if (pid_ > 0) kill(pid_, frozen ? SIGSTOP : SIGCONT);
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  std::string url(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(scheme == "tcp" ? raw : rfc2217);
  }
  int raw = 0, rfc2217 = 0;

 private:
  std::string dir_;
  pid_t pid_ = 0;
};

class NetRoad : public e2e::ReaderTest {
 protected:
  void SetUp() override {
    e2e::ReaderTest::SetUp();
    const auto slash = sim->path().rfind('/');
    server = std::make_unique<Ser2net>(sim->path(), sim->path().substr(0, slash));
    ASSERT_TRUE(server->start()) << "ser2net did not start";
  }
  void TearDown() override {
    e2e::ReaderTest::TearDown();
    server.reset();
    if (!trace.empty()) std::remove(trace.c_str());
  }
  // Bytes the Telnet layer and the server must pass through unchanged.
  readersim::Options options() override {
    readersim::Options o;
    o.deviceNumber = {0xFF, 0x0D, 0x00, 0x0A, 0xFF, 0xFF, 0x0D, 0xF0};
    return o;
  }
  int devver() {
    unsigned char v[8];
    return fn<int(unsigned char*)>("DEVVER")(v);
  }
  std::unique_ptr<Ser2net> server;
  std::string trace;
};

const char* const kSchemes[] = {"tcp", "rfc2217"};

// The road over both schemes: link, the reader's faults with the link errors
// they give on a pty, a reader unplugged and back, and the URL in the trace.
TEST_F(NetRoad, BothSchemesGiveThePtyResults) {
  trace = "/tmp/orvix32-net-trace-" + std::to_string(getpid());
  setenv("ORVIX32_TRACE", trace.c_str(), 1);
  auto* linkCom = fn<int(int)>("LinkCom");
  for (const char* scheme : kSchemes) {
    SCOPED_TRACE(scheme);
    e2e::mapPorts(server->url(scheme));
    ASSERT_EQ(linkCom(0), 0);
    EXPECT_EQ(fn<int()>("ComBaudRate")(), 57600);
    unsigned char v[8] = {};
    ASSERT_EQ(fn<int(unsigned char*)>("DEVVER")(v), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");
    ASSERT_EQ(fn<int(unsigned char*)>("GetDeviceNumber")(v), 0);
    EXPECT_EQ(std::vector<unsigned char>(v, v + 8),
              std::vector<unsigned char>({0xFF, 0x0D, 0x00, 0x0A, 0xFF, 0xFF, 0x0D, 0xF0}));
    const std::pair<const char*, int> faults[] = {
        {"silent", 102}, {"badchecksum cmd=22", 115}, {"nostatus cmd=22", 111}, {"", 0}};
    for (const auto& [what, status] : faults) {
      if (*what) fault(what);
      EXPECT_EQ(devver(), status) << what;
    }
    sim->unplug();
    const int st = devver();
    EXPECT_TRUE(st >= 101 && st <= 115) << st;
    EXPECT_EQ(linkCom(0), 1);
    sim->replug();
    ASSERT_EQ(linkCom(0), 0);
    EXPECT_EQ(devver(), 0);
    EXPECT_EQ(fn<int()>("UnLinkCom")(), 0);
  }
  std::ifstream in(trace);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  for (const char* scheme : kSchemes)
    EXPECT_NE(all.find("# ORVIX32 trace version=1 port=COM1 url=" + server->url(scheme) +
                       " speed=57600 library="),
              std::string::npos)
        << all;
}

// A reader that answers at one speed only behind RFC 2217: every open finds
// it (the speed is changed on the open connection, and a new connection
// waits for ser2net to let the device go) and so does every relink. Raw TCP
// cannot change the speed, and says so.
TEST_F(NetRoad, OneSpeedReaderLinksEveryTimeOverPortControl) {
  auto* open = fn<int(const char*, const orvix_options*, orvix_reader**)>("orvix_open");
  auto* close = fn<int(orvix_reader*)>("orvix_close");
  auto* relink = fn<int(orvix_reader*)>("orvix_relink");
  auto* baud = fn<int(orvix_reader*)>("orvix_baud_rate");
  const std::pair<readersim::Speeds, int> rows[] = {{readersim::Speeds::SlowOnly, 9600},
                                                    {readersim::Speeds::FastOnly, 57600}};
  for (const auto& [speeds, want] : rows) {
    SCOPED_TRACE(want);
    sim->setSpeeds(speeds);
    orvix_reader* r = nullptr;
    for (int i = 0; i < (want == 9600 ? 30 : 5); ++i) {
      close(r);
      ASSERT_EQ(open(server->url("rfc2217").c_str(), nullptr, &r), 0) << i;
      EXPECT_EQ(baud(r), want);
    }
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(relink(r), 0) << i;
      EXPECT_EQ(baud(r), want);
    }
    EXPECT_EQ(close(r), 0);
  }
  sim->setSpeeds(readersim::Speeds::SlowOnly);
  orvix_reader* r = nullptr;
  EXPECT_EQ(open(server->url("tcp").c_str(), nullptr, &r), ORVIX_SPEED_NOT_SETTABLE);
  e2e::mapPorts(server->url("rfc2217"));  // the flat link falls back as on a local port
  ASSERT_EQ(fn<int(int)>("LinkCom")(0), 0);
  EXPECT_EQ(fn<int()>("ComBaudRate")(), 9600);
  EXPECT_EQ(sim->hostSpeed(), 9600);
}

// The server goes away while the reader is busy: a link error within the
// allowances; once it is back, the next Mifare call relinks and succeeds.
TEST_F(NetRoad, ServerStoppedMidExchangeThenRelinkedTiming) {
  for (const char* scheme : kSchemes) {
    SCOPED_TRACE(scheme);
    e2e::mapPorts(server->url(scheme));
    ASSERT_EQ(fn<int(int)>("LinkCom")(0), 0);
    fault("delay ms=800");
    std::thread stopper([&] {
      while (sim->pendingFaults() != 0) std::this_thread::yield();  // the reader is busy
      server->stop();
    });
    const auto t0 = Clock::now();
    const int st = devver();
    stopper.join();
    EXPECT_TRUE(st >= 101 && st <= 115) << st;
    EXPECT_LT(msSince(t0), 1500);
    ASSERT_TRUE(server->start());
    unsigned char info[4] = {};
    EXPECT_EQ(fn<int(unsigned char*)>("RFMifare_Mcmno")(info), 0);
    EXPECT_EQ(info[0], 17);
    EXPECT_EQ(fn<int()>("UnLinkCom")(), 0);
  }
}

// A reader on a network port: orvix_cancel ends a call waiting for a silent
// reader, and one whose relink connects to a server that never answers, at
// once; an open that gets no answer gives up after one connect time.
TEST_F(NetRoad, CancelEndsNetworkWaitsTiming) {
  auto* open = fn<int(const char*, const orvix_options*, orvix_reader**)>("orvix_open");
  auto* read = fn<int(orvix_reader*, int, unsigned char*, size_t)>("orvix_mifare_read");
  auto* cancel = fn<int(orvix_reader*)>("orvix_cancel");
  auto* onExchange =
      fn<int(orvix_reader*, orvix_trace_callback, void*)>("orvix_set_trace_callback");
  int port = 0, hole = -1, held[8];
  auto blackHole = [&] {  // a listener whose queue is full: connects get no answer
    server->stop();
    hole = listenOn(server->raw, port);
    const sockaddr_in a = loopback(port);
    for (int& h : held)
      h = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0),
      connect(h, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  };
  const struct {
    const char* stage;
    const char* scheme;
    std::function<void()> stall;
  } rows[] = {{"waiting for a silent reader", "tcp", [&] { fault("silent count=all"); }},
              {"waiting for a silent reader", "rfc2217", [&] { fault("silent count=all"); }},
              {"a server that stopped answering", "rfc2217", [&] { server->freeze(true); }},
              {"reconnecting to a server that never answers", "tcp", blackHole}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.stage) + " over " + row.scheme);
    orvix_reader* r = nullptr;
    int opened = -1;  // the server may still hold the device for the row before: until it lets go
    for (const auto until = Clock::now() + std::chrono::seconds(5);
         (opened = open(server->url(row.scheme).c_str(), nullptr, &r)) != 0 &&
         Clock::now() < until;)
      r = nullptr;
    ASSERT_EQ(opened, 0);
    std::atomic<int> failed{0};  // exchanges that failed: the call is in its relinks
    onExchange(
        r, [](void* n, const orvix_exchange*) { ++*static_cast<std::atomic<int>*>(n); }, &failed);
    row.stall();
    int result = 0;
    std::thread call([&] {
      unsigned char block[16];
      result = read(r, 4, block, sizeof block);
    });
    while (failed == 0) std::this_thread::yield();
    const Clock::time_point cancelledAt = Clock::now();
    cancel(r);
    call.join();
    EXPECT_EQ(result, ORVIX_CANCELLED);
    EXPECT_LT(msSince(cancelledAt), 50);
    server->freeze(false);
    control({"faults", "clear"});
    if (hole < 0) {  // the reader stays usable (and leaves no frame half sent)
      unsigned char v[8];
      EXPECT_EQ(fn<int(orvix_reader*, unsigned char*, size_t)>("orvix_device_version")(r, v, 8), 0);
    }
    fn<int(orvix_reader*)>("orvix_close")(r);
  }
  const auto t0 = Clock::now();
  orvix_reader* r = nullptr;
  EXPECT_EQ(open(server->url("tcp").c_str(), nullptr, &r), ORVIX_CONNECT_TIMED_OUT);
  EXPECT_LT(msSince(t0), 4000);
  for (const int h : held) close(h);
  close(hole);
}

// A server written to misbehave. It answers port control and the first
// exchange (the probe) as a reader would, then turns on the next one.
class Hostile {
 public:
  // ResetsFirst resets its first connection at once, ResetsAll every one;
  // both then serve as a reader would.
  enum Mode { Mute, EndlessSubnegotiation, IacFlood, ClosesMidFrame, ResetsFirst, ResetsAll };
  explicit Hostile(Mode mode) : mode_(mode), listener_(listenOn(0, port)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~Hostile() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  int port = 0;

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      const int c = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (c < 0) continue;
      if (mode_ == ResetsAll || (mode_ == ResetsFirst && ++accepted == 1)) {
        const linger now{1, 0};
        setsockopt(c, SOL_SOCKET, SO_LINGER, &now, sizeof now);
      } else {
        talk(c);
      }
      close(c);
    }
  }
  void put(int c, std::vector<std::uint8_t> b) { send(c, b.data(), b.size(), MSG_NOSIGNAL); }
  void talk(int c) {
    std::vector<std::uint8_t> sub;
    int state = 0, frame = 0, exchanges = 0;  // state: 0 data, 1 IAC, 2 option, 3 sub, 4 sub IAC
    bool hostile = false;
    while (!stop_) {
      if (hostile && mode_ == EndlessSubnegotiation) put(c, std::vector<std::uint8_t>(512, 7));
      if (hostile && mode_ == IacFlood)
        for (int i = 0; i < 64; ++i) put(c, {255, 241, 255, 253, 99, 255, 250, 44});
      pollfd p{c, POLLIN, 0};
      if (poll(&p, 1, hostile ? 1 : 20) != 1) continue;
      std::uint8_t b[256];
      const ssize_t n = recv(c, b, sizeof b, 0);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        const std::uint8_t x = b[i];
        if (state == 1 || state == 2) {
          state = state == 2 ? 0 : x == 250 ? 3 : x >= 251 && x != 255 ? 2 : 0;
          sub.clear();
        } else if (state == 3 || state == 4) {
          if (state == 4 && x == 240) {
            state = 0;
            if (mode_ != Mute && sub.size() >= 2) {  // the answer repeats the value
              sub[1] += 100;
              put(c, {255, 250}), put(c, sub), put(c, {255, 240});
            }
          } else if (state == 3 && x == 255) {
            state = 4;
          } else {
            sub.push_back(x);
            state = 3;
          }
        } else if (x == 255) {
          state = 1;
        } else if (mode_ == Mute || hostile) {
        } else if (x == 0x23 && ++exchanges == 2 && mode_ < ClosesMidFrame) {
          hostile = true;
          if (mode_ == EndlessSubnegotiation) put(c, {255, 250, 44});
        } else if (x == 0x23) {
          put(c, {0x45});
          frame = 0;
        } else if (++frame == 3) {
          put(c, {0x67});
        } else if (x == 0x89) {
          if (exchanges == 2) return put(c, {0x00});  // closes after the status byte
          put(c, {0x00, 0x00, 0x00});
        }
      }
    }
  }
  Mode mode_;
  int listener_;
  int accepted = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(NetRoad, HostileServersNeverHoldUpTheCallerTiming) {
  struct Case {
    const char* name;
    Hostile::Mode mode;
    const char* scheme;
    int link, status;  // LinkCom's result, then DEVVER's when linked
    double boundMs;    // the longest the whole case may take
  };
  const Case cases[] = {
      {"accepts and never speaks (port control)", Hostile::Mute, "rfc2217", 1, 0, 4000},
      {"accepts and never speaks (raw)", Hostile::Mute, "tcp", 1, 0, 4000},
      {"endless subnegotiation", Hostile::EndlessSubnegotiation, "rfc2217", 0, 102, 3500},
      {"IAC flood", Hostile::IacFlood, "rfc2217", 0, 102, 3500},
      {"closes mid-frame", Hostile::ClosesMidFrame, "rfc2217", 0, 112, 3500},
      {"closes mid-frame (raw)", Hostile::ClosesMidFrame, "tcp", 0, 112, 3500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Hostile h(c.mode);
    e2e::mapPorts(std::string(c.scheme) + "://127.0.0.1:" + std::to_string(h.port));
    const auto t0 = Clock::now();
    EXPECT_EQ(fn<int(int)>("LinkCom")(0), c.link);
    if (c.link == 0) {
      EXPECT_EQ(devver(), c.status);
    }
    fn<int()>("UnLinkCom")();
    EXPECT_LT(msSince(t0), c.boundMs);
  }
  e2e::mapPorts("");  // the next open drops a lost connection UnLinkCom had to keep
  fn<int(int)>("LinkCom")(0);
}

// A server that resets a connection before a word (ser2net still letting an
// earlier connection's device go) is asked again. One that resets every
// connection gives no reader (the code depends on where the reset lands).
// The reader here answers at any speed: asked again, it links at the first.
TEST_F(NetRoad, AConnectionResetAtOnceIsAskedAgain) {
  auto* open = fn<int(const char*, const orvix_options*, orvix_reader**)>("orvix_open");
  const std::tuple<Hostile::Mode, const char*, bool> rows[] = {
      {Hostile::ResetsFirst, "rfc2217", true},
      {Hostile::ResetsFirst, "tcp", true},
      {Hostile::ResetsAll, "rfc2217", false},
      {Hostile::ResetsAll, "tcp", false}};
  for (const auto& [mode, scheme, opens] : rows) {
    Hostile h(mode);
    orvix_reader* r = nullptr;
    const std::string url = std::string(scheme) + "://127.0.0.1:" + std::to_string(h.port);
    const int got = open(url.c_str(), nullptr, &r);
    EXPECT_EQ(got == 0, opens) << url << " " << mode << " gave " << got;
    EXPECT_EQ(r != nullptr, opens) << url;
    if (r) {
      EXPECT_EQ(fn<int(orvix_reader*)>("orvix_baud_rate")(r), 57600) << url;
    }
    fn<int(orvix_reader*)>("orvix_close")(r);
  }
}

// Each way a network port fails to open gives its own code.
TEST_F(NetRoad, EachNetworkOpenFailureSaysWhy) {
  auto* open = fn<int(const char*, const orvix_options*, orvix_reader**)>("orvix_open");
  Hostile mute(Hostile::Mute);  // accepts, and never answers port control
  int nobody = 0;
  close(listenOn(0, nobody));
  // A client that holds the device: ser2net turns others away.
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in a = loopback(server->raw);
  ASSERT_EQ(connect(holder, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
  const std::string loop = "127.0.0.1:";
  const std::pair<std::string, int> rows[] = {
      {"tcp://" + loop + std::to_string(nobody), ORVIX_CONNECTION_REFUSED},
      {"TCP://" + loop + std::to_string(nobody), ORVIX_CONNECTION_REFUSED},
      {"rfc2217://" + loop + std::to_string(mute.port), ORVIX_NOT_RFC2217},
      {server->url("tcp"), ORVIX_SERVER_BUSY},
      {"tcp://127.0.0.1", ORVIX_BAD_ARGUMENT},
      {"tcp://127.0.0.1:0", ORVIX_BAD_ARGUMENT}};
  for (const auto& [url, want] : rows) {
    orvix_reader* r = nullptr;
    EXPECT_EQ(open(url.c_str(), nullptr, &r), want) << url;
    EXPECT_EQ(r, nullptr);
  }
  close(holder);
}

}  // namespace
