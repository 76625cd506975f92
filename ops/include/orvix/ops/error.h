// How an operation fails: one structured error that every door shows with
// the same text (the command line prints it, the service sends it).
#pragma once

#include <stdexcept>
#include <string>

namespace orvix::ops {

// What kind of failure ended the operation; doors map it to an exit code or
// a message field.
enum class Fault {
  Argument,   // an argument is out of its range or malformed; nothing was sent
  Link,       // no link, or the link failed (the library's 101 … 115, no port)
  Refused,    // the reader or the card refused, or the card is not the one it was
  Data,       // a file or a block's content is not what the operation needs
  Cancelled,  // the caller stopped the operation between two steps
};

// Reader status families, for the texts of the reader's own statuses.
enum Family : int { kReader = 0, kMifare = 1, kRf5550 = 2, kMemory = 3, kCpu = 4, kAttendance = 5 };

struct Error : std::runtime_error {
  Error(Fault f, const std::string& text, int libraryCode = 0, std::string step_ = {},
        std::string argument_ = {})
      : std::runtime_error(text),
        fault(f),
        code(libraryCode),
        step(std::move(step_)),
        argument(std::move(argument_)) {}
  Fault fault;
  int code;              // the library's result code that caused it, else 0
  std::string step;      // the step that failed: "read block 4"
  std::string argument;  // for Fault::Argument: the argument's name
};

// The library's result codes 101 … 115: the frame exchange's own errors.
inline bool isLinkError(int result) { return result >= 101 && result <= 115; }

// "102 (link error f: no answer to sync)", "34 (reader status 0x22: …)".
std::string resultText(int result, int family = kMifare);
// The kind of failure a nonzero library result is.
Fault faultOf(int result);
// Throws an Error "STEP: result TEXT" when result is not 0.
void check(int result, const std::string& step, int family = kMifare);
// "NAME: REASON" as a Fault::Argument error.
[[noreturn]] void badArgument(const std::string& name, const std::string& reason);
[[noreturn]] void badData(const std::string& text);

}  // namespace orvix::ops
