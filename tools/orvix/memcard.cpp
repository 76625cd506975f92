// orvix memcard: contact memory cards, a run of bytes read into a file or
// written from one, through the operations library (ops/memcard.h).
#include "orvix/ops/memcard.h"

#include <memory>

#include "commands.h"

namespace orvix {

namespace {

struct MemArgs {
  int type = -1, area = -1, page = 0, address = 0, length = -1;
  std::string output, input;
};

void transfer(Context& ctx, const MemArgs& a, bool write) {
  const ops::MemoryRun run{a.type, a.area, a.page, a.address};
  Bytes data;
  int length = a.length;
  if (write) {
    ops::memoryRunStart(run, 1);  // the options first, then the file
    const std::string in = readFile(a.input, 65536u * 264);
    if (length < 0) length = static_cast<int>(in.size());
    if (static_cast<std::size_t>(length) > in.size())
      failData(a.input + " holds " + std::to_string(in.size()) + " bytes, fewer than --length " +
               std::to_string(length));
    data.assign(in.begin(), in.begin() + length);
  }
  const long long start = ops::memoryRunStart(run, length);
  if (!write) data.assign(static_cast<std::size_t>(length), 0);
  if (!write) claimOutput(ctx, a.output);
  ctx.link();
  {
    Progress progress(write ? "writing" : "reading", static_cast<std::size_t>(length));
    ops::Control control;
    control.progress = [&](std::size_t done, std::size_t) { progress.update(done); };
    ops::memoryTransfer(reader(), run, write, data, control);
  }
  if (!write) writeFiles({{a.output, std::string(data.begin(), data.end())}});
  const std::string file = write ? a.input : a.output;
  emit(ctx, {{"type", a.type}, {"position", start}, {"length", length}, {"file", file}},
       (write ? "wrote " : "read ") + std::to_string(length) + " bytes at position " +
           std::to_string(start) + (write ? " from " : " into ") + file + "\n");
}

}  // namespace

void addMemcard(CLI::App& app, Context& ctx) {
  auto a = std::make_shared<MemArgs>();
  auto* m = app.add_subcommand("memcard", "contact memory cards: read or write a run of bytes");
  m->require_subcommand(1);
  for (const bool write : {false, true}) {
    auto* c = m->add_subcommand(write ? "write" : "read",
                                write ? "write a file onto the card" : "read the card into a file");
    c->add_option("--type", a->type, "the card type code (e.g. 21)")->check(decimal())->required();
    c->add_option("--area", a->area, "an area (18 = the card memory); default: block transfer")
        ->check(decimal());
    c->add_option("--page", a->page, "the first page (default 0)")->check(decimal());
    c->add_option("--address", a->address, "the address within the page (default 0)")
        ->check(decimal());
    auto* len = c->add_option("--length", a->length, "the number of bytes")->check(decimal());
    if (write) {
      c->add_option("-i,--input", a->input, "the file to write (length: its size)")->required();
    } else {
      len->required();
      c->add_option("-o,--output", a->output, "the file to write into")->required();
    }
    c->callback([&ctx, a, write] { transfer(ctx, *a, write); });
  }
}

}  // namespace orvix
