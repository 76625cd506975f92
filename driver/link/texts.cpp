// The texts of the result codes the library defines (orvix_strerror) and of
// the reader's own statuses, family by family (orvix_status_text): the one
// table of both that every caller shows.
#include <iterator>

#include "link/link_state.h"

namespace orvix {

const char* resultText(int code) {
  static const char* const kLinkErrors[] = {
      "sync byte not written",     "no answer to sync",       "answer to sync not 0x45",
      "command byte not written",  "length byte not written", "command data not written",
      "checksum byte not written", "no acknowledge",          "acknowledge not 0x67",
      "poll byte not written",     "no status byte",          "no length byte",
      "response data short",       "no checksum byte",        "checksum mismatch",
  };
  static const char* const kOwn[] = {
      "no status word in the reply",
      "cancelled",
      "buffer too small",
      "no such port",
      "port busy",
      "permission denied",
      "reader not held by this thread",
      "internal error",
      "the card may have been changed; read the value back",
      "connection refused",
      "host name not resolved",
      "no server accepted the connection within 3 s",
      "the server does not speak RFC 2217",
      "the server's port is in use by another client",
      "not a serial device",
      "trace file not opened",
      "no reader at the server's line speed (tcp:// cannot change it; rfc2217:// can)",
      "the reader is held by another thread",
      "the reader was closed",
  };
  if (code == 0) return "success";
  if (code == kBadArgument) return "bad argument";
  if (code >= kSyncNotWritten && code <= kChecksumMismatch) return kLinkErrors[code - 101];
  if (code >= ORVIX_NO_STATUS_WORD && code < ORVIX_NO_STATUS_WORD + int(std::size(kOwn)))
    return kOwn[code - ORVIX_NO_STATUS_WORD];
  return "reader status";
}

namespace {

// Family bits of a status: which command families the reader answers it in.
enum : unsigned {
  kReader = 1u << ORVIX_FAMILY_READER,
  kMifare = 1u << ORVIX_FAMILY_MIFARE,
  kRf5550 = 1u << ORVIX_FAMILY_RF5550,
  kMemory = 1u << ORVIX_FAMILY_MEMORY,
  kCpu = 1u << ORVIX_FAMILY_CPU,
  kAttendance = 1u << ORVIX_FAMILY_ATTENDANCE,
  kEvery = kReader | kMifare | kRf5550 | kMemory | kCpu | kAttendance,
  kContact = kMemory | kCpu,
};

struct Status {
  int code;
  unsigned families;
  const char* text;
};

constexpr Status kStatuses[] = {
    {0x01, kEvery, "unknown command"},
    {0x02, kEvery, "the reader received a bad checksum"},
    {0x05, kEvery, "wrong data length"},
    {0x06, kEvery, "bad parameter"},
    {0x0E, kEvery, "the reader failed carrying the command out"},
    {0x20, kMifare, "no card"},
    {0x21, kMifare, "wrong serial"},
    {0x22, kMifare, "authentication refused"},
    {0x23, kMifare, "not authenticated for that sector"},
    {0x24, kMifare, "access denied by the access conditions"},
    {0x25, kMifare, "not in value format, or the value would leave its range"},
    {0x26, kMifare, "bad block or sector number"},
    {0x27, kMifare, "sector locked"},
    {0x30, kContact, "no card in the contact slot"},
    {0x31, kContact, "card not powered"},
    {0x32, kContact, "wrong kind of card"},
    {0x33, kMemory, "unknown card type"},
    {0x34, kContact, "bad address"},
    {0x35, kMemory, "wrong code"},
    {0x36, kMemory, "card locked"},
    {0x37, kMemory, "code not verified"},
    {0x38, kMemory, "read-only"},
    {0x39, kMemory, "no such code or key"},
    {0x3A, kMemory, "authentication failed"},
    {0x40, kRf5550, "no tag"},
    {0x41, kRf5550, "bad block number"},
    {0x42, kRf5550, "wrong password"},
    {0x43, kRf5550, "block locked"},
    {0x44, kRf5550, "block read-protected"},
    {0x48, kAttendance, "bad clock"},
    {0x49, kAttendance, "bad request"},
    {0x4A, kAttendance, "no such record"},
};

}  // namespace

const char* statusText(int family, int code) {
  if (family >= ORVIX_FAMILY_READER && family <= ORVIX_FAMILY_ATTENDANCE)
    for (const auto& s : kStatuses)
      if (s.code == code && (s.families & (1u << family))) return s.text;
  return resultText(code);
}

}  // namespace orvix

extern "C" {
ORVIX32_API const char* ORVIX32_CALL orvix_strerror(int code) { return orvix::resultText(code); }
ORVIX32_API const char* ORVIX32_CALL orvix_status_text(int family, int code) {
  return orvix::statusText(family, code);
}
}
