// APDUs for the CPU card or a SAM: one APDU in the reader's fixed layout,
// and scripts of them.
//   hex APDU (blanks allowed)   sent as it is
//   expect SW                   the last APDU's status words (x = any digit)
//   reset                       a new answer to reset (and so the protocol)
//   # comment, blank lines      ignored
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "orvix/ops/text.h"

struct orvix_reader;

namespace orvix::ops {

// "CPU card" for slot 0, "SAM n" for slots 1-4.
std::string slotName(int slot);
// Why the APDU cannot go out ("" when it can): at least CLA INS P1 P2, and
// Lc 1-83 matching the data that follows.
std::string apduProblem(const Bytes& apdu);
// Sends one well-formed APDU to the slot; the reply's data in response.
// Returns the status words, or the library's result when the exchange
// failed (apduFailed tells which).
int sendApdu(orvix_reader* r, int slot, const Bytes& apdu, Bytes& response);
bool apduFailed(int result);
// A new answer to reset of the slot, as hexadecimal digits; an Error on
// failure.
std::string resetSlot(orvix_reader* r, int slot);

struct ApduStep {
  int line;
  bool reset;
  Bytes apdu;
  std::string sw;  // expected status words, "" for any
};
// The whole script checked before anything is sent: a Fault::Data Error
// "FILE line N: …" for the first bad line.
std::vector<ApduStep> parseApduScript(std::string_view text, const std::string& file);

struct ApduExchange {
  std::string reset;           // the answer to reset, for a reset
  std::string apdu, data, sw;  // for an APDU
};
// Runs the script on the slot after a first reset, adding each exchange to
// log and telling it to say as it happens ("reset …: ATR", "> APDU",
// "< DATA SW"). An unmet expectation ends it with a Fault::Refused Error.
void runApduScript(orvix_reader* r, int slot, const std::vector<ApduStep>& steps,
                   const std::string& file, std::vector<ApduExchange>& log,
                   const std::function<void(const std::string&)>& say);

}  // namespace orvix::ops
