#include "orvix/ops/text.h"

namespace orvix::ops {

std::string hex(const std::uint8_t* data, std::size_t size, bool spaced) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (spaced && i) out += ' ';
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::optional<Bytes> parseHex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c == ' ' || c == '\t' || c == ':')
      continue;
    else
      return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

std::optional<long long> parseNumber(std::string_view text, long long min, long long max) {
  std::size_t i = !text.empty() && text[0] == '-' && min < 0;
  if (i == text.size() || text.size() - i > 18) return std::nullopt;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < min || v > max) return std::nullopt;
  return v;
}

}  // namespace orvix::ops
