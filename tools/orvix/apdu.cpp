// orvix apdu: a script of APDUs for the CPU card or a SAM.
//   hex APDU (blanks allowed)   sent as it is; prints "> APDU" and "< DATA SW"
//   expect SW                   the last APDU's status words (x = any digit)
//   reset                       a new answer to reset (and so the protocol)
//   # comment, blank lines      ignored
#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <sstream>

#include "commands.h"
#include "orvix.h"

namespace orvix {

namespace {

struct Script {
  std::string file;
  int sam = 0;
};

std::string slotName(int sam) { return sam ? "SAM " + std::to_string(sam) : "CPU card"; }

bool swMatches(const std::string& pattern, int sw) {
  char have[5];
  std::snprintf(have, sizeof have, "%04X", sw);
  for (int i = 0; i < 4; ++i)
    if (std::tolower(pattern[i]) != 'x' && std::toupper(pattern[i]) != have[i]) return false;
  return true;
}

void runScript(Context& ctx, const Script& s) {
  if (s.sam < 0 || s.sam > 4) throw Failure(kExitUsage, "--sam: 1-4 (0 = the CPU card)");
  const std::string text = readFile(s.file, kTextLimit);
  // Check the whole script before anything is sent.
  struct Step {
    int line;
    std::string kind;
    Bytes apdu;
    std::string sw;
  };
  std::vector<Step> steps;
  std::istringstream in(text);
  std::string raw;
  for (int n = 1; std::getline(in, raw); ++n) {
    std::string l = raw.substr(0, raw.find('#'));
    l.erase(std::remove(l.begin(), l.end(), '\r'), l.end());
    std::istringstream words(l);
    std::string first;
    if (!(words >> first)) continue;
    const std::string where = s.file + " line " + std::to_string(n);
    if (first == "reset") {
      steps.push_back({n, "reset", {}, {}});
    } else if (first == "expect") {
      std::string sw, rest;
      while (words >> rest) sw += rest;
      if (sw.size() != 4 || sw.find_first_not_of("0123456789abcdefABCDEFxX") != std::string::npos)
        failData(where + ": expect takes 4 hex digits (x for any), e.g. expect 9000");
      if (steps.empty() || steps.back().kind != "apdu")
        failData(where + ": expect without an APDU");
      steps.back().sw = sw;
    } else {
      auto apdu = parseHex(l);
      if (!apdu || apdu->size() < 4)
        failData(where + ": neither an APDU (at least CLA INS P1 P2 in hex) nor reset/expect");
      const std::size_t lc = apdu->size() > 5 ? (*apdu)[4] : 0;
      if (apdu->size() > 5 && (lc > 83 || (apdu->size() != 5 + lc && apdu->size() != 6 + lc)))
        failData(where + ": Lc must be 1-83 and match the data that follows");
      steps.push_back({n, "apdu", *apdu, {}});
    }
  }
  ctx.link();
  json log = json::array();
  // Text lines go out as they happen, so a hanging card shows where it hung.
  auto say = [&](const std::string& line) {
    if (!ctx.json) std::cout << line << std::endl;
  };
  auto reset = [&] {
    unsigned char answer[256] = {};
    check(orvix_cpu_reset(reader(), s.sam, answer, sizeof answer, nullptr),
          "reset " + slotName(s.sam));
    const std::string atr = hex(answer + 1, answer[0]);
    say("reset " + slotName(s.sam) + ": " + atr);
    log.push_back({{"reset", atr}});
  };
  reset();
  for (const auto& st : steps) {
    if (st.kind == "reset") {
      reset();
      continue;
    }
    // The fixed layout: CLA INS P1 P2 Lc, data from byte 5, Le at byte 133.
    unsigned char cmd[134] = {}, resp[136] = {};
    const Bytes& a = st.apdu;
    std::copy_n(a.begin(), 4, cmd);
    if (a.size() == 5) {
      cmd[133] = a[4];
    } else if (a.size() > 5) {
      cmd[4] = a[4];
      std::copy(a.begin() + 5, a.begin() + 5 + a[4], cmd + 5);
      if (a.size() == 6u + a[4]) cmd[133] = a.back();
    }
    say("> " + hex(a));
    const int r = orvix_cpu_command(reader(), s.sam, cmd, sizeof cmd, resp, sizeof resp);
    const std::string where = s.file + " line " + std::to_string(st.line);
    if ((r > 0 && r < 0x100) || r >= ORVIX_NO_STATUS_WORD)
      check(r, where + ": APDU to the " + slotName(s.sam));
    char sw[5];
    std::snprintf(sw, sizeof sw, "%04X", r);
    const std::string data = hex(resp + 1, resp[0]);
    say("< " + (data.empty() ? "" : data + " ") + sw);
    log.push_back({{"apdu", hex(a)}, {"data", data}, {"sw", sw}});
    if (!st.sw.empty() && !swMatches(st.sw, r)) {
      emit(ctx, {{"exchanges", log}}, "");
      throw Failure(kExitRefused, where + ": expected " + st.sw + ", the card answered " + sw);
    }
  }
  emit(ctx, {{"exchanges", log}}, "");
}

}  // namespace

void addApdu(CLI::App& app, Context& ctx) {
  auto s = std::make_shared<Script>();
  auto* c = app.add_subcommand(
      "apdu", "run a script of APDUs: hex lines, 'expect SW' after one, 'reset', '# comments'");
  c->add_option("script", s->file, "the script file, or - for standard input")->required();
  c->add_option("--sam", s->sam, "a SAM slot 1-4 instead of the CPU card")->check(decimal());
  c->callback([&ctx, s] { runScript(ctx, *s); });
}

}  // namespace orvix
