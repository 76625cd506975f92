// A scripted serial port for byte-exact tests of the frame exchange and of
// every command family. A Wire is what the test sees of one port: the bytes
// the host wrote, the bytes the reader will send, the operations to make
// fail. The driver owns and deletes the ports it opens, so each open hands
// out a new FakePort on the same Wire, which outlives it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "link/serial_port.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

inline std::uint8_t xorOf(const Bytes& b) {
  std::uint8_t x = 0;
  for (auto v : b) x ^= v;
  return x;
}

// One frame exchange of cmd and data on the linked port.
inline std::uint8_t exchange(std::uint8_t cmd, const Bytes& data = {}) {
  orvix::setCommand(cmd, data.data(), data.size());
  return orvix::ExchangeFrame();
}

struct Wire {
  bool missing = false;            // the port cannot be opened
  Bytes written;                   // every byte the host wrote, in order
  std::deque<std::uint8_t> input;  // what the reader sends, in order
  // Operation numbers (0-based, over the wire's life) that fail: a failing
  // write writes nothing, a failing read returns nothing.
  std::set<int> failWrites, emptyReads;
  int writes = 0, reads = 0;
  std::size_t readChunk = SIZE_MAX;  // a read returns at most this many bytes
  bool failBuild = false, failApply = false, failTimeouts = false, failQueues = false,
       failPurge = false, failMask = false, failClose = false;
  std::vector<std::string> ops;  // configuration steps, in order
  std::vector<int> rates;        // rate values applied successfully
  orvix::Timeouts timeouts{};
  int opens = 0, closes = 0;
  bool open = false;

  // Queues the reader's side of one exchange: ready, acknowledge, then the
  // response frame with a correct checksum.
  void reply(std::uint8_t status, const Bytes& data = {}) {
    Bytes f{0x45, 0x67, status, static_cast<std::uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(static_cast<std::uint8_t>(xorOf(f) ^ 0x45 ^ 0x67));
    raw(f);
  }
  void raw(const Bytes& b) { input.insert(input.end(), b.begin(), b.end()); }
};

class FakePort final : public orvix::SerialPort {
 public:
  explicit FakePort(std::shared_ptr<Wire> w) : w_(std::move(w)) {
    w_->opens++;
    w_->open = true;
  }
  bool buildLine(const char* mode) override {
    return step("build " + std::string(mode), w_->failBuild);
  }
  bool applyLine(int rate) override {
    if (!step("apply " + std::to_string(rate), w_->failApply)) return false;
    w_->rates.push_back(rate);
    return true;
  }
  bool setTimeouts(const orvix::Timeouts& t) override {
    w_->timeouts = t;
    return step("timeouts", w_->failTimeouts);
  }
  bool setQueues(int in, int out) override {
    return step("queues " + std::to_string(in) + " " + std::to_string(out), w_->failQueues);
  }
  bool purge() override { return step("purge", w_->failPurge); }
  bool clearErrors() override { return w_->open; }
  bool setEventMaskNone() override { return step("mask", w_->failMask); }
  std::size_t write(const std::uint8_t* data, std::size_t count) override {
    if (w_->failWrites.count(w_->writes++)) return 0;
    w_->written.insert(w_->written.end(), data, data + count);
    return count;
  }
  std::size_t read(std::uint8_t* buffer, std::size_t count) override {
    if (w_->emptyReads.count(w_->reads++)) return 0;
    std::size_t got = 0;
    for (; got < count && got < w_->readChunk && !w_->input.empty(); w_->input.pop_front())
      buffer[got++] = w_->input.front();
    return got;
  }
  bool close() override {
    if (!step("close", w_->failClose)) return false;
    w_->closes++;
    w_->open = false;
    return true;
  }

 private:
  bool step(const std::string& what, bool fails) {
    w_->ops.push_back(what);
    return !fails;
  }
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
  std::vector<int> openAttempts, pauses;
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
  // the configuration did, so a test sees only its own exchanges.
  void link(int index = 0) {
    orvix::OpenComPort(index, 57600);
    wire(index)->ops.clear();
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
