// Reader-side faults: names, parsing of the control word, and the queue that
// decides which fault (if any) an exchange gets.
//
// Each fault belongs to one stage of the exchange:
//   sync stage  (silent, wrongready, unplug): decided when the sync byte
//               arrives, before the command is known, so they take no command
//               filter; every exchange counts for their skip.
//   frame stage (all others): decided when a well-formed command frame has
//               arrived; a command filter limits them to that command byte,
//               and only matching exchanges count for their skip.
// Faults are taken in queue order and at most one applies to an exchange.
// At the sync byte, an unfiltered frame-stage fault that is due (skip 0)
// ahead in the queue keeps later sync-stage faults from applying to that
// exchange. An exchange cut off by a sync-stage fault counts for no
// frame-stage fault.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/simulator.h"

namespace readersim {

bool isSyncStage(FaultKind kind);
// Control name of the kind ("silent", "noack", …).
const char* faultName(FaultKind kind);
// The host link error the fault produces (102 …), or 0 for delay/status/unplug.
int faultLinkError(FaultKind kind);
// A readable one-line description: "noack cmd=22 count=1 skip=0".
std::string describe(const Fault& f);

// Parses "<kind> [cmd=HEX] [count=N|all] [skip=N] [ms=N] [status=N]" (the
// words after "fault"). The kind is a name or a link error number (102, …).
// Returns nullopt with a reason in error.
std::optional<Fault> parseFault(const std::vector<std::string>& words, std::string& error);

// Fault grammar for help texts.
std::string faultHelp();

class FaultQueue {
 public:
  void push(const Fault& f) { q_.push_back(f); }
  void clear() { q_.clear(); }
  std::size_t size() const { return q_.size(); }
  const std::deque<Fault>& items() const { return q_; }

  // At the sync byte: the sync-stage fault for this exchange, if any
  // (consumed: its count goes down).
  std::optional<Fault> takeAtSync();
  // When the command is known: the frame-stage fault for this exchange.
  std::optional<Fault> takeAtFrame(std::uint8_t cmd);

 private:
  std::optional<Fault> consume(std::deque<Fault>::iterator it);
  std::deque<Fault> q_;
};

}  // namespace readersim
