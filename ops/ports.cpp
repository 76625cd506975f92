// The port doctor. One verdict per serial device: ok, busy, no permission,
// silent, console or missing. The console is never opened; a device the
// library refuses (orvix_port_check) is never opened; a device another
// process holds is never written to.
#include "orvix/ops/ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "orvix.h"
#include "orvix/ops/args.h"
#include "orvix/ops/error.h"

namespace orvix::ops {

namespace {

using Port = PortReport;

std::string env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

bool charDevice(const std::string& path, struct stat& st) {
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// The devices of the system console: /dev/console, the active list, and the
// entries of ORVIX_CONSOLE_LIST (a file of names or paths), which adds to
// them and never replaces them.
std::set<dev_t> consoleDevices() {
  std::set<dev_t> out;
  struct stat st {};
  auto add = [&](const std::string& word) {
    const std::string path = word.empty() || word[0] == '/' ? word : "/dev/" + word;
    if (charDevice(path, st)) out.insert(st.st_rdev);
  };
  add("/dev/console");
  for (const std::string& list :
       {std::string("/sys/class/tty/console/active"), env("ORVIX_CONSOLE_LIST", "")}) {
    std::ifstream in(list);
    std::string word;
    while (in >> word) add(word);
  }
  return out;
}

std::string comm(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/comm");
  std::string name;
  std::getline(in, name);
  return (name.empty() ? "process" : name) + " (pid " + pid + ")";
}

// The index of a pseudo-terminal slave device, or -1.
int ptyIndex(dev_t rdev) {
  const unsigned m = major(rdev);
  return m >= 136 && m <= 143 ? static_cast<int>((m - 136) * 256 + minor(rdev)) : -1;
}

// Whether the process's open file fd is the master of pseudo-terminal index.
bool holdsMaster(const std::string& pid, const char* fd, int index) {
  std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
  for (std::string word; info >> word;)
    if (word == "tty-index:" && info >> word) return word == std::to_string(index);
  return false;
}

// Other processes that have the device open (as far as /proc lets us see),
// leaving out one that holds a pseudo-terminal's master: that is the device
// end of the line, not a second user.
std::vector<std::string> openers(dev_t rdev) {
  std::vector<std::string> names;
  const std::string self = std::to_string(getpid());
  const int index = ptyIndex(rdev);
  DIR* proc = opendir("/proc");
  if (!proc) return names;
  while (dirent* e = readdir(proc)) {
    const std::string pid = e->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (!fds) continue;
    bool holds = false, device = false;
    while (dirent* f = readdir(fds)) {
      struct stat st {};
      if (f->d_name[0] == '.' || stat((fdDir + "/" + f->d_name).c_str(), &st) != 0 ||
          !S_ISCHR(st.st_mode))
        continue;
      holds = holds || st.st_rdev == rdev;
      device = device || (index >= 0 && holdsMaster(pid, f->d_name, index));
    }
    closedir(fds);
    if (holds && !device) names.push_back(comm(pid));
  }
  closedir(proc);
  return names;
}

// Who holds the device: the owners of a lock on it first, then every other
// process with it open.
std::string holders(const std::string& path) {
  struct stat dev {};
  if (stat(path.c_str(), &dev) != 0) return {};
  std::vector<std::string> names;
  std::ifstream locks("/proc/locks");
  std::string line;
  char id[32];
  std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(dev.st_dev), minor(dev.st_dev),
                static_cast<unsigned long>(dev.st_ino));
  while (std::getline(locks, line)) {
    std::istringstream f(line);
    std::string n, kind, adv, mode, pid, where;
    f >> n >> kind >> adv >> mode >> pid >> where;
    if (kind == "->") continue;
    if (where == id) names.push_back(comm(pid));
  }
  if (!names.empty()) return "held by " + names.front();
  names = openers(dev.st_rdev);
  if (names.empty()) return "held by another process";
  std::string out = "held by " + names.front();
  for (std::size_t i = 1; i < names.size(); ++i) out += ", " + names[i];
  return out;
}

std::string busyDetail(const std::string& path) {
  std::string d = holders(path);
  if (path.find("ttyACM") != std::string::npos)
    d += "; ModemManager often probes ttyACM devices: stop it or mark the device "
         "ID_MM_DEVICE_IGNORE=1";
  return d;
}

std::string permissionDetail(const struct stat& st) {
  // Only a device its group may open is opened by joining the group.
  if ((st.st_mode & 060) != 060) {
    const passwd* u = getpwuid(st.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "mode " + std::string(mode) + ", owned by " + (u ? u->pw_name : "another user") +
           ": only its owner may open it (a udev rule can give it a group)";
  }
  const group* g = getgrgid(st.st_gid);
  const std::string name = g ? g->gr_name : "dialout";
  return "owned by group " + name + ": sudo usermod -aG " + name + " \"$USER\", then log in again";
}

// Opens the device without writing to it, to tell a port held by someone
// else from one that does not answer. Returns the verdict or empty when the
// port is free. A device the library would refuse is not opened.
std::string precheck(Port& p, const struct stat& st) {
  switch (orvix_port_check(p.path.c_str())) {
    case 0:
      break;
    case ORVIX_NOT_SERIAL:
      return p.detail = "not a serial device (never opened)", "missing";
    case ORVIX_PERMISSION_DENIED:
      return p.detail = permissionDetail(st), "no permission";
    default:
      return "missing";
  }
  const int fd = ::open(p.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM) return p.detail = permissionDetail(st), "no permission";
    if (errno == EBUSY) return p.detail = busyDetail(p.path), "busy";
    p.detail = std::strerror(errno);
    return "missing";
  }
  int exclusive = 0;
  const bool held =
      (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) || flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  // Another process reading the line would take the reader's answers: a
  // port open elsewhere is never probed.
  if (held || !openers(st.st_rdev).empty()) return p.detail = busyDetail(p.path), "busy";
  return {};
}

void diagnose(Port& p, const std::set<dev_t>& console, const PortProbe& probe) {
  if (isNetworkPort(p.path)) return probe(p);  // a network port
  struct stat st {};
  if (stat(p.path.c_str(), &st) != 0) {
    p.verdict = errno == EACCES ? "no permission" : "missing";
    return;
  }
  if (!S_ISCHR(st.st_mode)) {
    p.verdict = "missing";
    p.detail = "not a character device";
    return;
  }
  if (console.count(st.st_rdev)) {
    p.verdict = "console";
    p.detail = "the system console: refused, never probed";
    return;
  }
  if (!(p.verdict = precheck(p, st)).empty()) return;
  probe(p);
}

}  // namespace

// The reader on the port, through a reader opened on it: its speed, module
// number and firmware, or why there is none (no server at a network port's
// address, no reader answering).
void probeReader(PortReport& p) {
  orvix_reader* r = nullptr;
  if (const int result = orvix_open(p.path.c_str(), nullptr, &r); result != 0) {
    const bool net = isNetworkPort(p.path);
    if (isLinkError(result)) {
      p.verdict = "silent";
      p.detail = net ? "connected, no reader answered at 57600 or 9600 bit/s"
                     : "opened at 57600 and 9600 bit/s, no reader answered";
    } else {
      p.verdict = net                                 ? "unreachable"
                  : result == ORVIX_PORT_BUSY         ? "busy"
                  : result == ORVIX_PERMISSION_DENIED ? "no permission"
                                                      : "missing";
      p.detail = net ? "no server accepted the connection within 3 s" : orvix_strerror(result);
    }
    return;
  }
  unsigned char module[4] = {}, version[8] = {};
  const int m = orvix_mifare_module(r, module, sizeof module);
  const int v = orvix_device_version(r, version, sizeof version);
  const int speed = orvix_baud_rate(r);
  orvix_close(r);
  std::string fw;
  for (unsigned char c : version) fw += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : ' ';
  p.verdict = "ok";
  p.detail = std::to_string(speed) + " bit/s, module " +
             (m == 0 ? std::to_string(module[0] | module[1] << 8) : "?") + ", firmware " +
             (v == 0 ? fw.substr(0, fw.find_last_not_of(' ') + 1) : "?");
}

std::vector<PortReport> examinePorts(const PortProbe& probe, const PortProbe& known,
                                     const std::vector<std::string>& extra) {
  std::vector<Port> ports;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "COM" + std::to_string(i + 1);
    char device[4096] = "";
    orvix_port_device(name.c_str(), device, sizeof device);  // "" when mapped to nothing
    ports.push_back({name, device, "", ""});
  }
  std::istringstream globs(
      env("ORVIX_PORTS_SCAN", "/dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*"));
  for (std::string pattern; globs >> pattern;) {
    glob_t g{};
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0)
      for (std::size_t i = 0; i < g.gl_pathc; ++i) ports.push_back({"-", g.gl_pathv[i], "", ""});
    globfree(&g);
  }
  for (const auto& name : extra) ports.push_back({"-", name, "", ""});
  const auto console = consoleDevices();
  std::vector<std::pair<std::string, std::string>> seen;  // real path, first name
  for (auto& p : ports) {
    char real[PATH_MAX];
    const std::string canon = realpath(p.path.c_str(), real) ? real : p.path;
    for (const auto& [path, name] : seen)
      if (path == canon) p.verdict = "same device as " + name;
    if (!p.verdict.empty()) continue;
    seen.push_back({canon, p.name == "-" ? p.path : p.name});
    if (!known || (known(p), p.verdict.empty())) diagnose(p, console, probe);
  }
  return ports;
}

std::string portTrouble(const std::string& path) {
  Port p{"", path, "", ""};
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::string("missing: ") + std::strerror(errno);
  if (!S_ISCHR(st.st_mode)) return "missing: not a character device";
  if (consoleDevices().count(st.st_rdev)) return "the system console: refused, never probed";
  const std::string verdict = precheck(p, st);
  return verdict.empty() ? "" : verdict + (p.detail.empty() ? "" : ": " + p.detail);
}

}  // namespace orvix::ops
