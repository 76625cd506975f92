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
  return openFile(name);
}

bool Trace::openFile(const char* name) {
  close();
  if (std::strcmp(name, "-") == 0) {
    fd_ = 2;
    ownFd_ = false;
  } else {
    fd_ = openAppend(name);
    ownFd_ = fd_ >= 0;
  }
  headerPort_.clear();
  headerSpeed_ = -1;
  return fd_ >= 0;
}

void Trace::close() {
  if (fd_ >= 0 && ownFd_) closeFd(fd_);
  fd_ = -1;
  ownFd_ = false;
}

std::string Trace::statusName(std::uint8_t status) {
  if (status == 0) return "ok";
  // A link error's letter is its code as a character: 101 is 'e'.
  if (isLinkError(status))
    return std::string(1, static_cast<char>(status)) + " " + resultText(status);
  return "reader status";
}

void Trace::write(const char* text, std::size_t n) {
  if (fd_ < 0 || writeAll(fd_, text, n)) return;
  if (ownFd_) closeFd(fd_);
  fd_ = -1;
}

void Trace::end(const Recording& r, const char* port, int lineSpeed, std::uint8_t cmd,
                std::uint8_t status) {
  using namespace std::chrono;
  if (fd_ < 0) return;
  const double tookMs = r.elapsedMs();
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

  std::string line;
  line.reserve(160 + 3 * (r.sentLen + r.recvLen));
  char buf[128];
  if (port != headerPort_ || lineSpeed != headerSpeed_) {
    std::snprintf(buf, sizeof buf, "# ORVIX32 trace version=%d port=", kTraceFormatVersion);
    line += buf;
    line += port;
    std::snprintf(buf, sizeof buf, " speed=%d library=%s\n", lineSpeed, ORVIX32_VERSION_TEXT);
    line += buf;
    headerPort_ = port;
    headerSpeed_ = lineSpeed;
  }
  std::snprintf(buf, sizeof buf, "%s.%03d ", stamp, static_cast<int>(ms));
  line += buf;
  line += port;
  std::snprintf(buf, sizeof buf, " cmd %02X >", cmd);
  line += buf;
  for (std::size_t i = 0; i < r.sentLen; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", r.sentBytes[i]);
    line += buf;
  }
  line += " <";
  for (std::size_t i = 0; i < r.recvLen; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", r.recvBytes[i]);
    line += buf;
  }
  std::snprintf(buf, sizeof buf, " status %u (%s) %.1f ms\n", status, statusName(status).c_str(),
                tookMs);
  line += buf;
  write(line.data(), line.size());
}

}  // namespace orvix
