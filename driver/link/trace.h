// The exchange trace: when ORVIX32_TRACE names a file (or "-" for standard
// error), one line per exchange is appended to it: time, port, command, the
// bytes sent and received in hexadecimal, the status with the name of its
// link error, and how long the exchange took. A header line with the format
// version, the port (and its URL when it is a network port), the line speed
// and the library version comes first and again whenever one of them changes. When the variable is
// unset nothing is recorded at all.
//
// The trace never holds up or harms its host: the file is opened without
// waiting (a FIFO nobody reads is simply not traced) and is not inherited by
// child programs; a write that fails (no reader any more, a full pipe, a full
// disk) turns tracing off for the rest of the process and raises no signal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace orvix {

// The version of the trace format written in the header line.
inline constexpr int kTraceFormatVersion = 1;

class Trace {
 public:
  // Opens the trace named by ORVIX32_TRACE; false when tracing is off.
  // Looked up once, at the first exchange.
  bool openFromEnvironment();
  bool enabled() const { return fd_ >= 0; }

  void begin();
  void sent(std::uint8_t b) { push(sent_, sentLen_, b); }
  void sent(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sent(p[i]);
  }
  void received(std::uint8_t b) { push(recv_, recvLen_, b); }
  void received(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) received(p[i]);
  }
  // Writes the exchange's line (after a header line when the port, its URL
  // or the line speed differs from the last header's). url: nullptr for a
  // local port.
  void end(std::int32_t portIndex, int lineSpeed, std::uint8_t cmd, std::uint8_t status,
           const char* url = nullptr);

  // The name of a status: "ok", the link error's name, or "reader status".
  static const char* statusName(std::uint8_t status);

 private:
  static constexpr std::size_t kMax = 2 + 2 + 255 + 1 + 1;  // one direction
  static void push(std::uint8_t* buf, std::size_t& len, std::uint8_t b) {
    if (len < kMax) buf[len++] = b;
  }
  // Appends text; on failure tracing stops for good.
  void write(const char* text, std::size_t n);

  // Kept open for the life of the process: the library does no work at
  // unload. Trivially destructible, so it can live in the link state.
  int fd_ = -1;
  bool ownFd_ = false;  // false for standard error, which is never closed
  long long headerPort_ = -1;
  int headerSpeed_ = -1;
  char headerUrl_[256]{};  // "" for a local port
  std::chrono::steady_clock::time_point start_{};
  std::uint8_t sent_[kMax]{};
  std::uint8_t recv_[kMax]{};
  std::size_t sentLen_ = 0;
  std::size_t recvLen_ = 0;
};

}  // namespace orvix
