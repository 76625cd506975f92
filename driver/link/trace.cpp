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
#include <sys/stat.h>
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
long long regularSize(int fd) {
  struct _stat64 st {};
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFREG) ? st.st_size : -1;
}
bool replaceOlder(const char* name, const char* older) {
  struct _stat64 st {};
  if (_stat64(older, &st) == 0 && !(st.st_mode & _S_IFREG)) return false;
  std::remove(older);
  return std::rename(name, older) == 0;
}
#else
int openAppend(const char* name) {
  // Non-blocking: opening a FIFO without a reader fails at once (ENXIO)
  // instead of waiting for one, and a full pipe fails a write (EAGAIN).
  // 0600, as the lines hold every key sent; a symbolic link is refused
  // (O_NOFOLLOW), so a link planted at the name never points the keys
  // elsewhere.
  return ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
                0600);
}
// Writes everything or fails. SIGPIPE (reader gone) and SIGXFSZ (past the
// host's file-size limit) are blocked in the calling thread around the
// write, and one the write raised is taken back before they are unblocked
// (one that was pending before is left to the host).
bool writeAll(int fd, const char* p, std::size_t n) {
  sigset_t both, old, pending;
  sigemptyset(&both);
  sigaddset(&both, SIGPIPE);
  sigaddset(&both, SIGXFSZ);
  sigemptyset(&pending);
  pthread_sigmask(SIG_BLOCK, &both, &old);
  sigpending(&pending);
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
  const int raised = error == EPIPE ? SIGPIPE : error == EFBIG ? SIGXFSZ : 0;
  if (raised && sigismember(&pending, raised) != 1) {
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, raised);
    const timespec zero{0, 0};
    while (sigtimedwait(&one, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}
void closeFd(int fd) { ::close(fd); }
// The size of the file open as fd, or -1 when it is not a regular file.
long long regularSize(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : -1;
}
// Renames name to older, replacing an older regular file; only a regular
// file is ever renamed or replaced (a directory, a link or a device at
// either name is left alone, and tracing stops).
bool replaceOlder(const char* name, const char* older) {
  struct stat st {};
  if (lstat(name, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (lstat(older, &st) == 0 && !S_ISREG(st.st_mode)) return false;
  return ::rename(name, older) == 0;
}
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
    // Only a regular file is capped and renamed; a name too long to keep
    // is traced without a cap.
    size_ = fd_ >= 0 ? regularSize(fd_) : -1;
    if (size_ >= 0 && std::strlen(name) + 3 <= sizeof name_) std::strcpy(name_, name);
    const char* max = std::getenv("ORVIX32_TRACE_MAX");
    char* rest = nullptr;
    const long long v = max && *max >= '0' && *max <= '9' ? std::strtoll(max, &rest, 10) : 0;
    if (v > 0 && rest && !*rest) max_ = v;
  }
  headerPort_.clear();
  headerSpeed_ = -1;
  return fd_ >= 0;
}

void Trace::close() {
  if (fd_ >= 0 && ownFd_) closeFd(fd_);
  fd_ = -1;
  ownFd_ = false;
  size_ = -1;
  name_[0] = '\0';
}

bool Trace::rotate() {
  char older[sizeof name_ + 2];
  std::snprintf(older, sizeof older, "%s.1", name_);
  closeFd(fd_);
  fd_ = replaceOlder(name_, older) ? openAppend(name_) : -1;
  size_ = fd_ >= 0 ? regularSize(fd_) : -1;
  headerPort_.clear();  // the new file starts with a header line
  return fd_ >= 0;
}

std::string Trace::statusName(std::uint8_t status) {
  if (status == 0) return "ok";
  // A link error's letter is its code as a character: 101 is 'e'.
  if (isLinkError(status))
    return std::string(1, static_cast<char>(status)) + " " + resultText(status);
  return "reader status";
}

void Trace::write(const char* text, std::size_t n) {
  if (fd_ >= 0 && writeAll(fd_, text, n)) {
    if (size_ >= 0) size_ += static_cast<long long>(n);
    return;
  }
  if (fd_ >= 0 && ownFd_) closeFd(fd_);
  fd_ = -1;
}

void Trace::end(const Recording& r, const char* port, int lineSpeed, std::uint8_t cmd,
                std::uint8_t status, const char* url) {
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
  const std::string urlNow = url ? url : "";
  std::string header = "# ORVIX32 trace version=" + std::to_string(kTraceFormatVersion) +
                       " port=" + port + (urlNow.empty() ? "" : " url=" + urlNow) +
                       " speed=" + std::to_string(lineSpeed) +
                       " library=" ORVIX32_VERSION_TEXT "\n";
  bool newHeader = port != headerPort_ || lineSpeed != headerSpeed_ || urlNow != headerUrl_;
  const auto want = static_cast<long long>(line.size() + (newHeader ? header.size() : 0));
  // Past the cap the file becomes NAME.1 and the line opens a new file,
  // which starts with a header line.
  if (*name_ && size_ > 0 && size_ + want > max_) {
    if (!rotate()) return;
    newHeader = true;
  }
  if (newHeader) {
    line.insert(0, header);
    headerPort_ = port;
    headerSpeed_ = lineSpeed;
    headerUrl_ = urlNow;
  }
  write(line.data(), line.size());
}

}  // namespace orvix
