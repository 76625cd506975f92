// A reader opened through the handle interface: its own link state, lock,
// cancel signal and transaction holder. The handle functions of every family
// run their body through onReader, which holds the reader for the call and
// turns a cancelled call into ORVIX_CANCELLED.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "link/link_state.h"
#include "orvix.h"

struct orvix_reader {
  orvix::LinkState state;
  orvix::CancelSignal cancel;
  // Who holds the reader: a thread in a call, or between orvix_begin and
  // orvix_end. Guarded by m; released holds are announced on cv.
  std::mutex m;
  std::condition_variable cv;
  std::thread::id holder{};
  int depth = 0;            // holds of the holder: calls and orvix_begin
  int holdDepth = 0;        // orvix_begin nesting of the holder
  int waiters = 0;          // threads waiting for the reader
  bool closing = false;     // orvix_close has begun: waiters give up
  std::atomic<int> running{0};  // calls in progress (what orvix_cancel stops)
  std::atomic<int> mayHaveChanged{0};  // of the last call (orvix_may_have_changed)
  bool purgeFirst = false;  // the last call was cancelled: settle before the next
  std::chrono::steady_clock::time_point cancelledAt{};
};

namespace orvix {

// Takes the reader for the calling thread (again, when it holds it already),
// waiting for another holder. 0, or ORVIX_READER_CLOSED when the reader was
// closed meanwhile (it must not be touched any more then).
inline int acquire(orvix_reader& r) {
  std::unique_lock<std::mutex> lk(r.m);
  const auto me = std::this_thread::get_id();
  if (r.holder != me) {
    ++r.waiters;
    r.cv.wait(lk, [&] { return r.closing || r.holder == std::thread::id{}; });
    --r.waiters;
    if (r.closing) {
      r.cv.notify_all();  // the closer waits for the last waiter to leave
      return ORVIX_READER_CLOSED;
    }
    r.holder = me;
  }
  ++r.depth;
  return 0;
}

inline void release(orvix_reader& r) {
  const std::lock_guard<std::mutex> lk(r.m);
  if (--r.depth == 0) {
    r.holder = std::thread::id{};
    r.cv.notify_all();
  }
}

// Purges the reader's line (bytes of a cancelled exchange still coming in).
inline void purgeLine(LinkState& s) {
  if (s.ComHandle) s.ComHandle->purge();
}

// A call cancelled mid-exchange may leave the reader inside a frame, waiting
// for bytes that will not come; it abandons such a frame once the line has
// been quiet for a while. The next call waits out that time, counted from
// the cancel (a new cancel cuts the wait short), then purges the line.
inline constexpr int kAbandonedFrameMs = 350;
inline void settleAfterCancel(orvix_reader& r) {
  using namespace std::chrono;
  const auto until = r.cancelledAt + milliseconds(kAbandonedFrameMs);
  while (steady_clock::now() < until && !r.cancel.raised()) ports(r.state).pause(5);
  purgeLine(r.state);
}

// Runs a handle function's body on the reader, the reader held for the call.
// A reader whose last relink found nobody (the port closed) links again
// first, at its best speed. No exception leaves it.
template <class Body>
int onReader(orvix_reader* r, Body&& body, bool linkFirst = true) noexcept {
  if (!r) return kBadArgument;
  try {
    if (const int closed = acquire(*r)) return closed;
    struct Held {
      orvix_reader& r;
      ~Held() {
        --r.running;
        release(r);
      }
    } held{*r};
    ++r->running;
    if (r->running.load() == 1) r->cancel.clear();  // a cancel from before this call
    if (r->purgeFirst) {
      settleAfterCancel(*r);
      r->purgeFirst = false;
    }
    LinkState& s = r->state;
    s.MayHaveChanged = false;
    if (linkFirst && !s.ComHandle && !r->cancel.raised()) relinkImpl(s, false);
    const int status = body(s);
    r->mayHaveChanged.store(s.MayHaveChanged ? 1 : 0);
    if (!r->cancel.raised()) return status;
    if (status == 0) {  // the command was carried out whole
      r->cancel.clear();
      return status;
    }
    purgeLine(s);  // with the cancel still raised: nothing waits on the server
    r->cancel.clear();
    r->purgeFirst = true;
    r->cancelledAt = std::chrono::steady_clock::now();
    return s.MayHaveChanged ? ORVIX_CARD_MAY_HAVE_CHANGED : ORVIX_CANCELLED;
  } catch (...) {
    return kInternalError;
  }
}

// A query of the reader's state: waits for a call in progress, is never
// cancelled and gives fallback (never a result code) when the reader is
// closed or a fault stops it.
template <class Value>
int queryReader(orvix_reader* r, int fallback, Value&& value) noexcept {
  if (!r) return fallback;
  try {
    if (acquire(*r) != 0) return fallback;
    const int v = value(r->state);
    release(*r);
    return v;
  } catch (...) {
    return fallback;
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
