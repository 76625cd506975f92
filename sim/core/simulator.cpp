// The reader side of the line protocol, served on a pty.
//
// One exchange as the simulated reader sees it:
//   idle     a byte other than 0x23 is ignored; 0x23 is answered 0x45
//   frame    command byte, length n, n data bytes, checksum
//   carry    the command is carried out (core command or a module), then 0x67
//   poll     0x89 is answered with the response frame (status, length r,
//            r data bytes, checksum); another 0x23 starts a new exchange;
//            other bytes are ignored
// A frame whose checksum does not match is acknowledged and answered with
// status::kFrameChecksum, no data, and nothing is carried out. A frame (or the
// wait for the poll byte) that stalls for more than kStallMs between two bytes
// is abandoned and the reader is idle again. Bytes that arrive while the host
// has programmed a speed the reader does not accept are dropped unseen (a real
// reader would read garbage) and leave the reader idle.
#include "core/simulator.h"

#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <thread>

#include "core/fault.h"
#include "core/pty_line.h"
#include "core/status.h"
#include "core/words.h"

namespace readersim {

namespace {

constexpr std::uint8_t kSync = 0x23;
constexpr std::uint8_t kReady = 0x45;
constexpr std::uint8_t kAck = 0x67;
constexpr std::uint8_t kPoll = 0x89;
constexpr std::uint8_t kWrongByte = 0x3F;  // sent by wrongready / wrongack
constexpr std::int64_t kStallNs = 300'000'000;

std::int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Sleeps until the absolute time t (monotonic clock), exactly: a timer wakes
// a thread some tens of microseconds late (a tenth of a byte's wire time at
// 57600 bit/s), so the sleep aims that much early, learning the lateness as
// it goes, and yields the processor for the last few microseconds (a busy
// wait would keep the pty's own worker off this processor).
void sleepUntilNs(std::int64_t t) {
  static thread_local std::int64_t lateness = 20'000;
  std::int64_t early = t - lateness;
  if (nowNs() < early) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(early / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(early % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
    std::int64_t late = std::clamp<std::int64_t>(nowNs() - early, 0, 200'000);
    lateness = (lateness * 7 + late) / 8;
  }
  while (nowNs() < t) sched_yield();
}

// Wire time of one byte (start bit, 8 data bits, stop bit).
std::int64_t byteNs(int speed) { return speed > 0 ? 10'000'000'000LL / speed : 0; }

const char* speedsName(Speeds s) {
  switch (s) {
    case Speeds::Both:
      return "both";
    case Speeds::FastOnly:
      return "fast";
    case Speeds::SlowOnly:
      return "slow";
  }
  return "?";
}

enum class Request { Unplug, Replug };

}  // namespace

struct Simulator::Impl {
  Impl(Simulator& s, Options o) : sim(s), opt(std::move(o)) {
    speeds = opt.speeds;
    paced = opt.paced;
    if (opt.replay) play = Play::Replay;
  }

  Simulator& sim;
  Options opt;

  // Guarded by mu (the public mutex): modules, signal outputs.
  std::mutex mu;
  // The fault queue has its own lock, so that a caller holding mu for a
  // moment delays only the carrying out of a command, not the sync answer.
  mutable std::mutex faultMu;
  FaultQueue faults;
  std::optional<std::array<std::uint8_t, 4>> signals;

  std::atomic<Speeds> speeds{Speeds::Both};
  std::atomic<bool> paced{false};
  std::atomic<std::uint64_t> exchanges{0};
  std::atomic<std::uint8_t> lastCmd{0};

  // The line. Only the service thread changes it while the thread runs;
  // lineMu lets other threads read its speed meanwhile.
  mutable std::mutex lineMu;
  PtyLine line;
  std::string path;
  std::string tmpDir;
  bool started = false;

  std::thread thread;
  std::thread::id threadId;
  std::atomic<bool> stopping{false};
  int wakeFd = -1;

  std::mutex reqMu;
  std::condition_variable reqCv;
  std::deque<Request> requests;
  std::uint64_t reqSeq = 0;
  std::uint64_t reqDone = 0;
  std::atomic<bool> reqPending{false};
  bool threadRunning = false;  // under reqMu

  // Protocol state: the service thread's own.
  enum class St { Idle, Cmd, Len, Data, Sum, Poll } st = St::Idle;
  std::uint8_t cmd = 0, len = 0, sum = 0;
  std::vector<std::uint8_t> data;
  Reply reply;
  std::optional<Fault> respFault;
  std::string frameNote;  // for the log line
  std::int64_t stallDeadline = 0;
  std::uint64_t seq = 0;       // sync bytes seen, for the log
  std::int64_t inFree = 0;     // paced: when the host-to-reader line is free
  std::int64_t outFree = 0;    // paced: when the reader-to-host line is free
  std::int64_t cursor = 0;     // paced: arrival time of the byte being handled
  std::int64_t lastWrite = 0;  // paced: when the reader's last byte went out

  // Replay: the recorded exchange being played and the host's bytes of it so
  // far. Replay answers from the recording; Models from the card models (no
  // replay, or after a divergence with replayContinue); Silent answers
  // nothing (after a divergence).
  enum class Play { Models, Replay, Silent } play = Play::Models;
  std::size_t recPos = 0;
  const RecordedExchange* cur = nullptr;
  std::vector<std::uint8_t> hostBytes;
  bool differs = false;  // the host's bytes differ; reported at the frame's end
  std::int64_t syncAt = 0;
  // A recorded unplug: the line goes away once the host has read what was
  // sent, and comes back at replugAt (0: not planned).
  bool unplugPending = false;
  std::int64_t unplugBy = 0, replugAt = 0;
  mutable std::mutex reportMu;
  std::string reportText;  // under reportMu
  std::string startErr;

  void log(const std::string& text) const {
    if (opt.log) opt.log(text);
  }

  bool accepts(int speed) const {
    if (play == Play::Replay) return true;  // the recording decides
    switch (speeds.load()) {
      case Speeds::Both:
        return speed == opt.fastSpeed || speed == 9600;
      case Speeds::FastOnly:
        return speed == opt.fastSpeed;
      case Speeds::SlowOnly:
        return speed == 9600;
    }
    return false;
  }

  void wake() {
    if (wakeFd >= 0) {
      std::uint64_t one = 1;
      ssize_t r = ::write(wakeFd, &one, sizeof one);
      (void)r;
    }
  }
  void drainWake() {
    std::uint64_t v;
    ssize_t r = ::read(wakeFd, &v, sizeof v);
    (void)r;
  }
  bool interrupted() const { return stopping.load() || reqPending.load(); }

  // ---- line requests (unplug / replug) ----------------------------------

  void doRequest(Request r) {
    if (r == Request::Unplug) {
      bool was;
      {
        std::lock_guard<std::mutex> lk(lineMu);
        was = line.isOpen();
        line.close();
      }
      st = St::Idle;
      if (was) log("line: unplugged (" + path + " removed)");
    } else {
      std::string err;
      bool ok = true, was;
      {
        std::lock_guard<std::mutex> lk(lineMu);
        was = line.isOpen();
        if (!was) ok = line.open(path, err);
      }
      st = St::Idle;
      inFree = outFree = cursor = lastWrite = 0;
      if (!was)
        log(ok ? "line: replugged (" + path + " -> " + line.slaveName() + ")"
               : "line: replug failed: " + err);
    }
  }

  void request(Request r) {
    std::unique_lock<std::mutex> lk(reqMu);
    if (!threadRunning || std::this_thread::get_id() == threadId) {
      lk.unlock();
      doRequest(r);
      return;
    }
    requests.push_back(r);
    std::uint64_t id = ++reqSeq;
    reqPending = true;
    wake();
    reqCv.wait(lk, [&] { return reqDone >= id || !threadRunning; });
  }

  void serveRequests() {
    std::unique_lock<std::mutex> lk(reqMu);
    while (!requests.empty()) {
      Request r = requests.front();
      requests.pop_front();
      lk.unlock();
      doRequest(r);
      lk.lock();
      ++reqDone;
    }
    reqPending = false;
    reqCv.notify_all();
  }

  // ---- writing ------------------------------------------------------------

  void writeRaw(const std::uint8_t* p, std::size_t n) {
    int fd = line.master();
    while (n > 0 && fd >= 0) {
      ssize_t k = ::write(fd, p, n);
      if (k > 0) {
        p += k;
        n -= static_cast<std::size_t>(k);
        continue;
      }
      if (k < 0 && errno == EINTR) continue;
      if (k < 0 && errno == EAGAIN) {
        pollfd pf{fd, POLLOUT, 0};
        if (::poll(&pf, 1, 100) > 0) continue;
      }
      return;  // the host is not reading (or the line is gone): drop the rest
    }
  }

  void send(const std::uint8_t* p, std::size_t n) {
    if (!line.isOpen() || n == 0) return;
    if (paced.load()) {
      // The reply starts once the byte that called for it has arrived (its
      // logical arrival time, cursor) and the line is free, or now, when the
      // reader took longer than that to carry the command out.
      std::int64_t bt = byteNs(line.speed());
      std::int64_t t = std::max({nowNs(), cursor, outFree});
      for (std::size_t i = 0; i < n; ++i) {
        t += bt;
        sleepUntilNs(t);
        writeRaw(p + i, 1);
        if (stopping.load()) break;
      }
      outFree = t;
      lastWrite = nowNs();
    } else {
      writeRaw(p, n);
    }
    stallDeadline = nowNs() + kStallNs;
  }
  void send(std::uint8_t b) { send(&b, 1); }

  // Waits ms, or less when stopped or asked to unplug/replug (then false).
  bool waitMs(int ms) {
    std::int64_t deadline = nowNs() + static_cast<std::int64_t>(ms) * 1'000'000;
    for (;;) {
      if (interrupted()) return false;
      std::int64_t rem = deadline - nowNs();
      if (rem <= 0) return true;
      pollfd pf{wakeFd, POLLIN, 0};
      int r = ::poll(&pf, 1, static_cast<int>((rem + 999'999) / 1'000'000));
      if (r > 0) drainWake();
    }
  }

  // ---- the exchange -------------------------------------------------------

  void beginExchange() {
    ++seq;
    std::optional<Fault> f;
    {
      std::lock_guard<std::mutex> lk(faultMu);
      f = faults.takeAtSync();
    }
    if (f) {
      switch (f->kind) {
        case FaultKind::SilentOnSync:
          log("#" + std::to_string(seq) + " sync: no answer (fault silent)");
          st = St::Idle;
          return;
        case FaultKind::WrongReady: {
          std::uint8_t b = f->status ? f->status : kWrongByte;
          log("#" + std::to_string(seq) + " sync: answered " + hexByte(b) + " (fault wrongready)");
          st = St::Idle;
          send(b);
          return;
        }
        case FaultKind::Unplug:
          log("#" + std::to_string(seq) + " sync: the line goes away (fault unplug)");
          st = St::Idle;
          doRequest(Request::Unplug);
          return;
        default:
          break;
      }
    }
    st = St::Cmd;
    send(kReady);
  }

  Reply execute(std::uint8_t c, const std::vector<std::uint8_t>& d) {
    std::lock_guard<std::mutex> lk(mu);
    switch (c) {
      case 0x00:  // link probe
        return {status::kOk, {}};
      case 0xA1:  // module number
        return {status::kOk, {opt.moduleNumber, 0x00}};
      case 0x20:  // device number
        return {status::kOk, {opt.deviceNumber.begin(), opt.deviceNumber.end()}};
      case 0x22:  // firmware version
        return {status::kOk, {opt.firmwareVersion.begin(), opt.firmwareVersion.end()}};
      case 0x7A:  // signal outputs: select, a, b, c
        if (d.size() != 4) return {status::kWrongLength, {}};
        signals = std::array<std::uint8_t, 4>{d[0], d[1], d[2], d[3]};
        log("signal outputs: select=" + hexByte(d[0]) + " a=" + hexByte(d[1]) +
            " b=" + hexByte(d[2]) + " c=" + hexByte(d[3]));
        return {status::kOk, {}};
      default:
        break;
    }
    for (auto& m : sim.modules_) {
      if (!m->handles(c)) continue;
      Reply r;
      try {
        r = m->execute(c, d);
      } catch (const std::exception& e) {
        log("module " + m->name() + " failed on " + hexByte(c) + ": " + e.what());
        return {status::kModuleFailure, {}};
      }
      if (r.data.size() > 255) r.data.resize(255);
      return r;
    }
    return {status::kUnknownCommand, {}};
  }

  void frameDone(std::uint8_t got) {
    lastCmd = cmd;
    respFault.reset();
    frameNote.clear();
    if (got != sum) {
      reply = {status::kFrameChecksum, {}};
      frameNote = " (frame checksum " + hexByte(got) + ", want " + hexByte(sum) + ")";
      st = St::Poll;
      send(kAck);
      return;
    }
    std::optional<Fault> f;
    {
      std::lock_guard<std::mutex> lk(faultMu);
      f = faults.takeAtFrame(cmd);
    }
    FaultKind k = f ? f->kind : FaultKind::Delay;
    if (f) frameNote = std::string(" (fault ") + faultName(k) + ")";
    if (f && k == FaultKind::Delay) {
      frameNote = " (fault delay " + std::to_string(f->delayMs) + " ms)";
      if (!waitMs(f->delayMs)) {
        logExchange("abandoned during the delay");
        st = St::Idle;
        return;
      }
    }
    if (f && k == FaultKind::NoAck) {
      logExchange("no acknowledge");
      st = St::Idle;
      return;
    }
    if (f && k == FaultKind::Status)
      reply = {f->status ? f->status : status::kInjected, {}};
    else
      reply = execute(cmd, data);
    if (f && k == FaultKind::WrongAck) {
      std::uint8_t b = f->status ? f->status : kWrongByte;
      logExchange("acknowledged " + hexByte(b));
      st = St::Idle;
      send(b);
      return;
    }
    if (f && (k == FaultKind::NoStatus || k == FaultKind::NoLength || k == FaultKind::ShortData ||
              k == FaultKind::NoChecksum || k == FaultKind::BadChecksum))
      respFault = f;
    st = St::Poll;
    send(kAck);
  }

  void sendResponse() {
    std::vector<std::uint8_t> out;
    out.reserve(reply.data.size() + 3);
    out.push_back(reply.status);
    out.push_back(static_cast<std::uint8_t>(reply.data.size()));
    out.insert(out.end(), reply.data.begin(), reply.data.end());
    std::uint8_t s = 0;
    for (auto b : out) s ^= b;
    out.push_back(s);
    std::size_t n = out.size();
    bool complete = true;
    if (respFault) {
      complete = false;
      switch (respFault->kind) {
        case FaultKind::NoStatus:
          n = 0;
          break;
        case FaultKind::NoLength:
          n = 1;
          break;
        case FaultKind::ShortData:
          if (reply.data.empty()) {
            out[1] = 1;  // announce one byte, send none
            n = 2;
          } else {
            n = 2 + reply.data.size() - 1;
          }
          break;
        case FaultKind::NoChecksum:
          n = out.size() - 1;
          break;
        case FaultKind::BadChecksum:
          out.back() ^= 0xFF;
          complete = true;
          break;
        default:
          complete = true;
          break;
      }
    }
    st = St::Idle;
    if (complete) ++exchanges;  // before the host can see the last byte
    logExchange("-> " + hexText({out.data(), n}, " "));
    send(out.data(), n);
  }

  // One line per exchange: "#7 cmd 22 [] status 00 [54 4B …] -> 00 08 … 2E"
  // (the bytes after "->" are the response frame as sent), or the outcome of
  // an exchange that ended early.
  void logExchange(const std::string& outcome) {
    if (!opt.log) return;
    std::ostringstream o;
    o << "#" << seq << " cmd " << hexByte(cmd) << " [" << hexText(data, " ") << "]" << frameNote;
    if (outcome.rfind("->", 0) == 0)
      o << " status " << hexByte(reply.status) << " [" << hexText(reply.data, " ") << "] "
        << outcome;
    else
      o << ": " << outcome;
    opt.log(o.str());
  }

  void handleByte(std::uint8_t b, int speed) {
    if (play == Play::Silent || unplugPending) return;  // the line is going away
    if (!accepts(speed)) {
      st = St::Idle;
      return;
    }
    stallDeadline = nowNs() + kStallNs;
    if (play == Play::Replay) {
      // A difference is reported once the host's part of the stage is in
      // (its whole frame, when it differs within the frame).
      if (differs)
        hostBytes.push_back(b);
      else
        differs = !replayMatches(b);
      if (differs && st != St::Cmd && st != St::Len && st != St::Data) {
        diverge();
        if (play == Play::Silent) {
          st = St::Idle;
          return;
        }
        // replayContinue: the card models take this byte and what follows.
      }
    }
    const bool replaying = play == Play::Replay;
    switch (st) {
      case St::Idle:
        if (b == kSync) replaying ? replayReady() : beginExchange();
        break;
      case St::Cmd:
        cmd = sum = b;
        st = St::Len;
        break;
      case St::Len:
        len = b;
        sum ^= b;
        data.clear();
        st = len ? St::Data : St::Sum;
        break;
      case St::Data:
        data.push_back(b);
        sum ^= b;
        if (data.size() == len) st = St::Sum;
        break;
      case St::Sum:
        replaying ? replayAck() : frameDone(b);
        break;
      case St::Poll:
        if (b == kPoll)
          replaying ? replayResponse() : sendResponse();
        else if (b == kSync && !replaying)
          beginExchange();
        break;
    }
  }

  // ---- replay ---------------------------------------------------------------

  // Compares the host's byte with the recording (and keeps it); false when
  // it differs.
  bool replayMatches(std::uint8_t b) {
    const auto& rec = opt.replay->exchanges;
    if (st == St::Idle) {
      if (b != kSync) return true;  // ignored between exchanges, as a reader does
      if (recPos >= rec.size() && opt.replayLoop && !rec.empty()) {
        log("replay: the recording starts again");
        recPos = 0;
      }
      hostBytes.assign(1, b);
      if (recPos >= rec.size()) {
        cur = nullptr;
        return false;
      }
      cur = &rec[recPos++];
      syncAt = nowNs();
    } else {
      hostBytes.push_back(b);
    }
    const std::size_t k = hostBytes.size() - 1;
    return k < cur->sent.size() ? cur->sent[k] == b : hostWriteFailure(cur->status);
  }

  // Reports the divergence, then stops answering or hands over to the card
  // models.
  void diverge(const std::string& why = "") {
    differs = false;
    const auto& rec = opt.replay->exchanges;
    std::ostringstream o;
    if (cur && !why.empty()) {
      o << "replay diverged at exchange " << cur->number << " (trace line " << cur->lineNumber
        << "): " << why << "\n  trace:    " << cur->line;
    } else if (cur) {
      o << "replay diverged at exchange " << cur->number << " (trace line " << cur->lineNumber
        << ")\n  expected: " << hexText(cur->sent, " ")
        << "\n  received: " << hexText(hostBytes, " ") << "\n  trace:    " << cur->line;
    } else {
      o << "replay diverged after the last exchange (" << (rec.empty() ? 0 : rec.back().number)
        << "): the recording has ended"
        << "\n  received: " << hexText(hostBytes, " ");
    }
    {
      std::lock_guard<std::mutex> lk(reportMu);
      reportText = o.str();
    }
    if (opt.report) opt.report(o.str());
    play = opt.replayContinue ? Play::Models : Play::Silent;
  }

  // Sends part of the recorded reader bytes. With replayTiming the
  // acknowledge of an exchange that completed at the site waits until the
  // exchange has taken its recorded time, less the wire time of the reply at
  // the recorded speed (the reader carries a command out before it
  // acknowledges, and the host waits longest for that byte). A host that
  // writes during the wait has given up: a divergence.
  void replaySend(std::size_t from, std::size_t to, bool timed) {
    const auto& r = cur->received;
    to = std::min(to, r.size());
    if (from >= to) return;
    const bool completed = cur->status < 101 || cur->status == 115;
    if (timed && completed && opt.replayTiming && cur->ms > 0) {
      const double wireMs =
          cur->speed > 0 ? static_cast<double>(r.size() - from) * 10'000.0 / cur->speed : 0;
      const auto due = syncAt + static_cast<std::int64_t>((cur->ms - wireMs) * 1e6);
      std::vector<std::uint8_t> early;
      if (!hold(due, early)) return;
      if (!early.empty()) {
        const auto waited = (nowNs() - syncAt) / 1'000'000;
        diverge("the host gave up waiting after " + std::to_string(waited) +
                " ms; the site's reader answered after " +
                std::to_string(static_cast<long long>(cur->ms + 0.5)) + " ms");
        st = St::Idle;
        const int speed = line.speed();
        for (auto b : early) received(b, nowNs(), speed);
        return;
      }
    }
    send(r.data() + from, to - from);
  }

  // Waits until due, watching the line: false when stopped or asked to
  // unplug, early holds what the host wrote meanwhile (the wait ends then).
  bool hold(std::int64_t due, std::vector<std::uint8_t>& early) {
    for (;;) {
      if (interrupted()) return false;
      const std::int64_t rem = due - nowNs();
      if (rem <= 0) return true;
      pollfd p[2] = {{wakeFd, POLLIN, 0}, {line.master(), POLLIN, 0}};
      if (::poll(p, 2, static_cast<int>((rem + 999'999) / 1'000'000)) <= 0) continue;
      if (p[0].revents & POLLIN) drainWake();
      std::uint8_t buf[64];
      const ssize_t k = (p[1].revents & POLLIN) ? ::read(line.master(), buf, sizeof buf) : 0;
      if (k > 0) {
        early.assign(buf, buf + k);
        return true;
      }
    }
  }

  void replayReady() {
    const auto& r = cur->received;
    const bool ready = !r.empty() && r[0] == kReady;
    ++seq;
    log("#" + std::to_string(seq) + " replay exchange " + std::to_string(cur->number) +
        " (trace line " + std::to_string(cur->lineNumber) + ")");
    st = ready ? St::Cmd : St::Idle;
    replaySend(0, 1, false);
    if (!ready) replayEnded();
  }

  void replayAck() {
    lastCmd = cmd;
    const auto& r = cur->received;
    const bool acked = r.size() >= 2 && r[1] == kAck;
    // The card models carry out what the site's reader did, their answers
    // unused: after a divergence they are where the site's commands left them.
    if (acked && opt.replayContinue) execute(cmd, data);
    st = acked ? St::Poll : St::Idle;
    replaySend(1, 2, acked);
    if (!acked && play == Play::Replay) replayEnded();
  }

  void replayResponse() {
    st = St::Idle;
    if (cur->status < 101 || cur->status == 115) ++exchanges;
    replaySend(2, cur->received.size(), false);
    replayEnded();
  }

  // The reader's part of a recorded exchange is over. When the port was
  // gone at the site before the next one, the line goes away now (once the
  // host has read what was sent) and comes back after as long as it was
  // gone there.
  void replayEnded() {
    const auto& t = *opt.replay;
    const bool atEnd = recPos >= t.exchanges.size();
    if (!(atEnd ? t.unplugAtEnd && !opt.replayLoop : t.exchanges[recPos].unplugBefore)) return;
    unplugPending = true;
    unplugBy = nowNs() + 1'000'000'000;
    replugAt = 0;
    if (!atEnd)
      replugAt =
          unplugBy + static_cast<std::int64_t>(std::max(t.exchanges[recPos].goneMs, 500.0) * 1e6);
  }

  // Carries out a planned unplug or replug when its time has come.
  void replayLine() {
    if (unplugPending && (line.unread() == 0 || nowNs() >= unplugBy)) {
      unplugPending = false;
      log("replay: the line goes away, as it did at the site");
      doRequest(Request::Unplug);
      if (replugAt) replugAt = nowNs() + (replugAt - unplugBy);
    }
    if (!unplugPending && replugAt && nowNs() >= replugAt) {
      replugAt = 0;
      log("replay: the line comes back");
      doRequest(Request::Replug);
    }
  }

  // Paced: a byte counts as arrived one wire time after the host wrote it,
  // or after the previous byte, when it queued behind that one. When the
  // host wrote it is estimated as the time it was read here less the pty's
  // own delivery latency (measured when the line was made), and never before
  // the reader's last byte went out (the host was waiting for that one). The
  // reader works on the byte at once, but nothing it sends in answer leaves
  // before the arrival time (see send()).
  void received(std::uint8_t b, std::int64_t readAt, int speed) {
    if (paced.load()) {
      if (accepts(speed)) {
        std::int64_t written = std::max<std::int64_t>(readAt - line.deliveryNs(), lastWrite);
        std::int64_t arrival = std::max(written, inFree) + byteNs(speed);
        inFree = arrival;
        cursor = arrival;
      }
    }
    handleByte(b, speed);
  }

  void run() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);  // exact wake-ups for pacing
    std::uint8_t buf[512];
    while (!stopping.load()) {
      if (reqPending.load()) serveRequests();
      pollfd p[2];
      nfds_t n = 1;
      p[0] = {wakeFd, POLLIN, 0};
      if (line.isOpen()) {
        p[1] = {line.master(), POLLIN, 0};
        n = 2;
      }
      int timeout = -1;
      if (st != St::Idle)
        timeout =
            static_cast<int>(std::max<std::int64_t>(0, stallDeadline - nowNs()) / 1'000'000 + 1);
      if (unplugPending) timeout = 2;
      if (replugAt && !unplugPending) {
        const auto left = std::max<std::int64_t>(0, replugAt - nowNs()) / 1'000'000 + 1;
        timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
      }
      int r = ::poll(p, n, timeout);
      if (unplugPending || replugAt) replayLine();
      if (r < 0) {
        if (errno != EINTR) waitMs(10);
        continue;
      }
      if (p[0].revents & POLLIN) {
        drainWake();
        continue;
      }
      if (n == 2 && (p[1].revents & POLLIN)) {
        ssize_t k = ::read(line.master(), buf, sizeof buf);
        if (k > 0) {
          std::int64_t at = nowNs();
          int speed = line.speed();  // what the host programmed before it wrote
          for (ssize_t i = 0; i < k; ++i) {
            received(buf[i], at, speed);
            if (interrupted() || !line.isOpen()) break;
          }
        } else if (k < 0 && errno != EAGAIN && errno != EINTR) {
          waitMs(10);
        }
      } else if (n == 2 && (p[1].revents & (POLLHUP | POLLERR))) {
        waitMs(10);  // no slave open (cannot happen while we hold ours)
      }
      if (st != St::Idle && nowNs() >= stallDeadline) {
        log("exchange abandoned: the host stalled (cmd " + hexByte(cmd) + ")");
        if (differs) diverge();
        st = St::Idle;
      }
    }
    std::lock_guard<std::mutex> lk(reqMu);
    threadRunning = false;
    reqDone = reqSeq;
    requests.clear();
    reqPending = false;
    reqCv.notify_all();
  }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(*this, std::move(options))) {
  impl_->path = impl_->opt.linkPath;
}

Simulator::~Simulator() { stop(); }

void Simulator::addModule(std::unique_ptr<Module> module) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  modules_.push_back(std::move(module));
}

bool Simulator::start() {
  Impl& d = *impl_;
  if (d.started) return true;
  if (d.path.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/readersim-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
      d.startErr = std::string("cannot make a temporary folder: ") + std::strerror(errno);
      d.log(d.startErr);
      return false;
    }
    d.tmpDir = buf.data();
    d.path = d.tmpDir + "/reader";
  }
  d.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::string err;
  bool ok = d.wakeFd >= 0;
  if (ok) {
    std::lock_guard<std::mutex> lk(d.lineMu);
    ok = d.line.open(d.path, err);
  }
  if (!ok) {
    d.startErr = err;
    d.log("cannot open the line: " + err);
    if (d.wakeFd >= 0) ::close(d.wakeFd);
    d.wakeFd = -1;
    if (!d.tmpDir.empty()) {
      ::rmdir(d.tmpDir.c_str());
      d.tmpDir.clear();
      d.path.clear();
    }
    return false;
  }
  d.stopping = false;
  d.st = Impl::St::Idle;
  {
    std::lock_guard<std::mutex> lk(d.reqMu);
    d.threadRunning = true;
  }
  d.thread = std::thread([&d] { d.run(); });
  d.threadId = d.thread.get_id();
  d.started = true;
  return true;
}

void Simulator::stop() {
  Impl& d = *impl_;
  if (!d.started) return;
  d.stopping = true;
  d.wake();
  if (d.thread.joinable()) d.thread.join();
  {
    std::lock_guard<std::mutex> lk(d.lineMu);
    d.line.close();
  }
  ::close(d.wakeFd);
  d.wakeFd = -1;
  if (!d.tmpDir.empty()) {
    ::unlink(d.path.c_str());
    ::rmdir(d.tmpDir.c_str());
    d.tmpDir.clear();
    d.path = d.opt.linkPath;  // a restart makes a fresh folder
  }
  d.started = false;
}

const std::string& Simulator::path() const { return impl_->path; }

void Simulator::setSpeeds(Speeds speeds) { impl_->speeds = speeds; }
void Simulator::setPaced(bool paced) { impl_->paced = paced; }

void Simulator::inject(const Fault& fault) {
  std::lock_guard<std::mutex> lk(impl_->faultMu);
  impl_->faults.push(fault);
}

void Simulator::clearFaults() {
  std::lock_guard<std::mutex> lk(impl_->faultMu);
  impl_->faults.clear();
}

void Simulator::unplug() { impl_->request(Request::Unplug); }
void Simulator::replug() { impl_->request(Request::Replug); }

std::mutex& Simulator::mutex() { return impl_->mu; }
std::uint64_t Simulator::exchanges() const { return impl_->exchanges.load(); }
std::uint8_t Simulator::lastCommand() const { return impl_->lastCmd.load(); }

int Simulator::hostSpeed() const {
  std::lock_guard<std::mutex> lk(impl_->lineMu);
  return impl_->line.speed();
}

std::optional<std::array<std::uint8_t, 4>> Simulator::signalOutputs() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->signals;
}

bool Simulator::plugged() const {
  std::lock_guard<std::mutex> lk(impl_->lineMu);
  return impl_->line.isOpen();
}

std::size_t Simulator::pendingFaults() const {
  std::lock_guard<std::mutex> lk(impl_->faultMu);
  return impl_->faults.size();
}

std::string Simulator::replayReport() const {
  std::lock_guard<std::mutex> lk(impl_->reportMu);
  return impl_->reportText;
}

std::string Simulator::startError() const { return impl_->startErr; }

void Simulator::logLine(const std::string& line) const { impl_->log(line); }

bool Simulator::control(const std::vector<std::string>& words, std::string& out) {
  Impl& d = *impl_;
  out.clear();
  if (words.empty()) return false;
  const std::string& w = words[0];
  auto arg = [&](std::size_t i) { return i < words.size() ? words[i] : std::string(); };
  if (w == "fault") {
    std::string err;
    auto f = parseFault({words.begin() + 1, words.end()}, err);
    if (!f) {
      out = "error: " + err;
      return true;
    }
    inject(*f);
    out = "fault queued: " + describe(*f);
    return true;
  }
  if (w == "faults") {
    if (words.size() == 1) {
      std::lock_guard<std::mutex> lk(d.faultMu);
      out = std::to_string(d.faults.size()) + " fault(s) queued";
      for (const auto& f : d.faults.items()) out += "; " + describe(f);
      return true;
    }
    if (arg(1) == "clear" && words.size() == 2) {
      clearFaults();
      out = "faults cleared";
      return true;
    }
    out = "error: faults [clear]";
    return true;
  }
  if (w == "unplug" && words.size() == 1) {
    unplug();
    out = "unplugged";
    return true;
  }
  if (w == "replug" && words.size() == 1) {
    replug();
    out = plugged() ? "replugged at " + d.path : "error: replug failed";
    return true;
  }
  if (w == "speeds") {
    std::string v = arg(1);
    if (words.size() == 2 && (v == "both" || v == "fast" || v == "slow")) {
      setSpeeds(v == "both" ? Speeds::Both : v == "fast" ? Speeds::FastOnly : Speeds::SlowOnly);
      out = "speeds " + v;
    } else {
      out = "error: speeds both|fast|slow";
    }
    return true;
  }
  if (w == "paced") {
    std::string v = arg(1);
    if (words.size() == 2 && (v == "on" || v == "off")) {
      setPaced(v == "on");
      out = "paced " + v;
    } else {
      out = "error: paced on|off";
    }
    return true;
  }
  if (w == "status" && words.size() == 1) {
    std::ostringstream o;
    o << "exchanges=" << exchanges() << " last=" << hexByte(lastCommand())
      << " speed=" << hostSpeed() << " speeds=" << speedsName(d.speeds.load())
      << " paced=" << (d.paced.load() ? "on" : "off") << " plugged=" << (plugged() ? "yes" : "no")
      << " faults=" << pendingFaults();
    if (auto s = signalOutputs()) o << " signals=" << hexText(*s, " ");
    o << " path=" << d.path;
    out = o.str();
    return true;
  }
  if (w == "help" && words.size() == 1) {
    out = help();
    return true;
  }
  std::lock_guard<std::mutex> lk(d.mu);
  for (auto& m : modules_)
    if (m->control(words, out)) return true;
  return false;
}

std::string Simulator::help() const {
  std::string h = faultHelp();
  h += "\nunplug              the line goes away (link removed, host handles hang up)"
       "\nreplug              a fresh line under the same path"
       "\nspeeds both|fast|slow  line speeds the reader answers at (57600 / 9600)"
       "\npaced on|off        each byte takes its wire time at the line speed"
       "\nstatus              exchanges, last command, host speed, faults, signal outputs"
       "\nhelp                this text";
  for (const auto& m : modules_) {
    std::string mh = m->help();
    if (mh.empty()) continue;
    if (mh.back() == '\n') mh.pop_back();
    h += "\n" + mh;
  }
  return h;
}

}  // namespace readersim
