#include "link/trace.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "link/link_state.h"

#ifndef ORVIX32_VERSION_TEXT
#define ORVIX32_VERSION_TEXT "unknown"
#endif

namespace orvix {

namespace {

#if defined(_WIN32)
int openAppend(const char* name) {
  return _open(name, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}
bool writeAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const int k = _write(fd, p, static_cast<unsigned>(n));
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}
void closeFd(int fd) { _close(fd); }
#else
int openAppend(const char* name) {
  // Non-blocking: opening a FIFO without a reader fails at once (ENXIO)
  // instead of waiting for one, and a full pipe fails a write (EAGAIN).
  return ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
}
// Writes everything or fails. SIGPIPE is blocked in the calling thread
// around the write, and a SIGPIPE the write raised is taken back before it
// is unblocked (one that was pending before is left to the host).
bool writeAll(int fd, const char* p, std::size_t n) {
  sigset_t pipeSet, old, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  sigemptyset(&pending);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
  sigpending(&pending);
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  bool ok = true;
  int error = 0;
  while (n > 0) {
    const ssize_t k = ::write(fd, p, n);
    if (k > 0) {
      p += k;
      n -= static_cast<std::size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    error = k < 0 ? errno : EIO;
    ok = false;
    break;
  }
  if (error == EPIPE && !pendingBefore) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}
void closeFd(int fd) { ::close(fd); }
#endif

}  // namespace

bool Trace::openFromEnvironment() {
  const char* name = std::getenv("ORVIX32_TRACE");
  if (!name || !*name) return false;
  if (std::strcmp(name, "-") == 0) {
    fd_ = 2;
    ownFd_ = false;
  } else {
    fd_ = openAppend(name);
    ownFd_ = fd_ >= 0;
  }
  return fd_ >= 0;
}

const char* Trace::statusName(std::uint8_t status) {
  static const char* const kNames[] = {
      "e sync byte not written",     "f no answer to sync",       "g answer to sync not 0x45",
      "h command byte not written",  "i length byte not written", "j command data not written",
      "k checksum byte not written", "l no acknowledge",          "m acknowledge not 0x67",
      "n poll byte not written",     "o no status byte",          "p no length byte",
      "q response data short",       "r no checksum byte",        "s checksum mismatch",
  };
  if (status == 0) return "ok";
  if (isLinkError(status)) return kNames[status - kSyncNotWritten];
  return "reader status";
}

void Trace::begin() {
  sentLen_ = 0;
  recvLen_ = 0;
  start_ = std::chrono::steady_clock::now();
}

void Trace::write(const char* text, std::size_t n) {
  if (fd_ < 0 || writeAll(fd_, text, n)) return;
  if (ownFd_) closeFd(fd_);
  fd_ = -1;
}

void Trace::end(std::int32_t portIndex, int lineSpeed, std::uint8_t cmd, std::uint8_t status,
                const char* url) {
  using namespace std::chrono;
  if (fd_ < 0) return;
  const double tookMs = duration<double, std::milli>(steady_clock::now() - start_).count();
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#if defined(_WIN32)
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);

  // Port numbers are printed as index + 1 in a wider type: any int index
  // (LinkCom takes any) prints without overflow.
  const long long port = static_cast<long long>(portIndex) + 1;
  std::string line;
  line.reserve(160 + 3 * (sentLen_ + recvLen_));
  char buf[128];
  // URLs are at most 255 characters (longer ones are never opened).
  char urlNow[sizeof headerUrl_];
  std::snprintf(urlNow, sizeof urlNow, "%s", url ? url : "");
  if (port != headerPort_ || lineSpeed != headerSpeed_ || std::strcmp(urlNow, headerUrl_) != 0) {
    std::snprintf(buf, sizeof buf, "# ORVIX32 trace version=%d port=COM%lld", kTraceFormatVersion,
                  port);
    line += buf;
    if (*urlNow) line += std::string(" url=") + urlNow;
    std::snprintf(buf, sizeof buf, " speed=%d library=%s\n", lineSpeed, ORVIX32_VERSION_TEXT);
    line += buf;
    headerPort_ = port;
    headerSpeed_ = lineSpeed;
    std::memcpy(headerUrl_, urlNow, sizeof headerUrl_);
  }
  std::snprintf(buf, sizeof buf, "%s.%03d COM%lld cmd %02X >", stamp, static_cast<int>(ms), port,
                cmd);
  line += buf;
  for (std::size_t i = 0; i < sentLen_; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", sent_[i]);
    line += buf;
  }
  line += " <";
  for (std::size_t i = 0; i < recvLen_; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", recv_[i]);
    line += buf;
  }
  std::snprintf(buf, sizeof buf, " status %u (%s) %.1f ms\n", status, statusName(status), tookMs);
  line += buf;
  write(line.data(), line.size());
}

}  // namespace orvix
