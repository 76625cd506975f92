#include "core/replay.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/words.h"

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

// "# ORVIX32 trace version=N …": the version, or 0 for another comment.
int headerVersion(const std::string& line) {
  static const char kPrefix[] = "# ORVIX32 trace ";
  if (line.rfind(kPrefix, 0) != 0) return 0;
  const auto at = line.find("version=");
  if (at == std::string::npos) return 0;
  return parseInt(line.substr(at + 8, line.find(' ', at) - at - 8), 1, 1'000'000).value_or(0);
}

}  // namespace

bool hostWriteFailure(int status) {
  return status == 101 || (status >= 104 && status <= 107) || status == 110;
}

bool readTrace(std::istream& in, std::vector<RecordedExchange>& out, std::string& error) {
  std::string line;
  int lineNumber = 0, number = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto where = "line " + std::to_string(lineNumber) + ": ";
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (line[0] == '#') {
      if (headerVersion(line) > kTraceVersion) {
        error = where + "trace format version " + std::to_string(headerVersion(line)) +
                " is newer than this readersim reads (" + std::to_string(kTraceVersion) + ")";
        return false;
      }
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
    if (!x.sent.empty()) out.push_back(std::move(x));
  }
  return true;
}

bool loadTrace(const std::string& path, std::vector<RecordedExchange>& out, std::string& error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error = "a folder, not a trace";
    return false;
  }
  std::ifstream in(path);
  if (!in) {
    error = std::string("cannot read: ") + std::strerror(errno);
    return false;
  }
  return readTrace(in, out, error);
}

}  // namespace readersim
