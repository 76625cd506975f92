// LinkState: everything one reader's link holds: the open port, the port
// index and line speed in use, the frame of the command being sent, the
// reader's last response, and beside it the state of the contact-card slots.
// The flat exports work on one process-wide LinkState; every reader opened
// through the handle interface has its own. The command families work on the
// LinkState they are given.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "contact/contact_state.h"
#include "link/serial_port.h"
#include "link/trace.h"
#include "orvix.h"

namespace orvix {

struct LinkState {
  // Serial link (owned: opened by OpenComPort, closed by UnLinkCom).
  SerialPort* ComHandle = nullptr;
  std::int32_t PortIndex = 0;  // index of the last open attempt, 0 = COM1
  std::int32_t BaudInUse = 0;  // 57600 or 9600 after a link, else 0
  std::int32_t LineSpeed = 0;  // speed of the last open attempt (for the trace)
  std::int32_t ProbeReplyTries = 0;
  std::int32_t CmdReplyTries = 0;
  int LineMultiplier = 1;  // ms per byte in the time-outs: 1 fast, 2 at 9600

  // The frame exchange.
  std::uint8_t CmdCode = 0;
  std::uint8_t SendLen = 0;
  std::array<std::uint8_t, 255> SendData{};
  std::uint8_t Status = 0;
  std::uint8_t RecvLen = 0;
  std::array<std::uint8_t, 255> RecvData{};  // never cleared
  bool FrameOut = false;  // the last exchange wrote its whole command frame
  // A Mifare command that changes the card went out and no answer of the
  // reader settled it (a link error after the frame, or a cancel): the card
  // may or may not have been changed. Cleared at each reader call.
  bool MayHaveChanged = false;

  // Contact-card families: selected card type, slot protocol, cipher.
  ContactState Contact{};

  // Where ports come from; nullptr = the operating system's.
  PortSystem* System = nullptr;
  // Exchange trace (ORVIX32_TRACE), looked for at the first exchange.
  Trace Tracer{};
  bool TraceChecked = false;

  // A reader opened by name (the handle interface): the device it opens
  // instead of the port index's, how it links, and its own trace and cancel.
  std::string Device;          // "" = the port index's device (the flat exports)
  std::string PortName;        // as the reader was opened ("COM3", "/dev/ttyUSB0")
  bool LowLatency = true;      // ask for the serial driver's low latency
  int SpeedPolicy = 0;         // 0 = 57600 then 9600; or the one speed to use
  bool SettleOnRelink = true;  // the relink's close pauses as UnLinkCom does
  OpenError LastOpenError = OpenError::None;
  bool FixedSpeed = false;  // the last link found a port whose speed is the server's
  Trace OwnTrace{};
  orvix_trace_callback Callback = nullptr;
  void* CallbackUser = nullptr;
  const CancelSignal* Cancel = nullptr;
  Recording Record{};
};

// The process-wide link state of the flat exports.
LinkState& link();

// Serializes the flat exports: every export that reaches the link or the
// library's state holds the one process-wide call lock for its whole call (a
// Mifare call's relinks and UnLinkCom's pause included), so calls from
// several threads run one after the other, each whole.
class CallGuard {
 public:
  CallGuard();
  ~CallGuard();
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
};

inline PortSystem& ports(const LinkState& s) { return s.System ? *s.System : systemPorts(); }

// The name of the link's port for the trace and messages: the reader's name,
// or COM<index + 1> (printed wide: any int index prints without overflow).
std::string portLabel(const LinkState& s);

// Link errors raised by the exchange itself (the ASCII codes of e … s).
enum LinkError : std::uint8_t {
  kSyncNotWritten = 101,    // e
  kNoReady = 102,           // f
  kBadReady = 103,          // g
  kCmdNotWritten = 104,     // h
  kLenNotWritten = 105,     // i
  kDataNotWritten = 106,    // j
  kSumNotWritten = 107,     // k
  kNoAck = 108,             // l
  kBadAck = 109,            // m
  kPollNotWritten = 110,    // n
  kNoStatus = 111,          // o
  kNoLength = 112,          // p
  kDataShort = 113,         // q
  kNoChecksum = 114,        // r
  kChecksumMismatch = 115,  // s
};

inline bool isLinkError(std::uint8_t status) {
  return status >= kSyncNotWritten && status <= kChecksumMismatch;
}

// The text of a result code the library defines (orvix_strerror's).
const char* resultText(int code);

// Argument out of range: returned without any exchange.
inline constexpr int kBadArgument = 4;

// Port operations of the link (used by the exchange and the link exports).
int OpenComPort(LinkState& s, int portIndex, int baud);
std::size_t WriteComBytes(LinkState& s, const std::uint8_t* data, std::size_t count);
std::size_t ReadComBytes(LinkState& s, std::uint8_t* buffer, std::size_t count);
int SendByte(LinkState& s, std::uint8_t value);

// One frame exchange: sends CmdCode, SendLen and SendData, receives Status,
// RecvLen and RecvData. Returns the status (0, a link error or the reader's).
std::uint8_t ExchangeFrame(LinkState& s);
// The retrying exchange of the Mifare family: after a link error it relinks
// on PortIndex and repeats the caller's frame, at most kMaxRelinks times. A
// value command (0xB1, 0xB2, 0xBB, 0xBC) is repeated only after a failure
// before its whole frame was written (101 … 107); after a later one the call
// relinks and returns the link error without repeating it.
std::uint8_t ExchangeWithRelink(LinkState& s);
inline constexpr int kMaxRelinks = 3;

// Fills the command fields for the next exchange.
void setCommand(LinkState& s, std::uint8_t cmd, const std::uint8_t* data, std::size_t len);

// LinkCom and UnLinkCom on a link state (UnLinkCom pauses when settle is set).
int linkComImpl(LinkState& s, int port);
int unlinkComImpl(LinkState& s, bool settle = true);
// LinkCom again on the link's own port (a reader's device, or PortIndex).
// *probed (when given) tells whether any probe ran.
int relinkImpl(LinkState& s, bool settle, bool* probed = nullptr);
// Whether the call in progress on the link was cancelled.
inline bool cancelled(const LinkState& s) { return s.Cancel && s.Cancel->raised(); }

// The process-wide link's forms, for its tests.
inline int OpenComPort(int portIndex, int baud) { return OpenComPort(link(), portIndex, baud); }
inline std::uint8_t ExchangeFrame() { return ExchangeFrame(link()); }
inline std::uint8_t ExchangeWithRelink() { return ExchangeWithRelink(link()); }
inline void setCommand(std::uint8_t cmd, const std::uint8_t* data, std::size_t len) {
  setCommand(link(), cmd, data, len);
}
inline PortSystem& ports() { return ports(link()); }
inline int linkComImpl(int port) { return linkComImpl(link(), port); }
inline int unlinkComImpl() { return unlinkComImpl(link()); }

// Runs a flat export's body on the process-wide link with the call lock
// held. No exception leaves it: one that escapes the body (memory ran out)
// gives kInternalError.
inline constexpr int kInternalError = 65543;
template <class Body>
int onDefault(Body&& body) noexcept {
  try {
    const CallGuard guard;
    return body(link());
  } catch (...) {
    return kInternalError;
  }
}

}  // namespace orvix
