// Host side of the line for simulator tests: opens the reader's path as the
// library does (raw, 8N1, a programmed speed), writes bytes and reads bytes
// with poll time-outs, and can run one whole exchange the way the library does,
// naming the link error the library would raise.
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
#include <vector>

#include "core/module.h"
#include "core/simulator.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// "fault noack cmd=22" -> {"fault", "noack", "cmd=22"}
inline std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

inline std::uint8_t xorOf(const Bytes& b) {
  std::uint8_t x = 0;
  for (auto v : b) x ^= v;
  return x;
}

inline Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A command frame: command, length, data, checksum.
inline Bytes frame(std::uint8_t cmd, const Bytes& data = {}) {
  Bytes f;
  f.reserve(data.size() + 3);
  f.push_back(cmd);
  f.push_back(static_cast<std::uint8_t>(data.size()));
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(xorOf(f));
  return f;
}

class HostLine {
 public:
  explicit HostLine(const std::string& path, speed_t speed = B57600) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) setSpeed(speed);
  }
  ~HostLine() { close(); }
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool setSpeed(speed_t speed) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
    return tcflush(fd_, TCIOFLUSH) == 0;
  }

  bool write(const Bytes& b) {
    return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size());
  }
  bool write(std::uint8_t b) { return write(Bytes{b}); }

  // Reads until n bytes came or timeoutMs passed in all.
  Bytes read(std::size_t n, int timeoutMs) {
    Bytes out;
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left < 0) break;
      pollfd p{fd_, POLLIN, 0};
      int r = ::poll(&p, 1, static_cast<int>(left) + 1);
      if (r <= 0) {
        if (Clock::now() >= end) break;
        continue;
      }
      if (!(p.revents & POLLIN)) break;  // hang-up
      std::uint8_t buf[512];
      std::size_t want = std::min(n - out.size(), sizeof buf);
      ssize_t k = ::read(fd_, buf, want);
      if (k <= 0) break;
      out.insert(out.end(), buf, buf + k);
    }
    return out;
  }
  // One byte, or -1 when none came in time.
  int readByte(int timeoutMs) {
    Bytes b = read(1, timeoutMs);
    return b.empty() ? -1 : b[0];
  }

  struct Result {
    int linkError = 0;        // 0, or the library's link error (102 …)
    std::uint8_t status = 0;  // the reader's status when linkError is 0
    Bytes data;               // response data (as many as came)
  };

  // One exchange, as the library runs it, with its read allowances in ms.
  Result exchange(std::uint8_t cmd, const Bytes& data = {}, int ackMs = -1) {
    Result r;
    if (ackMs < 0) ackMs = cmd == 0 ? 202 : 1010;
    if (!write(0x23)) return r.linkError = 101, r;
    int b = readByte(202);
    if (b < 0) return r.linkError = 102, r;
    if (b != 0x45) return r.linkError = 103, r;
    if (!write(frame(cmd, data))) return r.linkError = 104, r;
    b = readByte(ackMs);
    if (b < 0) return r.linkError = 108, r;
    if (b != 0x67) return r.linkError = 109, r;
    if (!write(0x89)) return r.linkError = 110, r;
    int s = readByte(101);
    if (s < 0) return r.linkError = 111, r;
    int n = readByte(101);
    if (n < 0) return r.linkError = 112, r;
    std::uint8_t d = static_cast<std::uint8_t>(s ^ n);
    r.data = read(static_cast<std::size_t>(n), 100 + n * 2);
    for (auto v : r.data) d ^= v;
    if (r.data.size() < static_cast<std::size_t>(n)) return r.linkError = 113, r;
    int c = readByte(101);
    if (c < 0) return r.linkError = 114, r;
    if (c != d) return r.linkError = 115, r;
    r.status = static_cast<std::uint8_t>(s);
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
    if (cmd == 0x56) return {0x42, {static_cast<std::uint8_t>(data.size())}};
    return {0, Bytes(data.rbegin(), data.rend())};
  }
  bool control(const std::vector<std::string>& w, std::string& out) override {
    if (w.size() == 2 && w[0] == "echo" && w[1] == "ping") {
      out = "pong";
      return true;
    }
    return false;
  }
  std::string help() const override { return "echo ping          answers pong"; }
  int calls = 0;
};

// A test with a running simulator and the host's line open on it; the line
// closes before the simulator stops.
class SimLineTest : public ::testing::Test {
 protected:
  // Starts the simulator (set up with its options and modules) and opens the
  // line on it.
  void startWithLine(std::unique_ptr<readersim::Simulator> started) {
    sim = std::move(started);
    ASSERT_TRUE(sim->start());
    host = std::make_unique<HostLine>(sim->path());
    ASSERT_TRUE(host->ok());
  }
  void TearDown() override {
    host.reset();
    sim->stop();
  }

  std::unique_ptr<readersim::Simulator> sim;
  std::unique_ptr<HostLine> host;
};

}  // namespace simtest
