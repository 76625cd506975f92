// handle_bench: reader handles against in-process readersims (not a test; run
// by hand). Each figure is the best of three runs, the runs of compared
// figures taken in turn.
//
//   parallel  two readers on two ptys paced at 57600 bit/s, N block reads
//             each (0xB9, 16 bytes back) in two threads: the wall time
//             against one reader's N reads alone. Target: at most 1.1 x.
//   call cost unpaced, the calling thread's CPU per block read through the
//             handle (orvix_mifare_read) and through the flat export
//             (RFMifare_Read), each on its own reader.
//   cancel    a block read stalled by a reader that never acknowledges,
//             cancelled from another thread: the time from orvix_cancel to
//             the call's return (median and worst of 20). Target: 10 ms.
//   close     orvix_close and a new orvix_open of the same port.
//
// usage: handle_bench [--quick]   (--quick: fewer exchanges, for a smoke run)
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "block_module.h"
#include "core/simulator.h"
#include "orvix.h"

namespace {

using bench::BlockModule;

double nowSec(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::atomic<int> failures{0};

// n block reads on one reader; the wall time in s (cpu: the thread's CPU).
double reads(orvix_reader* r, int n, double* cpu = nullptr) {
  unsigned char block[16];
  const double w0 = nowSec(CLOCK_MONOTONIC), c0 = nowSec(CLOCK_THREAD_CPUTIME_ID);
  for (int i = 0; i < n; ++i) failures += orvix_mifare_read(r, 4, block, sizeof block) != 0;
  if (cpu) *cpu = nowSec(CLOCK_THREAD_CPUTIME_ID) - c0;
  return nowSec(CLOCK_MONOTONIC) - w0;
}

template <class F>
double best(F f) {
  double b = f();
  for (int i = 0; i < 2; ++i) b = std::min(b, f());
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int pacedN = quick ? 50 : 200, unpacedN = quick ? 500 : 5000;
  for (int i = 1; i <= 10; ++i)
    setenv(("ORVIX32_COM" + std::to_string(i)).c_str(), "/nonexistent/handle-bench", 1);

  readersim::Simulator sims[3];
  orvix_reader* readers[2] = {};
  for (int i = 0; i < 3; ++i) {
    sims[i].addModule(std::make_unique<BlockModule>());
    if (!sims[i].start()) {
      std::fprintf(stderr, "handle_bench: no pseudo-terminal\n");
      return 1;
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (int rc = orvix_open(sims[i].path().c_str(), nullptr, &readers[i])) {
      std::fprintf(stderr, "handle_bench: orvix_open: %s\n", orvix_strerror(rc));
      return 1;
    }
  }
  // The flat interface on the third reader.
  setenv("ORVIX32_COM1", sims[2].path().c_str(), 1);
  if (LinkCom(0) != 0) {
    std::fprintf(stderr, "handle_bench: LinkCom failed\n");
    return 1;
  }
  std::printf("handle_bench: ORVIX32 reader handles against readersim\n\n");

  unsigned char block[16];
  // Rounds alternate between the two, after a warm-up of each.
  auto flatReads = [&](int n) {
    const double c0 = nowSec(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 0; i < n; ++i) failures += RFMifare_Read(4, block) != 0;
    return nowSec(CLOCK_THREAD_CPUTIME_ID) - c0;
  };
  double handleCpu = 1e9, flatCpu = 1e9, cpu = 0;
  reads(readers[0], unpacedN / 10), flatReads(unpacedN / 10);
  for (int round = 0; round < 3; ++round) {
    reads(readers[0], unpacedN, &cpu);
    handleCpu = std::min(handleCpu, cpu);
    flatCpu = std::min(flatCpu, flatReads(unpacedN));
  }
  const double h = handleCpu / unpacedN * 1e6, f = flatCpu / unpacedN * 1e6;
  std::printf("call cost, unpaced (%d block reads, thread CPU per call)\n", unpacedN);
  std::printf("  handle  orvix_mifare_read %8.2f us\n", h);
  std::printf("  flat    RFMifare_Read     %8.2f us\n", f);
  std::printf("  handle over flat          %+8.2f us (%+.1f %%)\n\n", h - f, (h / f - 1) * 100);

  for (auto& s : sims) s.setPaced(true);
  reads(readers[0], 10), reads(readers[1], 10);  // warm up
  double alone = 1e9, both = 1e9;
  for (int round = 0; round < 3; ++round) {  // alternating, as the call cost
    alone = std::min(alone, reads(readers[0], pacedN));
    const double w0 = nowSec(CLOCK_MONOTONIC);
    std::thread other([&] { reads(readers[1], pacedN); });
    reads(readers[0], pacedN);
    other.join();
    both = std::min(both, nowSec(CLOCK_MONOTONIC) - w0);
  }
  for (auto& s : sims) s.setPaced(false);
  const double ratio = both / alone;
  std::printf("parallel, paced at 57600 bit/s (%d block reads per reader)\n", pacedN);
  std::printf("  one reader alone       %9.1f ms\n", alone * 1e3);
  std::printf("  two readers, 2 threads %9.1f ms   %.3f x (target <= 1.1 x)\n\n", both * 1e3,
              ratio);

  std::vector<double> latency;
  std::string out;
  for (int i = 0; i < 20; ++i) {
    sims[0].control({"fault", "noack", "cmd=B9"}, out);
    double returned = 0;
    std::thread call([&] {
      failures += orvix_mifare_read(readers[0], 4, block, sizeof block) != ORVIX_CANCELLED;
      returned = nowSec(CLOCK_MONOTONIC);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const double cancelled = nowSec(CLOCK_MONOTONIC);
    orvix_cancel(readers[0]);
    call.join();
    latency.push_back((returned - cancelled) * 1e3);
    sims[0].clearFaults();
  }
  std::sort(latency.begin(), latency.end());
  std::printf("cancel while waiting for the acknowledge (20 times)\n");
  std::printf("  median %.2f ms, worst %.2f ms (target 10 ms)\n\n", latency[10], latency.back());

  const double closeOpen = best([&] {
    const double w0 = nowSec(CLOCK_MONOTONIC);
    orvix_close(readers[1]);
    failures += orvix_open(sims[1].path().c_str(), nullptr, &readers[1]) != 0;
    return nowSec(CLOCK_MONOTONIC) - w0;
  });
  std::printf("orvix_close, then orvix_open of the same port: %.1f ms (UnLinkCom pauses 1000 ms)\n",
              closeOpen * 1e3);

  for (auto* r : readers) orvix_close(r);
  UnLinkCom();
  for (auto& s : sims) s.stop();
  if (failures) std::printf("\n%d calls failed\n", failures.load());
  std::printf("\ntarget: two readers at most 1.1 x one: %s; cancel within 10 ms: %s\n",
              ratio <= 1.1 ? "met" : "MISSED", latency.back() <= 10 ? "met" : "MISSED");
  return failures ? 1 : 0;
}
