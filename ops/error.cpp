#include "orvix/ops/error.h"

#include <cstdio>

#include "orvix.h"

namespace orvix::ops {

std::string resultText(int result, int family) {
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
  // The library's text for the family, or orvix_strerror's when the family
  // has no meaning for the code.
  const char* meaning = orvix_status_text(family, result);
  if (meaning == orvix_strerror(result)) return text + ")";
  return text + ": " + meaning + ")";
}

Fault faultOf(int result) {
  if (result == ORVIX_CANCELLED || result == ORVIX_CARD_MAY_HAVE_CHANGED) return Fault::Cancelled;
  // The port could not be opened (no port, busy, no permission, the network
  // ports' failures, not a serial device).
  if (isLinkError(result) || (result >= ORVIX_NO_PORT && result <= ORVIX_PERMISSION_DENIED) ||
      (result >= ORVIX_CONNECTION_REFUSED && result <= ORVIX_NOT_SERIAL))
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
