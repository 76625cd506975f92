// The attendance terminal family: clock, record store, display, passwords,
// system initialisation, a pass-through command and the end of a transfer,
// each one exchange on the reader's link; plus the host-side date and day
// number conversions the terminal's records are addressed by.
#include <algorithm>
#include <cstdint>

#include "attendance/kq_dates.h"
#include "link/reader.h"
#include "orvix32.h"

using orvix::LinkState;

static int impl_KQ_EndTrans(LinkState& s);
static int impl_KQ_GetTime(LinkState& s, int* clock);
static int impl_KQ_SetTime(LinkState& s, const int* clock);
static int impl_KQ_GetCurrentPos(LinkState& s, int* first, unsigned char* position);
static int impl_KQ_GetStartPos(LinkState& s, const int* date, int* first, unsigned char* position);
static int impl_KQ_GetEndPos(LinkState& s, const int* date, int* first, unsigned char* position);
static int impl_KQ_ReadRecord(LinkState& s, int selector, int number, int count,
                              unsigned char* buffer);
static int impl_KQ_SysInit(LinkState& s);
static int impl_KQ_Display(LinkState& s, const unsigned char* text);
static int impl_KQ_TransCmd(LinkState& s, int code, int length, unsigned char* buffer);
static int impl_KQ_DownloadPSW(LinkState& s, int kind, const unsigned char* password);

namespace orvix::kq {
namespace {

constexpr std::uint8_t kEndTransfer = 0x01;
constexpr std::uint8_t kGetTime = 0xC1;
constexpr std::uint8_t kSetTime = 0xC2;
constexpr std::uint8_t kCurrentPosition = 0xC3;
constexpr std::uint8_t kStartPosition = 0xC4;
constexpr std::uint8_t kEndPosition = 0xC5;
constexpr std::uint8_t kReadRecord = 0xC6;
constexpr std::uint8_t kSystemInit = 0xC7;
constexpr std::uint8_t kDisplay = 0xC8;
constexpr std::uint8_t kPassThrough = 0xC9;
constexpr std::uint8_t kPassword = 0xCA;

constexpr int kClockItems = 7;
constexpr int kDisplayBytes = 16;

std::uint8_t lowByte(int v) { return static_cast<std::uint8_t>(v); }

std::uint8_t exchange(LinkState& s, std::uint8_t cmd, const std::uint8_t* data = nullptr,
                      std::size_t len = 0) {
  setCommand(s, cmd, data, len);
  return ExchangeFrame(s);
}

// On status 0: first = reply byte 0; position = reply bytes 1 and 2, then 0 0.
void takePosition(const LinkState& s, int* first, unsigned char* position) {
  const auto& reply = s.RecvData;
  *first = reply[0];
  position[0] = reply[1];
  position[1] = reply[2];
  position[2] = 0;
  position[3] = 0;
}

int datePosition(LinkState& s, std::uint8_t cmd, const int* date, int* first,
                 unsigned char* position) {
  if (!date || !first || !position) return kBadArgument;
  const int terminalDay =
      dayNumber(lowByte(date[0]), lowByte(date[1]), lowByte(date[2])) + kTerminalDayOffset;
  // The terminal takes 16 bits; later dates would name some other day.
  if (terminalDay > 0xFFFF) return kBadArgument;
  const std::uint8_t frame[2] = {lowByte(terminalDay), lowByte(terminalDay >> 8)};
  const std::uint8_t status = exchange(s, cmd, frame, sizeof frame);
  if (status == 0) takePosition(s, first, position);
  return status;
}

}  // namespace
}  // namespace orvix::kq

using namespace orvix::kq;

static int impl_KQ_EndTrans(LinkState& s) { return exchange(s, kEndTransfer); }

static int impl_KQ_GetTime(LinkState& s, int* clock) {
  if (!clock) return orvix::kBadArgument;
  const std::uint8_t status = exchange(s, kGetTime);
  if (status == 0) {
    const auto& reply = s.RecvData;
    for (int i = 0; i < kClockItems; ++i) clock[i] = reply[i];
  }
  return status;
}

static int impl_KQ_SetTime(LinkState& s, const int* clock) {
  if (!clock) return orvix::kBadArgument;
  std::uint8_t frame[kClockItems];
  for (int i = 0; i < kClockItems; ++i) frame[i] = lowByte(clock[i]);
  return exchange(s, kSetTime, frame, sizeof frame);
}

static int impl_KQ_GetCurrentPos(LinkState& s, int* first, unsigned char* position) {
  if (!first || !position) return orvix::kBadArgument;
  const std::uint8_t status = exchange(s, kCurrentPosition);
  if (status == 0) takePosition(s, first, position);
  return status;
}

static int impl_KQ_GetStartPos(LinkState& s, const int* date, int* first, unsigned char* position) {
  return datePosition(s, kStartPosition, date, first, position);
}

static int impl_KQ_GetEndPos(LinkState& s, const int* date, int* first, unsigned char* position) {
  return datePosition(s, kEndPosition, date, first, position);
}

static int impl_KQ_ReadRecord(LinkState& s, int selector, int number, int count,
                              unsigned char* buffer) {
  if (!buffer) return orvix::kBadArgument;
  const std::uint8_t frame[4] = {lowByte(selector), lowByte(number), lowByte(number >> 8),
                                 lowByte(count)};
  const std::uint8_t status = exchange(s, kReadRecord, frame, sizeof frame);
  if (status == 0) {
    std::copy_n(s.RecvData.begin(), s.RecvLen, buffer);
  }
  return status;
}

static int impl_KQ_SysInit(LinkState& s) { return exchange(s, kSystemInit); }

static int impl_KQ_Display(LinkState& s, const unsigned char* text) {
  if (!text) return orvix::kBadArgument;
  return exchange(s, kDisplay, text, kDisplayBytes);
}

static int impl_KQ_TransCmd(LinkState& s, int code, int length, unsigned char* buffer) {
  // A frame carries at most 255 data bytes.
  if (length < 0 || length > 255 || !buffer) return orvix::kBadArgument;
  std::uint8_t frame[255];
  if (length > 0) {
    frame[0] = lowByte(code);
    std::copy_n(buffer, length - 1, frame + 1);
  }
  const std::uint8_t status = exchange(s, kPassThrough, frame, static_cast<std::size_t>(length));
  if (status == 0) {
    buffer[0] = s.RecvLen;
    std::copy_n(s.RecvData.begin(), s.RecvLen, buffer + 1);
  }
  return status;
}

static int impl_KQ_DownloadPSW(LinkState& s, int kind, const unsigned char* password) {
  if (!password) return orvix::kBadArgument;
  std::uint8_t frame[7];
  frame[0] = lowByte(kind);
  const std::size_t passwordBytes = kind == 1 ? 4 : 6;
  std::copy_n(password, passwordBytes, frame + 1);
  return exchange(s, kPassword, frame, 1 + passwordBytes);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_Daysbyte(const unsigned char* date) {
  if (!date) return 0;
  return dayNumber(date[0], date[1], date[2]);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_Datebyte(int day, unsigned char* date) {
  if (!date) return orvix::kBadArgument;
  dateFromDayNumber(day, date);
  return 0;
}

using orvix::flat;

extern "C" {

ORVIX32_API int ORVIX32_CALL KQ_EndTrans(void) { return flat<impl_KQ_EndTrans>(); }

ORVIX32_API int ORVIX32_CALL KQ_GetTime(int* clock) { return flat<impl_KQ_GetTime>(clock); }

ORVIX32_API int ORVIX32_CALL KQ_SetTime(const int* clock) { return flat<impl_KQ_SetTime>(clock); }

ORVIX32_API int ORVIX32_CALL KQ_GetCurrentPos(int* first, unsigned char* position) {
  return flat<impl_KQ_GetCurrentPos>(first, position);
}

ORVIX32_API int ORVIX32_CALL KQ_GetStartPos(const int* date, int* first, unsigned char* position) {
  return flat<impl_KQ_GetStartPos>(date, first, position);
}

ORVIX32_API int ORVIX32_CALL KQ_GetEndPos(const int* date, int* first, unsigned char* position) {
  return flat<impl_KQ_GetEndPos>(date, first, position);
}

ORVIX32_API int ORVIX32_CALL KQ_ReadRecord(int selector, int number, int count,
                                           unsigned char* buffer) {
  return flat<impl_KQ_ReadRecord>(selector, number, count, buffer);
}

ORVIX32_API int ORVIX32_CALL KQ_SysInit(void) { return flat<impl_KQ_SysInit>(); }

ORVIX32_API int ORVIX32_CALL KQ_Display(const unsigned char* text) {
  return flat<impl_KQ_Display>(text);
}

ORVIX32_API int ORVIX32_CALL KQ_TransCmd(int code, int length, unsigned char* buffer) {
  return flat<impl_KQ_TransCmd>(code, length, buffer);
}

ORVIX32_API int ORVIX32_CALL KQ_DownloadPSW(int kind, const unsigned char* password) {
  return flat<impl_KQ_DownloadPSW>(kind, password);
}

}  // extern "C"

// ---- The same commands on a reader ------------------------------------------

namespace {

using orvix::room;

int readRecordSized(LinkState& s, int selector, int number, int count, unsigned char* buffer,
                    std::size_t size, std::size_t* received) {
  if (received) *received = 0;
  if (!buffer) return orvix::kBadArgument;
  unsigned char reply[255];
  const int status = impl_KQ_ReadRecord(s, selector, number, count, reply);
  if (status != 0) return status;
  if (received) *received = s.RecvLen;
  if (s.RecvLen > size) return ORVIX_BUFFER_TOO_SMALL;
  std::copy_n(reply, s.RecvLen, buffer);
  return 0;
}

int transCmdSized(LinkState& s, int code, int length, unsigned char* buffer, std::size_t size) {
  if (!buffer || length < 0 || length > 255) return impl_KQ_TransCmd(s, code, length, nullptr);
  const std::size_t in = length > 1 ? static_cast<std::size_t>(length) - 1 : 0;
  if (size < in) return orvix::kBadArgument;
  unsigned char whole[256] = {};
  std::copy_n(buffer, in, whole);
  const int status = impl_KQ_TransCmd(s, code, length, whole);
  if (status != 0) return status;
  if (1u + whole[0] > size) return ORVIX_BUFFER_TOO_SMALL;
  std::copy_n(whole, 1u + whole[0], buffer);
  return 0;
}

int positionRoom(const unsigned char* position, std::size_t size) {
  return room(orvix::outFits(position, size, 4));
}

}  // namespace

using orvix::handle;

extern "C" {

ORVIX32_API int ORVIX32_CALL orvix_kq_end_trans(orvix_reader* r) {
  return handle<impl_KQ_EndTrans>(r, 0);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_get_time(orvix_reader* r, int* clock) {
  return handle<impl_KQ_GetTime>(r, 0, clock);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_set_time(orvix_reader* r, const int* clock) {
  return handle<impl_KQ_SetTime>(r, 0, clock);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_current_pos(orvix_reader* r, int* first,
                                                  unsigned char* position, size_t position_size) {
  return handle<impl_KQ_GetCurrentPos>(r, positionRoom(position, position_size), first, position);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_start_pos(orvix_reader* r, const int* date, int* first,
                                                unsigned char* position, size_t position_size) {
  return handle<impl_KQ_GetStartPos>(r, positionRoom(position, position_size), date, first,
                                     position);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_end_pos(orvix_reader* r, const int* date, int* first,
                                              unsigned char* position, size_t position_size) {
  return handle<impl_KQ_GetEndPos>(r, positionRoom(position, position_size), date, first, position);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_read_record(orvix_reader* r, int selector, int number,
                                                  int count, unsigned char* buffer,
                                                  size_t buffer_size, size_t* received) {
  return handle<readRecordSized>(r, 0, selector, number, count, buffer, buffer_size, received);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_sys_init(orvix_reader* r) {
  return handle<impl_KQ_SysInit>(r, 0);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_display(orvix_reader* r, const unsigned char* text,
                                              size_t text_size) {
  return handle<impl_KQ_Display>(r, room(true, orvix::inFits(text, text_size, 16)), text);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_trans_cmd(orvix_reader* r, int code, int length,
                                                unsigned char* buffer, size_t buffer_size) {
  return handle<transCmdSized>(r, 0, code, length, buffer, buffer_size);
}
ORVIX32_API int ORVIX32_CALL orvix_kq_download_password(orvix_reader* r, int kind,
                                                        const unsigned char* password,
                                                        size_t password_size) {
  return handle<impl_KQ_DownloadPSW>(
      r, room(true, orvix::inFits(password, password_size, kind == 1 ? 4 : 6)), kind, password);
}

}  // extern "C"
