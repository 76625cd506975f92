#include "orvix/ops/error.h"

#include <cstdio>

#include "orvix.h"

namespace orvix::ops {

namespace {

// The reader's own statuses that mean something to a person at the bench.
struct ReaderStatus {
  int code;
  const char* meaning;
};
constexpr ReaderStatus kReaderStatuses[] = {
    {0x01, "unknown command"},
    {0x05, "wrong data length"},
    {0x06, "bad parameter"},
    {0x20, "no card"},
    {0x21, "wrong serial"},
    {0x22, "authentication refused"},
    {0x23, "not authenticated for that sector"},
    {0x24, "access denied by the access conditions"},
    {0x25, "not in value format, or the value would leave its range"},
    {0x26, "bad block or sector number"},
    {0x27, "sector locked"},
    {0x30, "no card in the contact slot"},
    {0x31, "card not powered"},
    {0x32, "wrong kind of card"},
    {0x33, "unknown card type"},
    {0x34, "bad address"},
    {0x35, "wrong code"},
    {0x36, "card locked"},
    {0x37, "code not verified"},
    {0x38, "read-only"},
    {0x48, "bad clock"},
    {0x49, "bad request"},
    {0x4A, "no such record"},
};

}  // namespace

std::string resultText(int result, int /*family*/) {
  std::string text = std::to_string(result) + " (";
  if (result == 0) return text + "ok)";
  // A link error's letter is its code as a character: 101 is 'e'.
  if (isLinkError(result))
    return text + "link error " + static_cast<char>(result) + ": " + orvix_strerror(result) + ")";
  if (result == ORVIX_BAD_ARGUMENT) return text + "argument out of range, nothing sent)";
  if (result >= ORVIX_NO_STATUS_WORD) return text + orvix_strerror(result) + ")";
  char code[16];
  std::snprintf(code, sizeof code, "0x%02X", result);
  text += "reader status ";
  text += code;
  for (const auto& s : kReaderStatuses)
    if (s.code == result) return text + ": " + s.meaning + ")";
  return text + ")";
}

Fault faultOf(int result) {
  if (result == ORVIX_CANCELLED) return Fault::Cancelled;
  if (isLinkError(result) || result == ORVIX_NO_PORT || result == ORVIX_PORT_BUSY ||
      result == ORVIX_PERMISSION_DENIED)
    return Fault::Link;
  if (result == ORVIX_BAD_ARGUMENT) return Fault::Data;
  return Fault::Refused;
}

void check(int result, const std::string& step, int family) {
  if (result != 0)
    throw Error(faultOf(result), step + ": result " + resultText(result, family), result, step);
}

void badArgument(const std::string& name, const std::string& reason) {
  throw Error(Fault::Argument, name + ": " + reason, 0, {}, name);
}

void badData(const std::string& text) { throw Error(Fault::Data, text); }

}  // namespace orvix::ops
