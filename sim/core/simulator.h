// readersim: a card reader on a pseudo-terminal. Tests link this library and
// run a Simulator in-process; the readersim program wraps it with a command
// line. The service runs on its own thread once started.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/module.h"
#include "core/replay.h"

namespace readersim {

// Which line speeds the reader answers at (it reads the speed the host
// programmed on the line; at any other speed it stays silent).
enum class Speeds { Both, FastOnly, SlowOnly };

// Reader-side faults, each one behind one of the host's link errors.
enum class FaultKind {
  SilentOnSync,  // 102: no answer to the sync byte
  WrongReady,    // 103: answers the sync byte with a byte other than 0x45
  NoAck,         // 108: takes the frame, never acknowledges
  WrongAck,      // 109: acknowledges with a byte other than 0x67
  NoStatus,      // 111: silent after the poll byte
  NoLength,      // 112: sends the status byte only
  ShortData,     // 113: sends one data byte less than announced
  NoChecksum,    // 114: leaves out the checksum byte
  BadChecksum,   // 115: sends a wrong checksum byte
  Delay,         // waits delayMs before the acknowledge (and otherwise answers)
  Status,        // answers with the given nonzero status (and no data)
  Unplug,        // the line goes away at the sync byte of this exchange
};

// A queued fault. Faults are taken in queue order, at most one per exchange;
// the sync-stage kinds (SilentOnSync, WrongReady, Unplug) act before the
// command is known and take no command filter (see core/fault.h).
struct Fault {
  FaultKind kind = FaultKind::SilentOnSync;
  std::optional<std::uint8_t> command;  // only exchanges of this command byte
  int count = 1;                        // how many matching exchanges; -1 = all
  int delayMs = 0;                      // for Delay
  std::uint8_t status = 0;              // for Status
  int skip = 0;                         // matching exchanges to let pass first
};

struct Options {
  Speeds speeds = Speeds::Both;
  std::uint8_t moduleNumber = 17;  // answered to 0xA1 as (number, 0)
  std::array<std::uint8_t, 8> deviceNumber{0x20, 0x26, 0x12, 0x06, 0x00, 0x00, 0x00, 0x01};
  std::array<std::uint8_t, 8> firmwareVersion{'T', 'K', '6', '1', ' ', '2', '.', '1'};
  // The line speed taken as the fast speed. Hosts program the rate value
  // 56000 for it: a POSIX host runs that at 57600; Wine hands a pty 38400.
  int fastSpeed = 57600;
  bool paced = false;  // each byte takes its wire time (10 bits) at the line speed
  // Where the stable link to the pty is made; empty = a fresh temporary folder.
  std::string linkPath;
  // Log sink for one line per exchange and for device messages; empty = none.
  std::function<void(const std::string&)> log;

  // Replay: when set, the reader answers the host's exchanges in order with
  // these recorded ones (bytes, link failures and all) at whatever speed the
  // host programs, instead of with its card models.
  std::optional<Trace> replay;
  bool replayTiming = false;    // a completed exchange takes as long as recorded
  bool replayContinue = false;  // after a divergence the card models answer on
  bool replayLoop = false;      // after the last exchange the first one comes again
  // Receives the report of the first divergence (see replayReport()).
  std::function<void(const std::string&)> report;
};

class Simulator {
 public:
  explicit Simulator(Options options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  void addModule(std::unique_ptr<Module> module);
  // The first module of type M, or nullptr. Hold mutex() while using it from
  // another thread than the service.
  template <class M>
  M* find() {
    for (auto& m : modules_)
      if (auto* p = dynamic_cast<M*>(m.get())) return p;
    return nullptr;
  }

  // Opens the pty and starts serving. Returns false when no pty could be made.
  // Add modules before start(). stop() never waits for a reader delay or a
  // fault: the service thread is woken and leaves at once.
  bool start();
  void stop();
  // The path a host opens (a symbolic link to the pty slave; stays the same
  // across unplug and replug).
  const std::string& path() const;

  void setSpeeds(Speeds speeds);
  void setPaced(bool paced);
  void inject(const Fault& fault);
  void clearFaults();
  // The line goes away (the device node disappears and open handles fail);
  // replug brings a fresh line back under the same path.
  void unplug();
  void replug();

  // Text control commands ("fault nack", "unplug", "card insert ..."): the
  // core's own first, then each module's. Returns false when nobody knew them.
  // An answer in out that starts with "error:" means the command was known but
  // failed (bad arguments). Modules' control() runs with mutex() held.
  bool control(const std::vector<std::string>& words, std::string& out);
  std::string help() const;

  std::mutex& mutex();
  // Completed exchanges (a response frame was sent), and the last command.
  std::uint64_t exchanges() const;
  std::uint8_t lastCommand() const;
  // The line speed the host has programmed now (0 if unknown).
  int hostSpeed() const;

  // Added by the core (see status.h for the reader's status bytes, fault.h
  // for how queued faults are matched to exchanges).
  // The last four bytes of command 0x7A (select, a, b, c), if any came.
  std::optional<std::array<std::uint8_t, 4>> signalOutputs() const;
  // False between unplug() and replug() (and before start()).
  bool plugged() const;
  // Faults still queued (a fault leaves the queue when its count is used up).
  std::size_t pendingFaults() const;
  // The report of the replay's first divergence; empty while the host has
  // sent what the recording holds (and without a replay).
  std::string replayReport() const;
  // Why the last start() failed (the path and the system's reason).
  std::string startError() const;
  // Writes one line to Options::log, if set (modules may use it for device
  // messages).
  void logLine(const std::string& line) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<std::unique_ptr<Module>> modules_;
};

// A simulator with every device family the reader has.
std::unique_ptr<Simulator> makeStandardSimulator(Options options = {});

}  // namespace readersim
