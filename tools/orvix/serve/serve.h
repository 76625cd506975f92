// orvix serve: the readers of this computer for web pages, over WebSocket.
// The message set is described in api.md beside this file.
#pragma once

#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "orvix.h"
#include "orvix/ops/control.h"

namespace orvix::serve {

// What the service itself refuses (the library's codes are 0 or above).
enum Code : int {
  kMalformed = -1,
  kUnknownOp = -2,
  kBadArgs = -3,
  kNoReader = -4,
  kPending = -5,
  kTooLarge = -6,
  kTooFast = -7,
  kRefused = -8,
  kNotBegun = -9,
};

// An error answer: a code and its text (and, for a library code, where it
// happened), with fields for the page to place and word it: the family of
// a reader status, the argument at fault and why, the holder of a port.
struct Refusal {
  int code;
  std::string text, detail;
  json fields = json::object();
};

// Who holds a port: the session, the desk name its page gave (may be
// empty), and since when.
struct Holder {
  std::string session, from, desk;
  std::time_t since = 0;
  const void* owner = nullptr;  // the Desk holding it
  // "session 2 (Front desk) from 127.0.0.1 since 11:58:02"
  std::string text() const;
  // {"desk", "since" (UTC, ISO 8601), "session", "own": held by viewer}
  json fields(const void* viewer) const;
};

// The operations of the library of card work, and the dump files, as
// messages (adapter.cpp): whether op is one, whether it needs the
// session's reader, and its result or a Refusal thrown.
bool isOperation(const std::string& op);
bool needsReader(const std::string& op);
json runOperation(const std::string& op, orvix_reader* reader, const json& args,
                  const ops::Control& control);
// Their section of the message set, from the operations' own list.
std::string operationsText();

// Which session holds which port, across the service: one at a time.
class Registry {
 public:
  // Claims the device for the holder: empty when it is now the holder's,
  // else the one holding it.
  std::optional<Holder> claim(const std::string& device, const Holder& holder);
  void release(const std::string& device);
  std::optional<Holder> holder(const std::string& device) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Holder> held_;
};

// The device a port name stands for (COMn as mapped, symbolic links
// resolved), the key of the registry.
std::string deviceOf(const std::string& port);

// One session's readers and the operations on them. call and poll run on
// the session's worker thread only; cancel from any thread.
class Desk {
 public:
  // session: "session 2"; from: the peer's address; networkPorts: open may
  // reach tcp:// and rfc2217:// ports.
  Desk(Registry& registry, std::string session, std::string from, bool networkPorts);
  ~Desk();
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  // The result of an operation, or a Refusal thrown.
  json call(const std::string& op, const json& args);
  // Card events for the watched readers whose field changed since the last poll.
  std::vector<json> poll();
  bool watching() const { return watching_; }
  // Stops the call in progress on every reader (the session is going).
  void cancel();
  // Ends transactions and closes every reader, releasing their ports.
  void closeAll();

 private:
  struct Held {
    std::string port, device;
    orvix_reader* reader = nullptr;
    int begun = 0;
    bool watch = false;
    bool seen = false;                // a poll has reported the field
    std::optional<std::string> card;  // the serial last seen, when watched
  };
  Held& pick(const json& args);
  json dispatch(const std::string& op, const json& args);

  Registry& registry_;
  std::string session_, from_;
  bool networkPorts_;
  std::mutex mutex_;  // guards readers_ against cancel during open/close
  std::vector<std::unique_ptr<Held>> readers_;
  std::atomic<bool> watching_{false};
  std::atomic<bool> stop_{false};  // the session is going: stop between two blocks
};

}  // namespace orvix::serve
