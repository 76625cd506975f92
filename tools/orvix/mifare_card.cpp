#include "mifare_card.h"

#include <algorithm>
#include <cstring>

#include "orvix.h"

namespace orvix::mifare {

namespace {

const char* keyName(int keyType) { return keyType ? "key B" : "key A"; }

// The reader's status for a key the card did not accept.
constexpr int kAuthRefused = 0x22;

void addUnique(std::vector<Key>& list, const std::optional<Key>& k) {
  if (k && std::find(list.begin(), list.end(), *k) == list.end()) list.push_back(*k);
}

}  // namespace

int Card::guard(int result, const std::string& what) {
  if (isLinkError(result) || result == ORVIX_CANCELLED) check(result, what);
  if (result != 0) {
    // A refusal may leave the card halted or idle: wake it before the next
    // authentication.
    awake_ = false;
    authSector_ = -1;
  }
  return result;
}

void Card::wake() {
  unsigned char type[4] = {};
  check(orvix_mifare_request(handle(), 1, type, sizeof type),
        "request (no Mifare card in the field?)");
  if (type[0] != 4 || type[1] != 0)
    throw Failure(kExitRefused, "the card in the field is not a Mifare 1 card (type code " +
                                    std::to_string(type[0] | type[1] << 8) + ")");
  unsigned char s[4] = {};
  check(orvix_mifare_anticoll(handle(), s, sizeof s), "anticollision");
  std::memcpy(&serial_, s, 4);
  int asInt = 0;
  std::memcpy(&asInt, s, 4);
  check(orvix_mifare_select(handle(), asInt), "select card " + hex(s, 4));
  awake_ = true;
  authSector_ = -1;
}

bool Card::authenticate(int sector, int keyType, const Key& key) {
  if (!awake_) wake();
  if (loaded_[keyType][sector] != key) {
    check(orvix_mifare_load_key(handle(), keyType * 4, sector, key.data(), key.size()),
          std::string("load ") + keyName(keyType) + " of sector " + std::to_string(sector));
    loaded_[keyType][sector] = key;
  }
  const std::string what =
      "authenticate sector " + std::to_string(sector) + " with " + keyName(keyType);
  const int r =
      guard(orvix_mifare_authenticate(handle(), keyType, sector, trailerOf(sector)), what);
  if (r == kAuthRefused) return false;
  // Anything else (no card, a wrong parameter) is no answer about the key.
  check(r, what);
  authSector_ = sector;
  authType_ = keyType;
  return true;
}

bool Card::ensure(int sector, int keyType, const Key& key) {
  if (awake_ && authSector_ == sector && authType_ == keyType) return true;
  return authenticate(sector, keyType, key);
}

int Card::read(int block, Block& out) {
  return guard(orvix_mifare_read(handle(), block, out.data(), out.size()),
               "read block " + std::to_string(block));
}

int Card::write(int block, const Block& data) {
  return guard(orvix_mifare_write(handle(), block, data.data(), data.size()),
               "write block " + std::to_string(block));
}

int Card::step(int block, std::int32_t amount, bool increment) {
  const int r = increment ? orvix_mifare_increment(handle(), block, amount)
                          : orvix_mifare_decrement(handle(), block, amount);
  const std::string what =
      (increment ? "increment block " : "decrement block ") + std::to_string(block);
  // After the frame went out (108 … 115) the library does not send it again:
  // the reader may have carried it out.
  if (r >= 108 && r <= 115)
    throw Failure(kExitLink, what + ": result " + resultText(r) +
                                 "; the card may have been changed; read the value back");
  return guard(r, what);
}

std::optional<Key> Card::findKey(int sector, int keyType, const std::vector<Key>& list) {
  for (const auto& k : list)
    if (authenticate(sector, keyType, k)) return k;
  return std::nullopt;
}

std::vector<Key> candidates(int sector, int keyType, const KeyFile& kf, const Dump& known,
                            const std::vector<Key>& extra) {
  std::vector<Key> out;
  addUnique(out, keyType ? kf.keyB[sector] : kf.keyA[sector]);
  addUnique(out, keyType ? known.keyB[sector] : known.keyA[sector]);
  for (int s = 0; s < kSectors; ++s) addUnique(out, keyType ? known.keyB[s] : known.keyA[s]);
  for (const auto& k : kf.any) addUnique(out, k);
  for (const auto& k : extra) addUnique(out, k);
  return out;
}

Dump dumpCard(Card& card, const KeyFile& kf, Progress& progress, DumpReport& report) {
  Dump d;
  const bool anyFile =
      !kf.any.empty() || std::any_of(kf.keyA.begin(), kf.keyA.end(), [](auto& k) { return !!k; });
  const std::vector<Key> extra = anyFile ? std::vector<Key>{} : defaultKeys();
  card.wake();
  for (int s = 0; s < kSectors; ++s) {
    auto readWith = [&](int keyType, const Key& key) {
      for (int b = s * 4; b < s * 4 + 4; ++b) {
        if (interrupted())
          throw Failure(kExitInterrupted, "interrupted at block " + std::to_string(b));
        if (d.blocks[b] || !card.ensure(s, keyType, key)) continue;
        Block blk{};
        if (card.read(b, blk) == 0) d.blocks[b] = blk;
      }
    };
    auto readSector = [&] {
      d.keyA[s] = card.findKey(s, 0, candidates(s, 0, kf, d, extra));
      if (d.keyA[s]) {
        readWith(0, *d.keyA[s]);
        // Key B reads back through key A where the access conditions allow it.
        if (const auto& t = d.blocks[trailerOf(s)])
          if (auto c = decodeAccess(t->data() + 6); c && ops::keyBReadable((*c)[3])) {
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
    };
    try {
      readSector();
    } catch (const Failure& f) {
      if (f.exit == kExitLink) throw;
      report.errors.push_back(f.what());  // this sector's search ends here
    }
    report.keysFound += !!d.keyA[s] + !!d.keyB[s];
    bool all = true;
    for (int b = s * 4; b < s * 4 + 4; ++b)
      if (!d.blocks[b]) {
        report.unread.push_back(b);
        all = false;
      }
    report.sectorsRead += all;
    progress.update(static_cast<std::size_t>(s + 1));
  }
  return d;
}

void checkTrailer(const Block& t, int sector, bool force) {
  if (auto why = ops::writeRefusal(trailerOf(sector), t, force); !why.empty()) failData(why);
}

namespace {
void restoreBlocks(Card& card, const Dump& d, const KeyFile& kf, const RestoreOptions& o,
                   Progress& progress, std::vector<int>& written);
}

int restoreCard(Card& card, const Dump& d, const KeyFile& kf, const RestoreOptions& o,
                Progress& progress) {
  for (int s : o.sectors) {
    if (!o.withTrailers || !d.blocks[trailerOf(s)]) continue;
    if (!d.keyA[s] || !d.keyB[s])
      failData("sector " + std::to_string(s) + " trailer: the file does not hold both keys");
    Block t = *d.blocks[trailerOf(s)];
    std::copy(d.keyA[s]->begin(), d.keyA[s]->end(), t.begin());
    std::copy(d.keyB[s]->begin(), d.keyB[s]->end(), t.begin() + 10);
    checkTrailer(t, s, o.force);
  }
  std::vector<int> written;
  try {
    restoreBlocks(card, d, kf, o, progress, written);
  } catch (const Failure& f) {
    std::string list;
    for (int b : written) list += " " + std::to_string(b);
    throw Failure(f.exit, f.what() + (list.empty() ? std::string("; nothing was written")
                                                   : "; blocks already written:" + list));
  }
  return static_cast<int>(written.size());
}

namespace {

// Writes the blocks and reads each back; written names those done.
void restoreBlocks(Card& card, const Dump& d, const KeyFile& kf, const RestoreOptions& o,
                   Progress& progress, std::vector<int>& written) {
  card.wake();
  std::vector<Key> extra = defaultKeys();
  int done = 0;
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
      if (interrupted())
        throw Failure(kExitInterrupted, "interrupted before block " + std::to_string(b));
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
          throw Failure(kExitRefused,
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
          throw Failure(kExitRefused, "block " + std::to_string(b) + " reads back " +
                                          hex(back.data(), 16) + ", not " + hex(data.data(), 16));
      }
      if (!ok) check(refused, "write block " + std::to_string(b));
      if (!ok)
        throw Failure(kExitRefused, "block " + std::to_string(b) +
                                        ": no key opened the sector for writing (tried the key "
                                        "file, the file's own keys and the default keys)");
      written.push_back(b);
      if (isTrailer(b)) {  // the card's keys are now the file's
        opened.keyA[s] = d.keyA[s];
        opened.keyB[s] = d.keyB[s];
        card.wake();
      }
    }
    progress.update(static_cast<std::size_t>(++done));
  }
}

}  // namespace

}  // namespace orvix::mifare
