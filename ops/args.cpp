#include "orvix/ops/args.h"

#include <algorithm>

#include "orvix.h"
#include "orvix/ops/error.h"
#include "orvix/ops/text.h"

namespace orvix::ops {

namespace {

std::string quoted(std::string_view text) { return std::string(text); }

// Decimal digits exactly as written: no sign, no leading zero.
std::optional<long long> plainNumber(std::string_view text, long long min, long long max) {
  const auto n = parseNumber(text, min, max);
  if (!n || std::to_string(*n) != text) return std::nullopt;
  return n;
}

template <std::size_t N>
std::array<std::uint8_t, N> fixedHex(std::string_view text, const std::string& name,
                                     const char* expected) {
  const auto b = parseHex(text);
  if (!b || b->size() != N) badArgument(name, std::string(expected) + ", not " + quoted(text));
  std::array<std::uint8_t, N> out;
  std::copy(b->begin(), b->end(), out.begin());
  return out;
}

bool realDay(int y, int m, int d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap);
}

}  // namespace

int parseBlock(std::string_view text, const std::string& name) {
  const auto n = plainNumber(text, 0, kBlocks - 1);
  if (!n) badArgument(name, "0-63, not " + quoted(text));
  return static_cast<int>(*n);
}

std::set<int> parseSectors(std::string_view text, const std::string& name) {
  std::set<int> out;
  if (text.empty()) {
    for (int s = 0; s < kSectors; ++s) out.insert(s);
    return out;
  }
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find(',', at), text.size());
    const std::string_view part = text.substr(at, end - at);
    const auto dash = part.find('-');
    const auto first = plainNumber(part.substr(0, dash), 0, kSectors - 1);
    const auto last = dash == std::string_view::npos
                          ? first
                          : plainNumber(part.substr(dash + 1), 0, kSectors - 1);
    if (!first || !last || *last < *first)
      badArgument(name, "a list like 1,3-5 of sectors 0-15, not " + quoted(text));
    for (auto s = *first; s <= *last; ++s) out.insert(static_cast<int>(s));
    at = end + 1;
  }
  return out;
}

Key parseKey(std::string_view text, const std::string& name) {
  if (text.size() != 12) badArgument(name, "12 hexadecimal digits, not " + quoted(text));
  return fixedHex<6>(text, name, "12 hexadecimal digits");
}

Block parseBlockData(std::string_view text, const std::string& name) {
  return fixedHex<16>(text, name, "32 hexadecimal digits");
}

std::int64_t parseAmount(std::string_view text, std::int64_t min, std::int64_t max,
                         const std::string& name) {
  const auto n = parseNumber(text, min, max);
  if (!n || (std::to_string(*n) != text))
    badArgument(name, std::to_string(min) + "-" + std::to_string(max) + ", not " + quoted(text));
  return *n;
}

std::array<int, 3> parseDate(std::string_view text, const std::string& name) {
  // Year in four digits, month and day in one or two.
  const auto d1 = text.find('-'), d2 = text.find('-', d1 == text.npos ? d1 : d1 + 1);
  const auto part = [&](std::size_t from, std::size_t to, std::size_t minDigits,
                        std::size_t maxDigits) -> std::optional<long long> {
    if (from == text.npos || to == from || to - from < minDigits || to - from > maxDigits)
      return std::nullopt;
    return parseNumber(text.substr(from, to - from), 0, 9999);
  };
  const auto y = part(0, d1, 4, 4), m = d1 == text.npos ? std::nullopt : part(d1 + 1, d2, 1, 2),
             d = d2 == text.npos ? std::nullopt : part(d2 + 1, text.size(), 1, 2);
  const int yy = static_cast<int>(y.value_or(0)), mm = static_cast<int>(m.value_or(0)),
            dd = static_cast<int>(d.value_or(0));
  if (!y || !m || !d || !realDay(yy, mm, dd))
    badArgument(name, "a date YYYY-MM-DD, not " + quoted(text));
  return {yy, mm, dd};
}

std::array<int, 6> parseClock(std::string_view text, const std::string& name) {
  const std::string expected = "\"YYYY-MM-DD HH:MM[:SS]\", not " + quoted(text);
  const auto space = text.find(' ');
  if (space == text.npos) badArgument(name, expected);
  std::array<int, 3> date;
  try {
    date = parseDate(text.substr(0, space), name);
  } catch (const Error&) {
    badArgument(name, expected);
  }
  // Hours in one or two digits, minutes and seconds in two.
  std::string_view time = text.substr(space + 1);
  if (time.empty() || time.back() == ':') badArgument(name, expected);
  std::array<long long, 3> hms{0, 0, 0};
  const long long most[] = {23, 59, 59};
  std::size_t fields = 0;
  for (; fields < 3 && !time.empty(); ++fields) {
    const auto colon = std::min(time.find(':'), time.size());
    const auto n = parseNumber(time.substr(0, colon), 0, most[fields]);
    if (!n || colon > 2 || (fields > 0 && colon != 2)) badArgument(name, expected);
    hms[fields] = *n;
    time = colon < time.size() ? time.substr(colon + 1) : std::string_view();
  }
  if (fields < 2 || !time.empty()) badArgument(name, expected);
  return {date[0],
          date[1],
          date[2],
          static_cast<int>(hms[0]),
          static_cast<int>(hms[1]),
          static_cast<int>(hms[2])};
}

bool isNetworkPort(std::string_view port) { return port.find("://") != std::string_view::npos; }

std::string parsePort(std::string_view text, const std::string& name) {
  if (text == "auto") return "auto";
  const std::string port(text);
  char device[4096];
  // The library's own reading of port names: COMn, an index, a path, a URL.
  if (orvix_port_device(port.c_str(), device, sizeof device) == ORVIX_BAD_ARGUMENT)
    badArgument(name, "0-9, COM1-COM10, auto, a device path or a URL, not " + port);
  const auto index = plainNumber(text, 0, 9);
  if (index) return "COM" + std::to_string(*index + 1);
  if (text.size() > 3 && port.find_first_of("/\\") == std::string::npos && !isNetworkPort(text))
    return "COM" + port.substr(3);
  return port;
}

}  // namespace orvix::ops
