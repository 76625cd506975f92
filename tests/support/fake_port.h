// A scripted serial port for byte-exact tests of the frame exchange and of
// every command family.
//
// A Wire is what the test sees of one port: every byte the host wrote, the
// bytes the reader will send (queued ahead, read in order), and the operations
// to make fail. The driver owns and deletes the SerialPort objects it opens,
// so each open hands out a new FakePort on the same Wire, which outlives it.
//
//   FakeReader fx;                       // installs itself, resets LinkState
//   fx.wire(0)->reply(0x00, {0x11, 0x00});
//   fx.link();                           // opens COM1 without a probe
//   EXPECT_EQ(RFMifare_Mcmno(info), 0);
//   EXPECT_EQ(fx.wire(0)->written, bytes({0x23, 0xA1, 0x00, 0xA1, 0x89}));
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "link/serial_port.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::initializer_list<int> list) {
  Bytes b;
  for (int v : list) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

inline std::uint8_t xorOf(const Bytes& b) {
  std::uint8_t x = 0;
  for (auto v : b) x ^= v;
  return x;
}

struct Wire {
  bool missing = false;            // the port cannot be opened
  Bytes written;                   // every byte the host wrote, in order
  std::deque<std::uint8_t> input;  // what the reader sends, in order
  // Operation numbers (0-based, counted over the wire's life) that fail:
  // a failing write writes nothing, a failing read returns nothing.
  std::set<int> failWrites;
  std::set<int> emptyReads;
  int writes = 0;
  int reads = 0;
  // A read returns at most this many bytes (the rest stays queued).
  std::size_t readChunk = SIZE_MAX;
  // Configuration steps that fail.
  bool failBuild = false, failApply = false, failTimeouts = false, failQueues = false,
       failPurge = false, failMask = false, failClose = false;
  // What happened, for assertions.
  std::vector<std::string> ops;
  std::vector<int> rates;  // rate values applied, one per successful applyLine
  orvix::Timeouts timeouts{};
  int opens = 0;
  int closes = 0;
  bool open = false;

  // Queues a whole reader side of one exchange: ready, acknowledge, then the
  // response frame with a correct checksum.
  void reply(std::uint8_t status, const Bytes& data = {}) {
    input.push_back(0x45);
    input.push_back(0x67);
    frame(status, data);
  }
  // Queues only a response frame (status, length, data, checksum).
  void frame(std::uint8_t status, const Bytes& data) {
    Bytes f;
    f.reserve(data.size() + 3);
    f.push_back(status);
    f.push_back(static_cast<std::uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(xorOf(f));
    input.insert(input.end(), f.begin(), f.end());
  }
  void raw(const Bytes& b) { input.insert(input.end(), b.begin(), b.end()); }

  // The host's command frame as it must appear on the line for one exchange.
  static Bytes expectedFrame(std::uint8_t cmd, const Bytes& data) {
    Bytes f;
    f.reserve(data.size() + 5);
    f.push_back(0x23);
    f.push_back(cmd);
    f.push_back(static_cast<std::uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    Bytes frame(f.begin() + 1, f.end());
    f.push_back(xorOf(frame));
    f.push_back(0x89);
    return f;
  }
};

class FakePort final : public orvix::SerialPort {
 public:
  explicit FakePort(std::shared_ptr<Wire> w) : w_(std::move(w)) {
    w_->opens++;
    w_->open = true;
  }
  bool buildLine(const char* modeText) override {
    w_->ops.push_back(std::string("build ") + modeText);
    return !w_->failBuild;
  }
  bool applyLine(int rateValue) override {
    w_->ops.push_back("apply " + std::to_string(rateValue));
    if (w_->failApply) return false;
    w_->rates.push_back(rateValue);
    return true;
  }
  bool setTimeouts(const orvix::Timeouts& t) override {
    w_->ops.push_back("timeouts");
    w_->timeouts = t;
    return !w_->failTimeouts;
  }
  bool setQueues(int in, int out) override {
    w_->ops.push_back("queues " + std::to_string(in) + " " + std::to_string(out));
    return !w_->failQueues;
  }
  bool purge() override {
    w_->ops.push_back("purge");
    return !w_->failPurge;
  }
  bool clearErrors() override { return w_->open; }
  bool setEventMaskNone() override {
    w_->ops.push_back("mask");
    return !w_->failMask;
  }
  std::size_t write(const std::uint8_t* data, std::size_t count) override {
    const int n = w_->writes++;
    if (w_->failWrites.count(n)) return 0;
    w_->written.insert(w_->written.end(), data, data + count);
    return count;
  }
  std::size_t read(std::uint8_t* buffer, std::size_t count) override {
    const int n = w_->reads++;
    if (w_->emptyReads.count(n)) return 0;
    std::size_t got = 0;
    while (got < count && got < w_->readChunk && !w_->input.empty()) {
      buffer[got++] = w_->input.front();
      w_->input.pop_front();
    }
    return got;
  }
  bool close() override {
    w_->ops.push_back("close");
    if (w_->failClose) return false;
    w_->closes++;
    w_->open = false;
    return true;
  }

 private:
  std::shared_ptr<Wire> w_;
};

class FakeSystem final : public orvix::PortSystem {
 public:
  orvix::SerialPort* open(int index) override {
    openAttempts.push_back(index);
    auto it = wires.find(index);
    if (it == wires.end() || it->second->missing) return nullptr;
    return new FakePort(it->second);
  }
  void pause(int ms) override { pauses.push_back(ms); }

  std::map<int, std::shared_ptr<Wire>> wires;
  std::vector<int> openAttempts;
  std::vector<int> pauses;
};

// Installs a FakeSystem with a wire on COM1 and resets the link state; undoes
// both when it goes out of scope.
class FakeReader {
 public:
  FakeReader() {
    reset();
    orvix::link().System = &system;
    wire(0);
  }
  ~FakeReader() { reset(); }
  FakeReader(const FakeReader&) = delete;
  FakeReader& operator=(const FakeReader&) = delete;

  // The wire of port index i (made on first use).
  std::shared_ptr<Wire> wire(int index) {
    auto& w = system.wires[index];
    if (!w) w = std::make_shared<Wire>();
    return w;
  }

  // Opens port index i at the fast speed without a probe, then forgets what
  // the configuration did, so a test sees only its own exchange.
  void link(int index = 0) {
    orvix::OpenComPort(index, 57600);
    auto w = wire(index);
    w->ops.clear();
    system.pauses.clear();
    system.openAttempts.clear();
  }

  FakeSystem system;

 private:
  static void reset() {
    orvix::LinkState& s = orvix::link();
    delete s.ComHandle;
    s = orvix::LinkState{};
  }
};

}  // namespace fake
