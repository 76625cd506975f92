// A device family of the simulated reader. The core speaks the line protocol
// (sync, frame, acknowledge, poll, response) and hands each well-formed
// command frame to the module that claims its command byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace readersim {

struct Reply {
  std::uint8_t status = 0;
  std::vector<std::uint8_t> data;  // at most 255 bytes
};

class Module {
 public:
  virtual ~Module() = default;
  virtual std::string name() const = 0;
  virtual bool handles(std::uint8_t cmd) const = 0;
  // Carries out one command. Runs with the simulator's mutex held.
  virtual Reply execute(std::uint8_t cmd, std::span<const std::uint8_t> data) = 0;
  // A text command from the command line or the control channel, already
  // split into words ("card", "insert", ...). Returns false when the words are
  // not this module's; otherwise writes a one-line answer to out (an answer
  // that starts with "error:" tells the caller that the command failed).
  // Runs with the simulator's mutex held, like execute().
  virtual bool control(const std::vector<std::string>& words, std::string& out) {
    (void)words;
    (void)out;
    return false;
  }
  // One line per control command this module understands, for --help.
  virtual std::string help() const { return {}; }
};

}  // namespace readersim
