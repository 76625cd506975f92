// Host side of the line for simulator tests: opens the reader's path as the
// library does (raw, 8N1, a programmed speed), reads with poll time-outs, and
// runs one whole exchange as the library does, naming the link error it would
// raise. Also: scripts of commands and control words played to one module.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/module.h"
#include "core/simulator.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}
// Waits for state another thread changes (a poll); false when it never came (10 s).
template <class F>
bool waitUntil(F done) {
  for (int i = 0; i < 10000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(1)))
    if (done()) return true;
  return false;
}
inline std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}
inline Bytes hex(const std::string& s) {  // "A0 A1A2" -> A0 A1 A2
  Bytes b;
  for (std::size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] != ' ') b.push_back(std::uint8_t(std::stoi(s.substr(i++, 2), nullptr, 16)));
  return b;
}
inline std::string toHex(const Bytes& b) {
  std::string s;
  char t[3];
  for (auto v : b) s += (std::snprintf(t, sizeof t, "%02X", v), t);
  return s;
}
inline Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// A command frame: command, length, data, checksum.
inline Bytes frame(std::uint8_t cmd, const Bytes& data = {}) {
  Bytes f = cat({cmd, std::uint8_t(data.size())}, data);
  std::uint8_t x = 0;
  for (auto v : f) x ^= v;
  f.push_back(x);
  return f;
}

// "?" matches any one character, a final "*" any rest, a leading "~" means
// "contains".
inline bool matches(const std::string& pattern, const std::string& text) {
  if (!pattern.empty() && pattern[0] == '~')
    return text.find(pattern.substr(1)) != std::string::npos;
  const bool rest = !pattern.empty() && pattern.back() == '*';
  const std::size_t n = pattern.size() - rest;
  if (rest ? text.size() < n : text.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (pattern[i] != '?' && pattern[i] != text[i]) return false;
  return true;
}

// One step of a script: a command with its data (hex) and the status and
// reply (hex pattern) the module must give, or, with cmd -1, a control line
// and the start of its answer (or "~" and a part of it).
struct Step {
  int cmd;
  std::string data;
  int status;
  std::string reply;
};
inline void play(readersim::Module& m, const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("step " + std::to_string(i) + ": " + s.data);
    if (s.cmd < 0) {
      std::string out;
      EXPECT_TRUE(m.control(words(s.data), out));
      EXPECT_TRUE(matches(s.reply[0] == '~' ? s.reply : s.reply + "*", out)) << out;
      continue;
    }
    const Bytes data = hex(s.data);
    const readersim::Reply r = m.execute(std::uint8_t(s.cmd), data);
    EXPECT_EQ(int(r.status), s.status);
    std::string want = s.reply;
    std::erase(want, ' ');
    EXPECT_TRUE(matches(want, toHex(r.data))) << toHex(r.data) << " is not " << want;
  }
}

class HostLine {
 public:
  explicit HostLine(const std::string& path, speed_t speed = B57600) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) setSpeed(speed);
  }
  ~HostLine() {
    if (fd_ >= 0) ::close(fd_);
  }
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool setSpeed(speed_t speed) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag = (t.c_cflag | CLOCAL | CREAD) & ~tcflag_t(CRTSCTS);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return tcsetattr(fd_, TCSANOW, &t) == 0 && tcflush(fd_, TCIOFLUSH) == 0;
  }
  bool write(const Bytes& b) { return ::write(fd_, b.data(), b.size()) == ssize_t(b.size()); }
  bool write(std::uint8_t b) { return write(Bytes{b}); }

  // Reads until n bytes came or timeoutMs passed in all.
  Bytes read(std::size_t n, int timeoutMs) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() < 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, int(left.count()) + 1) <= 0) continue;
      if (!(p.revents & POLLIN)) break;  // hang-up
      std::uint8_t buf[512];
      const ssize_t k = ::read(fd_, buf, std::min(n - out.size(), sizeof buf));
      if (k <= 0) break;
      out.insert(out.end(), buf, buf + k);
    }
    return out;
  }
  int readByte(int timeoutMs) {  // -1 when none came in time
    const Bytes b = read(1, timeoutMs);
    return b.empty() ? -1 : b[0];
  }

  struct Result {
    int linkError = 0;        // 0, or the library's link error (102 …)
    std::uint8_t status = 0;  // the reader's status when linkError is 0
    Bytes data;               // response data (as many as came)
  };
  // One exchange, as the library runs it, with its read allowances in ms.
  Result exchange(std::uint8_t cmd, const Bytes& data = {}) {
    Result r;
    const int ackMs = cmd == 0 ? 202 : 1010;
    if (!write(0x23)) return r.linkError = 101, r;
    int b = readByte(202);
    if (b != 0x45) return r.linkError = b < 0 ? 102 : 103, r;
    if (!write(frame(cmd, data))) return r.linkError = 104, r;
    b = readByte(ackMs);
    if (b != 0x67) return r.linkError = b < 0 ? 108 : 109, r;
    if (!write(0x89)) return r.linkError = 110, r;
    const int s = readByte(101);
    if (s < 0) return r.linkError = 111, r;
    const int n = readByte(101);
    if (n < 0) return r.linkError = 112, r;
    r.data = read(std::size_t(n), 100 + n * 2);
    std::uint8_t d = std::uint8_t(s ^ n);
    for (auto v : r.data) d ^= v;
    if (r.data.size() < std::size_t(n)) return r.linkError = 113, r;
    const int c = readByte(101);
    if (c != d) return r.linkError = c < 0 ? 114 : 115, r;
    r.status = std::uint8_t(s);
    return r;
  }

 private:
  int fd_ = -1;
};

// A test module: 0x55 answers its data reversed (status 0); 0x56 answers
// status 0x42 with the byte count; control "echo ping" answers "pong".
class EchoModule : public readersim::Module {
 public:
  std::string name() const override { return "echo"; }
  bool handles(std::uint8_t cmd) const override { return cmd == 0x55 || cmd == 0x56; }
  readersim::Reply execute(std::uint8_t cmd, std::span<const std::uint8_t> data) override {
    ++calls;
    if (cmd == 0x56) return {0x42, {std::uint8_t(data.size())}};
    return {0, Bytes(data.rbegin(), data.rend())};
  }
  bool control(const std::vector<std::string>& w, std::string& out) override {
    if (w != std::vector<std::string>{"echo", "ping"}) return false;
    out = "pong";
    return true;
  }
  int calls = 0;
};

// A running simulator (with the echo module) and the host's line open on it;
// the line closes before the simulator stops.
class SimLineTest : public ::testing::Test {
 protected:
  void start(readersim::Options o = {}, bool withHost = true) {
    sim = std::make_unique<readersim::Simulator>(o);
    auto m = std::make_unique<EchoModule>();
    echo = m.get();
    sim->addModule(std::move(m));
    ASSERT_TRUE(sim->start());
    if (withHost) host = std::make_unique<HostLine>(sim->path());
    ASSERT_TRUE(!withHost || host->ok());
  }
  void TearDown() override {
    host.reset();
    if (sim) sim->stop();
  }
  std::string control(const std::string& line, bool known = true) {
    std::string out;
    EXPECT_EQ(sim->control(words(line), out), known) << line;
    return out;
  }
  int echoCalls() {  // modules run under the simulator's mutex
    std::lock_guard<std::mutex> lk(sim->mutex());
    return echo->calls;
  }

  std::unique_ptr<readersim::Simulator> sim;
  std::unique_ptr<HostLine> host;
  EchoModule* echo = nullptr;
};

}  // namespace simtest
