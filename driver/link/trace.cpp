#include "link/trace.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "link/link_state.h"

namespace orvix {

bool Trace::openFromEnvironment() {
  const char* name = std::getenv("ORVIX32_TRACE");
  if (!name || !*name) return false;
  file_ = std::strcmp(name, "-") == 0 ? stderr : std::fopen(name, "a");
  return file_ != nullptr;
}

const char* Trace::statusName(std::uint8_t status) {
  static const char* const kNames[] = {
      "e sync byte not written",     "f no answer to sync",       "g answer to sync not 0x45",
      "h command byte not written",  "i length byte not written", "j command data not written",
      "k checksum byte not written", "l no acknowledge",          "m acknowledge not 0x67",
      "n poll byte not written",     "o no status byte",          "p no length byte",
      "q response data short",       "r no checksum byte",        "s checksum mismatch",
  };
  if (status == 0) return "ok";
  if (isLinkError(status)) return kNames[status - kSyncNotWritten];
  return "reader status";
}

void Trace::begin() {
  sentLen_ = 0;
  recvLen_ = 0;
}

void Trace::end(int portIndex, std::uint8_t cmd, std::uint8_t status) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#if defined(_WIN32)
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);

  std::string line;
  line.reserve(64 + 3 * (sentLen_ + recvLen_));
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s.%03d COM%d cmd %02X >", stamp, static_cast<int>(ms),
                portIndex + 1, cmd);
  line += buf;
  for (std::size_t i = 0; i < sentLen_; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", sent_[i]);
    line += buf;
  }
  line += " <";
  for (std::size_t i = 0; i < recvLen_; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", recv_[i]);
    line += buf;
  }
  std::snprintf(buf, sizeof buf, " status %u (%s)\n", status, statusName(status));
  line += buf;
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace orvix
