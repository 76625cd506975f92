// Text helpers the modules share for their console words: hexadecimal bytes
// in and out, and whole numbers within a range.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace readersim {

// Hexadecimal digits, two a byte, in either case ("0a1B" -> 0A 1B); nullopt
// for an empty or odd-length text or any other character.
std::optional<std::vector<std::uint8_t>> parseHexBytes(const std::string& text);

// Exactly N bytes written as 2N hexadecimal digits.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> parseHexArray(const std::string& text) {
  if (text.size() != 2 * N) return std::nullopt;
  const auto bytes = parseHexBytes(text);
  if (!bytes) return std::nullopt;
  std::array<std::uint8_t, N> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

// A whole number in the base (0: decimal, 0x… hexadecimal or 0… octal) from
// lo to hi; nullopt for an empty text, anything after the number, or a
// number out of range.
std::optional<int> parseInt(const std::string& text, int lo, int hi, int base = 0);

// The bytes in upper-case hexadecimal, `separator` between two bytes:
// "0A1B" or, with " ", "0A 1B".
std::string hexText(std::span<const std::uint8_t> bytes, const char* separator = "");
std::string hexByte(std::uint8_t v);  // "0A"

}  // namespace readersim
