// Recorded exchanges for the replay: the host library's exchange trace read
// back. One exchange line per exchange:
//
//   2026-12-06 19:40:12.031 COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 08 … 2E status 0 (ok) 4.1 ms
//
// the bytes after ">" are what the host wrote, those after "<" what it read,
// then the status and its name and (from format version 1 on) the exchange's
// duration. Header lines ("# ORVIX32 trace version=1 port=COM1 …"), other
// lines starting with "#" and empty lines carry no exchange; traces written
// before the header existed read the same way.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace readersim {

struct RecordedExchange {
  int number = 0;  // 1-based, over the trace's exchange lines
  int lineNumber = 0;
  std::string line;
  std::vector<std::uint8_t> sent;      // host to reader
  std::vector<std::uint8_t> received;  // reader to host, as far as the host read
  int status = 0;
  double ms = -1;  // the exchange's duration; < 0 when not recorded
  int speed = 0;   // the line speed of the header before it; 0 when unknown
  // The port was gone at the site before this exchange (exchanges that
  // reached no line came first), for about goneMs (-1: unknown).
  bool unplugBefore = false;
  double goneMs = -1;
  double endMs = -1;  // when it ended, from the line's time stamp (ms of the day)
};

// The exchanges of a trace, and whether the port was gone at its end.
struct Trace {
  std::vector<RecordedExchange> exchanges;
  bool unplugAtEnd = false;
};

// Newest trace format version this reader knows.
inline constexpr int kTraceVersion = 1;

// The longest trace read, and the longest line in it.
inline constexpr std::size_t kTraceLimit = 256u << 20;
inline constexpr std::size_t kTraceLineLimit = 4096;

// Reads every exchange of a trace. Exchanges in which nothing reached the
// line (the port was gone at the site) are left out, marked on the next
// exchange as an unplug; numbers still count them. False, with the line
// number and the reason in error, for a line that is not a trace line, a
// line longer than kTraceLineLimit, or a header of a newer format. A last
// line cut short (no line end) is skipped, with a note in warning.
bool readTrace(std::istream& in, Trace& out, std::string& error, std::string* warning = nullptr);
// A regular file, opened without blocking, at most kTraceLimit bytes; the
// error starts with the path.
bool loadTrace(const std::string& path, Trace& out, std::string& error,
               std::string* warning = nullptr);

// True for the link errors of the host's own writes (101, 104 … 107, 110):
// the reader side cannot cause them again.
bool hostWriteFailure(int status);

}  // namespace readersim
