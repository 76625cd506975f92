// What a caller gives a long operation: a way to stop it between two steps
// and a place to show how far it got.
#pragma once

#include <cstddef>
#include <functional>

namespace orvix::ops {

struct Control {
  // Asked between two blocks; true ends the operation with Fault::Cancelled.
  std::function<bool()> cancelled;
  // Called with the units done and their total as the work goes on.
  std::function<void(std::size_t done, std::size_t total)> progress;

  bool stop() const { return cancelled && cancelled(); }
  void report(std::size_t done, std::size_t total) const {
    if (progress) progress(done, total);
  }
};

}  // namespace orvix::ops
