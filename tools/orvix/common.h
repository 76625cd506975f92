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

#include "orvix.h"
#include "orvix/ops/error.h"
#include "orvix/ops/text.h"

namespace orvix {

using nlohmann::json;
using ops::Bytes;
using ops::hex;
using ops::isLinkError;
using ops::parseHex;
using ops::parseNumber;

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
inline std::string resultText(int result) { return ops::resultText(result); }
// The exit code a nonzero library result stands for.
int exitFor(int result);
// The exit code of an operation's failure.
int exitOf(const ops::Error& e);
// Throws a Failure naming what failed when result is not 0.
void check(int result, const std::string& what);
[[noreturn]] void failData(const std::string& line);

// Global options and the link every command except the port doctor uses.
struct Context {
  // COMn, a port index 0 … 9 (0 = COM1), "auto" (COM1, then COM2), a device
  // path or a network port's URL.
  std::string port = "COM1";
  std::string trace;
  bool json = false;
  std::string linked;  // the port that answered, as orvix_open names it
  // The command's JSON document, printed once when the run ends (with the
  // error in it when the command failed).
  mutable nlohmann::json document;
  // A file went to standard output: the text result goes to standard error.
  mutable bool stdoutTaken = false;

  // Links to the reader; a Failure with exit code 2 when none answers.
  void link();
  // "COM1 (/dev/ttyUSB0)"; a device path or URL as it is.
  static std::string portLabel(const std::string& port);
};

// The reader the command linked to (null before Context::link). It is closed
// when the program ends, releasing the port at once.
orvix_reader* reader();
void closeReader();

// Ctrl-C while a command walks a card block by block: the first one stops the
// walk between two blocks, the second cancels the call in progress, the
// third ends the program. The walk asks with interrupted() and ends with a Failure
// of exit code kExitInterrupted.
class StopOnInterrupt {
 public:
  StopOnInterrupt();
  ~StopOnInterrupt();
  StopOnInterrupt(const StopOnInterrupt&) = delete;
  StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;
};
bool interrupted();
inline constexpr int kExitInterrupted = 130;

// The result: the JSON document with --json (kept for the end of the run),
// else the text, printed now.
void emit(const Context& ctx, const json& doc, const std::string& text);

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
