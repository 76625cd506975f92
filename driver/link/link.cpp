// Opening, configuring and closing the reader's port, and the link exports.
#include <chrono>
#include <cstdio>

#include "link/link_state.h"
#include "orvix32.h"

namespace orvix {

namespace {

constexpr int kFastBaud = 57600;
constexpr int kSlowBaud = 9600;
// The rate value programmed for the fast speed.
constexpr int kFastRateValue = 56000;
constexpr int kPortCount = 10;
constexpr int kQueueBytes = 512;
constexpr int kCloseSettleMs = 1000;
constexpr int kSettleSliceMs = 5;

void closeAndForget(LinkState& s, bool clearFirst) {
  if (clearFirst) s.ComHandle->clearErrors();
  s.ComHandle->close();
  delete s.ComHandle;
  s.ComHandle = nullptr;
}

// The probe: command 0 with no data. Returns its status.
std::uint8_t probe(LinkState& s) {
  setCommand(s, 0x00, nullptr, 0);
  return ExchangeFrame(s);
}

// Sets the line of an open port to baud: rates, time-outs, queues, purge.
// 0, or 1 after closing the port when any step failed (LastOpenError then
// says why when the port knows).
int configure(LinkState& s, SerialPort* port, int portIndex, int baud);

// A server that holds its device a little while after a connection closed
// answers a new one with "Port already in use" (or closes it, the text lost
// to the reset): asked again until this long after the first try. A server
// that said it was busy once is reported busy.
constexpr int kServerBusyRetryMs = 2000;
constexpr int kServerBusyPauseMs = 50;

// One try of one speed: open the port (or, over RFC 2217, change the speed
// on the open connection: always for a reader, for the flat link's fall-back
// to 9600 once LinkCom has opened the port anew) and probe. 0 = linked.
int tryLink(LinkState& s, int port, int baud, bool settle, bool* probed) {
  const bool inPlace =
      s.ComHandle && s.ComHandle->relinksInPlace() && (!s.Device.empty() || baud == kSlowBaud);
  if (!inPlace) unlinkComImpl(s, settle);
  if (s.SpeedPolicy != 0 && s.SpeedPolicy != baud) return 1;
  s.LastOpenError = OpenError::None;
  const int opened = inPlace ? configure(s, s.ComHandle, port, baud) : OpenComPort(s, port, baud);
  if (opened != 0) return 1;
  *probed = true;
  if (probe(s) == 0) return 0;
  if (s.ComHandle) s.LastOpenError = s.ComHandle->lostBecause();
  return 1;
}

// LinkCom on one port; *probed tells whether any probe ran. A reader with a
// speed of its own tries only that speed, and a reader on a port whose speed
// is the server's (raw TCP) only the first. A reader's own device that could
// not be opened at all is not tried again at the other speed: a server that
// does not answer would hold the caller for a second connect time. A reader
// that linked at neither speed closes its port: its next call links again,
// fastest speed first.
int linkOnPort(LinkState& s, int port, bool* probed, bool settle) {
  s.Contact.SelectedCardType = 255;
  s.FixedSpeed = false;
  const bool reader = !s.Device.empty();
  for (const int baud : {kFastBaud, kSlowBaud}) {
    int linked = tryLink(s, port, baud, settle, probed);
    const auto start = std::chrono::steady_clock::now();
    bool saidBusy = s.LastOpenError == OpenError::ServerBusy;
    while (linked != 0 &&
           (s.LastOpenError == OpenError::ServerBusy || s.LastOpenError == OpenError::Dropped) &&
           !cancelled(s) &&
           std::chrono::steady_clock::now() - start <
               std::chrono::milliseconds(kServerBusyRetryMs)) {
      unlinkComImpl(s, false);
      for (int waited = 0; waited < kServerBusyPauseMs && !cancelled(s); waited += kSettleSliceMs)
        ports(s).pause(kSettleSliceMs);
      linked = tryLink(s, port, baud, false, probed);
      saidBusy = saidBusy || s.LastOpenError == OpenError::ServerBusy;
    }
    if (linked != 0 && s.LastOpenError == OpenError::Dropped)
      s.LastOpenError = saidBusy ? OpenError::ServerBusy : OpenError::None;
    if (linked == 0) {
      s.BaudInUse = baud;
      return 0;
    }
    s.BaudInUse = 0;
    if (cancelled(s) || (reader && s.LastOpenError != OpenError::None)) break;
    if (reader && s.ComHandle && !s.ComHandle->setsSpeed() && s.SpeedPolicy == 0) {
      s.FixedSpeed = true;
      break;
    }
  }
  s.BaudInUse = 0;
  if (reader && s.ComHandle) unlinkComImpl(s, false);
  if (reader && s.ComHandle) closeAndForget(s, false);
  return 1;
}

// The pause after a close: whole for the process-wide link; a reader's can
// be cut short by its cancel.
void settleAfterClose(LinkState& s) {
  if (!s.Cancel) {
    ports(s).pause(kCloseSettleMs);
    return;
  }
  for (int waited = 0; waited < kCloseSettleMs && !cancelled(s); waited += kSettleSliceMs)
    ports(s).pause(kSettleSliceMs);
}

}  // namespace

int OpenComPort(LinkState& s, int portIndex, int baud) {
  s.PortIndex = portIndex;
  s.LineSpeed = baud;
  if (s.Device.empty() && (portIndex < 0 || portIndex >= kPortCount)) return 1;
  if (s.ComHandle) {
    // A port the last UnLinkCom could not close (its line went away): drop
    // it now rather than lose its handle under the new one.
    s.ComHandle->close();
    delete s.ComHandle;
    s.ComHandle = nullptr;
  }
  SerialPort* port = s.Device.empty()
                         ? ports(s).open(portIndex)
                         : ports(s).openDevice(s.Device, s.LowLatency, &s.LastOpenError, s.Cancel);
  if (!port) return 1;
  s.ComHandle = port;
  port->setCancel(s.Cancel);
  return configure(s, port, portIndex, baud);
}

namespace {

int configure(LinkState& s, SerialPort* port, int portIndex, int baud) {
  s.LineSpeed = baud;
  const auto fail = [&](bool clearFirst) {
    if (s.LastOpenError == OpenError::None) s.LastOpenError = port->lostBecause();
    closeAndForget(s, clearFirst);
    return 1;
  };
  char mode[64];
  std::snprintf(mode, sizeof mode, "COM%d: baud=9600 parity=N data=8 stop=1", portIndex + 1);
  if (!port->buildLine(mode)) return fail(false);
  if (!port->applyLine(baud == kFastBaud ? kFastRateValue : kSlowBaud)) return fail(true);
  const int m = baud == kFastBaud ? 1 : 2;
  s.LineMultiplier = m;
  Timeouts t;
  t.readInterval = 200;
  t.readMultiplier = m;
  t.readConstant = 100;
  t.writeMultiplier = m;
  t.writeConstant = 100;
  s.CmdReplyTries = 10;
  s.ProbeReplyTries = 2;
  if (!port->setTimeouts(t) || !port->setQueues(kQueueBytes, kQueueBytes) || !port->purge())
    return fail(true);
  if (!port->setEventMaskNone()) return fail(false);
  return 0;
}

}  // namespace

std::size_t WriteComBytes(LinkState& s, const std::uint8_t* data, std::size_t count) {
  SerialPort* port = s.ComHandle;
  return port ? port->write(data, count) : 0;
}

std::size_t ReadComBytes(LinkState& s, std::uint8_t* buffer, std::size_t count) {
  SerialPort* port = s.ComHandle;
  return port ? port->read(buffer, count) : 0;
}

int SendByte(LinkState& s, std::uint8_t value) { return WriteComBytes(s, &value, 1) == 1 ? 0 : 1; }

int linkComImpl(LinkState& s, int port) {
  bool probed = false;
  return linkOnPort(s, port, &probed, true);
}

int unlinkComImpl(LinkState& s, bool settle) {
  SerialPort* port = s.ComHandle;
  if (!port) return 1;
  port->clearErrors();
  if (!port->setEventMaskNone() || !port->purge()) {
    port->clearErrors();
    return 1;
  }
  if (!port->close()) return 1;
  delete port;
  s.ComHandle = nullptr;
  if (settle) settleAfterClose(s);
  return 0;
}

int relinkImpl(LinkState& s, bool settle, bool* probed) {
  bool any = false;
  const int result = linkOnPort(s, s.PortIndex, &any, settle);
  if (probed) *probed = any;
  return result;
}

}  // namespace orvix

using namespace orvix;

extern "C" ORVIX32_API int ORVIX32_CALL LinkCom(int port) {
  return onDefault([&](LinkState& s) { return linkComImpl(s, port); });
}

extern "C" ORVIX32_API int ORVIX32_CALL AutoLinkCom(int* port) {
  return onDefault([&](LinkState& s) {
    const int first = (port && *port == 1) ? 1 : 0;
    const int second = 1 - first;
    bool probed = false;
    if (linkOnPort(s, first, &probed, true) == 0) {
      if (port) *port = first;
    } else if (linkOnPort(s, second, &probed, true) == 0) {
      if (port) *port = second;
    }
    // With no port open-able at either speed no probe ran: Status still holds
    // an older exchange's value, so say "no link" plainly.
    if (!probed) return 1;
    return static_cast<int>(s.Status);
  });
}

extern "C" ORVIX32_API int ORVIX32_CALL UnLinkCom(void) {
  return onDefault([](LinkState& s) { return unlinkComImpl(s); });
}
