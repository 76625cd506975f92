#include "orvix/ops/dump.h"

#include <algorithm>

#include "orvix/ops/text.h"

namespace orvix::ops {

namespace {

std::vector<int> readBlocks(const Dump& d) {
  std::vector<int> out;
  for (int b = 0; b < kBlocks; ++b)
    if (d.blocks[b]) out.push_back(b);
  return out;
}

// The same failure with the blocks read so far named.
Error withBlocksRead(const Error& e, const Dump& d) {
  return Error(e.fault, std::string(e.what()) + "; blocks read: " + blockRanges(readBlocks(d)),
               e.code, e.step, e.argument);
}

void readSector(Card& card, int s, const KeyFile& kf, const std::vector<Key>& extra, Dump& d,
                const Control& control) {
  auto readWith = [&](int keyType, const Key& key) {
    for (int b = s * 4; b < s * 4 + 4; ++b) {
      if (control.stop())
        throw Error(Fault::Cancelled, "interrupted at block " + std::to_string(b));
      if (d.blocks[b] || !card.ensure(s, keyType, key)) continue;
      Block blk{};
      if (card.read(b, blk) == 0) d.blocks[b] = blk;
    }
  };
  d.keyA[s] = card.findKey(s, 0, candidates(s, 0, kf, d, extra));
  if (d.keyA[s]) {
    readWith(0, *d.keyA[s]);
    // Key B reads back through key A where the access conditions allow it.
    if (const auto& t = d.blocks[trailerOf(s)])
      if (auto c = decodeAccess(t->data() + 6); c && keyBReadable((*c)[3])) {
        Key b;
        std::copy_n(t->begin() + 10, 6, b.begin());
        d.keyB[s] = b;
      }
  }
  const bool missing = std::any_of(d.blocks.begin() + s * 4, d.blocks.begin() + s * 4 + 4,
                                   [](const auto& b) { return !b; });
  if (!d.keyB[s]) {
    d.keyB[s] = card.findKey(s, 1, candidates(s, 1, kf, d, extra));
    if (d.keyB[s] && missing) readWith(1, *d.keyB[s]);
  }
}

}  // namespace

std::string blockRanges(const std::vector<int>& blocks) {
  std::string out;
  for (std::size_t i = 0; i < blocks.size();) {
    std::size_t j = i;
    while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) ++j;
    out += (out.empty() ? "" : " ") + std::to_string(blocks[i]) +
           (j > i ? "-" + std::to_string(blocks[j]) : "");
    i = j + 1;
  }
  return out.empty() ? "none" : out;
}

DumpResult dumpCard(Card& card, const DumpOptions& o, const Control& control) {
  DumpResult r;
  Dump& d = r.dump;
  const KeyFile& kf = o.keys;
  const bool anyFile =
      !kf.any.empty() || std::any_of(kf.keyA.begin(), kf.keyA.end(), [](auto& k) { return !!k; });
  const std::vector<Key> extra = anyFile ? std::vector<Key>{} : defaultKeys();
  try {
    card.wake();
    for (int s = 0; s < kSectors; ++s) {
      try {
        readSector(card, s, kf, extra, d, control);
      } catch (const CardLost&) {
        throw;
      } catch (const Error& e) {
        if (e.fault == Fault::Link || e.fault == Fault::Cancelled) throw;
        r.errors.push_back(e.what());  // this sector's search ends here
      }
      r.keysFound += !!d.keyA[s] + !!d.keyB[s];
      bool all = true;
      for (int b = s * 4; b < s * 4 + 4; ++b)
        if (!d.blocks[b]) {
          r.unread.push_back(b);
          all = false;
        }
      r.sectorsRead += all;
      control.report(static_cast<std::size_t>(s + 1), kSectors);
    }
    // The card must still be the one the dump began with.
    card.wake();
  } catch (const Error& e) {
    throw withBlocksRead(e, d);
  }
  r.serial = card.serialText();
  if (r.unread.size() == kBlocks) throw Error(Fault::Refused, "no sector could be read");
  if (!r.unread.empty() && !o.partial)
    throw Error(Fault::Refused, "blocks not read: " + blockRanges(r.unread) +
                                    "; the dump is not whole (a partial dump is written only "
                                    "when asked for)");
  return r;
}

namespace {

// Writes the blocks and reads each back; written names those done.
void restoreBlocks(Card& card, const Dump& d, const RestoreOptions& o, const Control& control,
                   std::vector<int>& written) {
  card.wake();
  const KeyFile& kf = o.keys;
  std::vector<Key> extra = defaultKeys();
  std::size_t done = 0;
  Dump opened;  // keys that opened the target card
  for (int s : o.sectors) {
    std::vector<int> blocks;
    for (int b = s * 4; b < s * 4 + 3; ++b)
      if (b != 0 && d.blocks[b]) blocks.push_back(b);
    if (o.withTrailers && d.blocks[trailerOf(s)]) blocks.push_back(trailerOf(s));
    if (blocks.empty()) continue;
    // The file's own keys come after those that opened the target before.
    Dump hints = opened;
    if (!hints.keyA[s]) hints.keyA[s] = d.keyA[s];
    if (!hints.keyB[s]) hints.keyB[s] = d.keyB[s];
    for (int b : blocks) {
      if (control.stop())
        throw Error(Fault::Cancelled, "interrupted before block " + std::to_string(b));
      Block data = *d.blocks[b];
      if (isTrailer(b)) {
        std::copy(d.keyA[s]->begin(), d.keyA[s]->end(), data.begin());
        std::copy(d.keyB[s]->begin(), d.keyB[s]->end(), data.begin() + 10);
      }
      bool ok = false;
      int refused = 0;  // the card's answer to a write with a key that opened the sector
      for (int kt = 0; kt < 2 && !ok; ++kt) {
        auto& slot = kt ? opened.keyB[s] : opened.keyA[s];
        if (!slot) slot = card.findKey(s, kt, candidates(s, kt, kf, hints, extra));
        if (slot && card.ensure(s, kt, *slot)) ok = (refused = card.write(b, data)) == 0;
        if (!ok) continue;
        Block back{};
        if (const int r = card.ensure(s, kt, *slot) ? card.read(b, back) : -1; r != 0)
          throw Error(Fault::Refused,
                      "block " + std::to_string(b) + " was written but does not read back: " +
                          (r < 0 ? "authentication refused" : "result " + resultText(r)));
        // A trailer reads key A as zeros, and key B and the access bytes only
        // where the new conditions allow: compare what the card shows.
        const bool same = isTrailer(b)
                              ? std::equal(back.begin() + 6, back.begin() + 10, data.begin() + 6) ||
                                    std::all_of(back.begin() + 6, back.begin() + 10,
                                                [](std::uint8_t x) { return x == 0; })
                              : back == data;
        if (!same)
          throw Error(Fault::Refused, "block " + std::to_string(b) + " reads back " +
                                          hex(back.data(), 16) + ", not " + hex(data.data(), 16));
      }
      if (!ok) check(refused, "write block " + std::to_string(b));
      if (!ok)
        throw Error(Fault::Refused, "block " + std::to_string(b) +
                                        ": no key opened the sector for writing (tried the key "
                                        "file, the file's own keys and the default keys)");
      written.push_back(b);
      if (isTrailer(b)) {  // the card's keys are now the file's
        opened.keyA[s] = d.keyA[s];
        opened.keyB[s] = d.keyB[s];
        card.wake();
      }
    }
    control.report(++done, o.sectors.size());
  }
}

}  // namespace

RestoreResult restoreCard(Card& card, const Dump& d, const RestoreOptions& options,
                          const Control& control) {
  RestoreOptions o = options;
  if (o.sectors.empty())
    for (int s = 0; s < kSectors; ++s) o.sectors.insert(s);
  for (int s : o.sectors) {
    if (!o.withTrailers || !d.blocks[trailerOf(s)]) continue;
    if (!d.keyA[s] || !d.keyB[s])
      badData("sector " + std::to_string(s) + " trailer: the file does not hold both keys");
    Block t = *d.blocks[trailerOf(s)];
    std::copy(d.keyA[s]->begin(), d.keyA[s]->end(), t.begin());
    std::copy(d.keyB[s]->begin(), d.keyB[s]->end(), t.begin() + 10);
    if (auto why = writeRefusal(trailerOf(s), t, o.force); !why.empty()) badData(why);
  }
  RestoreResult r;
  std::vector<int> written;
  try {
    restoreBlocks(card, d, o, control, written);
  } catch (const Error& e) {
    throw Error(e.fault,
                e.what() + (written.empty() ? std::string("; nothing was written")
                                            : "; blocks already written: " +
                                                  [&] {
                                                    std::string list;
                                                    for (int b : written)
                                                      list += (list.empty() ? "" : " ") +
                                                              std::to_string(b);
                                                    return list;
                                                  }()),
                e.code, e.step);
  }
  r.written = static_cast<int>(written.size());
  for (int s : o.sectors)
    for (int b = std::max(1, s * 4); b < s * 4 + (o.withTrailers ? 4 : 3); ++b)
      if (!d.blocks[b]) r.skipped.push_back(b);
  return r;
}

}  // namespace orvix::ops
