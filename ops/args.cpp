#include "orvix/ops/args.h"

#include <algorithm>

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
  const auto part = [&](std::size_t at, std::size_t n) {
    return at + n <= text.size() ? parseNumber(text.substr(at, n), 0, 9999) : std::nullopt;
  };
  const auto y = part(0, 4), m = part(5, 2), d = part(8, 2);
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !y || !m || !d ||
      !realDay(static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d)))
    badArgument(name, "a date YYYY-MM-DD, not " + quoted(text));
  return {static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d)};
}

std::array<int, 6> parseClock(std::string_view text, const std::string& name) {
  const std::string expected = "\"YYYY-MM-DD HH:MM[:SS]\", not " + quoted(text);
  if (text.size() < 16) badArgument(name, expected);
  std::array<int, 3> date;
  try {
    date = parseDate(text.substr(0, 10), name);
  } catch (const Error&) {
    badArgument(name, expected);
  }
  const std::string_view time = text.substr(11);
  const auto two = [&](std::size_t at, long long max) {
    return at + 2 <= time.size() ? parseNumber(time.substr(at, 2), 0, max) : std::nullopt;
  };
  const auto h = two(0, 23), mi = two(3, 59);
  const auto s = time.size() == 8 ? two(6, 59) : std::optional<long long>(0);
  if (text[10] != ' ' || (time.size() != 5 && time.size() != 8) || time[2] != ':' ||
      (time.size() == 8 && time[5] != ':') || !h || !mi || !s)
    badArgument(name, expected);
  return {
      date[0], date[1], date[2], static_cast<int>(*h), static_cast<int>(*mi), static_cast<int>(*s)};
}

bool isNetworkPort(std::string_view port) { return port.find("://") != std::string_view::npos; }

std::string parsePort(std::string_view text, const std::string& name) {
  const std::string expected = "0-9, COM1-COM10, auto, a device path or a URL, not " + quoted(text);
  if (text == "auto") return "auto";
  if (text.size() > 3 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' &&
      (text[2] | 0x20) == 'm') {
    if (!plainNumber(text.substr(3), 1, 10)) badArgument(name, expected);
    return "COM" + std::string(text.substr(3));
  }
  if (text.empty()) badArgument(name, expected);
  if (text.find_first_not_of("0123456789") == std::string_view::npos) {
    const auto n = plainNumber(text, 0, 9);
    if (!n) badArgument(name, expected);
    return "COM" + std::to_string(*n + 1);
  }
  return std::string(text);
}

}  // namespace orvix::ops
