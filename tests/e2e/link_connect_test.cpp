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

// Out-of-range ports, the first link, a second process shut out, LinkCom
// while linked, UnLinkCom's pause and its second call.
TEST_F(LinkTest, LinkRelinkUnlinkAndTheExclusiveOpen) {
  EXPECT_EQ(api->ComBaudRate(), 0);  // a freshly loaded library
  EXPECT_EQ(api->LinkCom(10), 1);
  EXPECT_EQ(api->LinkCom(-1), 1);
  EXPECT_EQ(api->ComBaudRate(), 0);
  auto t0 = Clock::now();
  EXPECT_EQ(api->UnLinkCom(), 1);
  EXPECT_LT(msSince(t0), 100);
  EXPECT_EQ(sim->exchanges(), 0u);

  t0 = Clock::now();
  ASSERT_EQ(api->LinkCom(0), 0);
  EXPECT_LT(msSince(t0), 500);  // no port was open: no pause
  EXPECT_EQ(api->ComBaudRate(), 57600);
  EXPECT_EQ(sim->hostSpeed(), 57600);  // the rate value 56000 is realised as 57600
  EXPECT_EQ(sim->exchanges(), 1u);
  EXPECT_EQ(sim->lastCommand(), 0x00);

  EXPECT_EQ(linkComInAnotherProcess(), 1);
  EXPECT_EQ(sim->exchanges(), 1u);  // the other process never reached the reader
  unsigned char v[8];
  EXPECT_EQ(api->DEVVER(v), 0);  // and this link is unharmed

  t0 = Clock::now();
  EXPECT_EQ(api->LinkCom(0), 0);
  EXPECT_GE(msSince(t0), 990);
  EXPECT_EQ(api->ComBaudRate(), 57600);
  EXPECT_EQ(sim->exchanges(), 3u);

  t0 = Clock::now();
  EXPECT_EQ(api->UnLinkCom(), 0);
  EXPECT_GE(msSince(t0), 990);
  EXPECT_LT(msSince(t0), 1500);
  EXPECT_EQ(api->ComBaudRate(), 57600);  // UnLinkCom leaves the speed
  t0 = Clock::now();
  EXPECT_EQ(api->UnLinkCom(), 1);
  EXPECT_LT(msSince(t0), 100);
  // Closed: an exchange cannot even write its sync byte.
  unsigned char n[8];
  std::memset(n, 0xEE, sizeof n);
  EXPECT_EQ(api->GetDeviceNumber(n), 101);
  for (auto b : n) EXPECT_EQ(b, 0);
  // Once this process lets go, the other one links.
  EXPECT_EQ(linkComInAnotherProcess(), 0);
}

// No answer at all, a reader that answers only at 9600, and one too slow
// for the fast probe's allowance.
TEST_F(LinkTest, LinkComFallsBackTo9600) {
  fault(*sim, "silent count=all");
  ASSERT_EQ(api->LinkCom(0), 1);
  EXPECT_EQ(api->ComBaudRate(), 0);
  EXPECT_EQ(sim->exchanges(), 0u);
  EXPECT_EQ(sim->hostSpeed(), 9600);  // the port stays open at 9600
  sim->clearFaults();

  sim->setSpeeds(readersim::Speeds::SlowOnly);
  auto t0 = Clock::now();
  ASSERT_EQ(api->LinkCom(0), 0);
  // The close's pause, the fast probe gets nothing, then another close.
  EXPECT_GE(msSince(t0), 1150);
  EXPECT_LT(msSince(t0), 3500);
  EXPECT_EQ(api->ComBaudRate(), 9600);
  EXPECT_EQ(sim->hostSpeed(), 9600);
  unsigned char v[8] = {};
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");

  sim->setSpeeds(readersim::Speeds::Both);
  fault(*sim, "delay ms=400 cmd=00");
  EXPECT_EQ(api->LinkCom(0), 0);  // the probe gives the reader only about 0.2 s
  EXPECT_EQ(api->ComBaudRate(), 9600);
  EXPECT_EQ(sim->pendingFaults(), 0u);
}

TEST_F(LinkTest, AutoLinkComOrderFallbacksAndResults) {
  struct Step {
    int port, result, portAfter, com1, com2, baud;  // com1/com2: probes each reader got
  };
  auto step = [&](const char* what, Step s) {
    SCOPED_TRACE(what);
    const auto e1 = sim->exchanges(), e2 = sim2 ? sim2->exchanges() : 0;
    int port = s.port;
    EXPECT_EQ(api->AutoLinkCom(&port), s.result);
    EXPECT_EQ(port, s.portAfter);
    EXPECT_EQ(sim->exchanges() - e1, static_cast<unsigned>(s.com1));
    if (sim2) {
      EXPECT_EQ(sim2->exchanges() - e2, static_cast<unsigned>(s.com2));
    }
    EXPECT_EQ(api->ComBaudRate(), s.baud);
  };
  e2e::mapPorts("");  // COM1 and COM2 both missing: nothing opened, nothing probed
  auto t0 = Clock::now();
  step("no port", {7, 1, 7, 0, 0, 0});
  EXPECT_LT(msSince(t0), 100);
  e2e::mapPorts(sim->path());
  step("COM2 missing", {1, 0, 0, 1, 0, 57600});

  sim2 = startSecond();
  e2e::mapPorts(sim->path(), sim2->path());
  step("any value but one: COM1 first", {5, 0, 0, 1, 0, 57600});
  step("one: COM2 first", {1, 0, 1, 0, 1, 57600});
  fault(*sim, "silent count=all");
  step("COM1 silent", {0, 0, 1, 0, 1, 57600});
  fault(*sim2, "silent count=all");
  step("no reader: the last probe's status", {0, 102, 0, 0, 0, 0});
}

}  // namespace
