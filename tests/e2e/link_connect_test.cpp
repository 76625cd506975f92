// Linking, unlinking and finding the reader through the loaded
// library against readersim.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "link_helpers.h"

extern char** environ;

namespace {

// Started with ORVIX32_E2E_CHILD=linkcom, this binary is a second process
// that only loads the library, tries LinkCom(0) and exits with its result,
// before any test runs.
const bool kChildMode = [] {
  const char* mode = std::getenv("ORVIX32_E2E_CHILD");
  if (!mode || std::strcmp(mode, "linkcom") != 0) return false;
  void* h = dlopen(ORVIX32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!h) _exit(90);
  auto* linkCom = reinterpret_cast<int (*)(int)>(dlsym(h, "LinkCom"));
  if (!linkCom) _exit(91);
  _exit(linkCom(0));
}();

// Runs LinkCom(0) in a fresh second process; its result, or -1.
int linkComInAnotherProcess() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "ORVIX32_E2E_CHILD=", 18) != 0) env.emplace_back(*e);
  env.emplace_back("ORVIX32_E2E_CHILD=linkcom");
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  char exe[] = "/proc/self/exe";
  char* argv[] = {exe, nullptr};
  pid_t pid = fork();
  if (pid == 0) {
    execve(exe, argv, envp.data());
    _exit(92);
  }
  if (pid < 0) return -1;
  int status = 0;
  for (int i = 0; i < 1000; ++i) {  // at most 10 s
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

using linke2e::Clock;
using linke2e::fault;
using linke2e::LinkTest;
using linke2e::msSince;

TEST_F(LinkTest, LinksAtTheFastSpeed) {
  EXPECT_EQ(api->ComBaudRate(), 0);  // a freshly loaded library
  auto t0 = Clock::now();
  ASSERT_EQ(api->LinkCom(0), 0);
  EXPECT_LT(msSince(t0), 500);  // no port was open: no pause
  EXPECT_EQ(api->ComBaudRate(), 57600);
  EXPECT_EQ(sim->hostSpeed(), 57600);  // the rate value 56000 is realised as 57600
  EXPECT_EQ(sim->exchanges(), 1u);
  EXPECT_EQ(sim->lastCommand(), 0x00);
}

class LinkSlowOnly : public LinkTest {
  readersim::Options options() override {
    readersim::Options o;
    o.speeds = readersim::Speeds::SlowOnly;
    return o;
  }
};

TEST_F(LinkSlowOnly, LinksAt9600WhenTheReaderAnswersOnlyThere) {
  auto t0 = Clock::now();
  ASSERT_EQ(api->LinkCom(0), 0);
  double ms = msSince(t0);
  // The fast probe gets nothing (2 empty reads), then the 1000 ms close.
  EXPECT_GE(ms, 1150);
  EXPECT_LT(ms, 2500);
  EXPECT_EQ(api->ComBaudRate(), 9600);
  EXPECT_EQ(sim->hostSpeed(), 9600);
  unsigned char v[8] = {};
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");
}

TEST_F(LinkTest, NoLinkWhenTheReaderNeverAnswers) {
  fault(*sim, "silent count=all");
  ASSERT_EQ(api->LinkCom(0), 1);
  EXPECT_EQ(api->ComBaudRate(), 0);
  EXPECT_EQ(sim->exchanges(), 0u);
  // The port stays open at 9600: UnLinkCom closes it (TearDown pays the pause).
  EXPECT_EQ(sim->hostSpeed(), 9600);
}

TEST_F(LinkTest, PortIndexOutOfRangeOpensNothing) {
  EXPECT_EQ(api->LinkCom(10), 1);
  EXPECT_EQ(api->LinkCom(-1), 1);
  EXPECT_EQ(api->ComBaudRate(), 0);
  auto t0 = Clock::now();
  EXPECT_EQ(api->UnLinkCom(), 1);
  EXPECT_LT(msSince(t0), 100);
  EXPECT_EQ(sim->exchanges(), 0u);
}

TEST_F(LinkTest, UnLinkComPausesAndASecondCallReturnsOneAtOnce) {
  ASSERT_EQ(api->LinkCom(0), 0);
  auto t0 = Clock::now();
  EXPECT_EQ(api->UnLinkCom(), 0);
  double ms = msSince(t0);
  EXPECT_GE(ms, 990);
  EXPECT_LT(ms, 1500);
  EXPECT_EQ(api->ComBaudRate(), 57600);  // UnLinkCom leaves the speed
  t0 = Clock::now();
  EXPECT_EQ(api->UnLinkCom(), 1);
  EXPECT_LT(msSince(t0), 100);
  // Closed: an exchange cannot even write its sync byte.
  unsigned char n[8];
  std::memset(n, 0xEE, sizeof n);
  EXPECT_EQ(api->GetDeviceNumber(n), 101);
  for (auto b : n) EXPECT_EQ(b, 0);
}

TEST_F(LinkTest, LinkComWhileLinkedPausesAndLinksAgain) {
  ASSERT_EQ(api->LinkCom(0), 0);
  auto t0 = Clock::now();
  EXPECT_EQ(api->LinkCom(0), 0);
  EXPECT_GE(msSince(t0), 990);
  EXPECT_EQ(api->ComBaudRate(), 57600);
  EXPECT_EQ(sim->exchanges(), 2u);
}

TEST_F(LinkTest, AutoLinkComTriesCom1FirstForAnyValueButOne) {
  sim2 = startSecond();
  e2e::mapPorts(sim->path(), sim2->path());
  int port = 5;
  EXPECT_EQ(api->AutoLinkCom(&port), 0);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(sim->exchanges(), 1u);
  EXPECT_EQ(sim2->exchanges(), 0u);
  EXPECT_EQ(api->ComBaudRate(), 57600);
}

TEST_F(LinkTest, AutoLinkComWithOneTriesCom2First) {
  sim2 = startSecond();
  e2e::mapPorts(sim->path(), sim2->path());
  int port = 1;
  EXPECT_EQ(api->AutoLinkCom(&port), 0);
  EXPECT_EQ(port, 1);
  EXPECT_EQ(sim->exchanges(), 0u);
  EXPECT_EQ(sim2->exchanges(), 1u);
}

TEST_F(LinkTest, AutoLinkComFallsBackToCom1WhenCom2IsMissing) {
  int port = 1;  // COM2 maps to a path that does not exist
  EXPECT_EQ(api->AutoLinkCom(&port), 0);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(sim->exchanges(), 1u);
}

TEST_F(LinkTest, AutoLinkComFallsBackToCom2WhenCom1IsSilent) {
  readersim::Options o;
  o.speeds = readersim::Speeds::FastOnly;
  sim2 = startSecond(o);
  e2e::mapPorts(sim->path(), sim2->path());
  fault(*sim, "silent count=all");
  int port = 0;
  EXPECT_EQ(api->AutoLinkCom(&port), 0);
  EXPECT_EQ(port, 1);
  EXPECT_EQ(sim2->exchanges(), 1u);
  EXPECT_EQ(api->ComBaudRate(), 57600);
}

TEST_F(LinkTest, AutoLinkComWithNeitherPortOpenableReturnsOne) {
  e2e::mapPorts("");  // COM1 and COM2 both missing
  int port = 7;
  auto t0 = Clock::now();
  EXPECT_EQ(api->AutoLinkCom(&port), 1);
  EXPECT_LT(msSince(t0), 100);  // nothing opened, nothing probed, no pause
  EXPECT_EQ(port, 7);
  EXPECT_EQ(api->ComBaudRate(), 0);
}

TEST_F(LinkTest, AutoLinkComWithNoReaderOnEitherPortReturnsTheLastProbeStatus) {
  sim2 = startSecond();
  e2e::mapPorts(sim->path(), sim2->path());
  fault(*sim, "silent count=all");
  fault(*sim2, "silent count=all");
  int port = 0;
  EXPECT_EQ(api->AutoLinkCom(&port), 102);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(api->ComBaudRate(), 0);
}

TEST_F(LinkTest, ASecondProcessCannotOpenALinkedPort) {
  ASSERT_EQ(api->LinkCom(0), 0);
  EXPECT_EQ(linkComInAnotherProcess(), 1);
  EXPECT_EQ(sim->exchanges(), 1u);  // the other process never reached the reader
  unsigned char v[8];
  EXPECT_EQ(api->DEVVER(v), 0);  // and this link is unharmed
  // Once this process lets go, the other one links.
  ASSERT_EQ(api->UnLinkCom(), 0);
  EXPECT_EQ(linkComInAnotherProcess(), 0);
}

}  // namespace
