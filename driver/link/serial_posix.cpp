// POSIX backend of the serial port layer (termios).
//
// Port index i opens the device named by ORVIX32_COM<i+1>, else /dev/ttyS<i>;
// a variable that is set but empty means the port does not exist; one that
// holds a URL (tcp://, rfc2217://) reaches a serial device server.
// An opened port is asked for the serial driver's low-latency mode (best
// effort; ORVIX32_LOW_LATENCY=0 leaves the port as it is), and the flag is
// put back as it was found when the port is closed.
// The read time-outs follow the serial driver's rules the link is written
// for: a read of k bytes returns when k bytes are in, after
// readConstant + k * readMultiplier ms in all, or after readInterval ms of
// silence between two bytes, whichever comes first.
#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/serial_port.h"

namespace orvix {

namespace {

long long nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// True when path is the active system console (or one of its devices): a
// reader port is never opened there.
bool isConsole(const char* path) {
  struct stat target {};
  if (stat(path, &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  auto same = [&](const std::string& dev) {
    struct stat st {};
    return stat(dev.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev;
  };
  if (same("/dev/console")) return true;
  if (std::FILE* f = std::fopen("/sys/class/tty/console/active", "r")) {
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (got) {
      for (char* tok = std::strtok(line, " \t\n"); tok; tok = std::strtok(nullptr, " \t\n"))
        if (same(std::string("/dev/") + tok)) return true;
    }
  }
  return false;
}

// False for a path that is certainly no serial port: not a character device,
// or one whose kernel class is not tty. Such a device is never opened, since
// opening some devices acts (a watchdog starts counting down). A device the
// system does not describe (a pseudo-terminal) may be tried.
bool mayBeSerial(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) return true;  // the open reports why
  if (!S_ISCHR(st.st_mode)) return false;
#if defined(__linux__)
  char link[64], target[512];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(st.st_rdev),
                minor(st.st_rdev));
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return true;
  target[n] = '\0';
  const char* base = std::strrchr(target, '/');
  return std::strcmp(base ? base + 1 : target, "tty") == 0;
#else
  return true;
#endif
}

// The serial driver's low-latency flag (false when the driver has none).
bool driverGetLatency(int fd, bool& lowLatency) {
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  serial_struct ss{};
  if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  lowLatency = (ss.flags & static_cast<int>(ASYNC_LOW_LATENCY)) != 0;
  return true;
#else
  (void)fd;
  (void)lowLatency;
  return false;
#endif
}

bool driverSetLatency(int fd, bool lowLatency) {
#if defined(TIOCSSERIAL) && defined(ASYNC_LOW_LATENCY)
  serial_struct ss{};
  if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  if (lowLatency)
    ss.flags |= static_cast<int>(ASYNC_LOW_LATENCY);
  else
    ss.flags &= ~static_cast<int>(ASYNC_LOW_LATENCY);
  return ioctl(fd, TIOCSSERIAL, &ss) == 0;
#else
  (void)fd;
  (void)lowLatency;
  return false;
#endif
}

// A substitute set by tests; nullptr = the serial driver's own flag.
LatencyControl* latencyOverride = nullptr;

bool getLatency(int fd, bool& on) {
  return latencyOverride ? latencyOverride->get(fd, on) : driverGetLatency(fd, on);
}
bool setLatency(int fd, bool on) {
  return latencyOverride ? latencyOverride->set(fd, on) : driverSetLatency(fd, on);
}

// Asks for low latency on an opened port; true when the flag was set here
// (and so must be cleared again at close).
bool requestLowLatency(int fd) {
  if (const char* v = std::getenv("ORVIX32_LOW_LATENCY"); v && std::strcmp(v, "0") == 0)
    return false;
  bool on = false;
  if (!getLatency(fd, on) || on) return false;
  return setLatency(fd, true);
}

speed_t speedFor(int rateValue) {
  switch (rateValue) {
    case 56000:  // the fast rate value; POSIX has no 56000, the reader runs at 57600
    case 57600:
      return B57600;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

class PosixPort final : public SerialPort {
 public:
  PosixPort(int fd, bool restoreLatency) : fd_(fd), restoreLatency_(restoreLatency) {}
  ~PosixPort() override {
    if (fd_ >= 0) close();
  }

  bool buildLine(const char* modeText) override {
    if (tcgetattr(fd_, &tio_) != 0) return false;
    // "COMn: baud=9600 parity=N data=8 stop=1": the reader's framing is 8N1.
    int baud = 9600, data = 8, stop = 1;
    char parity = 'N';
    if (const char* colon = std::strchr(modeText, ':')) {
      for (const char* p = colon + 1; *p;) {
        while (*p == ' ') ++p;
        if (std::sscanf(p, "baud=%d", &baud) == 1 || std::sscanf(p, "data=%d", &data) == 1 ||
            std::sscanf(p, "stop=%d", &stop) == 1 || std::sscanf(p, "parity=%c", &parity) == 1) {
        }
        while (*p && *p != ' ') ++p;
      }
    }
    if (data != 8 || stop != 1 || (parity != 'N' && parity != 'n')) return false;
    cfmakeraw(&tio_);
    tio_.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio_.c_cflag |= CS8 | CLOCAL | CREAD;
    tio_.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio_.c_cc[VMIN] = 0;
    tio_.c_cc[VTIME] = 0;
    const speed_t sp = speedFor(baud);
    return sp != B0 && cfsetispeed(&tio_, sp) == 0 && cfsetospeed(&tio_, sp) == 0;
  }

  bool applyLine(int rateValue) override {
    const speed_t sp = speedFor(rateValue);
    if (sp == B0 || cfsetispeed(&tio_, sp) != 0 || cfsetospeed(&tio_, sp) != 0) return false;
    return tcsetattr(fd_, TCSANOW, &tio_) == 0;
  }

  bool setTimeouts(const Timeouts& t) override {
    if (fd_ < 0) return false;
    t_ = t;
    return true;
  }

  bool setQueues(int inBytes, int outBytes) override {
    return fd_ >= 0 && inBytes > 0 && outBytes > 0;
  }

  bool purge() override {
    rxHead_ = rxTail_ = 0;
    return fd_ >= 0 && tcflush(fd_, TCIOFLUSH) == 0;
  }

  bool clearErrors() override { return fd_ >= 0 && fcntl(fd_, F_GETFL) != -1; }

  bool setEventMaskNone() override { return fd_ >= 0 && fcntl(fd_, F_GETFL) != -1; }

  std::size_t write(const std::uint8_t* data, std::size_t count) override {
    if (fd_ < 0 || count == 0) return 0;
    const long long deadline =
        nowMs() + t_.writeConstant + static_cast<long long>(count) * t_.writeMultiplier;
    std::size_t done = 0;
    int cfd = cancelFd();
    while (done < count) {
      const ssize_t n = ::write(fd_, data + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
      const long long left = deadline - nowMs();
      if (left <= 0 || cancelled()) break;
      pollfd p[2] = {{fd_, POLLOUT, 0}, {cfd, POLLIN, 0}};
      if (poll(p, 2, static_cast<int>(left)) <= 0 || (p[0].revents & (POLLERR | POLLHUP)) ||
          cancelled())
        break;
      if (p[1].revents) cfd = -1;  // a byte left from a cancel already cleared
    }
    return done;
  }

  std::size_t read(std::uint8_t* buffer, std::size_t count) override {
    if (fd_ < 0 || count == 0) return 0;
    std::size_t got = takeQueued(buffer, count);
    if (got == count) return got;
    const long long deadline =
        nowMs() + t_.readConstant + static_cast<long long>(count) * t_.readMultiplier;
    long long lastByte = got ? nowMs() : 0;
    int cfd = cancelFd();
    while (got < count) {
      // Wait first: a byte that is already in makes poll return at once.
      const long long now = nowMs();
      long long wait = deadline - now;
      if (got > 0 && t_.readInterval > 0) wait = std::min(wait, lastByte + t_.readInterval - now);
      if (wait <= 0 || cancelled()) break;
      pollfd p[2] = {{fd_, POLLIN, 0}, {cfd, POLLIN, 0}};
      const int r = poll(p, 2, static_cast<int>(wait));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0 || cancelled()) break;
      if (p[1].revents) cfd = -1;  // a byte left from a cancel already cleared
      if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
      // Take whatever has arrived into the receive queue, then hand out what
      // was asked for; the rest waits for the next read (as in a driver queue).
      const ssize_t n = ::read(fd_, rx_, sizeof rx_);
      if (n > 0) {
        rxHead_ = 0;
        rxTail_ = static_cast<std::size_t>(n);
        got += takeQueued(buffer + got, count - got);
        lastByte = nowMs();
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      break;  // hang-up (0) or a line that went away (EIO)
    }
    return got;
  }

  bool close() override {
    if (fd_ < 0) return false;
    // A process forked from the opener shares the open port with it: its
    // close lets go of its own descriptor only, and the opener keeps the
    // exclusive mode, the lock and the low-latency flag.
    if (getpid() == opener_) {
      if (restoreLatency_) setLatency(fd_, false);
      ioctl(fd_, TIOCNXCL);
      flock(fd_, LOCK_UN);
    }
    restoreLatency_ = false;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 || errno == EINTR;
  }

 private:
  // The cancel pipe to watch beside the port (-1, ignored by poll, if none).
  int cancelFd() const { return cancel_ ? cancel_->waitHandle() : -1; }

  std::size_t takeQueued(std::uint8_t* out, std::size_t want) {
    const std::size_t n = std::min(want, rxTail_ - rxHead_);
    std::memcpy(out, rx_ + rxHead_, n);
    rxHead_ += n;
    return n;
  }

  int fd_;
  bool restoreLatency_;  // the low-latency flag was set at open
  const pid_t opener_ = getpid();
  termios tio_{};
  Timeouts t_{};
  // Receive queue: bytes that came in with an earlier read, in order.
  std::uint8_t rx_[512];
  std::size_t rxHead_ = 0;
  std::size_t rxTail_ = 0;
};

class PosixPorts final : public PortSystem {
 public:
  SerialPort* open(int index) override {
    return openDevice(deviceFor(index), true, nullptr, nullptr);
  }

  SerialPort* openDevice(const std::string& path, bool lowLatency, OpenError* why,
                         const CancelSignal* cancel) override {
    OpenError ignored;
    OpenError& error = why ? *why : ignored;
    error = OpenError::NoPort;
    if (isNetworkPortName(path.c_str())) {
      SerialPort* port = openNetworkPort(path.c_str(), cancel, &error);
      if (port) error = OpenError::None;
      return port;
    }
    if ((error = check(path)) != OpenError::None) return nullptr;
    error = OpenError::NoPort;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno == EACCES || errno == EPERM) error = OpenError::Permission;
      if (errno == EBUSY) error = OpenError::Busy;
      return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
      error = OpenError::NotSerial;
      ::close(fd);
      return nullptr;
    }
    // Exclusive: TIOCEXCL keeps other openers out (except root); the advisory
    // lock also keeps out a second opener running as root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
      error = OpenError::Busy;
      ::close(fd);
      return nullptr;
    }
    // Never descriptor 0, 1 or 2: with a standard stream closed the port
    // would take its number, and whatever the host writes there (a trace on
    // standard error) would go down the line.
    if (fd <= 2) {
      const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
      ::close(fd);
      if (moved < 0) return nullptr;
      fd = moved;
    }
    error = OpenError::None;
    return new PosixPort(fd, lowLatency && requestLowLatency(fd));
  }

  OpenError check(const std::string& path) override {
    if (isNetworkPortName(path.c_str())) return OpenError::None;  // known only by connecting
    if (path.empty() || isConsole(path.c_str())) return OpenError::NoPort;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
      return errno == EACCES ? OpenError::Permission : OpenError::NoPort;
    if (!mayBeSerial(path.c_str())) return OpenError::NotSerial;
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0)
      return errno == EACCES || errno == EPERM || errno == EROFS ? OpenError::Permission
                                                                 : OpenError::NoPort;
    return OpenError::None;
  }

  void pause(int milliseconds) override {
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

  std::string deviceFor(int index) override {
    const std::string var = "ORVIX32_COM" + std::to_string(index + 1);
    if (const char* p = std::getenv(var.c_str())) return p;  // "" = no such port
    return "/dev/ttyS" + std::to_string(index);
  }
};

}  // namespace

void setLatencyControl(LatencyControl* control) { latencyOverride = control; }

CancelSignal::CancelSignal() {
  if (pipe(fds_) != 0) return;
  for (const int fd : fds_) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  usable_ = true;
}

CancelSignal::~CancelSignal() {
  for (const int fd : fds_)
    if (fd >= 0) ::close(fd);
}

void CancelSignal::raise() noexcept {
  flag_.store(true, std::memory_order_release);
  const int saved = errno;  // may run in a signal handler
  const char one = 1;
  if (fds_[1] >= 0 && ::write(fds_[1], &one, 1) < 0) {
    // A full pipe already wakes every wait.
  }
  errno = saved;
}

void CancelSignal::clear() noexcept {
  flag_.store(false, std::memory_order_release);
  char drain[64];
  while (fds_[0] >= 0 && ::read(fds_[0], drain, sizeof drain) > 0) {
  }
}

PortSystem& systemPorts() {
  // Stateless, so it needs no destruction at unload.
  static PosixPorts system;
  return system;
}

}  // namespace orvix

#endif  // !_WIN32
