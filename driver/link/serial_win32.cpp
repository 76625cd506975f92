// Win32 backend of the serial port layer (the communications API).
//
// Port index i opens "\\.\COM<i+1>": the device-namespace form, which also
// reaches COM10 and above (the plain name works only for COM1 … COM9);
// an ORVIX32_COM<i+1> that holds a URL reaches a serial device server
// instead. The port is opened exclusively and overlapped; every transfer has
// its own zeroed completion record without an event object and is waited for
// on the port handle itself.
#if defined(_WIN32)

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/serial_port.h"

namespace orvix {

namespace {

DWORD toDword(int value) { return value < 0 ? 0 : static_cast<DWORD>(value); }

// How often a pending transfer looks at the cancel signal.
constexpr DWORD kCancelSliceMs = 2;

class Win32Port final : public SerialPort {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) {}
  ~Win32Port() override {
    if (handle_ != INVALID_HANDLE_VALUE) close();
  }
  Win32Port(const Win32Port&) = delete;
  Win32Port& operator=(const Win32Port&) = delete;

  bool buildLine(const char* modeText) override {
    // The mode text changes only the fields it names; start from a binary
    // line without flow control and with DTR and RTS raised, as the reader
    // expects, so nothing is left from an earlier owner of the port.
    dcb_ = DCB{};
    dcb_.DCBlength = sizeof(DCB);
    dcb_.fBinary = TRUE;
    dcb_.fDtrControl = DTR_CONTROL_ENABLE;
    dcb_.fRtsControl = RTS_CONTROL_ENABLE;
    if (!BuildCommDCBA(modeText, &dcb_)) return false;
    // 8N1 binary without any flow control, whatever the mode text said
    // about the keywords it does not contain.
    dcb_.fBinary = TRUE;
    dcb_.fOutxCtsFlow = FALSE;
    dcb_.fOutxDsrFlow = FALSE;
    dcb_.fDsrSensitivity = FALSE;
    dcb_.fOutX = FALSE;
    dcb_.fInX = FALSE;
    return true;
  }

  bool applyLine(int rateValue) override {
    dcb_.BaudRate = toDword(rateValue);
    return SetCommState(handle_, &dcb_) != FALSE;
  }

  bool setTimeouts(const Timeouts& t) override {
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = toDword(t.readInterval);
    ct.ReadTotalTimeoutMultiplier = toDword(t.readMultiplier);
    ct.ReadTotalTimeoutConstant = toDword(t.readConstant);
    ct.WriteTotalTimeoutMultiplier = toDword(t.writeMultiplier);
    ct.WriteTotalTimeoutConstant = toDword(t.writeConstant);
    return SetCommTimeouts(handle_, &ct) != FALSE;
  }

  bool setQueues(int inBytes, int outBytes) override {
    return SetupComm(handle_, toDword(inBytes), toDword(outBytes)) != FALSE;
  }

  bool purge() override {
    // All four flags (15): abort both directions and empty both queues.
    return PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) !=
           FALSE;
  }

  bool clearErrors() override {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(handle_, &errors, &status) != FALSE;
  }

  bool setEventMaskNone() override { return SetCommMask(handle_, 0) != FALSE; }

  std::size_t write(const std::uint8_t* data, std::size_t count) override {
    return transfer(
        [&](DWORD* done, OVERLAPPED* ov) {
          return WriteFile(handle_, data, static_cast<DWORD>(count), done, ov);
        },
        count);
  }

  std::size_t read(std::uint8_t* buffer, std::size_t count) override {
    return transfer(
        [&](DWORD* done, OVERLAPPED* ov) {
          return ReadFile(handle_, buffer, static_cast<DWORD>(count), done, ov);
        },
        count);
  }

  bool close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    if (!CloseHandle(handle_)) return false;
    handle_ = INVALID_HANDLE_VALUE;
    return true;
  }

 private:
  // One overlapped transfer, the same for both directions: line errors are
  // cleared before and after (and discarded); a pending transfer is waited
  // for until it ends, the time-outs bounding it. Returns the byte count.
  template <class Start>
  std::size_t transfer(Start start, std::size_t count) {
    if (handle_ == INVALID_HANDLE_VALUE || count == 0 || cancelled()) return 0;
    // Transfers are a few bytes long; a count the API cannot express is refused.
    if (count > MAXDWORD) return 0;
    clearErrors();
    OVERLAPPED ov{};
    DWORD done = 0;
    if (!start(&done, &ov)) {
      const DWORD error = GetLastError();
      done = 0;
      if (error == ERROR_IO_PENDING) {
        for (;;) {
          // Waits in short slices so that a cancel ends the transfer at once.
          if (GetOverlappedResultEx(handle_, &ov, &done, kCancelSliceMs, FALSE)) break;
          const DWORD waitError = GetLastError();
          if (waitError == WAIT_TIMEOUT || waitError == ERROR_IO_INCOMPLETE) {
            if (cancelled()) CancelIoEx(handle_, &ov);
            continue;
          }
          if (waitError == ERROR_OPERATION_ABORTED) break;
          // Wine ends a read that timed out with no byte as ERROR_TIMEOUT:
          // that is a silent line (0 bytes), as on Windows, not a fault.
          // Any other error ends the wait with what was transferred.
          if (waitError != ERROR_TIMEOUT) clearErrors();
          break;
        }
      }
      // Any other immediate failure (including an immediate ERROR_TIMEOUT)
      // transferred nothing.
    }
    clearErrors();
    return done > count ? count : static_cast<std::size_t>(done);
  }

  HANDLE handle_;
  DCB dcb_{};
};

class Win32Ports final : public PortSystem {
 public:
  SerialPort* open(int index) override {
    // Only COM1 … COM10 are reader ports; nothing else is ever opened.
    if (index < 0 || index > 9) return nullptr;
    char name[32];
    std::snprintf(name, sizeof name, "ORVIX32_COM%d", index + 1);
    if (const char* url = std::getenv(name); url && isNetworkPortName(url))
      return openNetworkPort(url);
    return openDevice(deviceFor(index), true, nullptr, nullptr);
  }
  // A port variable that holds a URL names a network port; any other port
  // is the system's COMn.
  std::string deviceFor(int index) override {
    char name[32];
    std::snprintf(name, sizeof name, "ORVIX32_COM%d", index + 1);
    if (const char* url = std::getenv(name); url && isNetworkPortName(url)) return url;
    return "\\\\.\\COM" + std::to_string(index + 1);
  }
  SerialPort* openDevice(const std::string& device, bool, OpenError* why,
                         const CancelSignal* cancel) override {
    if (isNetworkPortName(device.c_str())) {
      OpenError ignored = OpenError::None;
      SerialPort* port = openNetworkPort(device.c_str(), cancel, why ? why : &ignored);
      if (port && why) *why = OpenError::None;
      return port;
    }
    // Not shared (exclusive), existing device only, overlapped.
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (why)
        *why = error == ERROR_ACCESS_DENIED       ? OpenError::Busy
               : error == ERROR_SHARING_VIOLATION ? OpenError::Busy
                                                  : OpenError::NoPort;
      return nullptr;
    }
    if (why) *why = OpenError::None;
    return new Win32Port(h);
  }
  void pause(int milliseconds) override { Sleep(toDword(milliseconds)); }
};

}  // namespace

CancelSignal::CancelSignal() { usable_ = true; }
CancelSignal::~CancelSignal() = default;
void CancelSignal::raise() noexcept { flag_.store(true, std::memory_order_release); }
void CancelSignal::clear() noexcept { flag_.store(false, std::memory_order_release); }

PortSystem& systemPorts() {
  // Stateless, so it needs no destruction at unload.
  static Win32Ports system;
  return system;
}

}  // namespace orvix

#endif  // _WIN32
