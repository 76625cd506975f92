// orvix attendance: export the terminal's records as CSV, read or set its
// clock, through the operations library.
#include "orvix/ops/attendance.h"

#include <memory>
#include <optional>

#include "commands.h"

namespace orvix {

namespace {

struct AttArgs {
  std::string from, to, output, set;
};

void exportRecords(Context& ctx, const AttArgs& a) {
  const int from = ops::dateKey(a.from, "--from", 0), to = ops::dateKey(a.to, "--to", 99999999);
  claimOutput(ctx, a.output);
  ctx.link();
  std::optional<Progress> progress;
  ops::Control control;
  control.progress = [&](std::size_t done, std::size_t total) {
    if (!progress) progress.emplace("reading records", total);
    progress->update(done);
  };
  const auto got = ops::readRecords(reader(), from, to, control);
  progress.reset();
  writeFiles({{a.output, ops::recordsCsv(got.kept)}});
  const int kept = static_cast<int>(got.kept.size());
  emit(ctx, {{"file", a.output}, {"records", kept}, {"onTerminal", got.onTerminal}},
       std::to_string(kept) + " of " + std::to_string(got.onTerminal) + " records written to " +
           a.output + "\n");
}

void clock(Context& ctx, const AttArgs& a) {
  if (!a.set.empty()) {
    const auto words = ops::clockSetting(a.set, "--set");
    ctx.link();
    ops::setClock(reader(), words);
  } else {
    ctx.link();
  }
  const auto c = ops::readClock(reader());
  emit(ctx, {{"clock", c.text}, {"weekday", c.weekday}}, c.text + " " + c.weekday + "\n");
}

}  // namespace

void addAttendance(CLI::App& app, Context& ctx) {
  auto a = std::make_shared<AttArgs>();
  auto* m = app.add_subcommand("attendance", "the attendance terminal: records and clock");
  m->require_subcommand(1);
  auto* e = m->add_subcommand("export", "write the records as CSV: card, date, time");
  e->add_option("--from", a->from, "first date, YYYY-MM-DD");
  e->add_option("--to", a->to, "last date, YYYY-MM-DD");
  e->add_option("-o,--output", a->output, "the CSV file")->required();
  e->callback([&ctx, a] { exportRecords(ctx, *a); });
  auto* c = m->add_subcommand("clock", "read the terminal's clock, or set it");
  c->add_option("--set", a->set, "now, or \"YYYY-MM-DD HH:MM[:SS]\"");
  c->callback([&ctx, a] { clock(ctx, *a); });
}

}  // namespace orvix
