#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace files {

namespace {

// Temporary files of the write in progress, for the signal handler.
constexpr int kMaxTemps = 8;
char gTemps[kMaxTemps][4096];
volatile std::sig_atomic_t gTempCount = 0;

void onSignal(int sig) {
  for (int i = 0; i < gTempCount; ++i) ::unlink(gTemps[i]);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string reason(int err) { return std::strerror(err); }

const char* kindOf(mode_t m) {
  if (S_ISDIR(m)) return "a directory";
  if (S_ISFIFO(m)) return "a FIFO";
  if (S_ISCHR(m) || S_ISBLK(m)) return "a device";
  if (S_ISSOCK(m)) return "a socket";
  if (S_ISLNK(m)) return "a symbolic link";
  return "not a plain file";
}

std::string tooLarge(unsigned long long size, std::size_t limit) {
  return "too large (" + std::to_string(size) + " bytes; at most " + std::to_string(limit) + ")";
}

bool writeFd(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR)
      return false;
  }
  return true;
}

}  // namespace

bool readAll(const std::string& path, std::size_t limit, std::string& out, std::string& error) {
  out.clear();
  const bool stdinput = path == "-";
  const int fd =
      stdinput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + reason(errno);
    return false;
  }
  struct stat st {};
  std::string why;
  if (fstat(fd, &st) != 0)
    why = reason(errno);
  else if (!stdinput && S_ISDIR(st.st_mode))
    why = reason(EISDIR);
  else if (!stdinput && !S_ISREG(st.st_mode))
    why = std::string("not a regular file (") + kindOf(st.st_mode) + ")";
  else if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > limit)
    why = tooLarge(static_cast<unsigned long long>(st.st_size), limit);
  char buf[65536];
  while (why.empty()) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno != EINTR) why = reason(errno);
      continue;
    }
    if (out.size() + static_cast<std::size_t>(n) > limit)
      why = tooLarge(out.size() + static_cast<std::size_t>(n), limit);
    else
      out.append(buf, static_cast<std::size_t>(n));
  }
  if (!stdinput) ::close(fd);
  if (why.empty()) return true;
  error = path + ": " + why;
  out.clear();
  return false;
}

bool sameTarget(const std::string& a, const std::string& b) {
  auto canonical = [](const std::string& p) {
    const auto slash = p.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : p.substr(0, slash + 1);
    char real[PATH_MAX];
    return (::realpath(dir.c_str(), real) ? std::string(real) : dir) + "/" +
           p.substr(slash == std::string::npos ? 0 : slash + 1);
  };
  return a == b || canonical(a) == canonical(b);
}

bool checkTarget(const std::string& path, std::string& error) {
  struct stat st {};
  errno = 0;
  if (path == "-") return true;
  if (path.empty() || path.back() == '/') {
    error = path + ": " + reason(EISDIR);
    return false;
  }
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = path + ": " + kindOf(st.st_mode) + ", not a regular file; not replaced";
    return false;
  }
  if (errno != 0 && errno != ENOENT) {
    error = path + ": " + reason(errno);
    return false;
  }
  // The temporary file is made in the same folder: it must take one.
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    error = path + ": cannot write in its folder: " + reason(errno);
    return false;
  }
  return true;
}

bool writeAll(const std::vector<Output>& outputs, std::string& error) {
  struct Temp {
    std::string path;
    const Output* out;
  };
  std::vector<Temp> temps;
  auto dropTemps = [&] {
    for (const auto& t : temps) ::unlink(t.path.c_str());
    gTempCount = 0;
  };
  // Every target is checked before anything is written; two outputs to one
  // file would lose the first.
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (!checkTarget(outputs[i].path, error)) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (sameTarget(outputs[i].path, outputs[j].path)) {
        error = outputs[i].path + ": named for two outputs";
        return false;
      }
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (const auto& o : outputs) {
    if (o.path == "-") continue;
    const auto slash = o.path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : o.path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? o.path : o.path.substr(slash + 1);
    std::string name = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
      error = o.path + ": cannot create a file beside it: " + reason(errno);
      dropTemps();
      return false;
    }
    temps.push_back({name, &o});
    if (gTempCount < kMaxTemps && name.size() < sizeof gTemps[0]) {
      std::memcpy(gTemps[gTempCount], name.c_str(), name.size() + 1);
      gTempCount = gTempCount + 1;
    }
    // Keys stay the owner's; other files keep the mode of the file they
    // replace, or get the usual one.
    struct stat old {};
    mode_t mode = 0666 & ~mask;
    if (!o.secret && ::stat(o.path.c_str(), &old) == 0) mode = old.st_mode & 07777;
    const bool ok =
        ::fchmod(fd, o.secret ? 0600 : mode) == 0 && writeFd(fd, o.bytes) && ::fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 || !ok) {
      error = o.path + ": " + reason(ok ? errno : err);
      dropTemps();
      return false;
    }
  }
  for (const auto& o : outputs)
    if (o.path == "-" && !writeFd(STDOUT_FILENO, o.bytes)) {
      error = "standard output: " + reason(errno);
      dropTemps();
      return false;
    }
  for (std::size_t i = 0; i < temps.size(); ++i)
    if (::rename(temps[i].path.c_str(), temps[i].out->path.c_str()) != 0) {
      error = temps[i].out->path + ": " + reason(errno);
      for (std::size_t j = i; j < temps.size(); ++j) ::unlink(temps[j].path.c_str());
      gTempCount = 0;
      return false;
    }
  gTempCount = 0;
  // The renames themselves reach the disk with the folder.
  for (const auto& t : temps) {
    const auto slash = t.out->path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : t.out->path.substr(0, slash + 1);
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
  }
  return true;
}

void cleanUpOnSignals() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  // Every signal whose default ends the program (SIGXFSZ: a write past the
  // file size limit).
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXFSZ, SIGXCPU, SIGALRM, SIGUSR1,
                  SIGUSR2, SIGVTALRM, SIGPROF})
    sigaction(sig, &sa, nullptr);
}

}  // namespace files
