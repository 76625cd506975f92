#include "core/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace readersim {

namespace {

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

long long nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Median time from a write on the slave to the read on the master, with the
// reading thread blocked in poll() as the service thread is.
long long measureDelivery(int master, int slave) {
  std::vector<long long> v;
  unsigned char b = 0x5A, in[64];
  for (int i = 0; i < 15; ++i) {
    long long t0 = nowNs();
    if (::write(slave, &b, 1) != 1) break;
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 100) != 1) break;
    long long t1 = nowNs();
    while (::read(master, in, sizeof in) > 0) {
    }
    v.push_back(t1 - t0);
  }
  tcflush(slave, TCIOFLUSH);
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return std::min(v[v.size() / 2], 1'000'000LL);  // never more than 1 ms
}

}  // namespace

int speedFromTermios(unsigned speedCode) {
  switch (speedCode) {
    case B50:
      return 50;
    case B75:
      return 75;
    case B110:
      return 110;
    case B134:
      return 134;
    case B150:
      return 150;
    case B200:
      return 200;
    case B300:
      return 300;
    case B600:
      return 600;
    case B1200:
      return 1200;
    case B1800:
      return 1800;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    case B230400:
      return 230400;
    default:
      return 0;
  }
}

PtyLine::~PtyLine() { close(); }

bool PtyLine::open(const std::string& linkPath, std::string& error) {
  close();
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m < 0) {
    error = errnoText("posix_openpt");
    return false;
  }
  if (grantpt(m) != 0 || unlockpt(m) != 0) {
    error = errnoText("grantpt/unlockpt");
    ::close(m);
    return false;
  }
  char name[PATH_MAX];
  if (ptsname_r(m, name, sizeof name) != 0) {
    error = errnoText("ptsname_r");
    ::close(m);
    return false;
  }
  int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (s < 0) {
    error = errnoText("open pty slave");
    ::close(m);
    return false;
  }
  // A raw line from the start (the host programs its own settings; the speed
  // stays at the pty's default, which the reader does not answer at, until
  // the host sets one).
  termios t{};
  if (tcgetattr(s, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(s, TCSANOW, &t);
  }
  int flags = fcntl(m, F_GETFL);
  fcntl(m, F_SETFL, flags | O_NONBLOCK);
  deliveryNs_ = measureDelivery(m, s);

  // Point the link at the slave: a temporary link renamed over the old one,
  // so the path never points nowhere while it is replaced.
  struct stat st {};
  if (lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = linkPath + " exists and is not a symbolic link";
    ::close(s);
    ::close(m);
    return false;
  }
  std::string tmp = linkPath + ".new" + std::to_string(getpid());
  ::unlink(tmp.c_str());
  if (::symlink(name, tmp.c_str()) != 0) {
    error = errnoText(("symlink " + tmp).c_str());
    ::close(s);
    ::close(m);
    return false;
  }
  if (::rename(tmp.c_str(), linkPath.c_str()) != 0) {
    error = errnoText(("rename to " + linkPath).c_str());
    ::unlink(tmp.c_str());
    ::close(s);
    ::close(m);
    return false;
  }
  master_ = m;
  slave_ = s;
  slaveName_ = name;
  link_ = linkPath;
  return true;
}

void PtyLine::close() {
  if (!link_.empty()) {
    // Only remove the link when it is still ours (a replug elsewhere may have
    // replaced it).
    char target[PATH_MAX];
    ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
    if (n >= 0) {
      target[n] = '\0';
      if (slaveName_ == target) ::unlink(link_.c_str());
    }
    link_.clear();
  }
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
  slaveName_.clear();
}

int PtyLine::unread() const {
  int n = 0;
  return slave_ >= 0 && ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
}

int PtyLine::speed() const {
  if (slave_ < 0) return 0;
  termios t{};
  if (tcgetattr(slave_, &t) != 0) return 0;
  return speedFromTermios(static_cast<unsigned>(cfgetospeed(&t)));
}

}  // namespace readersim
