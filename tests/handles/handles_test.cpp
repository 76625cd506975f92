// Reader handles through orvix.h and orvix.hpp, linked as a caller links the
// shared library, against two readersims on two ptys. This program also
// defines WriteMemCard itself, as a host program might: the library's erase
// must not reach it.
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "e2e.h"
#include "orvix.hpp"

namespace {

std::atomic<int> foreignWriteCalls{0};

}  // namespace

extern "C" int ORVIX32_CALL WriteMemCard(int, int, unsigned char*) {
  ++foreignWriteCalls;
  return 99;
}

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class Handles : public ::testing::Test {
 protected:
  void SetUp() override {
    // SIGALRM goes to the thread that unblocks it, never to a simulator.
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &savedMask);
    unsetenv("ORVIX32_TRACE");
    for (auto& s : sims) {
      s = readersim::makeStandardSimulator({});
      ASSERT_TRUE(s->start());
    }
    // The second reader holds another card.
    control(1, "mifare remove");
    control(1, "mifare insert classic 9ABCDEF0");
    e2e::mapPorts(sims[0]->path(), sims[1]->path());
  }
  void TearDown() override {
    for (auto& s : sims)
      if (s) s->stop();
    pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
  }
  void control(int sim, const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    std::string out;
    ASSERT_TRUE(sims[sim]->control(words, out));
    ASSERT_NE(out.rfind("error", 0), 0u) << out;
  }
  // Counts the reader's exchanges through the trace callback.
  void countExchanges(orvix::Reader& r) {
    ASSERT_FALSE(r.on_exchange([this](const orvix_exchange&) { ++exchanges; }));
  }

  std::unique_ptr<readersim::Simulator> sims[2];
  sigset_t savedMask{};
  std::atomic<int> exchanges{0};
};

// request → anticollision → select → authenticate sector 0 → read block 0
// (the serial and its check byte); the serial, or a failure code.
std::error_code readSerial(const orvix::Reader& r, Bytes& serial) {
  unsigned char type[4], snr[4], block[16];
  int s = 0;
  std::error_code ec;
  if ((ec = r.mifare_request(1, type)) || (ec = r.mifare_anticoll(snr))) return ec;
  std::memcpy(&s, snr, 4);
  if ((ec = r.mifare_select(s)) || (ec = r.mifare_authenticate(0, 0, 3)) ||
      (ec = r.mifare_read(0, block)))
    return ec;
  if (!std::equal(snr, snr + 4, block)) return orvix::make_error_code(ORVIX_INTERNAL_ERROR);
  serial.assign(block, block + 5);
  return {};
}

TEST_F(Handles, TwoReadersEachReadTheirOwnCardInParallel) {
  // One by its COM name, one by its device path.
  orvix::Reader readers[2] = {orvix::Reader("COM1"), orvix::Reader(sims[1]->path())};
  const Bytes want[2] = {{0x12, 0x34, 0x56, 0x78, 0x08}, {0x9A, 0xBC, 0xDE, 0xF0, 0x08}};
  EXPECT_EQ(readers[0].port_name(), "COM1");
  EXPECT_EQ(readers[1].port_name(), sims[1]->path());
  int good[2] = {0, 0};
  auto run = [&](int i) {
    if (readers[i].mifare_load_key(0, 0, kKey)) return;
    for (int n = 0; n < 50; ++n) {
      Bytes serial;
      good[i] += !readSerial(readers[i], serial) && serial == want[i];
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  EXPECT_EQ(good[0], 50);
  EXPECT_EQ(good[1], 50);
}

TEST_F(Handles, TransactionsKeepTwoThreadsSequencesWhole) {
  orvix::Reader reader("COM1");
  ASSERT_FALSE(reader.mifare_load_key(0, 0, kKey));
  int good[2] = {0, 0};
  auto run = [&](int i) {
    for (int n = 0; n < 100; ++n) {
      orvix::Transaction hold(reader);
      Bytes serial;
      good[i] += !readSerial(reader, serial);
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  EXPECT_EQ(good[0] + good[1], 200);
  // Held by this thread only: nested, then released by the outer end.
  orvix_reader* h = reader.native_handle();
  EXPECT_EQ(orvix_end(h), ORVIX_NOT_HELD);
  EXPECT_EQ(orvix_begin(h), 0);
  EXPECT_EQ(orvix_begin(h), 0);
  EXPECT_EQ(orvix_end(h), 0);
  std::thread([h] { EXPECT_EQ(orvix_end(h), ORVIX_NOT_HELD); }).join();
  EXPECT_EQ(orvix_end(h), 0);
  EXPECT_EQ(orvix_end(h), ORVIX_NOT_HELD);
}

// Waits (within 5 s) until pred holds; false if it never does.
bool eventually(const std::function<bool()>& pred) {
  for (const auto until = Clock::now() + std::chrono::seconds(5); Clock::now() < until;
       std::this_thread::yield())
    if (pred()) return true;
  return pred();
}

// Whether the thread is blocked on a lock (in the futex system call).
bool waitsOnALock(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long call = -1;
  return in >> call && call == SYS_futex;
}

orvix_reader* alarmReader = nullptr;
std::atomic<long long> cancelledAtNs{0};

long long nowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

TEST_F(Handles, CancelStopsTheCallAtEachStageAndTheReaderStaysUsable) {
  struct Row {
    const char* stage;
    const char* fault;  // stalls the call at that stage
    bool mifare;        // a retrying Mifare call, else DEVVER
    bool bySignal;      // from a SIGALRM handler, else from another thread
  };
  const Row rows[] = {
      {"waiting for the sync answer", "silent", false, false},
      {"waiting for the acknowledge", "noack cmd=22", false, false},
      {"waiting for the status byte", "nostatus cmd=22", false, false},
      {"waiting for the data", "shortdata cmd=22", false, false},
      {"a Mifare call relinking", "silent count=all", true, false},
      {"from a signal handler, waiting for the acknowledge", "noack cmd=22", false, true},
      {"from a signal handler, waiting for the sync answer", "silent", false, true}};
  struct sigaction action {
  }, saved{};
  action.sa_handler = [](int) {
    orvix_cancel(alarmReader);
    cancelledAtNs = nowNs();
  };
  sigaction(SIGALRM, &action, &saved);
  orvix::Reader reader("COM1");
  alarmReader = reader.native_handle();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stage);
    control(0, std::string("fault ") + row.fault);
    std::error_code result;
    long long returnedNs = 0;
    std::thread call([&] {
      if (row.bySignal) {
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
      }
      unsigned char buf[16];
      result = row.mifare ? reader.mifare_read(4, buf) : reader.device_version({buf, 8});
      returnedNs = nowNs();
    });
    // The call is at the stage once the reader took the fault (a relinking
    // call: once it probes at 9600).
    ASSERT_TRUE(eventually(
        [&] { return row.mifare ? sims[0]->hostSpeed() == 9600 : sims[0]->pendingFaults() == 0; }));
    if (row.bySignal) {
      pthread_kill(call.native_handle(), SIGALRM);
    } else {
      cancelledAtNs = nowNs();
      EXPECT_FALSE(reader.cancel());
    }
    call.join();
    EXPECT_EQ(result, std::errc::operation_canceled) << result.message();
    // The figure belongs to the benchmark; here it is only shown.
    std::printf("  cancel %s: returned after %lld us\n", row.stage,
                (returnedNs - cancelledAtNs) / 1000);
    control(0, "faults clear");
    unsigned char info[4] = {}, version[8] = {};
    EXPECT_FALSE(reader.mifare_module(info));
    EXPECT_EQ(info[0], 17);
    EXPECT_FALSE(reader.device_version(version));
    EXPECT_EQ(std::string(version, version + 8), "TK61 2.1");
  }
  sigaction(SIGALRM, &saved, nullptr);
  // A cancel with no call in progress leaves the next call alone.
  EXPECT_FALSE(reader.cancel());
  unsigned char version[8];
  EXPECT_FALSE(reader.device_version(version));
}

// Every buffer of a command one byte short: refused before anything is sent.
TEST_F(Handles, ABufferOneByteShortIsRefusedAndNothingIsSent) {
  orvix::Reader reader("COM1");
  orvix_reader* r = reader.native_handle();
  ASSERT_EQ(orvix_select_card(r, 2), 0);  // code length 3 for the contact rows
  countExchanges(reader);
  unsigned char b[200];
  int clock[7] = {}, date[3] = {2026, 1, 1}, first = 0;
  size_t got = 0;
  // kOut: what the reply fills (in/out buffers of the contact families too),
  // kIn: what is only sent (and the Mifare and RF5550 written blocks).
  constexpr int kOut = ORVIX_BUFFER_TOO_SMALL, kIn = ORVIX_BAD_ARGUMENT;
  struct Row {
    const char* call;
    int want;
    std::function<int()> run;
  };
  const Row rows[] = {
      {"device_number", kOut, [&] { return orvix_device_number(r, b, 7); }},
      {"device_version", kOut, [&] { return orvix_device_version(r, b, 7); }},
      {"mifare_module", kOut, [&] { return orvix_mifare_module(r, b, 3); }},
      {"mifare_trans_key", kIn, [&] { return orvix_mifare_trans_key(r, 1, b, 5); }},
      {"mifare_get_type", kOut, [&] { return orvix_mifare_get_type(r, b, 3); }},
      {"mifare_get_serial", kOut, [&] { return orvix_mifare_get_serial(r, b, 3); }},
      {"mifare_read_block", kOut, [&] { return orvix_mifare_read_block(r, 4, 0, b, 15); }},
      {"mifare_write_block", kIn, [&] { return orvix_mifare_write_block(r, 4, 0, b, 15); }},
      {"mifare_write_key", kIn, [&] { return orvix_mifare_write_key(r, 1, 0, b, 5, 255); }},
      {"mifare_load_key", kIn, [&] { return orvix_mifare_load_key(r, 0, 1, b, 5); }},
      {"mifare_request", kOut, [&] { return orvix_mifare_request(r, 1, b, 3); }},
      {"mifare_anticoll", kOut, [&] { return orvix_mifare_anticoll(r, b, 3); }},
      {"mifare_read", kOut, [&] { return orvix_mifare_read(r, 4, b, 15); }},
      {"mifare_write", kIn, [&] { return orvix_mifare_write(r, 4, b, 15); }},
      {"rf5550_write_block pw", kIn, [&] { return orvix_rf5550_write_block(r, 5, b, 3, b, 4, 0); }},
      {"rf5550_write_block data", kIn,
       [&] { return orvix_rf5550_write_block(r, 5, b, 4, b, 3, 0); }},
      {"rf5550_init config", kIn,
       [&] { return orvix_rf5550_init(r, clock, 6, b, 4, 0); }},  // 6 of 10 ints
      {"rf5550_init pw", kIn,
       [&] {
         int config[10] = {};
         return orvix_rf5550_init(r, config, 10, b, 3, 0);
       }},
      {"rf5550_wake", kIn, [&] { return orvix_rf5550_wake(r, b, 3); }},
      {"rf5550_read_after_wake", kIn,
       [&] { return orvix_rf5550_read_after_wake(r, 5, b, 3, b, 16, &got); }},
      {"rf5550_write_after_wake", kIn,
       [&] { return orvix_rf5550_write_after_wake(r, 5, b, 4, b, 3, 0); }},
      {"rf5550_module", kOut, [&] { return orvix_rf5550_module(r, b, 3); }},
      {"check_secret", kOut, [&] { return orvix_check_secret(r, 3, b, 2); }},
      {"read_secret counter", kOut, [&] { return orvix_read_secret(r, b, 1, b, 8); }},
      {"read_secret code", kOut, [&] { return orvix_read_secret(r, b, 2, b, 7); }},
      {"modify_secret", kOut, [&] { return orvix_modify_secret(r, 3, b, 2); }},
      {"read_card", kOut, [&] { return orvix_read_card(r, 18, 0, 0, 8, b, 7); }},
      {"write_card", kOut, [&] { return orvix_write_card(r, 18, 0, 0, 8, b, 7); }},
      {"erase_card", kOut, [&] { return orvix_erase_card(r, 18, 0, 0, 8, b, 7); }},
      {"check_zone_secret", kOut, [&] { return orvix_check_zone_secret(r, 1, b, 1); }},
      {"read_mem_card", kOut, [&] { return orvix_read_mem_card(r, 0, 8, b, 7); }},
      {"write_mem_card", kOut, [&] { return orvix_write_mem_card(r, 0, 8, b, 7); }},
      {"erase_mem_card", kOut, [&] { return orvix_erase_mem_card(r, 0, 8, b, 7); }},
      {"at1608_write", kIn, [&] { return orvix_at1608_write(r, 1, 0, 8, b, 7); }},
      {"at1608_read", kOut, [&] { return orvix_at1608_read(r, 1, 0, 8, b, 7); }},
      {"at1608_password", kOut, [&] { return orvix_at1608_password(r, 1, b, 3); }},
      {"at1608_authenticate challenge", kOut,
       [&] { return orvix_at1608_authenticate(r, b, 7, b, 8); }},
      {"at1608_authenticate secret", kIn, [&] { return orvix_at1608_authenticate(r, b, 8, b, 7); }},
      {"at1608_read_fuse", kOut, [&] { return orvix_at1608_read_fuse(r, b, 0); }},
      {"cpu_command", kIn, [&] { return orvix_cpu_command(r, 0, b, 133, b, 200); }},
      {"cpu_packed", kIn,
       [&] {
         b[4] = 10;  // Lc: the command needs 10 + 10 bytes
         return orvix_cpu_packed(r, 0, b, 19, b + 100, 100);
       }},
      {"kq_current_pos", kOut, [&] { return orvix_kq_current_pos(r, &first, b, 3); }},
      {"kq_start_pos", kOut, [&] { return orvix_kq_start_pos(r, date, &first, b, 3); }},
      {"kq_end_pos", kOut, [&] { return orvix_kq_end_pos(r, date, &first, b, 3); }},
      {"kq_display", kIn, [&] { return orvix_kq_display(r, b, 15); }},
      {"kq_trans_cmd", kIn, [&] { return orvix_kq_trans_cmd(r, 0x40, 6, b, 4); }},
      {"kq_download_password kind 1", kIn, [&] { return orvix_kq_download_password(r, 1, b, 3); }},
      {"kq_download_password kind 2", kIn, [&] { return orvix_kq_download_password(r, 2, b, 5); }},
      // Numbers the flat exports would cut to their low byte (0x103:
      // block 3, a trailer).
      {"write_block 0x103", kIn, [&] { return orvix_mifare_write_block(r, 0x103, 0, b, 16); }},
      {"read_block 256", kIn, [&] { return orvix_mifare_read_block(r, 256, 0, b, 16); }},
      {"read_value -1", kIn, [&] { return orvix_mifare_read_value(r, -1, 0, clock); }},
      {"write_value 256", kIn, [&] { return orvix_mifare_write_value(r, 256, 0, clock); }},
      {"increment_value 0x104", kIn,
       [&] { return orvix_mifare_increment_value(r, 0x104, 0, clock); }},
      {"decrement_value 256", kIn, [&] { return orvix_mifare_decrement_value(r, 256, 0, clock); }},
      {"write 0x103", kIn, [&] { return orvix_mifare_write(r, 0x103, b, 16); }},
      {"read 256", kIn, [&] { return orvix_mifare_read(r, 256, b, 16); }},
      {"increment 256", kIn, [&] { return orvix_mifare_increment(r, 256, 1); }},
      {"decrement -1", kIn, [&] { return orvix_mifare_decrement(r, -1, 1); }},
      {"authenticate block 256", kIn, [&] { return orvix_mifare_authenticate(r, 0, 0, 256); }},
      {"authenticate sector 16", kIn, [&] { return orvix_mifare_authenticate(r, 0, 16, 4); }},
      {"load_key sector 16", kIn, [&] { return orvix_mifare_load_key(r, 0, 16, b, 6); }},
      {"trans_key sector -1", kIn, [&] { return orvix_mifare_trans_key(r, -1, b, 6); }},
      {"write_key sector 40", kIn, [&] { return orvix_mifare_write_key(r, 40, 0, b, 6, 255); }}};
  for (const auto& row : rows) {
    std::memset(b, 0, sizeof b);
    EXPECT_EQ(row.run(), row.want) << row.call;
    EXPECT_EQ(exchanges, 0) << row.call;
    exchanges = 0;
  }
}

// Replies whose length shows only when they arrive: a reply longer than the
// room is not copied, *received tells the length it needed.
TEST_F(Handles, AReplyLongerThanTheRoomIsNotCopied) {
  orvix::Reader reader("COM1");
  control(0, "contact rack");
  std::size_t got = 0;
  Bytes atr(64, 0xEE), small(2, 0xEE);
  ASSERT_FALSE(reader.cpu_reset(0, atr, got));
  ASSERT_GT(got, 2u);
  const std::size_t need = got;
  EXPECT_EQ(reader.cpu_reset(0, small, got), std::errc::no_buffer_space);
  EXPECT_EQ(got, need);
  EXPECT_EQ(small, Bytes(2, 0xEE));
  // An exchange that failed gives its link error, not the room it needed.
  unsigned char command[134] = {0x00, 0x84, 0x00, 0x00, 0x00};
  for (int call = 0; call < 2; ++call) {
    control(0, "fault silent");
    EXPECT_EQ(call ? orvix_cpu_command(reader.native_handle(), 0, command, 134, small.data(), 0)
                   : orvix_cpu_reset(reader.native_handle(), 0, small.data(), 0, &got),
              102);
  }
}

// This program's own WriteMemCard is the one the dynamic linker resolves,
// yet the library's erase writes its FF bytes to the card.
TEST_F(Handles, AHostsOwnExportNameDoesNotChangeTheLibrary) {
  ASSERT_EQ(dlsym(RTLD_DEFAULT, "WriteMemCard"), reinterpret_cast<void*>(&WriteMemCard));
  control(0, "contact insert 20");
  control(1, "contact insert 20");
  Bytes data(8, 0x5A), back(8);
  orvix::Reader reader("COM1");
  ASSERT_FALSE(reader.select_card(20));
  ASSERT_FALSE(reader.power_on());
  ASSERT_FALSE(reader.write_mem_card(300, 8, data));
  ASSERT_FALSE(reader.erase_mem_card(300, 8, data));
  ASSERT_FALSE(reader.read_mem_card(300, 8, back));
  EXPECT_EQ(back, Bytes(8, 0xFF));
  // The flat exports on the other reader, as a host of the flat interface.
  ASSERT_EQ(LinkCom(1), 0);
  ASSERT_EQ(SelectCard(20), 0);
  ASSERT_EQ(PowerOn(), 0);
  data.assign(8, 0x5A);
  EXPECT_EQ(EraseMemCard(300, 8, data.data()), 0);
  EXPECT_EQ(ReadMemCard(300, 8, back.data()), 0);
  EXPECT_EQ(back, Bytes(8, 0xFF));
  UnLinkCom();
  EXPECT_EQ(foreignWriteCalls, 0);
}

TEST_F(Handles, CloseReleasesThePortAtOnce) {
  for (int i = 0; i < 3; ++i) {
    orvix_reader* r = nullptr;
    ASSERT_EQ(orvix_open("COM1", nullptr, &r), 0);
    orvix_reader* second = nullptr;
    EXPECT_EQ(orvix_open("COM1", nullptr, &second), ORVIX_PORT_BUSY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(orvix_baud_rate(r), 57600);
    EXPECT_EQ(orvix_close(r), 0);
  }
  // A closed port is free for the flat link as well.
  EXPECT_EQ(LinkCom(0), 0);
  UnLinkCom();
  // A moved reader: the source is empty, an assignment closes the old one.
  orvix::Reader a("COM1"), b;
  unsigned char v[8];
  b = std::move(a);
  EXPECT_EQ(a.device_version(v), std::errc::invalid_argument);
  EXPECT_FALSE(b.device_version(v));
  b = orvix::Reader();
  EXPECT_FALSE(orvix::Reader::open("COM1").second);
  auto [missing, ec] = orvix::Reader::open("COM3");
  EXPECT_EQ(ec, std::errc::no_such_device);
  EXPECT_FALSE(missing);
  EXPECT_THROW(orvix::Reader("/nonexistent/port"), std::system_error);
}

// COM10 is the tenth mapped port; an open that fails once the port was
// opened (no reader answers) lets it go at once.
TEST_F(Handles, ComTenOpensItsMappingAndAFailedOpenReleasesThePort) {
  setenv("ORVIX32_COM10", sims[1]->path().c_str(), 1);
  orvix::Reader ten("COM10");
  EXPECT_EQ(ten.port_name(), "COM10");
  EXPECT_EQ(ten.trace_to("/nonexistent/trace").value(), ORVIX_TRACE_NOT_OPENED);
  ASSERT_FALSE(ten.mifare_load_key(0, 0, kKey));
  Bytes serial;
  ASSERT_FALSE(readSerial(ten, serial));
  EXPECT_EQ(serial, Bytes({0x9A, 0xBC, 0xDE, 0xF0, 0x08}));
  control(0, "fault silent count=all");
  orvix_reader* r = nullptr;
  EXPECT_EQ(orvix_open("COM1", nullptr, &r), 102);
  control(0, "faults clear");
  ASSERT_EQ(orvix_open("COM1", nullptr, &r), 0);
  EXPECT_EQ(orvix_close(r), 0);
}

// A failed or cancelled call says whether the card may have been changed:
// exactly when a frame that changes it went out and no answer settled it.
// Value steps are never sent twice; whenever the reader carried one out,
// the caller is told so.
TEST_F(Handles, FailedCallsSayWhetherTheCardMayHaveChanged) {
  orvix::Reader reader("COM1");
  const unsigned char snr[4] = {0x12, 0x34, 0x56, 0x78};
  int serial = 0;
  std::memcpy(&serial, snr, 4);
  ASSERT_FALSE(reader.mifare_load_key(0, 1, kKey));
  const struct {
    const char* fault;  // on the increment (B1) or the block write (AD)
    bool write;
    int want, changed;
    bool cancelled;  // cancelled once the reader has the frame
  } rows[] = {{"noack cmd=B1", false, 108, 1, false},
              {"nostatus cmd=B1", false, 111, 1, false},
              {"status cmd=B1 status=37", false, 37, 0, false},
              {"wrongready", false, 0, 0, false},
              {"", false, 0, 0, false},
              {"noack cmd=AD", true, 0, 0, false},  // written again, and answered
              {"delay cmd=B1 ms=300", false, ORVIX_CARD_MAY_HAVE_CHANGED, 1, true},
              {"delay cmd=AD ms=300", true, ORVIX_CARD_MAY_HAVE_CHANGED, 1, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    int purse = 100;
    ASSERT_FALSE(reader.mifare_write_value(4, serial, purse));
    if (*row.fault) control(0, std::string("fault ") + row.fault);
    std::error_code result;
    std::thread call([&] {
      int amount = 50;
      unsigned char block[16] = {1, 2, 3};
      result = row.write ? reader.mifare_write_block(5, serial, block)
                         : reader.mifare_increment_value(4, serial, amount);
    });
    if (row.cancelled) {
      ASSERT_TRUE(eventually([&] { return sims[0]->pendingFaults() == 0; }));
      EXPECT_FALSE(reader.cancel());
    }
    call.join();
    EXPECT_EQ(result.value(), row.want) << result.message();
    EXPECT_EQ(result.message(), orvix_status_text(ORVIX_FAMILY_MIFARE, row.want));
    EXPECT_EQ(orvix_may_have_changed(reader.native_handle()), row.changed);
    control(0, "faults clear");
    const std::error_code back = reader.mifare_read_value(4, serial, purse);
    ASSERT_FALSE(back) << back.message();
    EXPECT_FALSE(reader.may_have_changed());  // a call that succeeded
    if (!row.write && purse != 100) {
      EXPECT_TRUE(row.changed || row.want == 0) << purse;
    }
  }
}

// Close in every order: a transaction left by a thread that has gone, a
// thread waiting while the holder closes, and C++ Transactions that outlive
// or meet their Reader's close. (Run under AddressSanitizer too.)
TEST_F(Handles, CloseIsSafeInEveryOrder) {
  orvix_reader* r = nullptr;
  ASSERT_EQ(orvix_open("COM1", nullptr, &r), 0);
  std::atomic<int> step{0};  // another thread's transaction (one that never ends is the same)
  std::thread holder([&] {
    EXPECT_EQ(orvix_begin(r), 0);
    step = 1;
    while (step != 2) std::this_thread::yield();
    EXPECT_EQ(orvix_end(r), 0);
  });
  while (step != 1) std::this_thread::yield();
  EXPECT_EQ(orvix_close(r), ORVIX_READER_HELD);  // at once, not for ever
  step = 2;
  holder.join();
  EXPECT_EQ(orvix_close(r), 0);
  unsigned char v[8];
  ASSERT_EQ(orvix_open("COM2", nullptr, &r), 0);
  ASSERT_EQ(orvix_begin(r), 0);
  std::atomic<int> waited{-1};
  std::atomic<pid_t> tid{0};
  std::thread waiter([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    waited = orvix_device_version(r, v, 8);
  });
  ASSERT_TRUE(eventually([&] { return tid != 0 && waitsOnALock(tid); }));
  EXPECT_EQ(orvix_close(r), 0);  // this thread's own transaction ends with it
  waiter.join();
  EXPECT_EQ(waited, ORVIX_READER_CLOSED);
  ASSERT_EQ(orvix_open("COM2", nullptr, &r), 0);  // the port was let go
  EXPECT_EQ(orvix_close(r), 0);
  // C++: the Transaction keeps the port until it ends, whatever became of
  // its Reader; the Reader refuses to close under it.
  const std::function<void(orvix::Reader&)> orders[] = {
      [](orvix::Reader& a) { orvix::Reader other = std::move(a); },
      [](orvix::Reader& a) { EXPECT_EQ(a.close().value(), ORVIX_READER_HELD); },
      [](orvix::Reader& a) { a = orvix::Reader(); }};
  for (const auto& order : orders) {
    auto reader = std::make_unique<orvix::Reader>("COM2");
    {
      orvix::Transaction hold(*reader);
      order(*reader);
      reader.reset();
      EXPECT_EQ(orvix::Reader::open("COM2").second, std::errc::device_or_resource_busy);
    }
    EXPECT_FALSE(orvix::Reader::open("COM2").second);  // closed with the Transaction
  }
}

// Queries give their value, never a result code, whatever a cancelling
// thread does; after a silent spell the link is back at its best speed.
TEST_F(Handles, QueriesAndTheSpeedAfterASilentSpell) {
  orvix::Reader reader("COM1");
  std::atomic<bool> stop{false};
  std::thread canceller([&] {
    while (!stop) reader.cancel();
  });
  std::set<int> seen;
  for (int i = 0; i < 300; ++i) {
    seen.insert(reader.baud_rate());
    seen.insert(reader.cpu_protocol());
    unsigned char v[8];
    (void)reader.device_version(v);
  }
  stop = true;
  canceller.join();
  const std::set<int> values = {0, 1, 57600};
  EXPECT_TRUE(std::includes(values.begin(), values.end(), seen.begin(), seen.end()));
  control(0, "fault silent count=all");
  EXPECT_EQ(reader.relink().value(), 102);
  EXPECT_EQ(reader.baud_rate(), 0);
  control(0, "faults clear");
  unsigned char v[8];
  EXPECT_FALSE(reader.device_version(v));
  EXPECT_EQ(reader.baud_rate(), 57600);
  EXPECT_EQ(sims[0]->hostSpeed(), 57600);
}

// A process forked from the opener that closes the reader (as a child's
// destructors do) leaves the opener's hold on the port as it was.
TEST_F(Handles, AForkedChildsCloseLeavesTheOpenersPort) {
  orvix_reader *r = nullptr, *second = nullptr;
  ASSERT_EQ(orvix_open("COM1", nullptr, &r), 0);
  const pid_t child = fork();
  if (child == 0) _exit(orvix_close(r));
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(orvix_open("COM1", nullptr, &second), ORVIX_PORT_BUSY);
  unsigned char v[8];
  EXPECT_EQ(orvix_device_version(r, v, 8), 0);
  EXPECT_EQ(orvix_close(r), 0);
}

// Each code the library defines says its own thing; a reader status has a
// meaning only in the family that gives it, and C++ messages follow suit.
TEST(HandleTexts, EachCodeHasItsOwnTextAndStatusesTheirFamilys) {
  std::set<std::string> seen;
  std::vector<int> own = {0, ORVIX_BAD_ARGUMENT};
  for (int c = 101; c <= 115; ++c) own.push_back(c);
  for (int c = ORVIX_NO_STATUS_WORD; c <= ORVIX_READER_CLOSED; ++c) own.push_back(c);
  for (const int code : own) {
    EXPECT_STRNE(orvix_strerror(code), "reader status") << code;
    EXPECT_TRUE(seen.insert(orvix_strerror(code)).second) << code << " says what another says";
  }
  for (const int code : {1, 100, 116, 0x6A82, -1, ORVIX_READER_CLOSED + 1})
    EXPECT_STREQ(orvix_strerror(code), "reader status") << code;
  EXPECT_STREQ(orvix_strerror(ORVIX_CARD_MAY_HAVE_CHANGED),
               "the card may have been changed; read the value back");
  enum { R = ORVIX_FAMILY_READER, M, F, Mem, Cpu, A };  // the families, in their order
  const std::pair<int, int> meaningful[] = {{M, 0x22}, {Mem, 0x35}, {Cpu, 0x30},
                                            {F, 0x42}, {R, 0x01},   {A, 0x4A}};
  // Else the very text orvix_strerror gives: another family's status, the
  // library's own codes, status words, no such family.
  const std::pair<int, int> others[] = {
      {A, 0x22}, {Cpu, 0x35}, {M, 0x42},  {M, 108},   {Cpu, 0x6A82},
      {Mem, 3},  {6, 0x22},   {-1, 0x22}, {M, 0x122}, {M, ORVIX_CANCELLED}};
  for (const auto& [family, code] : meaningful) {
    EXPECT_STRNE(orvix_status_text(family, code), orvix_strerror(code)) << family << " " << code;
    EXPECT_EQ(orvix::make_error_code(code, family).message(), orvix_status_text(family, code));
  }
  for (const auto& [family, code] : others) {
    EXPECT_EQ(orvix_status_text(family, code), orvix_strerror(code)) << family << " " << code;
    EXPECT_EQ(orvix::make_error_code(code, family), orvix::make_error_code(code));  // one code
  }
  EXPECT_EQ(orvix::make_error_code(ORVIX_PORT_BUSY), std::errc::device_or_resource_busy);
  EXPECT_FALSE(orvix::make_error_code(0));
  EXPECT_STREQ(orvix::category().name(), "orvix");
}

// The one mapping of port names: what each name stands for and what opening
// it gives (nothing that is no serial device is opened), and the room the
// answer needs.
TEST(PortNames, EachNameMapsToItsDeviceOrIsRefused) {
  setenv("ORVIX32_COM10", "/tmp/orvix-com10", 1);
  setenv("ORVIX32_COM3", "", 1);
  unsetenv("ORVIX32_COM4");
  char dir[] = "/tmp/orvix-ports-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/file", fifo = std::string(dir) + "/fifo";
  std::ofstream(file) << "x";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  constexpr int kSkip = -1, kNone = ORVIX_NO_PORT, kNot = ORVIX_NOT_SERIAL;
  const struct {
    std::string name;
    int want;
    std::string device;  // "" for none
    int opens;           // orvix_open's result (kSkip: a real device, never opened)
  } rows[] = {{"COM10", 0, "/tmp/orvix-com10", kNone},
              {"com10", 0, "/tmp/orvix-com10", kNone},
              {"9", 0, "/tmp/orvix-com10", kNone},
              {"COM4", 0, "/dev/ttyS3", kSkip},
              {"3", 0, "/dev/ttyS3", kSkip},
              {"COM3", kNone, "", kNone},
              {"/dev/null", 0, "/dev/null", kNot},
              {"/dev/console", 0, "/dev/console", kNone},
              {dir, 0, dir, kNot},
              {file, 0, file, kNot},
              {fifo, 0, fifo, kNot},
              {"TCP://127.0.0.1:5", 0, "TCP://127.0.0.1:5", kSkip},
              {"Rfc2217://[::1]:7", 0, "Rfc2217://[::1]:7", kSkip}};
  const char* const malformed[] = {
      "COM0",    "COM11", "COM99999999999", "COM01",         "COM",           "COMX", "10",
      "ttyUSB0", "",      "tcp://host",     "tcp://h:70000", "http://host:80"};
  for (const auto& row : rows) {
    char path[64] = "untouched";
    EXPECT_EQ(orvix_port_device(row.name.c_str(), path, sizeof path), row.want) << row.name;
    EXPECT_EQ(path, row.device.empty() ? "untouched" : row.device) << row.name;
    if (row.opens != kSkip) {
      EXPECT_EQ(orvix::Reader::open(row.name).second.value(), row.opens) << row.name;
      EXPECT_EQ(orvix_port_check(row.name.c_str()), row.opens) << row.name;  // nothing opened
    }
  }
  for (const char* name : malformed) {
    char path[64] = "untouched";
    orvix_reader* r = nullptr;
    EXPECT_EQ(orvix_port_device(name, path, sizeof path), 4) << name;
    EXPECT_EQ(orvix_open(name, nullptr, &r) + orvix_port_check(name), 8) << name;
    EXPECT_STREQ(path, "untouched");
  }
  char room[17] = "untouched";  // "/tmp/orvix-com10" and its NUL: 17 bytes
  EXPECT_EQ(orvix_port_device("COM10", room, 16), ORVIX_BUFFER_TOO_SMALL);
  EXPECT_STREQ(room, "untouched");
  EXPECT_EQ(orvix_port_device("COM10", room, 17), 0);
  EXPECT_EQ(orvix_port_device("COM10", nullptr, 17), 4);
  EXPECT_EQ(orvix_port_device(nullptr, room, 17), 4);
  std::filesystem::remove_all(dir);
}

}  // namespace
