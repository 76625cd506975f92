// Shared by every orvix command: exit codes, failures with the library's
// result codes in words, the link, hexadecimal text, output and progress.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvix {

using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;

// Exit codes of the tool.
enum Exit : int { kExitOk = 0, kExitUsage = 1, kExitLink = 2, kExitRefused = 3, kExitData = 4 };

// A failure that ends the command: one line for the user and the exit code.
struct Failure : std::runtime_error {
  Failure(int code, const std::string& line, int libraryResult = 0)
      : std::runtime_error(line), exit(code), result(libraryResult) {}
  int exit;
  int result;  // the library's result code when one caused the failure, else 0
};

// "102 (link error f: no answer to sync)", "34 (reader status 0x22: …)".
// The frame exchange's own errors: 101 … 115.
inline bool isLinkError(int result) { return result >= 101 && result <= 115; }

std::string resultText(int result);
// The exit code a nonzero library result stands for.
int exitFor(int result);
// Throws a Failure naming what failed when result is not 0.
void check(int result, const std::string& what);
[[noreturn]] void failData(const std::string& line);

// Global options and the link every command except the port doctor uses.
struct Context {
  std::string port = "0";  // a port index 0 … 9 or "auto"
  std::string trace;
  bool json = false;
  int linked = -1;  // the port index that answered
  // The command's JSON document, printed once when the run ends (with the
  // error in it when the command failed).
  mutable nlohmann::json document;
  // A file went to standard output: the text result goes to standard error.
  mutable bool stdoutTaken = false;

  // Links to the reader; a Failure with exit code 2 when none answers.
  void link();
  // "COM1 (/dev/ttyUSB0)".
  static std::string portLabel(int index);
};

// Hexadecimal text: upper case, no separators (or one space between bytes).
std::string hex(const std::uint8_t* data, std::size_t size, bool spaced = false);
inline std::string hex(const Bytes& b, bool spaced = false) {
  return hex(b.data(), b.size(), spaced);
}
// Hex digits with blanks allowed between them; nullopt on any other character
// or an odd number of digits.
std::optional<Bytes> parseHex(std::string_view text);

// The result: the JSON document with --json (kept for the end of the run),
// else the text, printed now.
void emit(const Context& ctx, const json& doc, const std::string& text);

// A whole number in [min, max] written in decimal digits (a sign allowed
// for negative ranges) and nothing else.
std::optional<long long> parseNumber(std::string_view text, long long min, long long max);

// A bar on standard error while long work runs, shown only when standard
// error is a terminal (never with an empty label).
class Progress {
 public:
  Progress(std::string label, std::size_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void update(std::size_t done);

 private:
  std::string label_;
  std::size_t total_;
  bool shown_;
  int lastWidth_ = -1;
};

}  // namespace orvix
