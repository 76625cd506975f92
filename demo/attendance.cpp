// The attendance terminal: clock, date conversions, record positions of a
// day, display, password, pass-through and the end of the transfer.
#include <algorithm>
#include <string>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

int demoAttendance() {
  heading("Attendance terminal");
  int failed = 0;
  const int setting[7] = {24, 6, 15, 8, 30, 0, 6};
  failed += show("KQ_SetTime({24,6,15,8,30,0,6})", KQ_SetTime(setting));
  int clock[7] = {};
  const int st = KQ_GetTime(clock);
  failed += show("KQ_GetTime(clock)", st);
  if (st == 0)
    std::printf("    clock: year %d, %d-%d %02d:%02d:%02d, weekday %d\n", clock[0], clock[1],
                clock[2], clock[3], clock[4], clock[5], clock[6]);

  const unsigned char compact[3] = {24, 6, 15};
  const int days = KQ_Daysbyte(compact);
  std::printf("  %-48s -> %d\n", "KQ_Daysbyte({24,6,15})", days);
  unsigned char back[3] = {};
  KQ_Datebyte(days, back);
  show("KQ_Datebyte(" + std::to_string(days) + ", date)", 0, back, 3);

  int first = 0;
  unsigned char position[4] = {};
  failed +=
      show("KQ_GetCurrentPos(&first, position)", KQ_GetCurrentPos(&first, position), position, 4);
  const int date[3] = {24, 6, 15};
  int startFirst = 0, endFirst = 0;
  unsigned char start[4] = {}, end[4] = {};
  failed += show("KQ_GetStartPos({24,6,15}, &first, position)",
                 KQ_GetStartPos(date, &startFirst, start), start, 4);
  failed +=
      show("KQ_GetEndPos({24,6,15}, &first, position)", KQ_GetEndPos(date, &endFirst, end), end, 4);
  if (startFirst == 1 && endFirst == 1) {
    const int from = start[0] | (start[1] << 8);
    const int to = end[0] | (end[1] << 8);
    const int count = std::min(to - from + 1, 31);
    unsigned char records[255] = {};
    failed += show(
        "KQ_ReadRecord(0, " + std::to_string(from) + ", " + std::to_string(count) + ", buffer)",
        KQ_ReadRecord(0, from, count, records), records, static_cast<std::size_t>(count) * 8);
  } else {
    std::printf("    no records of that day in the terminal\n");
  }

  const unsigned char text[17] = "Good morning!   ";
  failed += show("KQ_Display(\"Good morning!   \")", KQ_Display(text));
  const unsigned char password[4] = {0x12, 0x34, 0x56, 0x78};
  failed += show("KQ_DownloadPSW(1, 12345678)", KQ_DownloadPSW(1, password));
  unsigned char reply[256] = {};
  const int name = KQ_TransCmd(0x12, 1, reply);
  failed += show("KQ_TransCmd(0x12, 1, buffer)", name, reply, 1u + reply[0]);
  const int tooLong = KQ_TransCmd(0x10, 300, reply);
  std::printf("  %-48s -> %3d   (expected 4)\n", "KQ_TransCmd(0x10, 300, buffer)", tooLong);
  failed += tooLong != 4;
  failed += show("KQ_EndTrans()", KQ_EndTrans());
  return failed;
}
