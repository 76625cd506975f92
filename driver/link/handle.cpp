// The reader handle interface's own functions: opening and closing a reader,
// cancel, transactions, traces, and the texts of the result codes.
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "link/reader.h"

namespace orvix {
namespace {

// "COM1" … "COM10" (any case): the port index; -1 for any other name.
int comIndex(const char* port) {
  if (std::strlen(port) < 4 || std::strlen(port) > 5) return -1;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) return -1;
  int n = 0;
  for (const char* p = port + 3; *p; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return -1;
    n = n * 10 + (*p - '0');
  }
  return (port[3] != '0' && n >= 1 && n <= 10) ? n - 1 : -1;
}

int openResult(OpenError e) {
  switch (e) {
    case OpenError::Busy:
      return ORVIX_PORT_BUSY;
    case OpenError::Permission:
      return ORVIX_PERMISSION_DENIED;
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
  if (!probed) return openResult(s.LastOpenError);
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

const char* resultText(int code) {
  static const char* const kLinkErrors[] = {
      "sync byte not written",     "no answer to sync",       "answer to sync not 0x45",
      "command byte not written",  "length byte not written", "command data not written",
      "checksum byte not written", "no acknowledge",          "acknowledge not 0x67",
      "poll byte not written",     "no status byte",          "no length byte",
      "response data short",       "no checksum byte",        "checksum mismatch",
  };
  static const char* const kOwn[] = {
      "no status word in the reply",
      "cancelled",
      "buffer too small",
      "no such port",
      "port busy",
      "permission denied",
      "reader not held by this thread",
      "internal error",
  };
  if (code == 0) return "success";
  if (code == kBadArgument) return "bad argument";
  if (code >= kSyncNotWritten && code <= kChecksumMismatch) return kLinkErrors[code - 101];
  if (code >= ORVIX_NO_STATUS_WORD && code <= ORVIX_INTERNAL_ERROR)
    return kOwn[code - ORVIX_NO_STATUS_WORD];
  return "reader status";
}

}  // namespace orvix

using namespace orvix;

extern "C" {

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
    auto* r = new orvix_reader();
    LinkState& s = r->state;
    const int index = comIndex(port);
    s.PortIndex = index < 0 ? 0 : index;
    s.Device = index < 0 ? std::string(port) : ports(s).deviceFor(index);
    s.PortName = index < 0 ? std::string(port) : "COM" + std::to_string(index + 1);
    s.LowLatency = opts.low_latency == 1;
    s.SpeedPolicy = opts.speed;
    if (r->cancel.usable()) s.Cancel = &r->cancel;
    const int result = s.Device.empty() ? ORVIX_NO_PORT : linkReader(*r);
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
    if (reader->running.load() > 0) reader->cancel.raise();
    {
      const std::lock_guard<std::recursive_mutex> hold(reader->lock);
      closeReader(*reader, &result);
    }
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
    reader->lock.lock();
  } catch (...) {
    return kInternalError;
  }
  reader->holder.store(std::this_thread::get_id());
  ++reader->holdDepth;
  return 0;
}

ORVIX32_API int ORVIX32_CALL orvix_end(orvix_reader* reader) {
  if (!reader) return kBadArgument;
  if (reader->holder.load() != std::this_thread::get_id() || reader->holdDepth == 0)
    return ORVIX_NOT_HELD;
  if (--reader->holdDepth == 0) reader->holder.store(std::thread::id{});
  reader->lock.unlock();
  return 0;
}

ORVIX32_API const char* ORVIX32_CALL orvix_strerror(int code) { return resultText(code); }

ORVIX32_API const char* ORVIX32_CALL orvix_port_name(orvix_reader* reader) {
  return reader ? reader->state.PortName.c_str() : nullptr;
}

ORVIX32_API int ORVIX32_CALL orvix_baud_rate(orvix_reader* reader) {
  if (!reader) return 0;
  return onReader(reader, [](LinkState& s) { return s.BaudInUse; });
}

ORVIX32_API int ORVIX32_CALL orvix_relink(orvix_reader* reader) {
  return onReader(reader, [&](LinkState&) { return linkReader(*reader); });
}

ORVIX32_API int ORVIX32_CALL orvix_set_trace_file(orvix_reader* reader, const char* path) {
  int result = kBadArgument;
  if (reader)
    result = onReader(reader, [&](LinkState& s) {
      if (!path) {
        s.OwnTrace.close();
        return 0;
      }
      return s.OwnTrace.openFile(path) ? 0 : ORVIX_NO_PORT;
    });
  return result;
}

ORVIX32_API int ORVIX32_CALL orvix_set_trace_callback(orvix_reader* reader,
                                                      orvix_trace_callback callback, void* user) {
  return onReader(reader, [&](LinkState& s) {
    s.Callback = callback;
    s.CallbackUser = user;
    return 0;
  });
}

}  // extern "C"
