// orvix memcard: contact memory cards. Without --area the run goes through
// the block transfer of page-organised cards; with --area through the area
// read and write of the card type.
#include <memory>

#include "commands.h"
#include "orvix.h"

namespace orvix {

namespace {

struct MemArgs {
  int type = -1, area = -1, page = 0, address = 0, length = -1;
  std::string output, input;
};

void transfer(Context& ctx, const MemArgs& a, bool write) {
  if (a.type < 0 || a.type > 255) throw Failure(kExitUsage, "--type: a card type code 0-255");
  if (a.page < 0 || a.address < 0) throw Failure(kExitUsage, "--page, --address: 0 or more");
  Bytes data;
  int length = a.length;
  if (write) {
    const std::string in = readFile(a.input, 65536u * 264);
    if (length < 0) length = static_cast<int>(in.size());
    if (static_cast<std::size_t>(length) > in.size())
      failData(a.input + " holds " + std::to_string(in.size()) + " bytes, fewer than --length " +
               std::to_string(length));
    data.assign(in.begin(), in.begin() + length);
  }
  if (length <= 0) throw Failure(kExitUsage, "--length: 1 or more bytes");
  const bool paged = a.area < 0;
  // The block transfer cuts runs at page ends: steps of one page keep the
  // exchanges the same and give the progress bar its ticks.
  const int pageSize = a.type == 21 ? 264 : 256;
  const long long start =
      paged ? static_cast<long long>(a.page) * pageSize + a.address : a.page * 256LL + a.address;
  if (start + length > (paged ? 65536LL * pageSize : 65536LL))
    throw Failure(kExitUsage, "the run passes the card's last position");
  if (!write) data.assign(static_cast<std::size_t>(length), 0);
  if (!write) claimOutput(ctx, a.output);
  ctx.link();
  check(orvix_select_card(reader(), a.type), "select card type " + std::to_string(a.type));
  check(orvix_power_on(reader()), "power on the card");
  const std::string verb = write ? "write" : "read";
  {
    Progress progress(write ? "writing" : "reading", static_cast<std::size_t>(length));
    long long done = 0;
    while (done < length) {
      const long long pos = start + done;
      const int step = static_cast<int>(
          std::min<long long>(length - done, paged ? pageSize - pos % pageSize : 1024 - pos % 64));
      unsigned char* buf = data.data() + done;
      auto once = [&] {
        if (paged)
          return write ? orvix_write_mem_card(reader(), static_cast<int>(pos), step, buf,
                                              static_cast<std::size_t>(step))
                       : orvix_read_mem_card(reader(), static_cast<int>(pos), step, buf,
                                             static_cast<std::size_t>(step));
        const int page = static_cast<int>(pos / 256), at = static_cast<int>(pos % 256);
        return write ? orvix_write_card(reader(), a.area, page, at, step, buf,
                                        static_cast<std::size_t>(step))
                     : orvix_read_card(reader(), a.area, page, at, step, buf,
                                       static_cast<std::size_t>(step));
      };
      int r = once();
      // The family sends each piece once; a read that met a link error is
      // repeated after a fresh link (twice at most): reading again is harmless.
      for (int retry = 0; !write && retry < 2 && isLinkError(r); ++retry) {
        if (orvix_relink(reader()) != 0 || orvix_select_card(reader(), a.type) != 0 ||
            orvix_power_on(reader()) != 0)
          break;
        r = once();
      }
      check(r, verb + " " + std::to_string(step) + " bytes at position " + std::to_string(pos) +
                   " of a type " + std::to_string(a.type) + " card");
      done += step;
      progress.update(static_cast<std::size_t>(done));
    }
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
