// The simulated reader's line: its path, unplug and replug, the reader side
// of the exchange byte by byte, pacing, line speeds and the core's control
// words, over a real pty.
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <thread>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using namespace simtest;
std::string target(const std::string& link) {
  char buf[PATH_MAX] = {};
  return ::readlink(link.c_str(), buf, sizeof buf - 1) < 0 ? "" : buf;
}
bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
bool isPty(const std::string& link) { return target(link).rfind("/dev/pts/", 0) == 0; }

TEST(CoreLine, PathUnplugReplugStopAndStart) {
  readersim::Simulator sim;
  sim.replug();  // nothing to do before start (no path yet)
  sim.unplug();
  ASSERT_TRUE(sim.start());
  const std::string path = sim.path(), dir = path.substr(0, path.size() - 7);
  EXPECT_EQ(path.substr(path.size() - 7), "/reader");  // a link to a pty in a fresh folder
  EXPECT_TRUE(isPty(path)) << target(path);
  HostLine h(path);
  ASSERT_EQ(h.exchange(0x00).linkError, 0);
  std::string out;
  ASSERT_TRUE(sim.control({"unplug"}, out));
  EXPECT_EQ(out, "unplugged");
  EXPECT_FALSE(sim.plugged());
  EXPECT_EQ(sim.path(), path);
  EXPECT_FALSE(exists(path));
  EXPECT_LT(::write(h.fd(), "\x23", 1), 0);  // open handles are hung up
  pollfd p{h.fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 100), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  ASSERT_TRUE(sim.control({"status"}, out));
  EXPECT_NE(out.find("plugged=no"), std::string::npos) << out;
  ASSERT_TRUE(sim.control({"replug"}, out));
  EXPECT_EQ(out, "replugged at " + path);
  EXPECT_TRUE(sim.plugged() && isPty(path));
  EXPECT_LT(::write(h.fd(), "\x23", 1),
            0);  // the old handle stays dead; a new one reaches the reader
  EXPECT_EQ(HostLine(path).exchange(0x00).linkError, 0);
  sim.unplug();
  sim.stop();  // stop while unplugged removes the link and the folder too
  EXPECT_FALSE(exists(path) || exists(dir));
  ASSERT_TRUE(sim.start());
  {
    HostLine lazy(sim.path());  // a host that never reads does not stall the reader
    const auto before = sim.exchanges();
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(lazy.write(hex("2300000089")));
    EXPECT_TRUE(waitUntil([&] { return sim.exchanges() == before + 200; }));
  }
  EXPECT_EQ(HostLine(sim.path()).exchange(0x22).linkError, 0);
}

TEST(CoreLine, AGivenLinkPathReplacesAStaleLinkButNotAFile) {
  char tmpl[] = "/tmp/coreline-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  const std::string dir = tmpl, link = dir + "/com1", file = dir + "/plain";
  ASSERT_EQ(::symlink("/nonexistent/old", link.c_str()), 0);
  readersim::Options o;
  o.linkPath = link;
  {
    readersim::Simulator sim(o);
    ASSERT_TRUE(sim.start());
    EXPECT_EQ(sim.path(), link);
    EXPECT_EQ(HostLine(link).exchange(0x00).linkError, 0);
  }
  EXPECT_FALSE(exists(link));
  EXPECT_TRUE(exists(dir));  // the caller's folder stays
  std::fclose(std::fopen(file.c_str(), "w"));
  o.linkPath = file;
  EXPECT_FALSE(readersim::Simulator(o).start());
  EXPECT_TRUE(exists(file));
  ::unlink(file.c_str());
  ::rmdir(dir.c_str());
}

class CoreProtocol : public SimLineTest {
 protected:
  void SetUp() override {
    readersim::Options o;
    o.log = [this](const std::string& l) {
      std::lock_guard<std::mutex> lk(logMu);
      log.push_back(l);
    };
    start(o);
  }
  // Sync, frame and poll by hand: every byte the reader sent.
  Bytes raw(const Bytes& cmdFrame, std::size_t respBytes) {
    Bytes got;
    EXPECT_TRUE(host->write(0x23));
    got.push_back(std::uint8_t(host->readByte(300)));
    EXPECT_TRUE(host->write(cmdFrame));
    got.push_back(std::uint8_t(host->readByte(1200)));
    EXPECT_TRUE(host->write(0x89));
    got = cat(got, host->read(respBytes, 300));
    EXPECT_EQ(host->readByte(50), -1) << "extra bytes after the response";
    return got;
  }
  bool logged(const std::string& line) {
    std::lock_guard<std::mutex> lk(logMu);
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::mutex logMu;
  std::vector<std::string> log;
};

TEST_F(CoreProtocol, ReaderBytesOnTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"000000", "4567000000"},               // the probe
      {"A100A1", "45670002110013"},           // module 17.0
      {"7A04071E1E037A", "4567000000"},       // the signal outputs
      {"990099", "4567010001"},               // unknown command
      {"5502010200", "4567020002"},           // a wrong frame checksum: not carried out
      {"5503238923DF", "456700032389238A"}};  // sync bytes inside are data
  for (const auto& [frameHex, reader] : cases)
    EXPECT_EQ(toHex(raw(hex(frameHex), hex(reader).size() - 2)), reader) << frameHex;
  EXPECT_EQ(echoCalls(), 1);
  EXPECT_EQ(sim->signalOutputs(), (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
  EXPECT_EQ(sim->exchanges(), 6u);
  EXPECT_EQ(sim->lastCommand(), 0x55);
  EXPECT_TRUE(logged("signal outputs: select=07 a=1E b=1E c=03"));
  EXPECT_TRUE(logged("#4 cmd 99 [] status 01 [] -> 01 00 01"));
  EXPECT_TRUE(logged("#6 cmd 55 [23 89 23] status 00 [23 89 23] -> 00 03 23 89 23 8A"));
  Bytes longest(255);
  for (std::size_t i = 0; i < 255; ++i) longest[i] = std::uint8_t(i);
  auto r = host->exchange(0x55, longest);
  EXPECT_EQ(r.data, Bytes(longest.rbegin(), longest.rend()));
  EXPECT_TRUE(host->exchange(0x55).data.empty());
  r = host->exchange(0x56, {9, 9});
  EXPECT_EQ(r.status, 0x42);
  EXPECT_EQ(r.data, Bytes{2});
  EXPECT_EQ(host->exchange(0x7A, {1, 2, 3}).status, readersim::status::kWrongLength);
  EXPECT_EQ(sim->signalOutputs(), (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
}

TEST_F(CoreProtocol, NoiseStallsAndTheMutex) {
  ASSERT_TRUE(host->write(hex("0011896745FFA100A1")));  // noise outside an exchange
  EXPECT_EQ(host->readByte(150), -1);
  EXPECT_EQ(host->exchange(0xA1).data, hex("1100"));
  // Noise while the response waits for its poll: ignored; a sync byte starts again.
  ASSERT_TRUE(host->write(0x23) && host->readByte(300) == 0x45 && host->write(frame(0x55, {1})));
  ASSERT_TRUE(host->readByte(300) == 0x67 && host->write(0x11));
  EXPECT_EQ(host->readByte(100), -1);
  EXPECT_EQ(host->exchange(0x22).data.size(), 8u);
  // Modules run with the simulator's mutex held: the frame is taken, its
  // answer waits for the mutex.
  std::unique_lock<std::mutex> lk(sim->mutex());
  HostLine::Result r;
  const auto done = sim->exchanges();
  std::thread exchange([&] { r = host->exchange(0x55, {7}); });
  EXPECT_TRUE(waitUntil([&] { return sim->lastCommand() == 0x55; }));
  EXPECT_EQ(sim->exchanges(), done);
  lk.unlock();
  exchange.join();
  EXPECT_EQ(r.linkError, 0);
}

// A frame stalled past the reader's limit is abandoned; short pauses are not.
using CoreProtocolTiming = CoreProtocol;

TEST_F(CoreProtocolTiming, StalledFramesAreAbandoned) {
  const int calls = echoCalls();
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  ASSERT_TRUE(host->write(hex("550301")));  // two data bytes short
  std::this_thread::sleep_for(std::chrono::milliseconds(450));  // stimulus: the stall under test
  EXPECT_EQ(host->exchange(0x00).linkError, 0);
  EXPECT_EQ(echoCalls(), calls);
  ASSERT_TRUE(host->write(0x23));
  ASSERT_EQ(host->readByte(300), 0x45);
  for (std::uint8_t b : frame(0x55, {1, 2})) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // stimulus: slow bytes
    ASSERT_TRUE(host->write(b));
  }
  ASSERT_EQ(host->readByte(300), 0x67);
  ASSERT_TRUE(host->write(0x89));
  EXPECT_EQ(toHex(host->read(5, 300)), "0002020101");
}

// Each byte takes its wire time (10 bits) at the line speed, both ways.
TEST(CorePacingTiming, WireTimeBothWaysWithoutDrift) {
  readersim::Options o;
  o.paced = true;
  readersim::Simulator sim(o);
  sim.addModule(std::make_unique<EchoModule>());
  ASSERT_TRUE(sim.start());
  auto echo200 = [](HostLine& h) {  // frame to acknowledge, and poll to the last byte
    EXPECT_TRUE(h.write(0x23) && h.readByte(300) == 0x45);
    auto t0 = Clock::now();
    EXPECT_TRUE(h.write(frame(0x55, Bytes(200, 0x5A))) && h.readByte(1500) == 0x67);
    const double in = msSince(t0);
    t0 = Clock::now();
    EXPECT_TRUE(h.write(0x89) && h.read(203, 2000).size() == 203u);
    return std::pair{in, msSince(t0)};
  };
  for (auto [speed, bps] : {std::pair{B9600, 9600}, {B57600, 57600}}) {
    HostLine h(sim.path(), speed);
    const double wire = 204 * 10.0 / bps * 1000;  // 203 bytes and the acknowledge or the poll
    auto [in, out] = echo200(h);
    EXPECT_TRUE(in >= wire - 1 && in < wire * 1.5 + 20) << bps << ": " << in;
    EXPECT_TRUE(out >= wire - 1 && out < wire * 1.5 + 20) << bps << ": " << out;
  }
  HostLine h(sim.path(), B57600);
  auto hundred = [&h] {  // 100 exchanges of 0x22: 18 bytes each, 312.5 ms on the wire
    const auto t0 = Clock::now();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(h.exchange(0x22).linkError, 0);
    return msSince(t0);
  };
  // The fastest of three runs each way: a busy machine only ever adds time.
  const double paced = std::min({hundred(), hundred(), hundred()});
  std::string out;
  ASSERT_TRUE(sim.control({"paced", "off"}, out));
  EXPECT_EQ(out, "paced off");
  EXPECT_GE(paced, 312.5 - 1);
  const double unpaced = std::min({hundred(), hundred(), hundred()});
  EXPECT_LT(paced - unpaced, 312.5 * 1.6 + 50);  // no drift: the host's own time taken off
  ASSERT_TRUE(h.setSpeed(B9600));
  EXPECT_LT(echo200(h).second, 100.0);
  ASSERT_TRUE(sim.control({"paced", "on"}, out));
  EXPECT_GE(echo200(h).second, 200.0);
}

TEST(CoreSpeed, EachSettingAnswersOnlyAtItsSpeeds) {
  using readersim::Speeds;
  for (auto [speeds, fast, slow] :
       {std::tuple{Speeds::Both, 0, 0}, {Speeds::FastOnly, 0, 102}, {Speeds::SlowOnly, 102, 0}}) {
    readersim::Options o;
    o.speeds = speeds;
    readersim::Simulator sim(o);
    ASSERT_TRUE(sim.start());
    HostLine h(sim.path(), B57600);
    EXPECT_EQ(h.exchange(0x00).linkError, fast);
    EXPECT_EQ(sim.hostSpeed(), 57600);
    ASSERT_TRUE(h.setSpeed(B9600));
    EXPECT_EQ(sim.hostSpeed(), 9600);
    EXPECT_EQ(h.exchange(0x00).linkError, slow);
    EXPECT_EQ(sim.exchanges(), (fast == 0) + (slow == 0) + 0u);
  }
}

using CoreControl = SimLineTest;

TEST_F(CoreControl, WordsStatusAndSpeeds) {
  start({}, false);
  EXPECT_EQ(control("fault noack cmd=22 count=2 skip=1"),
            "fault queued: noack cmd=22 count=2 skip=1");
  EXPECT_EQ(control("fault delay ms=300"), "fault queued: delay count=1 skip=0 ms=300");
  EXPECT_EQ(control("faults"),
            "2 fault(s) queued; noack cmd=22 count=2 skip=1; delay count=1 skip=0 ms=300");
  EXPECT_EQ(control("faults clear"), "faults cleared");
  for (const char* bad :
       {"fault bogus", "fault silent cmd=22", "speeds turbo", "paced", "faults drop"})
    EXPECT_EQ(control(bad).rfind("error:", 0), 0u) << bad;
  EXPECT_EQ(sim->pendingFaults(), 0u);
  for (const char* other : {"frobnicate", "", "echo pong"}) control(other, false);
  EXPECT_EQ(control("echo ping"), "pong");  // other words go to the modules
  // Silent before a speed is set, and at any other speed.
  int fd = ::open(sim->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_TRUE(fd >= 0 && ::write(fd, "\x23", 1) == 1);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 250), 0);
  ::close(fd);
  for (speed_t s : {B19200, B38400, B115200, B4800})
    EXPECT_EQ(HostLine(sim->path(), s).exchange(0x00).linkError, 102) << "speed code " << s;
  EXPECT_EQ(sim->exchanges(), 0u);
  host = std::make_unique<HostLine>(sim->path(), B9600);
  ASSERT_EQ(host->exchange(0x7A, {1, 2, 3, 4}).linkError, 0);
  const std::string s = control("status");
  for (const char* part : {"exchanges=1", "last=7A", "speed=9600", "speeds=both", "paced=off",
                           "plugged=yes", "signals=01 02 03 04"})
    EXPECT_NE(s.find(part), std::string::npos) << part << " in " << s;
  EXPECT_EQ(control("speeds slow"), "speeds slow");  // speeds change while serving
  ASSERT_TRUE(host->setSpeed(B57600));
  EXPECT_EQ(host->exchange(0x00).linkError, 102);
  EXPECT_EQ(control("speeds both"), "speeds both");
  EXPECT_EQ(host->exchange(0x00).linkError, 0);
  EXPECT_EQ(control("speeds fast"), "speeds fast");  // a speed change in mid-frame drops the frame
  ASSERT_TRUE(host->write(0x23) && host->readByte(300) == 0x45 && host->write(hex("2200")));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // stimulus: the frame is half in
  termios t{};
  ASSERT_EQ(tcgetattr(host->fd(), &t), 0);
  cfsetspeed(&t, B9600);
  ASSERT_EQ(tcsetattr(host->fd(), TCSANOW, &t), 0);
  ASSERT_TRUE(host->write(0x22));  // the checksum, at a speed the reader cannot read
  EXPECT_EQ(host->readByte(200), -1);
  ASSERT_TRUE(host->setSpeed(B57600));
  EXPECT_EQ(host->exchange(0x22).linkError, 0);
}

}  // namespace
