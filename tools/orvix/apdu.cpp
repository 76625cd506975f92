// orvix apdu: a script of APDUs for the CPU card or a SAM, run by the
// operations library (ops/apdu.h has the script's lines).
#include "orvix/ops/apdu.h"

#include <iostream>
#include <memory>

#include "commands.h"

namespace orvix {

namespace {

struct Script {
  std::string file;
  int sam = 0;
};

void runScript(Context& ctx, const Script& s) {
  if (s.sam < 0 || s.sam > 4) throw Failure(kExitUsage, "--sam: 1-4 (0 = the CPU card)");
  // The whole script is checked before anything is sent.
  const auto steps = ops::parseApduScript(readFile(s.file, kTextLimit), s.file);
  ctx.link();
  std::vector<ops::ApduExchange> log;
  const auto document = [&] {
    json list = json::array();
    for (const auto& x : log)
      list.push_back(x.apdu.empty() ? json{{"reset", x.reset}}
                                    : json{{"apdu", x.apdu}, {"data", x.data}, {"sw", x.sw}});
    return json{{"exchanges", list}};
  };
  try {
    // Text lines go out as they happen, so a hanging card shows where it hung.
    ops::runApduScript(reader(), s.sam, steps, s.file, log, [&](const std::string& line) {
      if (!ctx.json) std::cout << line << std::endl;
    });
  } catch (const ops::Error& e) {
    if (e.fault == ops::Fault::Refused && !e.code) emit(ctx, document(), "");
    throw;
  }
  emit(ctx, document(), "");
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
