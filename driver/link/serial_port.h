// The serial port layer: one small interface, one backend per operating
// system. The link code above it never sees a file descriptor or a HANDLE.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orvix {

// Read and write time-outs of an open port, in the serial driver's terms:
// a read of k bytes gives up after readConstant + k * readMultiplier ms in
// all, or after readInterval ms of silence between two bytes; a write of k
// bytes must finish within writeConstant + k * writeMultiplier ms.
struct Timeouts {
  int readInterval = 200;
  int readMultiplier = 1;
  int readConstant = 100;
  int writeMultiplier = 1;
  int writeConstant = 100;
};

// A request to stop the transfer in progress on one reader's port. Raised
// from any thread or from a signal handler (an atomic flag and, on POSIX, one
// byte into a non-blocking pipe the port's waits also watch); cleared by the
// reader's own thread once the call has ended.
class CancelSignal {
 public:
  CancelSignal();
  ~CancelSignal();
  CancelSignal(const CancelSignal&) = delete;
  CancelSignal& operator=(const CancelSignal&) = delete;
  // False when the pipe could not be made (the signal then cannot be used).
  bool usable() const { return usable_; }
  void raise() noexcept;
  bool raised() const noexcept { return flag_.load(std::memory_order_acquire); }
  void clear() noexcept;
  // POSIX: the descriptor that becomes readable when the signal is raised.
  int waitHandle() const { return fds_[0]; }

 private:
  std::atomic<bool> flag_{false};
  int fds_[2] = {-1, -1};
  bool usable_ = false;
};

// Why a port could not be opened.
enum class OpenError {
  None,
  NoPort,       // no such device, or the console
  Busy,         // held by another program
  Permission,   // not for this user
  NotSerial,    // not a serial device
  Refused,      // network: the server refused the connection
  NotResolved,  // network: the host name was not found
  TimedOut,     // network: no server accepted the connection in time
  NotRfc2217,   // network: the server refused or ignored port control
  ServerBusy,   // network: the server's port is held by another client
  Dropped,      // network: the server closed the connection without a word
};

// One open serial port. Every operation reports failure by its result and
// never throws.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // The reader's cancel signal: a raised signal ends a read or write at once
  // with what was transferred so far. nullptr: transfers cannot be cancelled.
  void setCancel(const CancelSignal* cancel) { cancel_ = cancel; }

  // Turns the port's mode text ("COM1: baud=9600 parity=N data=8 stop=1")
  // into line settings: 8N1, binary, no flow control.
  virtual bool buildLine(const char* modeText) = 0;
  // Applies the line settings with the given rate value (56000 or 9600).
  virtual bool applyLine(int rateValue) = 0;
  virtual bool setTimeouts(const Timeouts& t) = 0;
  virtual bool setQueues(int inBytes, int outBytes) = 0;
  // Aborts pending transfers and empties both directions.
  virtual bool purge() = 0;
  // Reads and resets the port's error flags.
  virtual bool clearErrors() = 0;
  // Waits for no line events.
  virtual bool setEventMaskNone() = 0;
  // Writes count bytes within the write time-out; returns the number written.
  virtual std::size_t write(const std::uint8_t* data, std::size_t count) = 0;
  // Reads up to count bytes within the read time-outs; returns the number read.
  virtual std::size_t read(std::uint8_t* buffer, std::size_t count) = 0;
  // Closes the port. After a successful close the object is finished.
  virtual bool close() = 0;
  // The URL of a network port (for the trace); nullptr for a local one.
  virtual const char* url() const { return nullptr; }
  // Whether applyLine changes the line speed on the open port (a local
  // port, RFC 2217), or leaves it to a server (raw TCP).
  virtual bool setsSpeed() const { return true; }
  // Whether a relink may change the speed on this open port instead of
  // closing it and opening it again (RFC 2217: a new connection would find
  // the server still holding the device).
  virtual bool relinksInPlace() const { return false; }
  // Why the port stopped working, when it can tell (a server that closed
  // the connection saying its port is in use); None otherwise.
  virtual OpenError lostBecause() const { return OpenError::None; }

 protected:
  bool cancelled() const { return cancel_ && cancel_->raised(); }
  const CancelSignal* cancel_ = nullptr;
};

// What the link needs from the operating system besides an open port: opening
// a port by index and pausing the calling thread. Unit tests substitute a
// scripted system so that nothing sleeps whole seconds.
class PortSystem {
 public:
  virtual ~PortSystem() = default;
  // Opens "COM<index+1>" for reading and writing, exclusively, existing
  // device only. Returns nullptr when the port is missing or busy.
  virtual SerialPort* open(int index) = 0;
  virtual void pause(int milliseconds) = 0;
  // The device port index i stands for ("" = no such port).
  virtual std::string deviceFor(int index) { return "COM" + std::to_string(index + 1); }
  // Opens a device by name as open() opens a port, asking for low latency
  // when lowLatency is set; on failure returns nullptr and says why. A
  // network port's connect gives up when cancel is raised.
  virtual SerialPort* openDevice(const std::string& device, bool lowLatency, OpenError* why,
                                 const CancelSignal* cancel) {
    (void)device;
    (void)lowLatency;
    (void)cancel;
    if (why) *why = OpenError::NoPort;
    return nullptr;
  }
  // Whether openDevice would try the device, found without opening it:
  // None, or why it would be refused (the console, a missing device, no
  // serial device, no permission). A busy port is found only by opening.
  virtual OpenError check(const std::string& device) {
    (void)device;
    return OpenError::None;
  }
};

// The operating system's serial ports (POSIX or Win32 backend).
PortSystem& systemPorts();

// Port names that are URLs: "tcp://HOST:PORT" (a raw byte stream) and
// "rfc2217://HOST:PORT" (Telnet with COM Port Control).
bool isNetworkPortName(const char* name);
// Whether name is a well-formed network port URL.
bool isNetworkPortUrl(const char* name);
// Connects to a serial device server (within 3 s; a raised cancel gives up
// at once). Returns nullptr when the URL is malformed or the server refused
// or did not answer, and says why in *why (when given).
SerialPort* openNetworkPort(const char* url, const CancelSignal* cancel = nullptr,
                            OpenError* why = nullptr);

#if !defined(_WIN32)
// The serial driver's low-latency flag of an open port (TIOCGSERIAL and
// TIOCSSERIAL, ASYNC_LOW_LATENCY). USB serial adapters then pass received
// bytes on at once instead of after their latency timer. Unit tests
// substitute their own to see the requests.
class LatencyControl {
 public:
  virtual ~LatencyControl() = default;
  // Reads the flag; false when the port's driver does not support it.
  virtual bool get(int fd, bool& lowLatency) = 0;
  // Sets or clears the flag; false when the driver refused.
  virtual bool set(int fd, bool lowLatency) = 0;
};
// nullptr puts the serial driver's own control back.
void setLatencyControl(LatencyControl* control);
#endif

}  // namespace orvix
