// net_bench: block reads paced at 57600 bit/s on the reader's pty directly
// and through ser2net on loopback (raw TCP and RFC 2217), in one run.
//
// For each road: the wall time of N block reads over their wire time (bytes
// on the line both ways x 10 bits / 57600), and the time each exchange takes
// beyond the same exchange on the pty. The difference is what a serial
// device server adds to every exchange's turnaround before any network
// latency: on Wi-Fi or the Internet the round trips of that network add on
// top (an exchange waits on the reader three times).
//
// Needs ser2net on the PATH. usage: net_bench [--quick]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "block_module.h"
#include "core/simulator.h"
#include "orvix32.h"

namespace {

using bench::BlockModule;

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int freePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), len);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

}  // namespace

// ser2net holds received bytes back to gather more unless told not to.
const char kOptions[] = "  options:\n    chardelay: false\n";

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int n = quick ? 50 : 500;
  const int baud = 57600;
  // host: 23 | B9 01 05 sum | 89; reader: 45 | 67 | 00 10 <16> sum
  const double wire = (6 + 21) * 10.0 / baud;

  readersim::Simulator sim;
  sim.addModule(std::make_unique<BlockModule>());
  if (!sim.start()) {
    std::fprintf(stderr, "net_bench: no pseudo-terminal\n");
    return 1;
  }
  sim.setPaced(true);
  const int raw = freePort(), rfc = freePort();
  const std::string dir = sim.path().substr(0, sim.path().rfind('/'));
  const std::string conf = dir + "/ser2net.yaml";
  std::ofstream(conf) << "connection: &raw\n  accepter: tcp(nodelay),127.0.0.1," << raw
                      << "\n  connector: serialdev," << sim.path() << ",57600n81,local\n"
                      << kOptions
                      << "connection: &rfc\n  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,"
                      << rfc << "\n  connector: serialdev," << sim.path() << ",57600n81,local\n"
                      << kOptions;
  const pid_t server = fork();
  if (server == 0) {
    freopen("/dev/null", "w", stderr);
    execlp("ser2net", "ser2net", "-n", "-c", conf.c_str(), "-P", (dir + "/pid").c_str(), nullptr);
    _exit(127);
  }
  sleep(1);
  for (int i = 2; i <= 10; ++i)
    setenv(("ORVIX32_COM" + std::to_string(i)).c_str(), "/nonexistent/net-bench", 1);

  const std::string roads[][2] = {
      {"pty", sim.path()},
      {"tcp:// (ser2net)", "tcp://127.0.0.1:" + std::to_string(raw)},
      {"rfc2217:// (ser2net)", "rfc2217://127.0.0.1:" + std::to_string(rfc)}};
  std::printf("net_bench: %d block reads (0xB9, 16 bytes back) paced at %d bit/s, best of 3\n", n,
              baud);
  std::printf("  %-22s %12s %14s %12s %18s\n", "road", "time (ms)", "wire limit (ms)", "wall/wire",
              "vs pty (ms/exch)");
  double ptyPer = 0;
  int status = 0;
  for (const auto& [name, port] : roads) {
    setenv("ORVIX32_COM1", port.c_str(), 1);
    if (LinkCom(0) != 0) {
      std::printf("  %-22s no link\n", name.c_str());
      status = 1;
      continue;
    }
    unsigned char block[16];
    for (int i = 0; i < 10; ++i) RFMifare_Read(5, block);  // warm up
    double best = 0;
    int failures = 0;
    for (int round = 0; round < 3; ++round) {
      const double t0 = now();
      for (int i = 0; i < n; ++i) failures += RFMifare_Read(5, block) != 0;
      const double t = now() - t0;
      if (round == 0 || t < best) best = t;
    }
    const double per = best / n;
    if (ptyPer == 0) ptyPer = per;
    std::printf("  %-22s %12.1f %14.1f %12.3f %18.3f%s\n", name.c_str(), best * 1e3, wire * n * 1e3,
                per / wire, (per - ptyPer) * 1e3, failures ? "  (failures!)" : "");
    status |= failures != 0;
    UnLinkCom();
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  sim.stop();
  return status;
}
