#include "orvix/ops/apdu.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "orvix.h"
#include "orvix/ops/error.h"

namespace orvix::ops {

namespace {

bool swMatches(const std::string& pattern, int sw) {
  char have[5];
  std::snprintf(have, sizeof have, "%04X", sw);
  for (int i = 0; i < 4; ++i)
    if (std::tolower(pattern[i]) != 'x' && std::toupper(pattern[i]) != have[i]) return false;
  return true;
}

std::string swText(int sw) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", sw);
  return text;
}

}  // namespace

std::string slotName(int slot) { return slot ? "SAM " + std::to_string(slot) : "CPU card"; }

std::string apduProblem(const Bytes& a) {
  if (a.size() < 4) return "at least CLA INS P1 P2";
  const std::size_t lc = a.size() > 5 ? a[4] : 0;
  if (a.size() > 5 && (lc > 83 || (a.size() != 5 + lc && a.size() != 6 + lc)))
    return "Lc must be 1-83 and match the data that follows";
  return {};
}

bool apduFailed(int result) {
  return (result > 0 && result < 0x100) || result >= ORVIX_NO_STATUS_WORD;
}

int sendApdu(orvix_reader* r, int slot, const Bytes& a, Bytes& response) {
  // The fixed layout: CLA INS P1 P2 Lc, data from byte 5, Le at byte 133.
  unsigned char cmd[134] = {}, resp[256] = {};
  std::copy_n(a.begin(), 4, cmd);
  if (a.size() == 5) {
    cmd[133] = a[4];
  } else if (a.size() > 5) {
    cmd[4] = a[4];
    std::copy(a.begin() + 5, a.begin() + 5 + a[4], cmd + 5);
    if (a.size() == 6u + a[4]) cmd[133] = a.back();
  }
  const int result = orvix_cpu_command(r, slot, cmd, sizeof cmd, resp, sizeof resp);
  response.assign(resp + 1, resp + 1 + resp[0]);
  return result;
}

std::string resetSlot(orvix_reader* r, int slot) {
  unsigned char answer[256] = {};
  check(orvix_cpu_reset(r, slot, answer, sizeof answer, nullptr), "reset " + slotName(slot), kCpu);
  return hex(answer + 1, answer[0]);
}

std::vector<ApduStep> parseApduScript(std::string_view text, const std::string& file) {
  std::vector<ApduStep> steps;
  std::istringstream in{std::string(text)};
  std::string raw;
  for (int n = 1; std::getline(in, raw); ++n) {
    std::string l = raw.substr(0, raw.find('#'));
    l.erase(std::remove(l.begin(), l.end(), '\r'), l.end());
    std::istringstream words(l);
    std::string first;
    if (!(words >> first)) continue;
    const std::string where = file + " line " + std::to_string(n);
    if (first == "reset") {
      steps.push_back({n, true, {}, {}});
    } else if (first == "expect") {
      std::string sw, rest;
      while (words >> rest) sw += rest;
      if (sw.size() != 4 || sw.find_first_not_of("0123456789abcdefABCDEFxX") != std::string::npos)
        badData(where + ": expect takes 4 hex digits (x for any), e.g. expect 9000");
      if (steps.empty() || steps.back().reset) badData(where + ": expect without an APDU");
      steps.back().sw = sw;
    } else {
      auto apdu = parseHex(l);
      if (!apdu || apdu->size() < 4)
        badData(where + ": neither an APDU (at least CLA INS P1 P2 in hex) nor reset/expect");
      if (const auto why = apduProblem(*apdu); !why.empty()) badData(where + ": " + why);
      steps.push_back({n, false, *apdu, {}});
    }
  }
  return steps;
}

void runApduScript(orvix_reader* r, int slot, const std::vector<ApduStep>& steps,
                   const std::string& file, std::vector<ApduExchange>& log,
                   const std::function<void(const std::string&)>& say) {
  auto reset = [&] {
    const std::string atr = resetSlot(r, slot);
    say("reset " + slotName(slot) + ": " + atr);
    log.push_back({atr, {}, {}, {}});
  };
  reset();
  for (const auto& st : steps) {
    if (st.reset) {
      reset();
      continue;
    }
    say("> " + hex(st.apdu));
    Bytes data;
    const int sw = sendApdu(r, slot, st.apdu, data);
    const std::string where = file + " line " + std::to_string(st.line);
    if (apduFailed(sw)) check(sw, where + ": APDU to the " + slotName(slot), kCpu);
    say("< " + (data.empty() ? "" : hex(data) + " ") + swText(sw));
    log.push_back({{}, hex(st.apdu), hex(data), swText(sw)});
    if (!st.sw.empty() && !swMatches(st.sw, sw))
      throw Error(Fault::Refused,
                  where + ": expected " + st.sw + ", the card answered " + swText(sw));
  }
}

}  // namespace orvix::ops
