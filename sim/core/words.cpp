#include "core/words.h"

#include <cerrno>
#include <cstdlib>

namespace readersim {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

std::optional<unsigned> hexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parseHexBytes(const std::string& text) {
  if (text.empty() || text.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto high = hexDigit(text[i]);
    const auto low = hexDigit(text[i + 1]);
    if (!high || !low) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*high * 16 + *low));
  }
  return bytes;
}

std::optional<int> parseInt(const std::string& text, int lo, int hi, int base) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, base);
  if (errno != 0 || !end || *end != '\0' || v < lo || v > hi) return std::nullopt;
  return static_cast<int>(v);
}

std::string hexByte(std::uint8_t v) { return {kDigits[v >> 4], kDigits[v & 0x0F]}; }

std::string hexText(std::span<const std::uint8_t> bytes, const char* separator) {
  std::string s;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += separator;
    s += hexByte(bytes[i]);
  }
  return s;
}

}  // namespace readersim
