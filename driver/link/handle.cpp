// The reader handle interface's own functions: port names, opening and
// closing a reader, cancel, transactions, traces and queries.
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "link/reader.h"

namespace orvix {
namespace {

bool startsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
  return true;
}

// "COM1" … "COM10" (any case) or "0" … "9": the port index; -1 for a name
// that is no COM name at all; -2 for a malformed one (COM0, COM11, COM01,
// "10", "COMX").
int comIndex(const char* port) {
  const bool com = startsWithNoCase(port, "com");
  const char* digits = com ? port + 3 : port;
  if (!*digits && com) return -2;
  int n = 0;
  for (const char* p = digits; *p; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return com ? -2 : -1;
    if (p - digits > 3) return -2;
    n = n * 10 + (*p - '0');
  }
  const bool leadingZero = digits[0] == '0' && digits[1];
  if (com) return !leadingZero && n >= 1 && n <= 10 ? n - 1 : -2;
  return !leadingZero && n <= 9 ? n : -2;
}

}  // namespace

// The one mapping of a port name to what it opens (orvix_port_device): 0 and
// the device with its index (-1 for a path or URL), or the result code.
int portDevice(const char* name, std::string& device, int& index) {
  index = -1;
  if (!name || !*name) return kBadArgument;
  if (std::strstr(name, "://")) {
    if (!isNetworkPortUrl(name)) return kBadArgument;
    device = name;
    return 0;
  }
  index = comIndex(name);
  if (index == -2) return kBadArgument;
  if (index >= 0) {
    device = systemPorts().deviceFor(index);
    return device.empty() ? ORVIX_NO_PORT : 0;
  }
  if (!std::strpbrk(name, "/\\")) return kBadArgument;  // no COM name, no path
  device = name;
  return 0;
}

namespace {

int openResult(OpenError e) {
  switch (e) {
    case OpenError::Busy:
      return ORVIX_PORT_BUSY;
    case OpenError::Permission:
      return ORVIX_PERMISSION_DENIED;
    case OpenError::NotSerial:
      return ORVIX_NOT_SERIAL;
    case OpenError::Refused:
      return ORVIX_CONNECTION_REFUSED;
    case OpenError::NotResolved:
      return ORVIX_HOST_NOT_FOUND;
    case OpenError::TimedOut:
      return ORVIX_CONNECT_TIMED_OUT;
    case OpenError::NotRfc2217:
      return ORVIX_NOT_RFC2217;
    case OpenError::ServerBusy:
      return ORVIX_SERVER_BUSY;
    default:
      return ORVIX_NO_PORT;
  }
}

// Links a new reader as orvix_open and orvix_relink do.
int linkReader(orvix_reader& r) {
  LinkState& s = r.state;
  s.LastOpenError = OpenError::NoPort;
  bool probed = false;
  if (relinkImpl(s, false, &probed) == 0) return 0;
  if (!probed || s.LastOpenError != OpenError::None) return openResult(s.LastOpenError);
  if (s.FixedSpeed) return ORVIX_SPEED_NOT_SETTABLE;
  return isLinkError(s.Status) ? static_cast<int>(s.Status) : static_cast<int>(kNoReady);
}

void closeReader(orvix_reader& r, int* result) {
  LinkState& s = r.state;
  if (s.ComHandle) *result = unlinkComImpl(s, false) == 0 ? 0 : 1;
  if (s.ComHandle) {  // its close failed: let it go all the same
    delete s.ComHandle;
    s.ComHandle = nullptr;
  }
  s.Tracer.close();
  s.OwnTrace.close();
}

}  // namespace
}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX32_API int ORVIX32_CALL orvix_port_device(const char* name, char* path, int path_size) {
  if (!path || path_size < 0) return kBadArgument;
  try {
    std::string device;
    int index = -1;
    if (const int result = portDevice(name, device, index)) return result;
    if (device.size() + 1 > static_cast<std::size_t>(path_size)) return ORVIX_BUFFER_TOO_SMALL;
    std::memcpy(path, device.c_str(), device.size() + 1);
    return 0;
  } catch (...) {
    return kInternalError;
  }
}

ORVIX32_API int ORVIX32_CALL orvix_port_check(const char* name) {
  try {
    std::string device;
    int index = -1;
    if (const int result = portDevice(name, device, index)) return result;
    const OpenError why = systemPorts().check(device);
    return why == OpenError::None ? 0 : openResult(why);
  } catch (...) {
    return kInternalError;
  }
}

ORVIX32_API int ORVIX32_CALL orvix_open(const char* port, const orvix_options* options,
                                        orvix_reader** reader) {
  if (reader) *reader = nullptr;
  if (!port || !*port || !reader) return kBadArgument;
  const orvix_options opts = options ? *options : orvix_options{ORVIX_SPEED_AUTO, 1};
  if ((opts.speed != ORVIX_SPEED_AUTO && opts.speed != ORVIX_SPEED_57600 &&
       opts.speed != ORVIX_SPEED_9600) ||
      (opts.low_latency != 0 && opts.low_latency != 1))
    return kBadArgument;
  try {
    std::string device;
    int index = -1;
    if (const int result = portDevice(port, device, index)) return result;
    auto* r = new orvix_reader();
    LinkState& s = r->state;
    s.PortIndex = index < 0 ? 0 : index;
    s.Device = device;
    s.PortName = index < 0 ? std::string(port) : "COM" + std::to_string(index + 1);
    s.LowLatency = opts.low_latency == 1;
    s.SpeedPolicy = opts.speed;
    if (r->cancel.usable()) s.Cancel = &r->cancel;
    const int result = linkReader(*r);
    if (result != 0) {
      int ignored = 0;
      closeReader(*r, &ignored);
      delete r;
      return result;
    }
    *reader = r;
    return 0;
  } catch (...) {
    return kInternalError;
  }
}

ORVIX32_API int ORVIX32_CALL orvix_close(orvix_reader* reader) {
  if (!reader) return 0;
  int result = 0;
  try {
    std::unique_lock<std::mutex> lk(reader->m);
    const auto me = std::this_thread::get_id();
    // Another thread's call is cancelled and waited for; another thread's
    // transaction is not ours to end.
    while (reader->holder != std::thread::id{} && reader->holder != me) {
      if (reader->running.load() > 0)
        reader->cancel.raise();
      else if (reader->holdDepth > 0)
        return ORVIX_READER_HELD;
      reader->cv.wait_for(lk, std::chrono::milliseconds(2));
    }
    reader->closing = true;
    reader->holder = me;
    reader->cv.notify_all();
    reader->cv.wait(lk, [&] { return reader->waiters == 0; });
    lk.unlock();
    closeReader(*reader, &result);
    delete reader;
  } catch (...) {
    result = 1;
  }
  return result;
}

ORVIX32_API int ORVIX32_CALL orvix_cancel(orvix_reader* reader) {
  if (!reader) return kBadArgument;
  // Only atomics and one write: safe in a signal handler.
  if (reader->running.load() > 0) reader->cancel.raise();
  return 0;
}

ORVIX32_API int ORVIX32_CALL orvix_begin(orvix_reader* reader) {
  if (!reader) return kBadArgument;
  try {
    if (const int closed = acquire(*reader)) return closed;
    const std::lock_guard<std::mutex> lk(reader->m);
    ++reader->holdDepth;
    return 0;
  } catch (...) {
    return kInternalError;
  }
}

ORVIX32_API int ORVIX32_CALL orvix_end(orvix_reader* reader) {
  if (!reader) return kBadArgument;
  {
    const std::lock_guard<std::mutex> lk(reader->m);
    if (reader->holder != std::this_thread::get_id() || reader->holdDepth == 0)
      return ORVIX_NOT_HELD;
    --reader->holdDepth;
  }
  release(*reader);
  return 0;
}

ORVIX32_API const char* ORVIX32_CALL orvix_port_name(orvix_reader* reader) {
  return reader ? reader->state.PortName.c_str() : nullptr;
}

ORVIX32_API int ORVIX32_CALL orvix_baud_rate(orvix_reader* reader) {
  return queryReader(reader, 0, [](LinkState& s) { return s.ComHandle ? s.BaudInUse : 0; });
}

ORVIX32_API int ORVIX32_CALL orvix_may_have_changed(orvix_reader* reader) {
  return reader ? reader->mayHaveChanged.load() : 0;
}

ORVIX32_API int ORVIX32_CALL orvix_relink(orvix_reader* reader) {
  return onReader(
      reader, [&](LinkState&) { return linkReader(*reader); }, false);
}

ORVIX32_API int ORVIX32_CALL orvix_set_trace_file(orvix_reader* reader, const char* path) {
  if (!reader) return kBadArgument;
  return onReader(
      reader,
      [&](LinkState& s) {
        if (!path) {
          s.OwnTrace.close();
          return 0;
        }
        return s.OwnTrace.openFile(path) ? 0 : ORVIX_TRACE_NOT_OPENED;
      },
      false);
}

ORVIX32_API int ORVIX32_CALL orvix_set_trace_callback(orvix_reader* reader,
                                                      orvix_trace_callback callback, void* user) {
  return onReader(
      reader,
      [&](LinkState& s) {
        s.Callback = callback;
        s.CallbackUser = user;
        return 0;
      },
      false);
}

}  // extern "C"
