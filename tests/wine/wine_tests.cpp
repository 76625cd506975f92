// End-to-end tests of ORVIX32.dll on Windows (run under Wine by
// scripts/wine-test). The DLL is loaded by name and every export is bound by
// name with GetProcAddress, as callers bind it; the readers are readersim
// processes on Linux ptys behind the COM ports:
//
//   COM1   reader A, answers at both speeds (control channel --a-*)
//   COM2   reader B, answers at 9600 only (control channel --b-*)
//   COM10  reader A again: proves that the tenth port opens
//   others paths that do not exist
//
// A control channel is readersim's --control stdin, reached as a FIFO through
// Wine's Z: drive, and the file its answers go to, one line per command.
//
// Usage: orvix32_wine_tests --a-control F --a-answers F --b-control F
//                           --b-answers F [--fast-link 57600|9600] [--filter TEXT]
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "orvix32.h"

namespace {

// ---- the DLL, bound by name ---------------------------------------------------

// Each export is bound with the pointer type of its declaration in the public
// header, so every call below uses the header's calling convention and
// argument list (on 32-bit Windows a mismatch would unbalance the stack).
#define ORVIX32_FN(name) decltype(&::name) name = bind<decltype(&::name)>(#name)

struct Api {
  HMODULE dll = LoadLibraryA("ORVIX32.dll");
  DWORD loadError = dll ? 0 : GetLastError();
  std::vector<std::string> missing;

  template <class F>
  F bind(const char* name) {
    FARPROC p = dll ? GetProcAddress(dll, name) : nullptr;
    if (!p) missing.push_back(name);
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
  }

  ORVIX32_FN(LinkCom);
  ORVIX32_FN(AutoLinkCom);
  ORVIX32_FN(UnLinkCom);
  ORVIX32_FN(ComBaudRate);
  ORVIX32_FN(DLLVER);
  ORVIX32_FN(GetDeviceNumber);
  ORVIX32_FN(DEVVER);
  ORVIX32_FN(ALARM);
  ORVIX32_FN(RFMifare_Mcmno);
  ORVIX32_FN(RFMifare_Request);
  ORVIX32_FN(RFMifare_AntiColl);
  ORVIX32_FN(RFMifare_Select);
  ORVIX32_FN(RFMifare_LoadKey);
  ORVIX32_FN(RFMifare_Authentication);
  ORVIX32_FN(RFMifare_Read);
  ORVIX32_FN(RFMifare_Write);
  ORVIX32_FN(RFMifare_Halt);
  ORVIX32_FN(RFMifare_ReadBlock);
  ORVIX32_FN(RF5550_Mcmno);
  ORVIX32_FN(PowerOn);
  ORVIX32_FN(SelectCard);
  ORVIX32_FN(Inquire);
  ORVIX32_FN(ReadCard);
  ORVIX32_FN(WriteCard);
  ORVIX32_FN(CpuCardReset);
  ORVIX32_FN(EnDesData);
  ORVIX32_FN(UnDesData);
  ORVIX32_FN(KQ_SetTime);
  ORVIX32_FN(KQ_GetTime);
};

// Loaded as the program starts, as a caller that binds the DLL at load would.
Api api;

// ---- checks -------------------------------------------------------------------

int failures = 0;

void fail(int line, const std::string& what) {
  ++failures;
  std::printf("    FAILED (line %d): %s\n", line, what.c_str());
  std::fflush(stdout);
}

std::string hex(const unsigned char* p, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

#define EXPECT_EQ(actual, expected)                                                       \
  do {                                                                                    \
    const long long a_ = static_cast<long long>(actual);                                  \
    const long long e_ = static_cast<long long>(expected);                                \
    if (a_ != e_)                                                                         \
      fail(__LINE__, std::string(#actual) + " is " + std::to_string(a_) + ", expected " + \
                         std::to_string(e_));                                             \
  } while (0)

#define EXPECT_TRUE(cond, detail)                                      \
  do {                                                                 \
    if (!(cond)) fail(__LINE__, std::string(#cond) + ": " + (detail)); \
  } while (0)

#define EXPECT_BYTES(actual, expected, n)                                                 \
  do {                                                                                    \
    if (std::memcmp((actual), (expected), (n)) != 0)                                      \
      fail(__LINE__, std::string(#actual) + " is " + hex((actual), (n)) + ", expected " + \
                         hex((expected), (n)));                                           \
  } while (0)

// Milliseconds a call takes.
template <class F>
long long timed(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}

// ---- a reader's control channel -------------------------------------------------

class Reader {
 public:
  void setPaths(std::string control, std::string answers) {
    control_ = std::move(control);
    answers_ = std::move(answers);
  }
  bool configured() const { return !control_.empty() && !answers_.empty(); }

  // Sends one control command and returns readersim's one-line answer ("" when
  // none came within 5 s).
  std::string send(const std::string& command) {
    const std::size_t before = lines().size();
    HANDLE h = CreateFileA(control_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "";
    const std::string line = command + "\n";
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
    for (int i = 0; i < 500; ++i) {
      auto now = lines();
      if (now.size() > before) return now[before];
      Sleep(10);
    }
    return "";
  }

  // Sends a command and fails the test unless the answer starts with expect.
  void must(const std::string& command, const std::string& expect, int line) {
    const std::string answer = send(command);
    if (answer.rfind(expect, 0) != 0)
      fail(line, "reader control '" + command + "' answered '" + answer + "'");
  }

 private:
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    HANDLE h = CreateFileA(answers_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    std::string text;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(h);
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
      out.push_back(text.substr(start, nl - start));
    return out;
  }

  std::string control_, answers_;
};

Reader readerA, readerB;
int fastLink = 57600;  // what ComBaudRate says after a link with a reader that answers both

// The default card of the simulated reader: a Mifare 1 card, serial 12 34 56
// 78 as delivered, transport keys (FF × 6).
constexpr unsigned char kSerial[4] = {0x12, 0x34, 0x56, 0x78};
constexpr unsigned char kTransportKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr unsigned char kDeviceNumber[8] = {0x20, 0x26, 0x12, 0x06, 0x00, 0x00, 0x00, 0x01};
constexpr unsigned char kFirmware[8] = {'T', 'K', '6', '1', ' ', '2', '.', '1'};

int serialInt() {
  int s = 0;
  std::memcpy(&s, kSerial, 4);
  return s;
}

// ---- the cases ------------------------------------------------------------------

// Must run first: the library as loaded, no port ever opened.
void beforeAnyLink() {
  EXPECT_EQ(api.DLLVER(), 7321);
  EXPECT_EQ(api.ComBaudRate(), 0);
  int r = -1;
  const long long ms = timed([&] { r = api.UnLinkCom(); });
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(ms < 500, "UnLinkCom with no port took " + std::to_string(ms) + " ms");

  unsigned char number[8];
  std::memset(number, 0xEE, sizeof number);
  EXPECT_EQ(api.GetDeviceNumber(number), 101);
  const unsigned char zeros[8] = {};
  EXPECT_BYTES(number, zeros, 8);

  unsigned char version[8];
  std::memset(version, 0xEE, sizeof version);
  EXPECT_EQ(api.DEVVER(version), 101);
  const unsigned char untouched[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_BYTES(version, untouched, 8);

  for (int select : {0, 8, -1}) EXPECT_EQ(api.ALARM(select, 30, 30, 3), 4);
}

void linkAndIdentity() {
  EXPECT_EQ(api.LinkCom(0), 0);
  EXPECT_EQ(api.ComBaudRate(), fastLink);

  unsigned char version[8] = {};
  EXPECT_EQ(api.DEVVER(version), 0);
  EXPECT_BYTES(version, kFirmware, 8);
  unsigned char number[8] = {};
  EXPECT_EQ(api.GetDeviceNumber(number), 0);
  EXPECT_BYTES(number, kDeviceNumber, 8);

  EXPECT_EQ(api.ALARM(7, 30, 30, 3), 0);
  const std::string status = readerA.send("status");
  EXPECT_TRUE(status.find("signals=07 1E 1E 03") != std::string::npos, status);
  EXPECT_EQ(api.ALARM(7, 0x11E, 0x21E, 0x303), 0);  // only the low bytes of a, b, c go out
  const std::string status2 = readerA.send("status");
  EXPECT_TRUE(status2.find("signals=07 1E 1E 03") != std::string::npos, status2);
}

void unlinkPausesOnce() {
  EXPECT_EQ(api.LinkCom(0), 0);
  int r = -1;
  long long ms = timed([&] { r = api.UnLinkCom(); });
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(ms >= 950 && ms < 3000, "UnLinkCom took " + std::to_string(ms) + " ms");
  ms = timed([&] { r = api.UnLinkCom(); });
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(ms < 500, "second UnLinkCom took " + std::to_string(ms) + " ms");
  EXPECT_EQ(api.ComBaudRate(), fastLink);  // UnLinkCom leaves the speed
  unsigned char version[8] = {};
  EXPECT_EQ(api.DEVVER(version), 101);  // no port: the sync byte cannot go out
}

void tenthPortOpens() {
  // "\\.\COM10": the plain name "COM10" would not open on Windows.
  EXPECT_EQ(api.LinkCom(9), 0);
  unsigned char version[8] = {};
  EXPECT_EQ(api.DEVVER(version), 0);
  EXPECT_BYTES(version, kFirmware, 8);
}

void portsThatDoNotLink() {
  EXPECT_EQ(api.LinkCom(0), 0);
  // Out of range: the open port is closed first, nothing new opens.
  int r = -1;
  long long ms = timed([&] { r = api.LinkCom(10); });
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(ms >= 950, "LinkCom(10) did not close the open port (" + std::to_string(ms) + " ms)");
  EXPECT_EQ(api.ComBaudRate(), 0);
  EXPECT_EQ(api.UnLinkCom(), 1);     // nothing open any more
  for (int port : {-1, 10, 2, 8}) {  // COM3 and COM9 map to missing paths
    ms = timed([&] { r = api.LinkCom(port); });
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(ms < 800, "LinkCom(" + std::to_string(port) + ") took " + std::to_string(ms) +
                              " ms with nothing to open");
  }
  EXPECT_EQ(api.ComBaudRate(), 0);
}

void slowReaderLinksAt9600() {
  EXPECT_EQ(api.LinkCom(1), 0);
  EXPECT_EQ(api.ComBaudRate(), 9600);
  unsigned char version[8] = {};
  EXPECT_EQ(api.DEVVER(version), 0);
  EXPECT_BYTES(version, kFirmware, 8);
  EXPECT_TRUE(readerB.send("status").find("speed=9600") != std::string::npos, "reader B speed");
}

void autoLinkPicksThePort() {
  struct Case {
    int in;
    int out;
    int baud;
  };
  const Case cases[] = {{1, 1, 9600}, {5, 0, fastLink}, {0, 0, fastLink}, {-3, 0, fastLink}};
  for (const Case& c : cases) {
    int port = c.in;
    EXPECT_EQ(api.AutoLinkCom(&port), 0);
    EXPECT_EQ(port, c.out);
    EXPECT_EQ(api.ComBaudRate(), c.baud);
  }
}

void autoLinkWithSilentReaders() {
  readerA.must("fault silent count=all", "fault queued", __LINE__);
  readerB.must("fault silent count=all", "fault queued", __LINE__);
  int port = 5;
  EXPECT_EQ(api.AutoLinkCom(&port), 102);  // no answer to the sync byte
  EXPECT_EQ(port, 5);
  EXPECT_EQ(api.ComBaudRate(), 0);
  readerA.must("faults clear", "faults cleared", __LINE__);
  readerB.must("faults clear", "faults cleared", __LINE__);
  EXPECT_EQ(api.AutoLinkCom(&port), 0);
  EXPECT_EQ(port, 0);
}

void linkErrorsComeBackAsStatus() {
  EXPECT_EQ(api.LinkCom(0), 0);
  struct Case {
    const char* fault;
    int status;
    long long minMs, maxMs;
  };
  const Case cases[] = {
      {"silent", 102, 150, 1500},           {"wrongready", 103, 0, 1000},
      {"noack cmd=22", 108, 900, 3000},     {"wrongack cmd=22", 109, 0, 1000},
      {"nostatus cmd=22", 111, 80, 1500},   {"nolength cmd=22", 112, 80, 1500},
      {"shortdata cmd=22", 113, 80, 1500},  {"nochecksum cmd=22", 114, 80, 1500},
      {"badchecksum cmd=22", 115, 0, 1000}, {"status cmd=22 status=0x13", 0x13, 0, 1000},
  };
  for (const Case& c : cases) {
    readerA.must(std::string("fault ") + c.fault, "fault queued", __LINE__);
    unsigned char version[8];
    std::memset(version, 0xEE, sizeof version);
    int r = -1;
    const long long ms = timed([&] { r = api.DEVVER(version); });
    if (r != c.status)
      fail(__LINE__, std::string(c.fault) + ": DEVVER is " + std::to_string(r) + ", expected " +
                         std::to_string(c.status));
    EXPECT_TRUE(ms >= c.minMs && ms <= c.maxMs,
                std::string(c.fault) + ": took " + std::to_string(ms) + " ms");
    const unsigned char untouched[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_BYTES(version, untouched, 8);
    readerA.send("faults clear");
    // The port stays open and the next exchange starts afresh.
    EXPECT_EQ(api.DEVVER(version), 0);
    EXPECT_BYTES(version, kFirmware, 8);
  }
}

void mifareSession() {
  EXPECT_EQ(api.LinkCom(0), 0);
  unsigned char info[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(api.RFMifare_Mcmno(info), 0);
  const unsigned char module17[4] = {17, 0, 0, 0};
  EXPECT_BYTES(info, module17, 4);

  unsigned char type[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(api.RFMifare_Request(1, type), 0);
  const unsigned char mifare1[4] = {4, 0, 0, 0};
  EXPECT_BYTES(type, mifare1, 4);
  unsigned char serial[4] = {};
  EXPECT_EQ(api.RFMifare_AntiColl(serial), 0);
  EXPECT_BYTES(serial, kSerial, 4);
  EXPECT_EQ(api.RFMifare_Select(serialInt()), 0);
  EXPECT_EQ(api.RFMifare_LoadKey(0, 1, kTransportKey), 0);
  EXPECT_EQ(api.RFMifare_Authentication(0, 1, 7), 0);

  unsigned char data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xA0 + i);
  EXPECT_EQ(api.RFMifare_Write(5, data), 0);
  unsigned char back[16] = {};
  EXPECT_EQ(api.RFMifare_Read(5, back), 0);
  EXPECT_BYTES(back, data, 16);
  // The one-shot read finds the card by its serial and authenticates itself.
  std::memset(back, 0, sizeof back);
  EXPECT_EQ(api.RFMifare_ReadBlock(5, serialInt(), back), 0);
  EXPECT_BYTES(back, data, 16);

  EXPECT_EQ(api.RFMifare_Halt(), 0);
  EXPECT_TRUE(api.RFMifare_Request(0, type) != 0, "a halted card answered an IDLE request");
  EXPECT_EQ(api.RFMifare_Request(1, type), 0);  // ALL wakes it
  EXPECT_BYTES(type, mifare1, 4);
  EXPECT_EQ(api.RFMifare_Read(5, nullptr), 4);  // no buffer: nothing sent
}

void mifareRelinksAfterUnplug() {
  EXPECT_EQ(api.LinkCom(0), 0);
  unsigned char type[4] = {};
  EXPECT_EQ(api.RFMifare_Request(1, type), 0);
  // The reader goes away and comes back under the same path: the open handle
  // is dead, so the command fails with a link error, the library relinks on
  // COM1 and sends the same command again.
  readerA.must("unplug", "unplugged", __LINE__);
  readerA.must("replug", "replugged", __LINE__);
  std::memset(type, 0xEE, sizeof type);
  int r = -1;
  const long long ms = timed([&] { r = api.RFMifare_Request(1, type); });
  EXPECT_EQ(r, 0);
  const unsigned char mifare1[4] = {4, 0, 0, 0};
  EXPECT_BYTES(type, mifare1, 4);
  EXPECT_TRUE(ms >= 950, "no relink pause seen (" + std::to_string(ms) + " ms)");
  unsigned char serial[4] = {};
  EXPECT_EQ(api.RFMifare_AntiColl(serial), 0);
  EXPECT_BYTES(serial, kSerial, 4);
  EXPECT_EQ(api.RFMifare_Select(serialInt()), 0);
}

void mifareGivesUpWhenTheReaderStaysAway() {
  EXPECT_EQ(api.LinkCom(0), 0);
  readerA.must("unplug", "unplugged", __LINE__);
  unsigned char info[4] = {};
  int r = -1;
  const long long ms = timed([&] { r = api.RFMifare_Mcmno(info); });
  EXPECT_TRUE(r >= 101 && r <= 115, "RFMifare_Mcmno gave " + std::to_string(r));
  EXPECT_TRUE(ms < 15000, "the relinks took " + std::to_string(ms) + " ms");
  readerA.must("replug", "replugged", __LINE__);
  EXPECT_EQ(api.LinkCom(0), 0);
  EXPECT_EQ(api.RFMifare_Mcmno(info), 0);
}

// One or two calls of each other family: arguments of every width and
// buffers cross the DLL boundary intact.
void otherFamilies() {
  // DES runs on the host: the FIPS 46 example block, there and back.
  const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  const unsigned char plain[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                   0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const unsigned char cipher[16] = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05,
                                    0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
  unsigned char out[16];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(api.EnDesData(plain, key, out, 16), 0);
  EXPECT_BYTES(out, cipher, 16);
  unsigned char back[16] = {};
  EXPECT_EQ(api.UnDesData(out, key, back, 16), 0);
  EXPECT_BYTES(back, plain, 16);
  std::memset(back, 0xEE, sizeof back);
  EXPECT_EQ(api.EnDesData(plain, key, back, 12), 4);  // not a multiple of 8
  EXPECT_EQ(back[0], 0xEE);

  EXPECT_EQ(api.LinkCom(0), 0);
  unsigned char number[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(api.RF5550_Mcmno(number), 0);
  const unsigned char module17[4] = {17, 0, 0, 0};
  EXPECT_BYTES(number, module17, 4);

  // Contact slot: a plain memory card of type 10, written and read back in
  // two pieces (the library cuts runs into pieces of 64 bytes).
  EXPECT_EQ(api.PowerOn(), 0);
  EXPECT_EQ(api.SelectCard(10), 0);
  int type = -1, second = -1, power = -1;
  EXPECT_EQ(api.Inquire(&type, &second, &power), 0);
  EXPECT_EQ(type, 10);
  EXPECT_EQ(power, 1);
  unsigned char data[80], got[80];
  for (int i = 0; i < 80; ++i) data[i] = static_cast<unsigned char>(i * 7 + 1);
  unsigned char sent[80];
  std::memcpy(sent, data, sizeof sent);
  EXPECT_EQ(api.WriteCard(18, 0, 16, 80, sent), 0);
  std::memset(got, 0, sizeof got);
  EXPECT_EQ(api.ReadCard(18, 0, 16, 80, got), 0);
  EXPECT_BYTES(got, data, 80);

  unsigned char atr[256] = {};
  EXPECT_EQ(api.CpuCardReset(atr), 0);
  EXPECT_TRUE(atr[0] > 0, "empty answer to reset");

  // Attendance terminal clock: set, then read back (seconds may move on).
  const int clock[7] = {26, 12, 6, 10, 20, 5, 0};
  EXPECT_EQ(api.KQ_SetTime(clock), 0);
  int now[7] = {};
  EXPECT_EQ(api.KQ_GetTime(now), 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(now[i], clock[i]);
}

struct TestCase {
  const char* name;
  std::function<void()> run;
  const char* skipReason;  // non-null: reported as skipped
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::string filter;
  std::string aControl, aAnswers, bControl, bAnswers;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--a-control")
      aControl = v;
    else if (k == "--a-answers")
      aAnswers = v;
    else if (k == "--b-control")
      bControl = v;
    else if (k == "--b-answers")
      bAnswers = v;
    else if (k == "--fast-link")
      fastLink = std::atoi(v.c_str());
    else if (k == "--filter")
      filter = v;
    else {
      std::printf("unknown option %s\n", k.c_str());
      return 2;
    }
  }
  readerA.setPaths(aControl, aAnswers);
  readerB.setPaths(bControl, bAnswers);
  if (!readerA.configured() || !readerB.configured()) {
    std::printf(
        "usage: orvix32_wine_tests --a-control F --a-answers F --b-control F "
        "--b-answers F [--fast-link 57600|9600] [--filter TEXT]\n");
    return 2;
  }
  std::printf("ORVIX32 under Wine, %d-bit\n", static_cast<int>(sizeof(void*) * 8));
  if (!api.dll || !api.missing.empty()) {
    if (!api.dll) std::printf("FAILED: LoadLibraryA(\"ORVIX32.dll\"): error %lu\n", api.loadError);
    for (const auto& name : api.missing) std::printf("FAILED: missing export %s\n", name.c_str());
    return 1;
  }

  const std::vector<TestCase> cases = {
      {"before any link", beforeAnyLink, nullptr},
      {"link and identity", linkAndIdentity, nullptr},
      {"unlink pauses once", unlinkPausesOnce, nullptr},
      {"COM10 opens", tenthPortOpens, nullptr},
      {"ports that do not link", portsThatDoNotLink, nullptr},
      {"9600-only reader", slowReaderLinksAt9600, nullptr},
      {"AutoLinkCom picks the port", autoLinkPicksThePort, nullptr},
      {"AutoLinkCom with silent readers", autoLinkWithSilentReaders, nullptr},
      {"link errors come back as status", linkErrorsComeBackAsStatus, nullptr},
      {"exclusive open", nullptr, "Wine does not enforce exclusive opens of a COM port"},
      {"Mifare session", mifareSession, nullptr},
      {"Mifare relinks after unplug", mifareRelinksAfterUnplug, nullptr},
      {"Mifare gives up when the reader stays away", mifareGivesUpWhenTheReaderStaysAway, nullptr},
      {"other families", otherFamilies, nullptr},
  };

  int passed = 0, failed = 0, skipped = 0;
  std::vector<std::string> failedNames;
  for (const TestCase& t : cases) {
    // The first case checks the state at load, so it is never filtered out.
    if (!filter.empty() && &t != &cases.front() &&
        std::string(t.name).find(filter) == std::string::npos)
      continue;
    if (t.skipReason) {
      std::printf("[ SKIP ] %s: %s\n", t.name, t.skipReason);
      ++skipped;
      continue;
    }
    std::printf("[ RUN  ] %s\n", t.name);
    const int before = failures;
    const long long ms = timed(t.run);
    api.UnLinkCom();  // every case starts with no port open
    if (failures == before) {
      std::printf("[   OK ] %s (%lld ms)\n", t.name, ms);
      ++passed;
    } else {
      std::printf("[ FAIL ] %s (%lld ms)\n", t.name, ms);
      ++failed;
      failedNames.push_back(t.name);
    }
  }
  std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
  for (const auto& n : failedNames) std::printf("FAILED: %s\n", n.c_str());
  return failed ? 1 : 0;
}
