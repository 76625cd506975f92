// The exchange trace: when ORVIX32_TRACE names a file (or "-" for standard
// error), one line per exchange is appended to it: time, port, command, the
// bytes sent and received in hexadecimal, and the status with the name of its
// link error. When the variable is unset nothing is recorded at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orvix {

class Trace {
 public:
  // Opens the trace named by ORVIX32_TRACE; false when tracing is off.
  // Looked up once, at the first exchange.
  bool openFromEnvironment();
  bool enabled() const { return file_ != nullptr; }

  void begin();
  void sent(std::uint8_t b) { push(sent_, sentLen_, b); }
  void sent(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sent(p[i]);
  }
  void received(std::uint8_t b) { push(recv_, recvLen_, b); }
  void received(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) received(p[i]);
  }
  void end(int portIndex, std::uint8_t cmd, std::uint8_t status);

  // The name of a status: "ok", the link error's name, or "reader status".
  static const char* statusName(std::uint8_t status);

 private:
  static constexpr std::size_t kMax = 2 + 2 + 255 + 1 + 1;  // one direction
  static void push(std::uint8_t* buf, std::size_t& len, std::uint8_t b) {
    if (len < kMax) buf[len++] = b;
  }
  // Kept open for the life of the process: the library does no work at
  // unload. Trivially destructible, so it can live in the link state.
  std::FILE* file_ = nullptr;
  std::uint8_t sent_[kMax]{};
  std::uint8_t recv_[kMax]{};
  std::size_t sentLen_ = 0;
  std::size_t recvLen_ = 0;
};

}  // namespace orvix
