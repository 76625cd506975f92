// Opening, configuring and closing the reader's port, and the link exports.
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

void closeAndForget(LinkState& s, bool clearFirst) {
  if (clearFirst) s.ComHandle->clearErrors();
  s.ComHandle->close();
  delete s.ComHandle;
  s.ComHandle = nullptr;
}

// The probe: command 0 with no data. Returns its status.
std::uint8_t probe() {
  setCommand(0x00, nullptr, 0);
  return ExchangeFrame();
}

// LinkCom on one port; *probed tells whether any probe ran.
int linkOnPort(int port, bool* probed) {
  LinkState& s = link();
  s.Contact.SelectedCardType = 255;
  unlinkComImpl();
  if (OpenComPort(port, kFastBaud) == 0) {
    *probed = true;
    if (probe() == 0) {
      s.BaudInUse = kFastBaud;
      return 0;
    }
    s.BaudInUse = 0;
  }
  unlinkComImpl();
  if (OpenComPort(port, kSlowBaud) == 0) {
    *probed = true;
    if (probe() == 0) {
      s.BaudInUse = kSlowBaud;
      return 0;
    }
  }
  s.BaudInUse = 0;
  return 1;
}

}  // namespace

int OpenComPort(int portIndex, int baud) {
  LinkState& s = link();
  s.PortIndex = portIndex;
  s.LineSpeed = baud;
  if (portIndex < 0 || portIndex >= kPortCount) return 1;
  if (s.ComHandle) {
    // A port the last UnLinkCom could not close (its line went away): drop
    // it now rather than lose its handle under the new one.
    s.ComHandle->close();
    delete s.ComHandle;
    s.ComHandle = nullptr;
  }
  SerialPort* port = ports().open(portIndex);
  if (!port) return 1;
  s.ComHandle = port;

  char mode[64];
  std::snprintf(mode, sizeof mode, "COM%d: baud=9600 parity=N data=8 stop=1", portIndex + 1);
  if (!port->buildLine(mode)) {
    closeAndForget(s, false);
    return 1;
  }
  if (!port->applyLine(baud == kFastBaud ? kFastRateValue : kSlowBaud)) {
    closeAndForget(s, true);
    return 1;
  }
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
  if (!port->setTimeouts(t) || !port->setQueues(kQueueBytes, kQueueBytes) || !port->purge()) {
    closeAndForget(s, true);
    return 1;
  }
  if (!port->setEventMaskNone()) {
    closeAndForget(s, false);
    return 1;
  }
  return 0;
}

std::size_t WriteComBytes(const std::uint8_t* data, std::size_t count) {
  SerialPort* port = link().ComHandle;
  return port ? port->write(data, count) : 0;
}

std::size_t ReadComBytes(std::uint8_t* buffer, std::size_t count) {
  SerialPort* port = link().ComHandle;
  return port ? port->read(buffer, count) : 0;
}

int SendByte(std::uint8_t value) { return WriteComBytes(&value, 1) == 1 ? 0 : 1; }

int linkComImpl(int port) {
  bool probed = false;
  return linkOnPort(port, &probed);
}

int unlinkComImpl() {
  LinkState& s = link();
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
  ports().pause(kCloseSettleMs);
  return 0;
}

}  // namespace orvix

using namespace orvix;

extern "C" ORVIX32_API int ORVIX32_CALL LinkCom(int port) {
  const CallGuard guard;
  return linkComImpl(port);
}

extern "C" ORVIX32_API int ORVIX32_CALL AutoLinkCom(int* port) {
  const CallGuard guard;
  LinkState& s = link();
  const int first = (port && *port == 1) ? 1 : 0;
  const int second = 1 - first;
  bool probed = false;
  if (linkOnPort(first, &probed) == 0) {
    if (port) *port = first;
  } else if (linkOnPort(second, &probed) == 0) {
    if (port) *port = second;
  }
  // With no port open-able at either speed no probe ran: Status still holds
  // an older exchange's value, so say "no link" plainly.
  if (!probed) return 1;
  return s.Status;
}

extern "C" ORVIX32_API int ORVIX32_CALL UnLinkCom(void) {
  const CallGuard guard;
  return unlinkComImpl();
}
