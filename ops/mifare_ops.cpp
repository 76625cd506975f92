#include "orvix/ops/mifare_ops.h"

#include <algorithm>
#include <climits>

#include "orvix/ops/text.h"

namespace orvix::ops {

namespace {

// Opens the block's sector with the first key that lets op succeed: key A,
// then key B. Key types not in types are not tried.
template <class Op>
void withSector(Card& card, int block, const KeyFile& kf, const std::string& what, Op op,
                std::array<bool, 2> types = {true, true}) {
  const int s = block / 4;
  Dump none;
  int last = 0;
  bool opened = false;
  for (int kt = 0; kt < 2; ++kt) {
    if (!types[kt]) continue;
    auto key = card.findKey(s, kt, candidates(s, kt, kf, none, defaultKeys()));
    if (!key) continue;
    opened = true;
    if ((last = op(kt, *key)) == 0) return;
  }
  if (!opened)
    throw Error(Fault::Refused, what + ": no key opened sector " + std::to_string(s) +
                                    " (tried as key A and key B)");
  check(last, what);
}

Value valueOf(const Block& b, int block) {
  auto v = decodeValue(b);
  if (!v)
    badData("block " + std::to_string(block) + " is not a value block (" + hex(b.data(), 16) +
            "); nothing changed");
  return *v;
}

}  // namespace

Block readBlock(Card& card, int block, const KeyFile& kf) {
  Block b{};
  withSector(card, block, kf, "read block " + std::to_string(block),
             [&](int, const Key&) { return card.read(block, b); });
  return b;
}

WriteResult writeBlock(Card& card, int block, const Block& data, const KeyFile& kf, bool force) {
  if (auto why = writeRefusal(block, data, force); !why.empty()) badData(why);
  withSector(card, block, kf, "write block " + std::to_string(block),
             [&](int, const Key&) { return card.write(block, data); });
  WriteResult r;
  if (!isTrailer(block)) {
    r.readBack = readBlock(card, block, kf);
    if (r.readBack != data)
      throw Error(Fault::Refused, "block " + std::to_string(block) + " reads back " +
                                      hex(r.readBack.data(), 16) + " after the write");
    return r;
  }
  // The trailer is read back with the keys it has just set, through a key
  // type its new access bits allow to read it.
  const int s = block / 4;
  const Conditions c = *decodeAccess(data.data() + 6);
  KeyFile now;
  Key k;
  now.keyA[s] = (std::copy_n(data.begin(), 6, k.begin()), k);
  now.keyB[s] = (std::copy_n(data.begin() + 10, 6, k.begin()), k);
  const std::array<bool, 2> may = {mayRead(c, 3, 0), mayRead(c, 3, 1)};
  if (!may[0] && !may[1]) {
    r.verified = false;
    r.note = "written, not verified: no key may read sector " + std::to_string(s) +
             "'s trailer under its new access bits";
    return r;
  }
  card.wake();  // the keys changed: authenticate afresh
  const std::string what = "read back block " + std::to_string(block);
  int result = 0;
  for (int kt = 0; kt < 2; ++kt) {
    if (!may[kt]) continue;
    if (!card.authenticate(s, kt, *(kt ? now.keyB[s] : now.keyA[s]))) {
      result = 0x22;
      continue;
    }
    if ((result = card.read(block, r.readBack)) == 0) break;
  }
  check(result, what + " with the keys it sets");
  // A card shows key A as zeros, and key B only where it is readable.
  Block expect = data;
  std::fill_n(expect.begin(), 6, 0);
  if (!keyBReadable(c[3])) std::copy_n(r.readBack.begin() + 10, 6, expect.begin() + 10);
  if (r.readBack != expect)
    throw Error(Fault::Refused, "block " + std::to_string(block) + " reads back " +
                                    hex(r.readBack.data(), 16) + " after the write");
  return r;
}

Value valueStep(Card& card, int block, ValueStep step, std::int64_t amount, const KeyFile& kf,
                bool allowNegative) {
  static const char* names[] = {"get", "set", "add", "sub"};
  const std::string what =
      std::string("value ") + names[static_cast<int>(step)] + " on block " + std::to_string(block);
  if (block < 0 || block >= kBlocks) badArgument("block", "0-63, not " + std::to_string(block));
  if (isTrailer(block) || block == 0)
    badData("block " + std::to_string(block) + " cannot hold a value (" +
            (block ? "sector trailer" : "block 0") + ")");
  if (step == ValueStep::Set ? (amount < INT32_MIN || amount > INT32_MAX)
                             : step != ValueStep::Get && (amount < 0 || amount > INT32_MAX))
    badArgument("amount", step == ValueStep::Set ? "a signed 32-bit number"
                                                 : "0-2147483647, not " + std::to_string(amount));
  const auto a32 = static_cast<std::int32_t>(amount);
  std::int64_t expect = amount;
  if (step == ValueStep::Set) {
    const Block data = encodeValue(a32, static_cast<std::uint8_t>(block));
    withSector(card, block, kf, what, [&](int, const Key&) { return card.write(block, data); });
  } else {
    const Value before = valueOf(readBlock(card, block, kf), block);
    expect = before.amount;
    if (step != ValueStep::Get) {
      expect += step == ValueStep::Add ? amount : -amount;
      if (expect < INT32_MIN || expect > INT32_MAX)
        badData(what + ": the value would leave its range; nothing changed");
      if (step == ValueStep::Sub && expect < 0 && !allowNegative)
        throw Error(Fault::Refused, what + ": the value " + std::to_string(before.amount) +
                                        " would go below zero; nothing changed");
      withSector(card, block, kf, what,
                 [&](int, const Key&) { return card.step(block, a32, step == ValueStep::Add); });
    }
  }
  const Value now = valueOf(readBlock(card, block, kf), block);
  if (now.amount != expect)
    throw Error(Fault::Refused, what + ": the block reads back " + std::to_string(now.amount) +
                                    ", not " + std::to_string(expect));
  return now;
}

}  // namespace orvix::ops
