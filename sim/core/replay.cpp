#include "core/replay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "core/words.h"
#include "files.h"

namespace readersim {

namespace {

bool hexTokens(const std::vector<std::string>& t, std::size_t from, std::size_t to,
               std::vector<std::uint8_t>& out) {
  for (std::size_t i = from; i < to; ++i) {
    auto b = t[i].size() == 2 ? parseHexBytes(t[i]) : std::nullopt;
    if (!b) return false;
    out.push_back((*b)[0]);
  }
  return true;
}

// "# ORVIX32 trace version=N …": the version, 0 for another comment, -1 for
// a version that is not a whole number.
int headerVersion(const std::string& line) {
  static const char kPrefix[] = "# ORVIX32 trace ";
  if (line.rfind(kPrefix, 0) != 0) return 0;
  const auto at = line.find("version=");
  if (at == std::string::npos) return 0;
  return parseInt(line.substr(at + 8, line.find(' ', at) - at - 8), 1, 1'000'000, 10).value_or(-1);
}

// "speed=N" of a header; 0 when it has none.
int headerSpeed(const std::string& line) {
  const auto at = line.find(" speed=");
  if (at == std::string::npos) return 0;
  return parseInt(line.substr(at + 7, line.find(' ', at + 1) - at - 7), 1, 10'000'000, 10)
      .value_or(0);
}

// "HH:MM:SS.mmm" as milliseconds of the day; -1 when it is not one.
double stampMs(const std::string& t) {
  int h = 0, m = 0, sec = 0, ms = 0;
  char tail = 0;
  if (std::sscanf(t.c_str(), "%2d:%2d:%2d.%3d%c", &h, &m, &sec, &ms, &tail) != 4) return -1;
  return ((h * 60 + m) * 60 + sec) * 1000.0 + ms;
}

}  // namespace

bool hostWriteFailure(int status) {
  return status == 101 || (status >= 104 && status <= 107) || status == 110;
}

bool readTrace(std::istream& in, Trace& trace, std::string& error, std::string* warning) {
  auto& out = trace.exchanges;
  std::string line;
  int lineNumber = 0, number = 0, speed = 0;
  bool gone = false;
  double lastEnd = -1;
  while (std::getline(in, line)) {
    ++lineNumber;
    const bool cut = in.eof();  // no line end: the trace's writer was cut off
    const auto where = "line " + std::to_string(lineNumber) + ": ";
    if (line.size() > kTraceLineLimit) {
      error = where + "longer than " + std::to_string(kTraceLineLimit) + " characters";
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (line[0] == '#') {
      const int version = headerVersion(line);
      if (version < 0 || version > kTraceVersion) {
        error = where + "trace format version " + line.substr(line.find("version=") + 8) +
                " is not one this readersim reads (1 to " + std::to_string(kTraceVersion) + ")";
        return false;
      }
      if (version) speed = headerSpeed(line);
      continue;
    }
    std::istringstream words(line);
    std::vector<std::string> t;
    for (std::string w; words >> w;) t.push_back(w);
    std::size_t gt = 0, lt = 0, st = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] == ">" && !gt) gt = i;
      if (t[i] == "<" && gt && !lt) lt = i;
      if (t[i] == "status" && lt && !st) st = i;
    }
    RecordedExchange x;
    auto status = st && st + 1 < t.size() ? parseInt(t[st + 1], 0, 255, 10) : std::nullopt;
    if (!gt || !lt || !status || !hexTokens(t, gt + 1, lt, x.sent) ||
        !hexTokens(t, lt + 1, st, x.received)) {
      if (cut) {
        if (warning) *warning = where + "cut short (the trace ends in the middle of it); skipped";
        break;
      }
      error = where + "not an exchange line: " + line;
      return false;
    }
    x.status = *status;
    if (t.size() >= 2 && t.back() == "ms") {
      // At most ten minutes (anything else, NaN included, counts as not recorded).
      const double ms = std::strtod(t[t.size() - 2].c_str(), nullptr);
      if (ms >= 0 && ms <= 600'000) x.ms = ms;
    }
    x.number = ++number;
    x.lineNumber = lineNumber;
    x.line = line;
    x.speed = speed;
    x.endMs = t.size() > 1 ? stampMs(t[1]) : -1;
    if (x.sent.empty()) {
      gone = true;
      continue;
    }
    if (gone) {
      x.unplugBefore = true;
      const double start = x.endMs - std::max(x.ms, 0.0);
      if (x.endMs >= 0 && lastEnd >= 0 && start >= lastEnd) x.goneMs = start - lastEnd;
      gone = false;
    }
    lastEnd = x.endMs;
    out.push_back(std::move(x));
  }
  trace.unplugAtEnd = gone;
  return true;
}

bool loadTrace(const std::string& path, Trace& out, std::string& error, std::string* warning) {
  std::string bytes;
  if (!files::readAll(path, kTraceLimit, bytes, error)) return false;
  std::istringstream in(bytes);
  if (readTrace(in, out, error, warning)) return true;
  error = path + ": " + error;
  return false;
}

}  // namespace readersim
