// The line itself: the stable path, host opens and closes, unplug and replug.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <thread>

#include "core/simulator.h"
#include "core_host.h"

namespace {

using simtest::HostLine;

std::string target(const std::string& link) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return {};
  buf[n] = '\0';
  return buf;
}

TEST(CoreLine, PathIsALinkToAPtyInAFreshFolderThatStopRemoves) {
  std::string path, dir;
  {
    readersim::Simulator sim;
    ASSERT_TRUE(sim.start());
    path = sim.path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.substr(path.size() - 7), "/reader");
    dir = path.substr(0, path.size() - 7);
    EXPECT_EQ(target(path).rfind("/dev/pts/", 0), 0u) << target(path);
    EXPECT_TRUE(::isatty(HostLine(path).fd()));
    sim.stop();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    EXPECT_NE(::access(dir.c_str(), F_OK), 0);
  }
}

TEST(CoreLine, TwoSimulatorsHaveTwoPaths) {
  readersim::Simulator a, b;
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  EXPECT_NE(a.path(), b.path());
  EXPECT_NE(target(a.path()), target(b.path()));
  HostLine ha(a.path()), hb(b.path());
  EXPECT_EQ(ha.exchange(0x00).linkError, 0);
  EXPECT_EQ(hb.exchange(0x00).linkError, 0);
  EXPECT_EQ(a.exchanges(), 1u);
  EXPECT_EQ(b.exchanges(), 1u);
}

TEST(CoreLine, AGivenLinkPathReplacesAStaleLinkButNotAFile) {
  char tmpl[] = "/tmp/coreline-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string dir = tmpl;
  std::string link = dir + "/com1";
  ASSERT_EQ(::symlink("/nonexistent/old", link.c_str()), 0);
  {
    readersim::Options o;
    o.linkPath = link;
    readersim::Simulator sim(o);
    ASSERT_TRUE(sim.start());
    EXPECT_EQ(sim.path(), link);
    EXPECT_EQ(target(link).rfind("/dev/pts/", 0), 0u);
    HostLine h(link);
    EXPECT_EQ(h.exchange(0x00).linkError, 0);
  }
  EXPECT_NE(::access(link.c_str(), F_OK), 0);
  EXPECT_EQ(::access(dir.c_str(), F_OK), 0);  // the caller's folder stays
  std::string file = dir + "/plain";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_TRUE(f);
  std::fclose(f);
  {
    readersim::Options o;
    o.linkPath = file;
    readersim::Simulator sim(o);
    EXPECT_FALSE(sim.start());
  }
  EXPECT_EQ(::access(file.c_str(), F_OK), 0);
  ::unlink(file.c_str());
  ::rmdir(dir.c_str());
}

TEST(CoreLine, UnplugRemovesThePathAndHangsUpOpenHandles) {
  readersim::Simulator sim;
  ASSERT_TRUE(sim.start());
  std::string path = sim.path();
  std::string before = target(path);
  HostLine h(path);
  ASSERT_EQ(h.exchange(0x00).linkError, 0);
  EXPECT_TRUE(sim.plugged());

  sim.unplug();
  EXPECT_FALSE(sim.plugged());
  EXPECT_EQ(sim.path(), path);
  // Opening fails now.
  errno = 0;
  EXPECT_LT(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
  EXPECT_EQ(errno, ENOENT);
  // The open handle is hung up: writes fail, poll reports a hang-up.
  EXPECT_LT(::write(h.fd(), "\x23", 1), 0);
  pollfd p{h.fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 100), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  std::string out;
  ASSERT_TRUE(sim.control({"status"}, out));
  EXPECT_NE(out.find("plugged=no"), std::string::npos) << out;

  sim.replug();
  EXPECT_TRUE(sim.plugged());
  EXPECT_EQ(sim.path(), path);
  EXPECT_EQ(target(path).rfind("/dev/pts/", 0), 0u);
  // The old handle stays dead; a new open reaches the reader.
  EXPECT_LT(::write(h.fd(), "\x23", 1), 0);
  HostLine h2(path);
  ASSERT_TRUE(h2.ok());
  EXPECT_EQ(h2.exchange(0x00).linkError, 0);
  (void)before;
}

TEST(CoreLine, UnplugAndReplugAreIdempotentAndWorkBeforeStart) {
  readersim::Simulator sim;
  EXPECT_FALSE(sim.plugged());
  sim.replug();  // nothing to do before start (no path yet)
  sim.unplug();
  ASSERT_TRUE(sim.start());
  sim.unplug();
  sim.unplug();
  EXPECT_FALSE(sim.plugged());
  sim.replug();
  sim.replug();
  EXPECT_TRUE(sim.plugged());
  HostLine h(sim.path());
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
  std::string out;
  ASSERT_TRUE(sim.control({"unplug"}, out));
  EXPECT_EQ(out, "unplugged");
  ASSERT_TRUE(sim.control({"replug"}, out));
  EXPECT_EQ(out, "replugged at " + sim.path());
}

TEST(CoreLine, StopRemovesTheLinkWhileUnpluggedToo) {
  readersim::Simulator sim;
  ASSERT_TRUE(sim.start());
  std::string path = sim.path();
  sim.unplug();
  sim.stop();
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(CoreLine, RestartAfterStop) {
  readersim::Simulator sim;
  ASSERT_TRUE(sim.start());
  sim.stop();
  ASSERT_TRUE(sim.start());
  HostLine h(sim.path());
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
}

TEST(CoreLine, AHostThatNeverReadsDoesNotStallTheReader) {
  readersim::Simulator sim;
  ASSERT_TRUE(sim.start());
  {
    HostLine lazy(sim.path());
    // Many syncs, never reading the answers; then the host goes away.
    for (int i = 0; i < 200; ++i)
      ASSERT_TRUE(lazy.write(simtest::Bytes{0x23, 0x00, 0x00, 0x00, 0x89}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  HostLine h(sim.path());
  EXPECT_EQ(h.exchange(0x22).linkError, 0);
}

}  // namespace
