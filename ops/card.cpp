#include "orvix/ops/card.h"

#include <algorithm>
#include <cstring>

#include "orvix.h"
#include "orvix/ops/text.h"

namespace orvix::ops {

namespace {

const char* keyName(int keyType) { return keyType ? "key B" : "key A"; }

// The reader's status for a key the card did not accept.
constexpr int kAuthRefused = 0x22;

void addUnique(std::vector<Key>& list, const std::optional<Key>& k) {
  if (k && std::find(list.begin(), list.end(), *k) == list.end()) list.push_back(*k);
}

}  // namespace

int Card::guard(int result, const std::string& what) {
  if (faultOf(result) == Fault::Link || result == ORVIX_CANCELLED) check(result, what);
  if (result != 0) {
    // A refusal may leave the card halted or idle: wake it before the next
    // authentication.
    awake_ = false;
    authSector_ = -1;
  }
  return result;
}

std::string Card::serialText() const {
  std::uint8_t s[4];
  std::memcpy(s, &serial_, 4);
  return hex(s, 4);
}

void Card::wake() {
  unsigned char type[4] = {};
  const int r = orvix_mifare_request(reader_, 1, type, sizeof type);
  if (pinned_ && r == 0x20)
    throw CardLost(Fault::Refused, "card " + serialText() + " left the field", r, "request");
  check(r, "request (no Mifare card in the field?)");
  if (type[0] != 4 || type[1] != 0)
    throw Error(Fault::Refused, "the card in the field is not a Mifare 1 card (type code " +
                                    std::to_string(type[0] | type[1] << 8) + ")");
  unsigned char s[4] = {};
  check(orvix_mifare_anticoll(reader_, s, sizeof s), "anticollision");
  std::uint32_t now;
  std::memcpy(&now, s, 4);
  if (pinned_ && now != serial_)
    throw CardLost(Fault::Refused,
                   "another card (" + hex(s, 4) + ") answered in place of card " + serialText(), 0,
                   "anticollision");
  serial_ = now;
  pinned_ = true;
  int asInt = 0;
  std::memcpy(&asInt, s, 4);
  check(orvix_mifare_select(reader_, asInt), "select card " + hex(s, 4));
  awake_ = true;
  authSector_ = -1;
}

bool Card::authenticate(int sector, int keyType, const Key& key) {
  if (!awake_) wake();
  if (loaded_[keyType][sector] != key) {
    check(orvix_mifare_load_key(reader_, keyType * 4, sector, key.data(), key.size()),
          std::string("load ") + keyName(keyType) + " of sector " + std::to_string(sector));
    loaded_[keyType][sector] = key;
  }
  const std::string what =
      "authenticate sector " + std::to_string(sector) + " with " + keyName(keyType);
  const int r = guard(orvix_mifare_authenticate(reader_, keyType, sector, trailerOf(sector)), what);
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
  return guard(orvix_mifare_read(reader_, block, out.data(), out.size()),
               "read block " + std::to_string(block));
}

int Card::write(int block, const Block& data) {
  return guard(orvix_mifare_write(reader_, block, data.data(), data.size()),
               "write block " + std::to_string(block));
}

int Card::step(int block, std::int32_t amount, bool increment) {
  const int r = increment ? orvix_mifare_increment(reader_, block, amount)
                          : orvix_mifare_decrement(reader_, block, amount);
  const std::string what =
      (increment ? "increment block " : "decrement block ") + std::to_string(block);
  // After the frame went out (108 … 115) the library does not send it again:
  // the reader may have carried it out.
  if (r >= 108 && r <= 115)
    throw Error(Fault::Link,
                what + ": result " + resultText(r) +
                    "; the card may have been changed; read the value back",
                r, what);
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

}  // namespace orvix::ops
