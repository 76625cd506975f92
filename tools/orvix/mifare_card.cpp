#include "mifare_card.h"

namespace orvix::mifare {

Dump dumpCard(Card& card, const KeyFile& keys, Progress& progress, DumpReport& report) {
  return asFailure([&] {
    ops::Control c;
    c.progress = [&](std::size_t done, std::size_t) { progress.update(done); };
    auto r = ops::dumpCard(card.card(), {keys, true}, c);
    report = {r.sectorsRead, r.keysFound, r.unread, r.errors};
    return r.dump;
  });
}

int restoreCard(Card& card, const Dump& d, const KeyFile& keys, const RestoreOptions& o,
                Progress& progress) {
  return asFailure([&] {
    ops::Control c;
    c.progress = [&](std::size_t done, std::size_t) { progress.update(done); };
    return ops::restoreCard(card.card(), d, {o.sectors, o.withTrailers, o.force, keys}, c).written;
  });
}

void checkTrailer(const Block& t, int sector, bool force) {
  if (auto why = ops::writeRefusal(trailerOf(sector), t, force); !why.empty()) failData(why);
}

}  // namespace orvix::mifare
