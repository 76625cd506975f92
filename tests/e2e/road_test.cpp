// One road through the built library, loaded by name as callers load it,
// against readersim on a pty: the link, every device family once, the trace,
// the Mifare relink, the exclusive open, the slow speed and a reader that
// goes away. The unit tables pin the frames down family by family.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>

#include "core/status.h"
#include "e2e.h"

extern char** environ;

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Started with ORVIX32_E2E_CHILD=linkcom, this program is a second process
// that only loads the library, tries LinkCom(0) and exits with its result.
const bool kChildMode = [] {
  const char* mode = std::getenv("ORVIX32_E2E_CHILD");
  if (!mode || std::strcmp(mode, "linkcom") != 0) return false;
  void* h = dlopen(ORVIX32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  auto* linkCom = h ? reinterpret_cast<int (*)(int)>(dlsym(h, "LinkCom")) : nullptr;
  _exit(linkCom ? linkCom(0) : 90);
}();

// LinkCom(0) in a fresh second process: its result, or -1.
int linkComInAnotherProcess() {
  setenv("ORVIX32_E2E_CHILD", "linkcom", 1);
  const pid_t pid = fork();
  if (pid == 0) {
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, nullptr};
    execve(exe, argv, environ);
    _exit(92);
  }
  unsetenv("ORVIX32_E2E_CHILD");
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Road : public e2e::ReaderTest {
 protected:
  void TearDown() override {
    e2e::ReaderTest::TearDown();
    unsetenv("ORVIX32_TRACE");
    if (!trace.empty()) std::remove(trace.c_str());
  }
  std::string trace;
};

TEST_F(Road, EveryFamilyOnceWithTheTrace) {
  trace = "/tmp/orvix32-road-trace-" + std::to_string(getpid());
  setenv("ORVIX32_TRACE", trace.c_str(), 1);  // read at the first exchange

  auto* comBaudRate = fn<int()>("ComBaudRate");
  int port = 0;  // COM1 first, then COM2 (missing)
  ASSERT_EQ(fn<int(int*)>("AutoLinkCom")(&port), 0);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(comBaudRate(), 57600);
  EXPECT_EQ(sim->hostSpeed(), 57600);  // the rate value 56000 runs as 57600

  // Identity and signals; a link error and a reader status on the way.
  unsigned char v[8] = {};
  ASSERT_EQ(fn<int(unsigned char*)>("DEVVER")(v), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");
  ASSERT_EQ(fn<int(int, int, int, int)>("ALARM")(7, 30, 30, 3), 0);
  EXPECT_EQ(sim->signalOutputs(), (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
  fault("silent");
  EXPECT_EQ(fn<int(unsigned char*)>("DEVVER")(v), 102);
  fault("status status=0x31 cmd=20");
  std::memset(v, 0xEE, sizeof v);
  EXPECT_EQ(fn<int(unsigned char*)>("GetDeviceNumber")(v), 0x31);
  EXPECT_EQ(Bytes(v, v + 8), Bytes(8, 0));  // zeroed first

  // Mifare (the bench's tests take every Mifare export through this library):
  // a card requested, its serial, then a one-shot read by serial.
  unsigned char type[4] = {0xEE, 0xEE, 0xEE, 0xEE}, serial[4] = {}, data[16] = {};
  ASSERT_EQ(fn<int(int, unsigned char*)>("RFMifare_Request")(1, type), 0);
  EXPECT_EQ(Bytes(type, type + 4), Bytes({4, 0, 0, 0}));
  ASSERT_EQ(fn<int(unsigned char*)>("RFMifare_AntiColl")(serial), 0);
  EXPECT_EQ(Bytes(serial, serial + 4), Bytes({0x12, 0x34, 0x56, 0x78}));
  int serialValue = 0;
  std::memcpy(&serialValue, serial, 4);
  ASSERT_EQ(fn<int(int, int, unsigned char*)>("RFMifare_ReadBlock")(4, serialValue, data), 0);
  EXPECT_EQ(fn<int(int, int, unsigned char*)>("RFMifare_ReadBlock")(4, ~serialValue, data),
            readersim::status::kMifareWrongSerial);

  // An RF5550 tag: a block written and read back.
  const unsigned char password[4] = {};
  unsigned char block[4] = {0x10, 0x20, 0x30, 0x40}, back[255] = {};
  using WriteBlk = int(int, const unsigned char*, unsigned char*, int);
  ASSERT_EQ(fn<WriteBlk>("RF5550_WriteBlk")(5, password, block, 0), 0);
  ASSERT_EQ(fn<int(int, unsigned char*)>("RF5550_ReadBlk")(5, back), 0);
  EXPECT_EQ(Bytes(back, back + 4), Bytes(block, block + 4));

  // A contact memory card (type 2): its code, then 130 bytes in pieces.
  control({"contact", "insert", "2", "code=A1B2C3"});
  ASSERT_EQ(fn<int(int)>("SelectCard")(2), 0);
  ASSERT_EQ(fn<int()>("PowerOn")(), 0);
  unsigned char code[3] = {0xA1, 0xB2, 0xC3};
  ASSERT_EQ(fn<int(int, unsigned char*)>("CheckSecret")(3, code), 0);
  EXPECT_EQ(code[0], 0x07);  // the refilled counter comes back into the code
  Bytes memory(130), read(131, 0xEE);
  for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<unsigned char>(i * 3);
  using Transfer = int(int, int, int, int, unsigned char*);
  Bytes written = memory;
  ASSERT_EQ(fn<Transfer>("WriteCard")(18, 0, 64, 130, written.data()), 0);
  ASSERT_EQ(fn<Transfer>("ReadCard")(18, 0, 64, 130, read.data()), 0);
  EXPECT_EQ(Bytes(read.begin(), read.begin() + 130), memory);
  EXPECT_EQ(read.back(), 0xEE);

  // An AT1608 card: its read password.
  control({"contact", "insert", "at1608", "secret=0102030405060708"});
  ASSERT_EQ(fn<int()>("AT1608_Reset")(), 0);
  unsigned char psw[4] = {0xA5, 0xB5, 0xC5, 0};
  ASSERT_EQ(fn<int(int, unsigned char*)>("AT1608_Psw")(5, psw), 0);
  EXPECT_EQ(Bytes(psw, psw + 4), Bytes({8, 0xA5, 0xB5, 0xC5}));

  // The CPU card and a SAM.
  control({"contact", "rack"});
  std::array<unsigned char, 256> atr{};
  ASSERT_EQ(fn<int(unsigned char*)>("CpuCardReset")(atr.data()), 0);
  EXPECT_EQ(Bytes(atr.begin(), atr.begin() + 2), Bytes({9, 0x3B}));
  std::array<unsigned char, 134> apdu{0x00, 0x84, 0x00, 0x00, 0x00};  // a challenge
  apdu[133] = 8;
  std::array<unsigned char, 136> reply{};
  using Apdu = int(unsigned char*, unsigned char*);
  EXPECT_EQ(fn<Apdu>("ProCpuCardCmd")(apdu.data(), reply.data()), 0x9000);
  EXPECT_EQ(reply[0], 8);
  ASSERT_EQ(fn<int(unsigned char*)>("SamCard2Reset")(atr.data()), 0);
  EXPECT_EQ(fn<int()>("CPUCardProtocolType")(), 1);

  // DES runs on the host: the classic test vector, nothing on the line.
  const auto exchanges = sim->exchanges();
  const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  const unsigned char plain[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  unsigned char cipher[8] = {};
  using Des = int(const unsigned char*, const unsigned char*, unsigned char*, int);
  ASSERT_EQ(fn<Des>("EnDesData")(plain, key, cipher, 8), 0);
  EXPECT_EQ(Bytes(cipher, cipher + 8), Bytes({0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05}));
  EXPECT_EQ(sim->exchanges(), exchanges);

  // The attendance terminal's clock.
  const int clock[7] = {24, 12, 31, 23, 59, 0, 0};
  ASSERT_EQ(fn<int(const int*)>("KQ_SetTime")(clock), 0);
  int now[7] = {};
  ASSERT_EQ(fn<int(int*)>("KQ_GetTime")(now), 0);
  EXPECT_EQ(std::vector<int>(now, now + 5), std::vector<int>({24, 12, 31, 23, 59}));
  EXPECT_EQ(now[6], 2) << "31 December of year 24 is a Tuesday";
  unsetenv("ORVIX32_TRACE");

  // One line per exchange: time, port, command, bytes each way, status.
  std::ifstream in(trace);
  std::vector<std::string> lines;
  const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  const std::regex took(R"( \d+\.\d ms$)");
  std::string header;
  for (std::string l; std::getline(in, l);) {
    if (l.starts_with("# ")) {
      if (header.empty()) header = l;
      continue;
    }
    EXPECT_TRUE(std::regex_search(l, stamp) && std::regex_search(l, took)) << l;
    lines.push_back(std::regex_replace(std::regex_replace(l, stamp, ""), took, ""));
  }
  EXPECT_EQ(header, "# ORVIX32 trace version=1 port=COM1 speed=57600 library=7.4.0");
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "COM1 cmd 00 > 23 00 00 00 89 < 45 67 00 00 00 status 0 (ok)");
  EXPECT_EQ(lines[1],
            "COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 08 54 4B 36 31 20 32 2E 31 1D status 0 (ok)");
  EXPECT_EQ(lines[2], "COM1 cmd 7A > 23 7A 04 07 1E 1E 03 7A 89 < 45 67 00 00 00 status 0 (ok)");
  EXPECT_EQ(lines[3], "COM1 cmd 22 > 23 < status 102 (f no answer to sync)");
  EXPECT_EQ(lines[4], "COM1 cmd 20 > 23 20 00 20 89 < 45 67 31 00 31 status 49 (reader status)");
  EXPECT_EQ(lines.size(), sim->exchanges() + 1) << "one line per exchange, the failed one too";
}

// A Mifare command that meets a link error relinks (a close with its pause,
// a probe) and repeats itself; other exports do not. The port is the
// library's alone until UnLinkCom, which pauses too.
TEST_F(Road, RelinkExclusiveOpenAndUnlink) {
  linkUp();
  EXPECT_EQ(linkComInAnotherProcess(), 1);
  EXPECT_EQ(sim->exchanges(), 1u);  // the other process never reached the reader
  unsigned char info[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  fault("nostatus cmd=A1");
  auto t0 = Clock::now();
  ASSERT_EQ(fn<int(unsigned char*)>("RFMifare_Mcmno")(info), 0);
  EXPECT_GE(msSince(t0), 990);
  EXPECT_EQ(Bytes(info, info + 4), Bytes({17, 0, 0, 0}));
  EXPECT_EQ(sim->exchanges(), 3u);  // the probe and the repeated command
  fault("nostatus cmd=22");
  unsigned char v[8];
  EXPECT_EQ(fn<int(unsigned char*)>("DEVVER")(v), 111);
  EXPECT_EQ(sim->exchanges(), 3u);

  auto* unlink = fn<int()>("UnLinkCom");
  t0 = Clock::now();
  EXPECT_EQ(unlink(), 0);
  EXPECT_GE(msSince(t0), 990);
  EXPECT_LT(msSince(t0), 1500);
  t0 = Clock::now();
  EXPECT_EQ(unlink(), 1);
  EXPECT_LT(msSince(t0), 100);
  std::memset(v, 0xEE, sizeof v);
  EXPECT_EQ(fn<int(unsigned char*)>("GetDeviceNumber")(v), 101);  // no port: no sync byte
  EXPECT_EQ(Bytes(v, v + 8), Bytes(8, 0));
  EXPECT_EQ(linkComInAnotherProcess(), 0);  // let go: the other process links
}

// A reader that answers only at 9600, one that answers late, and one that
// goes away and comes back.
TEST_F(Road, SlowSpeedTimeoutAndUnplug) {
  sim->setSpeeds(readersim::Speeds::SlowOnly);
  auto* linkCom = fn<int(int)>("LinkCom");
  ASSERT_EQ(linkCom(0), 0);
  EXPECT_EQ(fn<int()>("ComBaudRate")(), 9600);
  EXPECT_EQ(sim->hostSpeed(), 9600);
  sim->setSpeeds(readersim::Speeds::Both);
  unsigned char v[8];
  sim->unplug();
  const int st = fn<int(unsigned char*)>("DEVVER")(v);
  EXPECT_TRUE(st >= 101 && st <= 115) << st;
  EXPECT_EQ(linkCom(0), 1);
  sim->replug();
  ASSERT_EQ(linkCom(0), 0);
  EXPECT_EQ(fn<int()>("ComBaudRate")(), 57600);
  fault("delay ms=800");  // late but within the allowance
  EXPECT_EQ(fn<int(unsigned char*)>("DEVVER")(v), 0);
  fault("delay ms=1500");
  const auto t0 = Clock::now();
  EXPECT_EQ(fn<int(unsigned char*)>("DEVVER")(v), 108);  // no acknowledge in time
  EXPECT_TRUE(msSince(t0) >= 1000 && msSince(t0) < 1400) << msSince(t0);
}

}  // namespace
