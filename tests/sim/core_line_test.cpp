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

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

TEST(CoreLine, PathIsALinkToAPtyInAFreshFolderThatStopRemoves) {
  readersim::Simulator sim;
  ASSERT_TRUE(sim.start());
  const std::string path = sim.path();
  ASSERT_GT(path.size(), 7u);
  EXPECT_EQ(path.substr(path.size() - 7), "/reader");
  EXPECT_EQ(target(path).rfind("/dev/pts/", 0), 0u) << target(path);
  EXPECT_TRUE(::isatty(HostLine(path).fd()));
  sim.stop();
  EXPECT_FALSE(exists(path));
  EXPECT_FALSE(exists(path.substr(0, path.size() - 7)));
}

TEST(CoreLine, AGivenLinkPathReplacesAStaleLinkButNotAFile) {
  char tmpl[] = "/tmp/coreline-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  const std::string dir = tmpl, link = dir + "/com1", file = dir + "/plain";
  ASSERT_EQ(::symlink("/nonexistent/old", link.c_str()), 0);
  readersim::Options o;
  o.linkPath = link;
  {
    readersim::Simulator sim(o);
    ASSERT_TRUE(sim.start());
    EXPECT_EQ(sim.path(), link);
    EXPECT_EQ(target(link).rfind("/dev/pts/", 0), 0u);
    HostLine h(link);
    EXPECT_EQ(h.exchange(0x00).linkError, 0);
  }
  EXPECT_FALSE(exists(link));
  EXPECT_TRUE(exists(dir));  // the caller's folder stays
  std::fclose(std::fopen(file.c_str(), "w"));
  o.linkPath = file;
  {
    readersim::Simulator sim(o);
    EXPECT_FALSE(sim.start());
  }
  EXPECT_TRUE(exists(file));
  ::unlink(file.c_str());
  ::rmdir(dir.c_str());
}

TEST(CoreLine, UnplugRemovesThePathAndHangsUpOpenHandles) {
  readersim::Simulator sim;
  ASSERT_TRUE(sim.start());
  const std::string path = sim.path();
  HostLine h(path);
  ASSERT_EQ(h.exchange(0x00).linkError, 0);

  sim.unplug();
  EXPECT_FALSE(sim.plugged());
  EXPECT_EQ(sim.path(), path);
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
  EXPECT_EQ(target(path).rfind("/dev/pts/", 0), 0u);
  // The old handle stays dead; a new open reaches the reader.
  EXPECT_LT(::write(h.fd(), "\x23", 1), 0);
  HostLine h2(path);
  EXPECT_EQ(h2.exchange(0x00).linkError, 0);
}

TEST(CoreLine, UnplugReplugStopAndStartInAnyOrder) {
  readersim::Simulator sim;
  EXPECT_FALSE(sim.plugged());
  sim.replug();  // nothing to do before start (no path yet)
  sim.unplug();
  ASSERT_TRUE(sim.start());
  std::string out;
  ASSERT_TRUE(sim.control({"unplug"}, out));
  EXPECT_EQ(out, "unplugged");
  sim.unplug();
  EXPECT_FALSE(sim.plugged());
  ASSERT_TRUE(sim.control({"replug"}, out));
  EXPECT_EQ(out, "replugged at " + sim.path());
  sim.replug();
  EXPECT_TRUE(sim.plugged());
  EXPECT_EQ(HostLine(sim.path()).exchange(0x00).linkError, 0);
  // Stop while unplugged removes the link too; start again serves.
  const std::string path = sim.path();
  sim.unplug();
  sim.stop();
  EXPECT_FALSE(exists(path));
  ASSERT_TRUE(sim.start());
  EXPECT_EQ(HostLine(sim.path()).exchange(0x00).linkError, 0);
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
