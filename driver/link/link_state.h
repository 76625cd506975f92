// LinkState: the library's one global record. It holds the open port, the
// port index and line speed in use, the frame of the command being sent, the
// reader's last response, and beside it the state of the contact-card slots.
#pragma once

#include <array>
#include <cstdint>

#include "contact/contact_state.h"
#include "link/serial_port.h"
#include "link/trace.h"

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

  // Contact-card families: selected card type, slot protocol, cipher.
  ContactState Contact{};

  // Where ports come from; nullptr = the operating system's.
  PortSystem* System = nullptr;
  // Exchange trace (ORVIX32_TRACE), looked for at the first exchange.
  Trace Tracer{};
  bool TraceChecked = false;
};

// The one link state.
LinkState& link();

// Serializes the exports: every export that reaches the link or the library's
// state holds the one process-wide call lock for its whole call (a Mifare
// call's relinks and UnLinkCom's pause included), so calls from several
// threads run one after the other, each whole. The lock is recursive because
// some exports are built on others (AT1608_Authentic reads through
// AT1608_Read, EraseMemCard writes through WriteMemCard, …).
class CallGuard {
 public:
  CallGuard();
  ~CallGuard();
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
};

inline PortSystem& ports() {
  LinkState& s = link();
  return s.System ? *s.System : systemPorts();
}

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

// Argument out of range: returned without any exchange.
inline constexpr int kBadArgument = 4;

// Port operations of the link (used by the exchange and the link exports).
int OpenComPort(int portIndex, int baud);
std::size_t WriteComBytes(const std::uint8_t* data, std::size_t count);
std::size_t ReadComBytes(std::uint8_t* buffer, std::size_t count);
int SendByte(std::uint8_t value);

// One frame exchange: sends CmdCode, SendLen and SendData, receives Status,
// RecvLen and RecvData. Returns the status (0, a link error or the reader's).
std::uint8_t ExchangeFrame();
// The retrying exchange of the Mifare family: after a link error it relinks
// on PortIndex and repeats the caller's frame, at most kMaxRelinks times. A
// value command (0xB1, 0xB2, 0xBB, 0xBC) is repeated only after a failure
// before its whole frame was written (101 … 107); after a later one the call
// relinks and returns the link error without repeating it.
std::uint8_t ExchangeWithRelink();
inline constexpr int kMaxRelinks = 3;

// Fills the command fields for the next exchange.
void setCommand(std::uint8_t cmd, const std::uint8_t* data, std::size_t len);

int linkComImpl(int port);
int unlinkComImpl();

}  // namespace orvix
