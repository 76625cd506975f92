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
};

// Newest trace format version this reader knows.
inline constexpr int kTraceVersion = 1;

// Reads every exchange of a trace. Exchanges in which nothing reached the
// line (the port was gone at the site) are left out; numbers still count
// them. False, with the line number and the reason in error, for a line
// that is not a trace line or a header of a newer format.
bool readTrace(std::istream& in, std::vector<RecordedExchange>& out, std::string& error);
bool loadTrace(const std::string& path, std::vector<RecordedExchange>& out, std::string& error);

// True for the link errors of the host's own writes (101, 104 … 107, 110):
// the reader side cannot cause them again.
bool hostWriteFailure(int status);

}  // namespace readersim
