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
// ser2net runs with bench/ser2net.yaml, the README's configuration
// (tcp(nodelay), chardelay: false). Needs ser2net on the PATH.
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
#include <thread>

#include "block_module.h"
#include "core/simulator.h"
#include "orvix.h"
#include "ser2net_config.h"

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

bool accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return up;
}

}  // namespace

const char kUsage[] =
    "usage: net_bench [--quick]\n"
    "Block reads paced at 57600 bit/s on a simulated reader's pty, and through ser2net\n"
    "(bench/ser2net.yaml) over tcp:// and rfc2217:// on loopback: wall time over wire\n"
    "time and the time ser2net adds per exchange; then how long orvix_cancel takes to\n"
    "end a call on each road while the reader is silent. --quick: 50 reads, not 500.\n";

// Cancels a read on a silent reader on port; milliseconds until it returned.
double cancelLatency(readersim::Simulator& sim, const std::string& port) {
  orvix_reader* r = nullptr;
  if (orvix_open(port.c_str(), nullptr, &r) != 0) return -1;
  std::string out;
  sim.control({"fault", "silent", "count=all"}, out);
  double cancelledAt = 0, returnedAt = 0;
  std::thread call([&] {
    unsigned char block[16];
    orvix_mifare_read(r, 5, block, sizeof block);
    returnedAt = now();
  });
  // The call is waiting on the silent reader once the sync byte went out.
  struct timespec pause {
    0, 50'000'000
  };  // the stimulus: a call well into its wait
  nanosleep(&pause, nullptr);
  cancelledAt = now();
  orvix_cancel(r);
  call.join();
  sim.control({"faults", "clear"}, out);
  orvix_close(r);
  return (returnedAt - cancelledAt) * 1e3;
}

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc > 2 || (argc == 2 && std::strcmp(argv[1], "--quick") != 0)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const bool quick = argc > 1;
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
  std::ofstream(conf) << ser2net::config(sim.path(), raw, rfc);
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
  // ser2net starts after the pty road: a connection makes it open the device,
  // and it must not read the reader's bytes while the pty road runs.
  pid_t server = 0;
  auto startServer = [&] {
    server = fork();
    if (server == 0) {
      freopen("/dev/null", "w", stderr);
      execlp("ser2net", "ser2net", "-n", "-c", conf.c_str(), "-P", (dir + "/pid").c_str(), nullptr);
      _exit(127);
    }
    // Up once both ports take connections (each such probe holds the device
    // a moment; the library's open waits for ser2net to let it go).
    for (int i = 0; i < 500 && !(accepts(raw) && accepts(rfc)); ++i) usleep(10'000);
  };
  for (const auto& [name, port] : roads) {
    if (!server && port != sim.path()) startServer();
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
  std::printf("  cancel of a read on a silent reader, returned after (ms):");
  for (const auto& [name, port] : roads)
    std::printf("  %s %.2f", name.c_str(), cancelLatency(sim, port));
  std::printf("\n");
  if (server > 0) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }
  sim.stop();
  return status;
}
