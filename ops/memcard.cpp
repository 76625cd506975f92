#include "orvix/ops/memcard.h"

#include <algorithm>

#include "orvix.h"
#include "orvix/ops/error.h"

namespace orvix::ops {

namespace {

int pageSize(const MemoryRun& run) { return run.area < 0 && run.type == 21 ? 264 : 256; }

}  // namespace

long long memoryRunStart(const MemoryRun& run, long long length) {
  if (run.type < 0 || run.type > 255) badArgument("--type", "a card type code 0-255");
  if (run.page < 0 || run.address < 0) badArgument("--page, --address", "0 or more");
  if (length <= 0) badArgument("--length", "1 or more bytes");
  const bool paged = run.area < 0;
  const long long start = static_cast<long long>(run.page) * pageSize(run) + run.address;
  if (start + length > (paged ? 65536LL * pageSize(run) : 65536LL))
    throw Error(Fault::Argument, "the run passes the card's last position");
  return start;
}

void memoryTransfer(orvix_reader* r, const MemoryRun& run, bool write, Bytes& data,
                    const Control& control) {
  const auto length = static_cast<long long>(data.size());
  const long long start = memoryRunStart(run, length);
  const bool paged = run.area < 0;
  const int size = pageSize(run);
  check(orvix_select_card(r, run.type), "select card type " + std::to_string(run.type), kMemory);
  check(orvix_power_on(r), "power on the card", kMemory);
  const std::string verb = write ? "write" : "read";
  // The block transfer cuts runs at page ends: steps of one page keep the
  // exchanges the same and give the progress its ticks.
  for (long long done = 0; done < length;) {
    const long long pos = start + done;
    const int step = static_cast<int>(
        std::min<long long>(length - done, paged ? size - pos % size : 1024 - pos % 64));
    unsigned char* buf = data.data() + done;
    const auto n = static_cast<std::size_t>(step);
    auto once = [&] {
      if (paged)
        return write ? orvix_write_mem_card(r, static_cast<int>(pos), step, buf, n)
                     : orvix_read_mem_card(r, static_cast<int>(pos), step, buf, n);
      const int page = static_cast<int>(pos / 256), at = static_cast<int>(pos % 256);
      return write ? orvix_write_card(r, run.area, page, at, step, buf, n)
                   : orvix_read_card(r, run.area, page, at, step, buf, n);
    };
    int result = once();
    // The family sends each piece once; reading again is harmless.
    for (int retry = 0; !write && retry < 2 && isLinkError(result); ++retry) {
      if (orvix_relink(r) != 0 || orvix_select_card(r, run.type) != 0 || orvix_power_on(r) != 0)
        break;
      result = once();
    }
    check(result,
          verb + " " + std::to_string(step) + " bytes at position " + std::to_string(pos) +
              " of a type " + std::to_string(run.type) + " card",
          kMemory);
    done += step;
    control.report(static_cast<std::size_t>(done), static_cast<std::size_t>(length));
  }
}

}  // namespace orvix::ops
