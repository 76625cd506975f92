// Text forms every door reads and writes: hexadecimal bytes and decimal
// numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvix::ops {

using Bytes = std::vector<std::uint8_t>;

// Hexadecimal text: upper case, no separators (or one space between bytes).
std::string hex(const std::uint8_t* data, std::size_t size, bool spaced = false);
inline std::string hex(const Bytes& b, bool spaced = false) {
  return hex(b.data(), b.size(), spaced);
}
// Hex digits with blanks or colons allowed between them; nullopt on any other
// character or an odd number of digits.
std::optional<Bytes> parseHex(std::string_view text);
// A whole number in [min, max] written in decimal digits (a sign allowed
// for negative ranges) and nothing else.
std::optional<long long> parseNumber(std::string_view text, long long min, long long max);

}  // namespace orvix::ops
