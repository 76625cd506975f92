// The exchange trace: when ORVIX32_TRACE names a file (or "-" for standard
// error), one line per exchange is appended to it: time, port, command, the
// bytes sent and received in hexadecimal, the status with the name of its
// link error, and how long the exchange took. A header line with the format
// version, the port (and its URL when it is a network port), the line speed
// and the library version comes first and again whenever one of them changes. When the variable is
// unset nothing is recorded at all.
//
// The file is created 0600 (it holds every key sent), and a name that is a
// symbolic link is refused, for ORVIX32_TRACE too.
//
// The trace never holds up or harms its host: the file is opened without
// waiting (a FIFO nobody reads is simply not traced) and is not inherited by
// child programs; a write that fails (no reader any more, a full pipe, a full
// disk, the host's file-size limit) turns tracing off for the rest of the
// process and raises no signal (neither SIGPIPE nor SIGXFSZ).
//
// A trace file is capped at ORVIX32_TRACE_MAX bytes (a positive decimal
// number; 64 MiB when unset or not such a number): a line that would take
// the file past the cap first renames it to NAME.1, replacing an older
// NAME.1 (only a regular file is ever replaced), and starts a new NAME with
// a header line, so each of the two files reads on its own. When the rename
// fails, tracing stops. Standard error and anything that is not a regular
// file are not capped.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvix {

// The version of the trace format written in the header line.
inline constexpr int kTraceFormatVersion = 1;

// The bytes of one exchange as they went over the line, and its start.
struct Recording {
  static constexpr std::size_t kMax = 2 + 2 + 255 + 1 + 1;  // one direction
  void begin() {
    sentLen = 0;
    recvLen = 0;
    start = std::chrono::steady_clock::now();
  }
  void sent(std::uint8_t b) { push(sentBytes, sentLen, b); }
  void sent(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sent(p[i]);
  }
  void received(std::uint8_t b) { push(recvBytes, recvLen, b); }
  void received(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) received(p[i]);
  }
  double elapsedMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  }

  std::chrono::steady_clock::time_point start{};
  std::uint8_t sentBytes[kMax]{};
  std::uint8_t recvBytes[kMax]{};
  std::size_t sentLen = 0;
  std::size_t recvLen = 0;

 private:
  static void push(std::uint8_t* buf, std::size_t& len, std::uint8_t b) {
    if (len < kMax) buf[len++] = b;
  }
};

class Trace {
 public:
  // Opens the trace named by ORVIX32_TRACE; false when tracing is off.
  // Looked up once, at the first exchange.
  bool openFromEnvironment();
  // Opens a trace file by name ("-" = standard error); false when it cannot.
  bool openFile(const char* name);
  // Stops tracing (closing the file unless it is standard error).
  void close();
  bool enabled() const { return fd_ >= 0; }

  // Writes the exchange's line (after a header line when the port, its URL
  // or the line speed differs from the last header's). port names the port:
  // "COM1", or the device the reader was opened on; url: the network port's
  // URL, nullptr for a local port.
  void end(const Recording& r, const char* port, int lineSpeed, std::uint8_t cmd,
           std::uint8_t status, const char* url = nullptr);

  // The name of a status: "ok", the link error's letter and text, or
  // "reader status".
  static std::string statusName(std::uint8_t status);

 private:
  // Appends text; on failure tracing stops for good.
  void write(const char* text, std::size_t n);
  // Renames the file to NAME.1 and opens a new NAME; false (tracing
  // stopped) when either fails.
  bool rotate();

  // The process-wide link's trace is kept open for the life of the process
  // (the library does no work at unload); a reader's is closed with it.
  int fd_ = -1;
  bool ownFd_ = false;          // false for standard error, which is never closed
  long long size_ = -1;         // bytes in the file; -1 when it is not a regular file
  long long max_ = 64LL << 20;  // ORVIX32_TRACE_MAX
  char name_[4096]{};           // the file's name; empty: not capped
  std::string headerPort_;
  int headerSpeed_ = -1;
  std::string headerUrl_;  // "" for a local port
};

}  // namespace orvix
