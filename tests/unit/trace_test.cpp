// The exchange trace in a hostile host: the trace's reader missing or going
// away, a full disk, any port number; and the header and line format.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <functional>
#include <regex>

#include "fake_port.h"
#include "link/link_state.h"

namespace {

std::uint8_t devver() {
  orvix::setCommand(0x22, nullptr, 0);
  return orvix::ExchangeFrame();
}

std::string tempDir() {
  char tmpl[] = "/tmp/orvix32-trace-XXXXXX";
  return mkdtemp(tmpl) ? tmpl : "";
}

TEST(TraceHost, AFailingTraceNeverHoldsUpKillsOrMisleadsTheHost) {
  const std::string dir = tempDir();
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = -1;
  struct Case {
    const char* name;
    std::string trace;
    std::function<void()> before, afterFirst;
  } cases[] = {
      {"FIFO without a reader", fifo, [] {}, [] {}},
      {"FIFO whose reader goes away", fifo,
       [&] { reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); }, [&] { close(reader); }},
      {"standard error whose reader goes away", "-",
       [] {
         int p[2];
         if (pipe(p) == 0) dup2(p[1], 2), close(p[0]);
       },
       [] {}},
      {"full disk", "/dev/full", [] {}, [] {}},
  };
  for (const auto& c : cases) {
    const pid_t pid = fork();
    if (pid == 0) {
      // The host: SIGPIPE at its default action would end it with 141.
      signal(SIGPIPE, SIG_DFL);
      alarm(5);  // a trace that blocks the host ends it with SIGALRM
      setenv("ORVIX32_TRACE", c.trace.c_str(), 1);
      c.before();
      fake::FakeReader fx;
      fx.link();
      const auto t0 = std::chrono::steady_clock::now();
      fx.wire(0)->reply(0x00, {1});
      fx.wire(0)->reply(0x00, {2});
      int bad = devver() == 0 ? 0 : 1;
      c.afterFirst();
      bad |= devver() == 0 ? 0 : 2;
      bad |= orvix::link().Tracer.enabled() ? 4 : 0;  // tracing must be off now
      bad |= std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(500) ? 8 : 0;
      _exit(bad);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << c.name << ": killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.name;
  }
  unlink(fifo.c_str());
  rmdir(dir.c_str());
}

TEST(TraceFormat, HeaderOnEachPortOrSpeedChangeAndAnyPortNumberPrintsWhole) {
  const std::string dir = tempDir();
  const std::string file = dir + "/trace";
  setenv("ORVIX32_TRACE", file.c_str(), 1);
  {
    fake::FakeReader fx;
    fx.link();
    fx.wire(0)->reply(0x00, {0xAB});
    EXPECT_EQ(devver(), 0);
    fx.wire(0)->reply(0x00);
    EXPECT_EQ(devver(), 0);
    EXPECT_EQ(orvix::linkComImpl(INT_MAX), 1);  // nothing opened
    EXPECT_EQ(devver(), 101);
  }
  unsetenv("ORVIX32_TRACE");
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  static const std::regex took(R"( \d+\.\d ms\n)");
  static const std::regex library(R"(library=\d+\.\d+\.\d+\n)");
  text = std::regex_replace(text, stamp, "T ");
  text = std::regex_replace(text, took, " D\n");
  text = std::regex_replace(text, library, "library=V\n");
  EXPECT_EQ(text,
            "# ORVIX32 trace version=1 port=COM1 speed=57600 library=V\n"
            "T COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 01 AB AA status 0 (ok) D\n"
            "T COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 00 00 status 0 (ok) D\n"
            "# ORVIX32 trace version=1 port=COM2147483648 speed=9600 library=V\n"
            "T COM2147483648 cmd 22 > < status 101 (e sync byte not written) D\n");
  unlink(file.c_str());
  rmdir(dir.c_str());
}

}  // namespace
