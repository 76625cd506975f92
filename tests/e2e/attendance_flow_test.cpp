// The attendance terminal through the shared library, as a caller sees it,
// against the simulated terminal on a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "attendance/terminal.h"
#include "core/status.h"
#include "e2e.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace st = readersim::status;

class AttendanceFlow : public e2e::LinkedReaderTest {
 protected:
  readersim::Options options() override {
    readersim::Options o;
    o.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> lk(logMu);
      logLines.push_back(line);
    };
    return o;
  }
  bool logged(const std::string& line) {
    std::lock_guard<std::mutex> lk(logMu);
    return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
  }

  std::mutex logMu;
  std::vector<std::string> logLines;
};

TEST_F(AttendanceFlow, ClockRecordsDisplayPasswords) {
  auto* setTime = fn<int(const int*)>("KQ_SetTime");
  auto* getTime = fn<int(int*)>("KQ_GetTime");
  const int clock[7] = {24, 12, 31, 23, 59, 0, 0};
  ASSERT_EQ(setTime(clock), 0);
  int now[7] = {};
  ASSERT_EQ(getTime(now), 0);
  EXPECT_EQ(std::vector<int>(now, now + 5), std::vector<int>({24, 12, 31, 23, 59}));
  EXPECT_LE(now[5], 2);
  EXPECT_EQ(now[6], 2) << "31 December of year 24 is a Tuesday";
  const int impossible[7] = {24, 2, 30, 0, 0, 0, 0};
  EXPECT_EQ(setTime(impossible), st::kKqBadClock);

  // Records of a date, by position.
  control({"kq", "record", "1001", "24-6-14", "17:30"});
  control({"kq", "record", "1001", "24-6-15", "8:02"});
  control({"kq", "record", "1002", "24-6-15", "8:10"});
  control({"kq", "record", "1001", "24-6-15", "17:45"});
  control({"kq", "record", "1002", "24-6-16", "8:00"});

  auto* daysbyte = fn<int(const unsigned char*)>("KQ_Daysbyte");
  auto* startPos = fn<int(const int*, int*, unsigned char*)>("KQ_GetStartPos");
  auto* endPos = fn<int(const int*, int*, unsigned char*)>("KQ_GetEndPos");
  auto* currentPos = fn<int(int*, unsigned char*)>("KQ_GetCurrentPos");
  auto* readRecord = fn<int(int, int, int, unsigned char*)>("KQ_ReadRecord");
  auto* transCmd = fn<int(int, int, unsigned char*)>("KQ_TransCmd");

  const unsigned char compact[3] = {24, 6, 15};
  EXPECT_EQ(daysbyte(compact), 8933);

  const int date[3] = {24, 6, 15};
  int first = -1;
  unsigned char position[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(startPos(date, &first, position), 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(Bytes(position, position + 4), Bytes({1, 0, 0, 0}));
  ASSERT_EQ(endPos(date, &first, position), 0);
  EXPECT_EQ(Bytes(position, position + 4), Bytes({3, 0, 0, 0}));
  const int noRecords[3] = {24, 6, 20};
  ASSERT_EQ(startPos(noRecords, &first, position), 0);
  EXPECT_EQ(first, 0);
  ASSERT_EQ(currentPos(&first, position), 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(position[0], 4);

  // Positions 1 … 3: the day's records, 8 bytes each.
  unsigned char buffer[255];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  ASSERT_EQ(readRecord(0, 1, 3, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 8), Bytes({0xE9, 0x03, 0x00, 24, 6, 15, 8, 2}));
  EXPECT_EQ(Bytes(buffer + 16, buffer + 25), Bytes({0xE9, 0x03, 0x00, 24, 6, 15, 17, 45, 0xEE}));
  EXPECT_EQ(readRecord(0, 5, 1, buffer), st::kKqNoSuchRecord);

  unsigned char reply[256] = {};
  ASSERT_EQ(transCmd(0x11, 1, reply), 0);
  EXPECT_EQ(Bytes(reply, reply + 3), Bytes({2, 5, 0}));

  // Lengths that cannot fit a frame never reach the terminal.
  const auto before = sim->exchanges();
  EXPECT_EQ(transCmd(0x10, 256, reply), 4);
  EXPECT_EQ(transCmd(0x10, -1, reply), 4);
  EXPECT_EQ(sim->exchanges(), before);

  auto* sysInit = fn<int()>("KQ_SysInit");
  ASSERT_EQ(sysInit(), 0);
  ASSERT_EQ(currentPos(&first, position), 0);
  EXPECT_EQ(first, 0);

  // Display, passwords and the end of a transfer.
  auto* display = fn<int(const unsigned char*)>("KQ_Display");
  auto* password = fn<int(int, const unsigned char*)>("KQ_DownloadPSW");
  auto* endTrans = fn<int()>("KQ_EndTrans");
  const unsigned char text[17] = "Please check in ";
  ASSERT_EQ(display(text), 0);
  EXPECT_TRUE(logged("attendance display: [Please check in ]"));

  const unsigned char pw[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(password(1, pw), 0);
  ASSERT_EQ(password(2, pw), 0);
  ASSERT_EQ(endTrans(), 0);
  std::lock_guard<std::mutex> lk(sim->mutex());
  auto* m = sim->find<readersim::attendance::TerminalModule>();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->passwords().at(1), Bytes({1, 2, 3, 4}));
  EXPECT_EQ(m->passwords().at(2), Bytes({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(m->transfersEnded(), 1);
}

}  // namespace
