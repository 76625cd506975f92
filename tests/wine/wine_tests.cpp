// ORVIX32.dll under Wine (run by scripts/wine-test): what only the Win32
// backend shows (open, speeds, time-outs, faults, COM10, the relink after an
// unplug) and one command of each family. Readers are readersim processes on
// Linux ptys: COM1 reader A (both speeds), COM2 reader B (9600 only), COM10
// reader A again, other ports lead nowhere. A reader's control channel is its
// --control stdin as a FIFO on Wine's Z: drive, and the file of its answers.
// Usage: orvix32_wine_tests --a-control F --a-answers F --b-control F
//                           --b-answers F [--fast-link 57600|9600] [--filter TEXT]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <thread>

#include "orvix.h"

namespace {

// Each export is bound with the pointer type of its declaration, so every
// call uses the header's calling convention (a mismatch would unbalance the
// stack on 32-bit Windows).
#define FN(name) decltype(&::name) name = bind<decltype(&::name)>(#name)
struct Api {
  HMODULE dll = LoadLibraryA("ORVIX32.dll");
  std::vector<std::string> missing;
  template <class F>
  F bind(const char* name) {
    FARPROC p = dll ? GetProcAddress(dll, name) : nullptr;
    if (!p) missing.push_back(name);
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
  }
  // clang-format off
  FN(LinkCom); FN(AutoLinkCom); FN(UnLinkCom); FN(ComBaudRate); FN(DLLVER);
  FN(DEVVER); FN(RFMifare_Request); FN(RFMifare_AntiColl); FN(RFMifare_Mcmno);
  FN(RF5550_Mcmno); FN(PowerOn); FN(SelectCard); FN(ReadCard); FN(WriteCard); FN(CpuCardReset);
  FN(EnDesData); FN(KQ_SetTime); FN(KQ_GetTime);
  FN(orvix_open); FN(orvix_close); FN(orvix_cancel); FN(orvix_device_version);
  FN(orvix_baud_rate); FN(orvix_mifare_request); FN(orvix_mifare_anticoll);
  // clang-format on
} api;  // loaded as the program starts, as a caller that binds the DLL at load

int failures = 0;
std::string hex(const unsigned char* p, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) s += (std::snprintf(b, sizeof b, "%02X", p[i]), b);
  return s;
}
void check(bool ok, int line, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("    FAILED (line %d): %s\n", line, what.c_str());
}
#define EXPECT_EQ(a, e)                                                             \
  check((long long)(a) == (long long)(e), __LINE__,                                 \
        std::string(#a) + " is " + std::to_string((long long)(a)) + ", expected " + \
            std::to_string((long long)(e)))
#define EXPECT_TRUE(c, detail) check((c), __LINE__, std::string(#c) + ": " + (detail))
#define EXPECT_BYTES(a, hexText, n) \
  check(hex((a), (n)) == (hexText), __LINE__, #a " is " + hex((a), (n)))

// A call's result and the milliseconds it took.
std::pair<int, long long> timed(const std::function<int()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  const int r = f();
  return {r, (std::chrono::steady_clock::now() - t0) / std::chrono::milliseconds(1)};
}

struct Reader {
  std::string control, answers;
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    HANDLE h = CreateFileA(answers.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    std::string text;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(h);
    for (std::size_t s = 0, nl; (nl = text.find('\n', s)) != std::string::npos; s = nl + 1)
      out.push_back(text.substr(s, nl - s));
    return out;
  }
  // Sends one control command; readersim's one-line answer ("" after 5 s)
  // must start with `start`.
  std::string send(const std::string& command, const std::string& start = "", int line = 0) {
    const std::size_t before = lines().size();
    HANDLE h = CreateFileA(control.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "";
    const std::string text = command + "\n";
    DWORD written = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(h);
    std::string answer;
    for (int i = 0; i < 500 && answer.empty(); ++i, Sleep(10))
      if (auto now = lines(); now.size() > before) answer = now[before];
    check(answer.rfind(start, 0) == 0, line, "'" + command + "' answered '" + answer + "'");
    return answer;
  }
} readerA, readerB;

int fastLink = 57600;  // ComBaudRate after a link with a reader that answers both speeds
const char* kFirmware = "544B363120322E31";  // "TK61 2.1"

void beforeAnyLink() {  // must run first: no port ever opened
  EXPECT_EQ(api.DLLVER(), 7321);
  EXPECT_EQ(api.ComBaudRate(), 0);
  const auto [r, ms] = timed([&] { return api.UnLinkCom(); });
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(ms < 500, std::to_string(ms) + " ms");
}

void linkIdentityAndUnlink() {
  EXPECT_EQ(api.LinkCom(0), 0);
  EXPECT_EQ(api.ComBaudRate(), fastLink);
  unsigned char version[8] = {};
  EXPECT_EQ(api.DEVVER(version), 0);
  EXPECT_BYTES(version, kFirmware, 8);
  auto [r, ms] = timed([&] { return api.UnLinkCom(); });
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(ms >= 950 && ms < 3000, "UnLinkCom took " + std::to_string(ms) + " ms");
  std::tie(r, ms) = timed([&] { return api.UnLinkCom(); });
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(ms < 500, "the second UnLinkCom took " + std::to_string(ms) + " ms");
  EXPECT_EQ(api.ComBaudRate(), fastLink);  // UnLinkCom leaves the speed
  EXPECT_EQ(api.DEVVER(version), 101);
}

void portsAndSpeeds() {
  EXPECT_EQ(api.LinkCom(9), 0);  // "\\.\COM10": the plain name would not open
  unsigned char version[8] = {};
  EXPECT_EQ(api.DEVVER(version), 0);
  EXPECT_BYTES(version, kFirmware, 8);
  auto [r, ms] =
      timed([&] { return api.LinkCom(10); });  // out of range: the open port closes first
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(ms >= 950, "LinkCom(10) did not close the open port (" + std::to_string(ms) + " ms)");
  EXPECT_EQ(api.UnLinkCom(), 1);
  for (int port : {-1, 10, 2, 8}) {  // COM3 and COM9 lead nowhere
    std::tie(r, ms) = timed([&] { return api.LinkCom(port); });
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(ms < 800,
                "LinkCom(" + std::to_string(port) + ") took " + std::to_string(ms) + " ms");
  }
  EXPECT_EQ(api.ComBaudRate(), 0);
  EXPECT_EQ(api.LinkCom(1), 0);  // reader B answers at 9600 only
  EXPECT_EQ(api.ComBaudRate(), 9600);
  EXPECT_EQ(api.DEVVER(version), 0);
  EXPECT_TRUE(readerB.send("status").find("speed=9600") != std::string::npos, "reader B speed");
  for (auto [in, out, baud] : {std::tuple{1, 1, 9600}, {5, 0, fastLink}}) {
    int port = in;
    EXPECT_EQ(api.AutoLinkCom(&port), 0);
    EXPECT_EQ(port, out);
    EXPECT_EQ(api.ComBaudRate(), baud);
  }
  readerA.send("fault silent count=all", "fault queued", __LINE__);
  readerB.send("fault silent count=all", "fault queued", __LINE__);
  int port = 5;
  EXPECT_EQ(api.AutoLinkCom(&port), 102);  // no answer to the sync byte anywhere
  EXPECT_EQ(port, 5);
  EXPECT_EQ(api.ComBaudRate(), 0);
  readerA.send("faults clear", "faults cleared", __LINE__);
  readerB.send("faults clear", "faults cleared", __LINE__);
}

void linkErrorsAndTimeOuts() {
  EXPECT_EQ(api.LinkCom(0), 0);
  const std::tuple<const char*, int, int, int> cases[] = {
      {"silent", 102, 150, 1500},           {"wrongready", 103, 0, 1000},
      {"noack cmd=22", 108, 900, 3000},     {"wrongack cmd=22", 109, 0, 1000},
      {"nostatus cmd=22", 111, 80, 1500},   {"nolength cmd=22", 112, 80, 1500},
      {"shortdata cmd=22", 113, 80, 1500},  {"nochecksum cmd=22", 114, 80, 1500},
      {"badchecksum cmd=22", 115, 0, 1000}, {"status cmd=22 status=0x13", 0x13, 0, 1000}};
  for (auto [fault, status, minMs, maxMs] : cases) {
    readerA.send(std::string("fault ") + fault, "fault queued", __LINE__);
    unsigned char version[8];
    std::memset(version, 0xEE, 8);
    const auto [r, ms] = timed([&] { return api.DEVVER(version); });
    check(r == status, __LINE__, std::string(fault) + ": DEVVER is " + std::to_string(r));
    EXPECT_TRUE(ms >= minMs && ms <= maxMs, std::string(fault) + ": " + std::to_string(ms) + " ms");
    EXPECT_BYTES(version, "EEEEEEEEEEEEEEEE", 8);
    readerA.send("faults clear");
    EXPECT_EQ(api.DEVVER(version), 0);  // the port stays open, the next exchange starts afresh
  }
}

void mifareRelinks() {
  EXPECT_EQ(api.LinkCom(0), 0);
  unsigned char type[4] = {0xEE, 0xEE, 0xEE, 0xEE}, serial[4] = {};
  EXPECT_EQ(api.RFMifare_Request(1, type), 0);
  EXPECT_BYTES(type, "04000000", 4);
  // Away and back under the same path: the open handle is dead, so the
  // command fails with a link error; the library relinks on COM1 and repeats it.
  readerA.send("unplug", "unplugged", __LINE__);
  readerA.send("replug", "replugged", __LINE__);
  auto [r, ms] = timed([&] { return api.RFMifare_AntiColl(serial); });
  EXPECT_EQ(r, 0);
  EXPECT_BYTES(serial, "12345678", 4);
  EXPECT_TRUE(ms >= 950, "no relink pause seen (" + std::to_string(ms) + " ms)");
  readerA.send("unplug", "unplugged", __LINE__);  // away for good: the relinks give up
  std::tie(r, ms) = timed([&] { return api.RFMifare_Mcmno(type); });
  EXPECT_TRUE(r >= 101 && r <= 115, "RFMifare_Mcmno gave " + std::to_string(r));
  EXPECT_TRUE(ms < 15000, "the relinks took " + std::to_string(ms) + " ms");
  readerA.send("replug", "replugged", __LINE__);
}

void otherFamilies() {  // arguments of every width and buffers cross the DLL boundary intact
  const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1},
                      plain[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  unsigned char out[8];
  EXPECT_EQ(api.EnDesData(plain, key, out, 8), 0);
  EXPECT_BYTES(out, "85E813540F0AB405", 8);
  EXPECT_EQ(api.LinkCom(0), 0);
  unsigned char number[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(api.RF5550_Mcmno(number), 0);
  EXPECT_BYTES(number, "11000000", 4);
  // A memory card of type 10, written and read back in two pieces of 64.
  EXPECT_EQ(api.PowerOn(), 0);
  EXPECT_EQ(api.SelectCard(10), 0);
  unsigned char data[80], sent[80], got[80] = {};
  for (int i = 0; i < 80; ++i) data[i] = sent[i] = static_cast<unsigned char>(i * 7 + 1);
  EXPECT_EQ(api.WriteCard(18, 0, 16, 80, sent), 0);
  EXPECT_EQ(api.ReadCard(18, 0, 16, 80, got), 0);
  EXPECT_BYTES(got, hex(data, 80), 80);
  unsigned char atr[256] = {};
  EXPECT_EQ(api.CpuCardReset(atr), 0);
  EXPECT_TRUE(atr[0] > 0, "empty answer to reset");
  const int clock[7] = {26, 12, 6, 10, 20, 5, 0};
  int now[7] = {};
  EXPECT_EQ(api.KQ_SetTime(clock), 0);
  EXPECT_EQ(api.KQ_GetTime(now), 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(now[i], clock[i]);  // seconds may move on
}

// Two readers at once through the handle interface, each on its own thread,
// and a cancel from another thread ending a call to a silent reader at once.
void readerHandles() {
  orvix_reader* a = nullptr;
  orvix_reader* b = nullptr;
  EXPECT_EQ(api.orvix_open("COM1", nullptr, &a), 0);
  EXPECT_EQ(api.orvix_open("COM2", nullptr, &b), 0);
  if (!a || !b) return;
  EXPECT_EQ(api.orvix_baud_rate(b), 9600);
  int okA = 0, okB = 0;
  auto loop = [](orvix_reader* r, int* ok) {
    unsigned char version[8];
    for (int i = 0; i < 20; ++i) *ok += api.orvix_device_version(r, version, sizeof version) == 0;
  };
  std::thread ta(loop, a, &okA), tb(loop, b, &okB);
  ta.join();
  tb.join();
  EXPECT_EQ(okA, 20);
  EXPECT_EQ(okB, 20);
  readerA.send("fault silent count=all", "fault queued", __LINE__);
  int result = 0;
  std::thread call([&] {
    unsigned char version[8];
    result = api.orvix_device_version(a, version, sizeof version);
  });
  Sleep(100);
  const auto [r, ms] = timed([&] {
    api.orvix_cancel(a);
    call.join();
    return 0;
  });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(result, ORVIX_CANCELLED);
  EXPECT_TRUE(ms < 50, "the cancelled call ended " + std::to_string(ms) + " ms after the cancel");
  readerA.send("faults clear", "faults cleared", __LINE__);
  unsigned char version[8] = {};
  EXPECT_EQ(api.orvix_device_version(a, version, sizeof version), 0);
  EXPECT_BYTES(version, kFirmware, 8);
  const auto [closed, closeMs] = timed([&] { return api.orvix_close(a) + api.orvix_close(b); });
  EXPECT_EQ(closed, 0);
  EXPECT_TRUE(closeMs < 500, "closing took " + std::to_string(closeMs) + " ms");
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::map<std::string, std::string> opt;
  for (int i = 1; i + 1 < argc; i += 2) opt[argv[i]] = argv[i + 1];
  readerA = {opt["--a-control"], opt["--a-answers"]};
  readerB = {opt["--b-control"], opt["--b-answers"]};
  if (opt.count("--fast-link")) fastLink = std::atoi(opt["--fast-link"].c_str());
  for (const char* k : {"--a-control", "--a-answers", "--b-control", "--b-answers"})
    if (opt[k].empty()) return std::printf("missing %s\n", k), 2;
  std::printf("ORVIX32 under Wine, %d-bit\n", int(sizeof(void*) * 8));
  for (const auto& name : api.missing) std::printf("FAILED: missing export %s\n", name.c_str());
  if (!api.dll || !api.missing.empty()) return std::printf("FAILED: ORVIX32.dll\n"), 1;
  const std::pair<const char*, void (*)()> cases[] = {
      {"before any link", beforeAnyLink},   {"link, identity and unlink", linkIdentityAndUnlink},
      {"ports and speeds", portsAndSpeeds}, {"link errors and time-outs", linkErrorsAndTimeOuts},
      {"Mifare relinks", mifareRelinks},    {"other families", otherFamilies},
      {"reader handles", readerHandles}};
  int passed = 0, failed = 0;
  for (const auto& [name, run] : cases) {
    // The first case checks the state at load, so it is never filtered out.
    if (opt.count("--filter") && run != beforeAnyLink &&
        std::string(name).find(opt["--filter"]) == std::string::npos)
      continue;
    std::printf("[ RUN  ] %s\n", name);
    const int before = failures;
    const long long ms = timed([&] { return run(), 0; }).second;
    api.UnLinkCom();  // every case starts with no port open
    std::printf("[ %s ] %s (%lld ms)\n", failures == before ? "  OK" : "FAIL", name, ms);
    (failures == before ? passed : failed)++;
  }
  std::printf("[ SKIP ] exclusive open: Wine does not enforce exclusive opens of a COM port\n");
  std::printf("%d passed, %d failed, 1 skipped\n", passed, failed);
  return failed ? 1 : 0;
}
