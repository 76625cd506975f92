// Web Serial backend of the serial port layer (the WebAssembly build).
//
// A page's serial ports live in JavaScript (navigator.serial); the module's
// `orvixSerial` object (wasm/js/serial.mjs) keeps them by name and this file
// reaches it through small JavaScript imports. Port names are the ones the
// page registered there; "COM1" … "COM10" name the same ports by index.
// Waits for bytes, for a full write queue and for pauses suspend the
// WebAssembly call (Asyncify) and return to the browser's event loop, so the
// page stays live and a cancel from it lands at once.
// The read and write time-outs follow the serial driver's rules the link is
// written for, as the POSIX backend does.
#if defined(__EMSCRIPTEN__)

#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "link/serial_port.h"

// clang-format off
// orvixSerial.claim: >0 = the port's id; 0 = no such port; -1 = in use.
EM_JS(int, orvix_js_claim, (const char* name), {
  return Module.orvixSerial.claim(UTF8ToString(name));
});
// Opens (or reopens) the port at the bit rate, 8N1, no flow control.
EM_ASYNC_JS(int, orvix_js_set_line, (int id, int baud), {
  return await Module.orvixSerial.setLine(id, baud) ? 1 : 0;
});
// Moves up to count received bytes into buf; returns how many.
EM_JS(int, orvix_js_take, (int id, unsigned char* buf, int count), {
  const bytes = Module.orvixSerial.take(id, count);
  HEAPU8.set(bytes, buf);
  return bytes.length;
});
// Waits until bytes are in, ms pass or a wake comes: 1, 0; -1 = the port is gone.
EM_ASYNC_JS(int, orvix_js_wait, (int id, int ms), {
  return await Module.orvixSerial.wait(id, ms);
});
// Queues count bytes for the line: count; -1 = the queue is full; 0 = failed.
EM_JS(int, orvix_js_write, (int id, const unsigned char* data, int count), {
  return Module.orvixSerial.write(id, HEAPU8.slice(data, data + count));
});
// Waits until the write queue takes more, at most ms: 1, 0 (time-out), -1 (gone).
EM_ASYNC_JS(int, orvix_js_write_ready, (int id, int ms), {
  return await Module.orvixSerial.writeReady(id, ms);
});
EM_JS(int, orvix_js_purge, (int id), { return Module.orvixSerial.purge(id) ? 1 : 0; });
EM_ASYNC_JS(int, orvix_js_release, (int id), {
  return await Module.orvixSerial.release(id) ? 1 : 0;
});
EM_ASYNC_JS(void, orvix_js_pause, (int ms), {
  await new Promise((resolve) => setTimeout(resolve, ms));
});
// Ends every wait in progress at once (a cancel was raised).
EM_JS(void, orvix_js_wake, (), { Module.orvixSerial.wake(); });
// clang-format on

namespace orvix {

namespace {

double nowMs() { return emscripten_get_now(); }

int waitSlice(double ms) { return std::max(1, static_cast<int>(ms + 0.999)); }

class WebSerialPort final : public SerialPort {
 public:
  explicit WebSerialPort(int id) : id_(id) {}
  ~WebSerialPort() override {
    if (id_ > 0) close();
  }

  // The line is always 8N1 without flow control; only the speed is taken.
  bool buildLine(const char* modeText) override { return id_ > 0 && modeText; }

  bool applyLine(int rateValue) override {
    // The reader runs at 57600 when the fast rate value 56000 is asked for.
    const int baud = rateValue == 56000 ? 57600 : rateValue;
    if (baud != 57600 && baud != 9600) return false;
    return id_ > 0 && orvix_js_set_line(id_, baud) == 1;
  }

  bool setTimeouts(const Timeouts& t) override {
    t_ = t;
    return id_ > 0;
  }
  bool setQueues(int inBytes, int outBytes) override {
    return id_ > 0 && inBytes > 0 && outBytes > 0;
  }
  bool purge() override { return id_ > 0 && orvix_js_purge(id_) == 1; }
  bool clearErrors() override { return id_ > 0; }
  bool setEventMaskNone() override { return id_ > 0; }

  std::size_t write(const std::uint8_t* data, std::size_t count) override {
    if (id_ <= 0 || count == 0) return 0;
    const double deadline =
        nowMs() + t_.writeConstant + static_cast<double>(count) * t_.writeMultiplier;
    for (;;) {
      const int n = orvix_js_write(id_, data, static_cast<int>(count));
      if (n >= 0) return static_cast<std::size_t>(n);
      const double left = deadline - nowMs();
      if (left <= 0 || cancelled()) return 0;
      if (orvix_js_write_ready(id_, waitSlice(left)) < 0 || cancelled()) return 0;
    }
  }

  std::size_t read(std::uint8_t* buffer, std::size_t count) override {
    if (id_ <= 0 || count == 0) return 0;
    std::size_t got = take(buffer, count);
    if (got == count) return got;
    const double deadline =
        nowMs() + t_.readConstant + static_cast<double>(count) * t_.readMultiplier;
    double lastByte = got ? nowMs() : 0;
    while (got < count) {
      const double now = nowMs();
      double wait = deadline - now;
      if (got > 0 && t_.readInterval > 0) wait = std::min(wait, lastByte + t_.readInterval - now);
      if (wait <= 0 || cancelled()) break;
      if (orvix_js_wait(id_, waitSlice(wait)) < 0 || cancelled()) break;
      if (const std::size_t n = take(buffer + got, count - got)) {
        got += n;
        lastByte = nowMs();
      }
    }
    return got;
  }

  bool close() override {
    if (id_ <= 0) return false;
    const int id = id_;
    id_ = 0;
    return orvix_js_release(id) == 1;
  }

 private:
  std::size_t take(std::uint8_t* out, std::size_t want) {
    return static_cast<std::size_t>(orvix_js_take(id_, out, static_cast<int>(want)));
  }

  int id_;
  Timeouts t_{};
};

class WebSerialPorts final : public PortSystem {
 public:
  SerialPort* open(int index) override {
    return openDevice(deviceFor(index), false, nullptr, nullptr);
  }

  SerialPort* openDevice(const std::string& name, bool, OpenError* why,
                         const CancelSignal*) override {
    OpenError ignored;
    OpenError& error = why ? *why : ignored;
    const int id = name.empty() ? 0 : orvix_js_claim(name.c_str());
    error = id > 0 ? OpenError::None : id < 0 ? OpenError::Busy : OpenError::NoPort;
    return id > 0 ? new WebSerialPort(id) : nullptr;
  }

  void pause(int milliseconds) override { orvix_js_pause(std::max(0, milliseconds)); }
};

}  // namespace

// No network ports in a page: every port is one the page was granted.
bool isNetworkPortName(const char*) { return false; }
bool isNetworkPortUrl(const char*) { return false; }
SerialPort* openNetworkPort(const char*, const CancelSignal*, OpenError* why) {
  if (why) *why = OpenError::NoPort;
  return nullptr;
}

// The page runs one thread: the flag alone is the signal, and raising it
// ends the wait in progress.
CancelSignal::CancelSignal() { usable_ = true; }
CancelSignal::~CancelSignal() = default;
void CancelSignal::raise() noexcept {
  flag_.store(true, std::memory_order_release);
  orvix_js_wake();
}
void CancelSignal::clear() noexcept { flag_.store(false, std::memory_order_release); }

PortSystem& systemPorts() {
  static WebSerialPorts system;
  return system;
}

}  // namespace orvix

#endif  // __EMSCRIPTEN__
