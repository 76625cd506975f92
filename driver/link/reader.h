// A reader opened through the handle interface: its own link state, lock,
// cancel signal and transaction holder. The handle functions of every family
// run their body through onReader, which holds the reader for the call and
// turns a cancelled call into ORVIX_CANCELLED.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "link/link_state.h"
#include "orvix.h"

struct orvix_reader {
  orvix::LinkState state;
  orvix::CancelSignal cancel;
  // Held by each call, and by a thread between orvix_begin and orvix_end.
  std::recursive_mutex lock;
  std::atomic<int> running{0};  // calls in progress (what orvix_cancel stops)
  std::atomic<std::thread::id> holder{};
  int holdDepth = 0;        // orvix_begin nesting of the holder
  bool purgeFirst = false;  // the last call was cancelled: purge before the next
};

namespace orvix {

// Purges the reader's line (bytes of a cancelled exchange still coming in).
inline void purgeLine(LinkState& s) {
  if (s.ComHandle) s.ComHandle->purge();
}

// Runs a handle function's body on the reader, the reader held for the call.
// No exception leaves it.
template <class Body>
int onReader(orvix_reader* r, Body&& body) noexcept {
  if (!r) return kBadArgument;
  try {
    const std::lock_guard<std::recursive_mutex> hold(r->lock);
    struct Running {
      explicit Running(std::atomic<int>& n) : n_(n) { ++n_; }
      ~Running() { --n_; }
      std::atomic<int>& n_;
    } running(r->running);
    if (r->purgeFirst) {
      purgeLine(r->state);
      r->purgeFirst = false;
    }
    if (r->running.load() == 1) r->cancel.clear();  // a cancel from before this call
    const int status = body(r->state);
    if (!r->cancel.raised()) return status;
    r->cancel.clear();
    if (status == 0) return status;  // the command was carried out whole
    purgeLine(r->state);
    r->purgeFirst = true;
    return ORVIX_CANCELLED;
  } catch (...) {
    return kInternalError;
  }
}

}  // namespace orvix

namespace orvix {

// Size checks of a handle function's buffers: an output buffer that cannot
// hold what the command writes, an input buffer shorter than what it reads.
// A null pointer passes here; the command itself refuses it with 4.
inline bool outFits(const void* p, std::size_t size, std::size_t need) {
  return !p || size >= need;
}
inline bool inFits(const void* p, std::size_t size, std::size_t need) { return !p || size >= need; }
inline int room(bool outputsFit, bool inputsFit = true) {
  if (!inputsFit) return kBadArgument;
  return outputsFit ? 0 : ORVIX_BUFFER_TOO_SMALL;
}

// A flat export: the command on the process-wide link.
template <auto Command, class... Args>
int flat(Args... args) noexcept {
  return onDefault([&](LinkState& s) { return Command(s, args...); });
}

// A handle function: the command on the reader, once its buffers have room
// (roomError from room(); nothing is sent otherwise).
template <auto Command, class... Args>
int handle(orvix_reader* r, int roomError, Args... args) noexcept {
  if (!r) return kBadArgument;
  if (roomError != 0) return roomError;
  return onReader(r, [&](LinkState& s) { return Command(s, args...); });
}

}  // namespace orvix
