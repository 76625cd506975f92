// The attendance terminal family: clock, record store, display, passwords,
// system initialisation, a pass-through command and the end of a transfer,
// each one exchange on the reader's link; plus the host-side date and day
// number conversions the terminal's records are addressed by.
#include <algorithm>
#include <cstdint>

#include "attendance/kq_dates.h"
#include "link/link_state.h"
#include "orvix32.h"

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

std::uint8_t exchange(std::uint8_t cmd, const std::uint8_t* data = nullptr, std::size_t len = 0) {
  setCommand(cmd, data, len);
  return ExchangeFrame();
}

// On status 0: first = reply byte 0; position = reply bytes 1 and 2, then 0 0.
void takePosition(int* first, unsigned char* position) {
  const auto& reply = link().RecvData;
  *first = reply[0];
  position[0] = reply[1];
  position[1] = reply[2];
  position[2] = 0;
  position[3] = 0;
}

int datePosition(std::uint8_t cmd, const int* date, int* first, unsigned char* position) {
  if (!date || !first || !position) return kBadArgument;
  const int terminalDay =
      dayNumber(lowByte(date[0]), lowByte(date[1]), lowByte(date[2])) + kTerminalDayOffset;
  // The terminal takes 16 bits; later dates would name some other day.
  if (terminalDay > 0xFFFF) return kBadArgument;
  const std::uint8_t frame[2] = {lowByte(terminalDay), lowByte(terminalDay >> 8)};
  const std::uint8_t status = exchange(cmd, frame, sizeof frame);
  if (status == 0) takePosition(first, position);
  return status;
}

}  // namespace
}  // namespace orvix::kq

using namespace orvix::kq;

extern "C" ORVIX32_API int ORVIX32_CALL KQ_EndTrans(void) {
  const orvix::CallGuard guard;
  return exchange(kEndTransfer);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_GetTime(int* clock) {
  const orvix::CallGuard guard;
  if (!clock) return orvix::kBadArgument;
  const std::uint8_t status = exchange(kGetTime);
  if (status == 0) {
    const auto& reply = orvix::link().RecvData;
    for (int i = 0; i < kClockItems; ++i) clock[i] = reply[i];
  }
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_SetTime(const int* clock) {
  const orvix::CallGuard guard;
  if (!clock) return orvix::kBadArgument;
  std::uint8_t frame[kClockItems];
  for (int i = 0; i < kClockItems; ++i) frame[i] = lowByte(clock[i]);
  return exchange(kSetTime, frame, sizeof frame);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_GetCurrentPos(int* first, unsigned char* position) {
  const orvix::CallGuard guard;
  if (!first || !position) return orvix::kBadArgument;
  const std::uint8_t status = exchange(kCurrentPosition);
  if (status == 0) takePosition(first, position);
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_GetStartPos(const int* date, int* first,
                                                       unsigned char* position) {
  const orvix::CallGuard guard;
  return datePosition(kStartPosition, date, first, position);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_GetEndPos(const int* date, int* first,
                                                     unsigned char* position) {
  const orvix::CallGuard guard;
  return datePosition(kEndPosition, date, first, position);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_ReadRecord(int selector, int number, int count,
                                                      unsigned char* buffer) {
  const orvix::CallGuard guard;
  if (!buffer) return orvix::kBadArgument;
  const std::uint8_t frame[4] = {lowByte(selector), lowByte(number), lowByte(number >> 8),
                                 lowByte(count)};
  const std::uint8_t status = exchange(kReadRecord, frame, sizeof frame);
  if (status == 0) {
    const auto& s = orvix::link();
    std::copy_n(s.RecvData.begin(), s.RecvLen, buffer);
  }
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_SysInit(void) {
  const orvix::CallGuard guard;
  return exchange(kSystemInit);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_Display(const unsigned char* text) {
  const orvix::CallGuard guard;
  if (!text) return orvix::kBadArgument;
  return exchange(kDisplay, text, kDisplayBytes);
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_TransCmd(int code, int length, unsigned char* buffer) {
  const orvix::CallGuard guard;
  // A frame carries at most 255 data bytes.
  if (length < 0 || length > 255 || !buffer) return orvix::kBadArgument;
  std::uint8_t frame[255];
  if (length > 0) {
    frame[0] = lowByte(code);
    std::copy_n(buffer, length - 1, frame + 1);
  }
  const std::uint8_t status = exchange(kPassThrough, frame, static_cast<std::size_t>(length));
  if (status == 0) {
    const auto& s = orvix::link();
    buffer[0] = s.RecvLen;
    std::copy_n(s.RecvData.begin(), s.RecvLen, buffer + 1);
  }
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL KQ_DownloadPSW(int kind, const unsigned char* password) {
  const orvix::CallGuard guard;
  if (!password) return orvix::kBadArgument;
  std::uint8_t frame[7];
  frame[0] = lowByte(kind);
  const std::size_t passwordBytes = kind == 1 ? 4 : 6;
  std::copy_n(password, passwordBytes, frame + 1);
  return exchange(kPassword, frame, 1 + passwordBytes);
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
