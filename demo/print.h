// Printing helpers shared by the demo sections.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Hexadecimal bytes separated by blanks: "12 34 AB".
inline std::string hexBytes(const unsigned char* bytes, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  return s;
}

// One line per call: the call as written, its result, and what it read.
inline int show(const std::string& call, int result, const unsigned char* bytes = nullptr,
                std::size_t n = 0) {
  std::printf("  %-48s -> %3d", call.c_str(), result);
  if (bytes && n) std::printf("   [%s]", hexBytes(bytes, n).c_str());
  std::printf("\n");
  std::fflush(stdout);
  return result != 0;
}

inline void heading(const char* title) {
  std::printf("\n== %s\n", title);
  std::fflush(stdout);
}
