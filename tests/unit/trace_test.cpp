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
#include <filesystem>
#include <fstream>
#include <regex>

#include "fake_port.h"
#include "link/link_state.h"

namespace {

std::uint8_t devver() { return fake::exchange(0x22); }

std::string tempDir() {
  char tmpl[] = "/tmp/orvix32-trace-XXXXXX";
  return mkdtemp(tmpl) ? tmpl : "";
}

TEST(TraceHost, AFailingTraceNeverHoldsUpKillsOrMisleadsTheHostTiming) {
  const std::string dir = tempDir();
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string trace;
    enum { None, ReaderLeaves, StderrReaderGone } host;
  } cases[] = {{"FIFO without a reader", fifo, Case::None},
               {"FIFO whose reader goes away", fifo, Case::ReaderLeaves},
               {"standard error whose reader went away", "-", Case::StderrReaderGone},
               {"full disk", "/dev/full", Case::None}};
  for (const auto& c : cases) {
    const pid_t pid = fork();
    if (pid == 0) {
      // The host: SIGPIPE at its default action would end it with 141.
      signal(SIGPIPE, SIG_DFL);
      alarm(5);  // a trace that blocks the host ends it with SIGALRM
      setenv("ORVIX32_TRACE", c.trace.c_str(), 1);
      int p[2] = {-1, -1};
      if (c.host == Case::StderrReaderGone && pipe(p) == 0) dup2(p[1], 2), close(p[0]);
      const int reader =
          c.host == Case::ReaderLeaves ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
      fake::FakeReader fx;
      fx.link();
      const auto t0 = std::chrono::steady_clock::now();
      fx.wire(0)->reply(0x00, {1});
      fx.wire(0)->reply(0x00, {2});
      const bool ok = devver() == 0 && (reader < 0 || close(reader) == 0) && devver() == 0 &&
                      !orvix::link().Tracer.enabled() &&  // tracing is off now
                      std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(500);
      _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << c.name << ": killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.name;
  }
  std::filesystem::remove_all(dir);
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
  for (const auto& [from, to] : {std::pair{R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )", "T "},
                                 {R"( \d+\.\d ms\n)", " D\n"},
                                 {R"(library=\d+\.\d+\.\d+\n)", "library=V\n"}})
    text = std::regex_replace(text, std::regex(from), to);
  EXPECT_EQ(text,
            "# ORVIX32 trace version=1 port=COM1 speed=57600 library=V\n"
            "T COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 01 AB AA status 0 (ok) D\n"
            "T COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 00 00 status 0 (ok) D\n"
            "# ORVIX32 trace version=1 port=COM2147483648 speed=9600 library=V\n"
            "T COM2147483648 cmd 22 > < status 101 (e sync byte not written) D\n");
  std::filesystem::remove_all(dir);
}

// Trace files hold every key sent: created 0600, never through a symbolic
// link (named directly or by ORVIX32_TRACE), and the rotation renames only
// the regular file it opened.
TEST(TraceFiles, PrivateAndNeverThroughALink) {
  const std::string dir = tempDir(), file = dir + "/trace", target = dir + "/target";
  std::ofstream(target) << "kept\n";
  ASSERT_EQ(symlink(target.c_str(), (dir + "/link").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/nowhere").c_str(), (dir + "/dangling").c_str()), 0);
  for (const std::string name : {"/link", "/dangling"}) {
    orvix::Trace t;
    setenv("ORVIX32_TRACE", (dir + name).c_str(), 1);
    EXPECT_FALSE(t.openFromEnvironment() || t.openFile((dir + name).c_str())) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere"));
  setenv("ORVIX32_TRACE_MAX", "10", 1);
  orvix::Trace t;
  ASSERT_TRUE(t.openFile(file.c_str()));
  unsetenv("ORVIX32_TRACE_MAX");
  unsetenv("ORVIX32_TRACE");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A link put in the file's place after the open is never renamed.
  orvix::Recording rec;
  rec.begin();
  t.end(rec, "COM1", 57600, 0x22, 0);
  ASSERT_EQ(std::rename(file.c_str(), (dir + "/moved").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
  t.end(rec, "COM1", 57600, 0x22, 0);
  EXPECT_FALSE(t.enabled());
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_FALSE(std::filesystem::exists(file + ".1"));
  EXPECT_EQ(std::filesystem::file_size(target), 5u);
  std::filesystem::remove_all(dir);
}

}  // namespace
