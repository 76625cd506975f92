// The simulated Mifare module and its cards, driven command by command
// through execute(): card states, authentication, the access-conditions
// tables, value blocks, the one-shot commands and the Mifare Light card.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "core/status.h"
#include "mifare/mifare_module.h"

namespace {

using readersim::MifareModule;
using readersim::Reply;
using namespace readersim::mifare;
namespace st = readersim::status;
using Bytes = std::vector<std::uint8_t>;

const Serial kSerial{0x12, 0x34, 0x56, 0x78};
const Serial kOther{0xCA, 0xFE, 0x00, 0x01};
const Key kKeyA{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const Key kKeyB{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};

Bytes le(std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
          static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes r;
  for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}
Bytes of(const Serial& s) { return {s.begin(), s.end()}; }
Bytes of(const Key& k) { return {k.begin(), k.end()}; }
std::int32_t valueOf(const Reply& r) {
  EXPECT_EQ(r.data.size(), 4u);
  if (r.data.size() != 4) return 0;
  return static_cast<std::int32_t>(r.data[0] | r.data[1] << 8 | r.data[2] << 16 |
                                   static_cast<std::uint32_t>(r.data[3]) << 24);
}

// The reader with helpers named after the library's exports.
class Reader {
 public:
  MifareModule m;

  Reply cmd(std::uint8_t c, const Bytes& d = {}) { return m.execute(c, d); }
  std::uint8_t request(int mode) { return cmd(0xB5, {static_cast<std::uint8_t>(mode)}).status; }
  std::uint8_t select(const Serial& s) { return cmd(0xB7, of(s)).status; }
  // Request all, anticollision, select: the card is active.
  void activate(const Serial& s = kSerial) {
    ASSERT_EQ(request(1), 0);
    ASSERT_EQ(select(s), 0);
  }
  std::uint8_t loadKey(KeyType kt, int sector, const Key& k) {
    return cmd(0xB4, cat({{static_cast<std::uint8_t>(kt == KeyType::A ? 0 : 4),
                           static_cast<std::uint8_t>(sector)},
                          of(k)}))
        .status;
  }
  std::uint8_t auth(KeyType kt, int sector, int block) {
    return cmd(0xB8, {static_cast<std::uint8_t>(kt), static_cast<std::uint8_t>(sector),
                      static_cast<std::uint8_t>(block)})
        .status;
  }
  Reply read(int block) { return cmd(0xB9, {static_cast<std::uint8_t>(block)}); }
  std::uint8_t write(int block, const Bytes& data16) {
    return cmd(0xBA, cat({{static_cast<std::uint8_t>(block)}, data16})).status;
  }
  std::uint8_t increment(int block, std::int32_t v) {
    return cmd(0xBB, cat({{static_cast<std::uint8_t>(block)}, le(v)})).status;
  }
  std::uint8_t decrement(int block, std::int32_t v) {
    return cmd(0xBC, cat({{static_cast<std::uint8_t>(block)}, le(v)})).status;
  }
  // One-shot commands.
  Reply oneShot(std::uint8_t c, int block, const Serial& s, const Bytes& rest = {}) {
    return cmd(c, cat({{static_cast<std::uint8_t>(block)}, of(s), rest}));
  }
  ClassicCard& classic(const Serial& s = kSerial) { return *dynamic_cast<ClassicCard*>(m.card(s)); }
};

// A sector's trailer with keys A and B and the given conditions.
void setTrailer(ClassicCard& c, int sector, std::array<std::uint8_t, 4> cond,
                std::uint8_t user = 0x69) {
  std::uint8_t* t = c.blockBytes(sector * 4 + 3);
  std::memcpy(t, kKeyA.data(), 6);
  auto ac = ClassicCard::encodeAccess(cond);
  std::memcpy(t + 6, ac.data(), 3);
  t[9] = user;
  std::memcpy(t + 10, kKeyB.data(), 6);
}

Bytes block16(std::uint8_t fill) { return Bytes(16, fill); }

// Data-block conditions: which key may read, write, increment, decrement.
struct DataRow {
  int cond;
  const char *read, *write, *inc, *dec;
};
// Trailer conditions: key A write, access bytes read/write, key B read/write.
struct TrailerRow {
  int cond;
  const char *keyAWrite, *acRead, *acWrite, *keyBRead, *keyBWrite;
};
bool allows(const char* who, KeyType kt) {
  return std::string(who).find(kt == KeyType::A ? 'A' : 'B') != std::string::npos;
}
std::string rowName(int cond, KeyType kt) {
  return "C" + std::to_string(cond >> 2 & 1) + std::to_string(cond >> 1 & 1) +
         std::to_string(cond & 1) + (kt == KeyType::A ? " key A" : " key B");
}

TEST(MifareAccess, DataConditionDecidesEachOperation) {
  const DataRow rows[] = {{0b000, "AB", "AB", "AB", "AB"}, {0b010, "AB", "", "", ""},
                          {0b100, "AB", "B", "", ""},      {0b110, "AB", "B", "B", "AB"},
                          {0b001, "AB", "", "", "AB"},     {0b011, "B", "B", "", ""},
                          {0b101, "B", "", "", ""},        {0b111, "", "", "", ""}};
  for (const auto& row : rows) {
    for (KeyType kt : {KeyType::A, KeyType::B}) {
      SCOPED_TRACE(rowName(row.cond, kt));
      Reader r;
      ClassicCard& c = *r.m.insertClassic(kSerial);
      // Trailer 011: key B is not readable, so both keys are real keys.
      const auto cond = static_cast<std::uint8_t>(row.cond);
      setTrailer(c, 1, {cond, cond, cond, 3});
      ClassicCard::encodeValue(c.blockBytes(4), 100, 4);
      ClassicCard::encodeValue(c.blockBytes(6), 100, 6);
      const Bytes before5(c.blockBytes(5), c.blockBytes(5) + 16);
      r.activate();
      ASSERT_EQ(r.loadKey(kt, 1, kt == KeyType::A ? kKeyA : kKeyB), 0);
      ASSERT_EQ(r.auth(kt, 1, 7), 0);
      auto want = [&](const char* who) {
        return allows(who, kt) ? st::kOk : st::kMifareAccessDenied;
      };
      EXPECT_EQ(r.read(4).status, want(row.read));
      EXPECT_EQ(r.write(5, block16(0x5A)), want(row.write));
      EXPECT_EQ(Bytes(c.blockBytes(5), c.blockBytes(5) + 16),
                allows(row.write, kt) ? block16(0x5A) : before5);
      EXPECT_EQ(r.increment(4, 1), want(row.inc));
      EXPECT_EQ(ClassicCard::decodeValue(c.blockBytes(4)), allows(row.inc, kt) ? 101 : 100);
      EXPECT_EQ(r.decrement(6, 1), want(row.dec));
      EXPECT_EQ(ClassicCard::decodeValue(c.blockBytes(6)), allows(row.dec, kt) ? 99 : 100);
    }
  }
}

TEST(MifareAccess, TrailerConditionDecidesEachPart) {
  const TrailerRow rows[] = {{0b000, "A", "A", "", "A", "A"},  {0b010, "", "A", "", "A", ""},
                             {0b100, "B", "AB", "", "", "B"},  {0b110, "", "AB", "", "", ""},
                             {0b001, "A", "A", "A", "A", "A"}, {0b011, "B", "AB", "B", "", "B"},
                             {0b101, "", "AB", "B", "", ""},   {0b111, "", "AB", "", "", ""}};
  for (const auto& row : rows) {
    for (KeyType kt : {KeyType::A, KeyType::B}) {
      SCOPED_TRACE(rowName(row.cond, kt));
      Reader r;
      ClassicCard& c = *r.m.insertClassic(kSerial);
      setTrailer(c, 2, {0, 0, 0, static_cast<std::uint8_t>(row.cond)});
      const Bytes before(c.blockBytes(11), c.blockBytes(11) + 16);
      r.activate();
      ASSERT_EQ(r.loadKey(kt, 2, kt == KeyType::A ? kKeyA : kKeyB), 0);
      ASSERT_EQ(r.auth(kt, 2, 11), 0);  // succeeds even where key B cannot serve

      // Where key B is readable it is no key: everything after it is refused.
      const bool keyBUseless = kt == KeyType::B && std::string(row.keyBRead) == "A";
      Reply rd = r.read(11);
      if (keyBUseless) {
        EXPECT_EQ(rd.status, st::kMifareAccessDenied);
      } else {
        Bytes expect(16, 0);  // key A never reads back
        if (allows(row.acRead, kt))
          std::copy(before.begin() + 6, before.begin() + 10, expect.begin() + 6);
        if (allows(row.keyBRead, kt))
          std::copy(before.begin() + 10, before.end(), expect.begin() + 10);
        EXPECT_EQ(rd.status, 0);
        EXPECT_EQ(rd.data, expect);
      }

      // Write new keys and a new user byte with the same access bytes.
      Bytes next = before;
      std::fill(next.begin(), next.begin() + 6, 0x11);
      next[9] = 0x42;
      std::fill(next.begin() + 10, next.end(), 0x22);
      const bool wa = !keyBUseless && allows(row.keyAWrite, kt);
      const bool wc = !keyBUseless && allows(row.acWrite, kt);
      const bool wb = !keyBUseless && allows(row.keyBWrite, kt);
      EXPECT_EQ(r.write(11, next), wa || wc || wb ? st::kOk : st::kMifareAccessDenied);
      const std::uint8_t* t = c.blockBytes(11);
      EXPECT_EQ(t[0], wa ? 0x11 : kKeyA[0]);
      EXPECT_EQ(t[9], wc ? 0x42 : 0x69);
      EXPECT_EQ(t[15], wb ? 0x22 : kKeyB[5]);
    }
  }
}

TEST(MifareClassic, NewCardHasAReadOnlyManufacturerBlockAndTransportTrailers) {
  Reader r;
  ClassicCard& c = *r.m.insertClassic(kSerial);
  const Bytes b0(c.blockBytes(0), c.blockBytes(0) + 8);
  EXPECT_EQ(b0, (Bytes{0x12, 0x34, 0x56, 0x78, 0x12 ^ 0x34 ^ 0x56 ^ 0x78, 0x08, 0x04, 0x00}));
  const Bytes transport = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07,
                           0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (int s = 0; s < 16; ++s)
    EXPECT_EQ(Bytes(c.blockBytes(s * 4 + 3), c.blockBytes(s * 4 + 3) + 16), transport) << s;
  EXPECT_EQ(ClassicCard::decodeAccess(transport.data() + 6).value_or(std::array<std::uint8_t, 4>{}),
            (std::array<std::uint8_t, 4>{0, 0, 0, 1}));
  // Read-only even in the transport configuration.
  r.activate();
  ASSERT_EQ(r.auth(KeyType::A, 0, 3), 0);
  EXPECT_EQ(r.write(0, block16(0)), st::kMifareAccessDenied);
  EXPECT_EQ(r.oneShot(0xAD, 0, kSerial, block16(0)).status, st::kMifareAccessDenied);
  EXPECT_EQ(r.oneShot(0xB0, 0, kSerial, le(5)).status, st::kMifareAccessDenied);
  EXPECT_EQ(Bytes(c.blockBytes(0), c.blockBytes(0) + 8), b0);
}

TEST(MifareValue, FormatMatchesTheCardsRedundantLayout) {
  std::uint8_t b[16];
  ClassicCard::encodeValue(b, 1234567, 17);
  EXPECT_EQ(Bytes(b, b + 16), (Bytes{0x87, 0xD6, 0x12, 0x00, 0x78, 0x29, 0xED, 0xFF, 0x87, 0xD6,
                                     0x12, 0x00, 0x11, 0xEE, 0x11, 0xEE}));
  ClassicCard::encodeValue(b, -5, 4);
  EXPECT_EQ(Bytes(b, b + 16), (Bytes{0xFB, 0xFF, 0xFF, 0xFF, 0x04, 0x00, 0x00, 0x00, 0xFB, 0xFF,
                                     0xFF, 0xFF, 0x04, 0xFB, 0x04, 0xFB}));
  EXPECT_EQ(ClassicCard::decodeValue(b), -5);
  // Each redundant copy is checked.
  for (int i = 0; i < 16; ++i) {
    std::uint8_t bad[16];
    std::memcpy(bad, b, 16);
    bad[i] ^= 0x01;
    EXPECT_FALSE(ClassicCard::decodeValue(bad)) << "byte " << i;
  }
}

TEST(MifareValue, ArithmeticThroughZeroAndBackWithOneShotAnswers) {
  Reader r;
  r.m.insertClassic(kSerial);
  EXPECT_EQ(valueOf(r.oneShot(0xB0, 5, kSerial, le(10))), 10);
  EXPECT_EQ(valueOf(r.oneShot(0xB2, 5, kSerial, le(25))), -15);
  EXPECT_EQ(valueOf(r.oneShot(0xB1, 5, kSerial, le(-1))), -16);
  EXPECT_EQ(valueOf(r.oneShot(0xB1, 5, kSerial, le(116))), 100);
  EXPECT_EQ(valueOf(r.oneShot(0xAF, 5, kSerial)), 100);
  // The card's own primitives on the same block.
  r.activate();
  ASSERT_EQ(r.auth(KeyType::A, 1, 7), 0);
  EXPECT_EQ(r.decrement(5, 300), 0);
  EXPECT_EQ(ClassicCard::decodeValue(r.classic().blockBytes(5)), -200);
  EXPECT_EQ(r.classic().blockBytes(5)[12], 5);  // address byte kept
}

TEST(MifareValue, BadFormatAndOverflowAreRefusedAndLeaveTheBlock) {
  Reader r;
  ClassicCard& c = *r.m.insertClassic(kSerial);
  ClassicCard::encodeValue(c.blockBytes(8), INT32_MAX, 8);
  ClassicCard::encodeValue(c.blockBytes(9), INT32_MIN, 9);
  c.blockBytes(10)[0] = 1;  // plain data, not a value
  const Bytes img(c.image().begin(), c.image().end());
  r.activate();
  ASSERT_EQ(r.auth(KeyType::A, 2, 11), 0);
  EXPECT_EQ(r.increment(8, 1), st::kMifareBadValue);
  EXPECT_EQ(r.decrement(9, 1), st::kMifareBadValue);
  EXPECT_EQ(r.increment(9, -1), st::kMifareBadValue);
  EXPECT_EQ(r.increment(10, 1), st::kMifareBadValue);
  EXPECT_EQ(r.decrement(10, 1), st::kMifareBadValue);
  EXPECT_EQ(r.oneShot(0xAF, 10, kSerial).status, st::kMifareBadValue);
  EXPECT_EQ(r.oneShot(0xB2, 10, kSerial, le(1)).status, st::kMifareBadValue);
  EXPECT_EQ(r.oneShot(0xB1, 11, kSerial, le(1)).status, st::kMifareAccessDenied);  // trailer
  EXPECT_EQ(Bytes(c.image().begin(), c.image().end()), img);
  EXPECT_TRUE(r.oneShot(0xB2, 8, kSerial, le(INT32_MAX)).data == le(0));
}

TEST(MifareStates, CommandsNeedSelectionAndAuthenticationOfTheSector) {
  Reader r;
  r.m.insertClassic(kSerial);
  EXPECT_EQ(r.read(4).status, st::kMifareNoCard);    // idle
  EXPECT_EQ(r.cmd(0xB6).status, st::kMifareNoCard);  // nothing ready
  ASSERT_EQ(r.request(1), 0);
  EXPECT_EQ(r.auth(KeyType::A, 1, 7), st::kMifareNoCard);  // ready, not selected
  Reply ac = r.cmd(0xB6);
  ASSERT_EQ(ac.status, 0);
  EXPECT_EQ(ac.data, of(kSerial));
  EXPECT_EQ(r.select(kSerial), 0);
  EXPECT_EQ(r.read(4).status, st::kMifareNotAuthenticated);
  ASSERT_EQ(r.auth(KeyType::A, 1, 7), 0);
  EXPECT_EQ(r.read(4).status, 0);
  EXPECT_EQ(r.read(8).status, st::kMifareNotAuthenticated);  // another sector
  EXPECT_EQ(r.read(64).status, st::kMifareBadAddress);
  EXPECT_EQ(r.auth(KeyType::A, 1, 64), st::kMifareBadAddress);
  EXPECT_EQ(r.auth(KeyType::A, 16, 7), st::kMifareBadAddress);
  EXPECT_EQ(r.cmd(0xB8, {2, 1, 7}).status, st::kBadParameter);
}

TEST(MifareStates, FailedAuthenticationDropsTheCardToIdle) {
  Reader r;
  r.m.insertClassic(kSerial);
  r.activate();
  ASSERT_EQ(r.auth(KeyType::A, 1, 7), 0);
  ASSERT_EQ(r.loadKey(KeyType::A, 2, kKeyA), 0);  // wrong for this card
  EXPECT_EQ(r.auth(KeyType::A, 2, 11), st::kMifareAuthRefused);
  EXPECT_EQ(r.m.card(kSerial)->state(), CardState::Idle);
  EXPECT_EQ(r.read(4).status, st::kMifareNoCard);  // the sector-1 session is gone too
  EXPECT_EQ(r.auth(KeyType::A, 1, 7), st::kMifareNoCard);
  // An idle card answers "IDLE" and can be taken up again.
  ASSERT_EQ(r.request(0), 0);
  ASSERT_EQ(r.select(kSerial), 0);
  EXPECT_EQ(r.auth(KeyType::A, 1, 7), 0);
}

TEST(MifareStates, HaltedCardWakesOnlyForAll) {
  Reader r;
  r.m.insertClassic(kSerial);
  r.activate();
  EXPECT_EQ(r.cmd(0xBD).status, 0);
  EXPECT_EQ(r.cmd(0xBD).status, st::kMifareNoCard);
  EXPECT_EQ(r.read(4).status, st::kMifareNoCard);
  EXPECT_EQ(r.select(kSerial), st::kMifareNoCard);
  EXPECT_EQ(r.request(0), st::kMifareNoCard);
  Reply rq = r.cmd(0xB5, {1});
  EXPECT_EQ(rq.status, 0);
  EXPECT_EQ(rq.data, (Bytes{0x04, 0x00}));
  EXPECT_EQ(r.request(2), st::kBadParameter);
}

TEST(MifareStates, SelectNamesOneCardAmongSeveral) {
  Reader r;
  r.m.insertClassic(kSerial);
  r.m.insertLight(kOther);
  EXPECT_EQ(r.select(kSerial), st::kMifareNoCard);  // nobody requested yet
  ASSERT_EQ(r.request(1), 0);
  EXPECT_EQ(r.select({1, 2, 3, 4}), st::kMifareWrongSerial);
  ASSERT_EQ(r.select(kOther), 0);
  Reply t = r.cmd(0xAA);
  EXPECT_EQ(t.data, (Bytes{0x10, 0x00}));
  EXPECT_EQ(r.cmd(0xAB).data, of(kOther));
  // Halting the selected card leaves the other one to the next requests.
  ASSERT_EQ(r.cmd(0xBD).status, 0);
  ASSERT_EQ(r.request(0), 0);
  EXPECT_EQ(r.cmd(0xB6).data, of(kSerial));
  r.m.removeAll();
  EXPECT_EQ(r.request(1), st::kMifareNoCard);
  EXPECT_EQ(r.cmd(0xAB).status, st::kMifareNoCard);
}

TEST(MifareStates, LockedSectorRefusesAuthentication) {
  Reader r;
  ClassicCard& c = *r.m.insertClassic(kSerial);
  c.blockBytes(7)[8] ^= 0x10;  // one inverted copy no longer matches
  r.activate();
  EXPECT_EQ(r.auth(KeyType::A, 1, 7), st::kMifareSectorLocked);
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).status, st::kMifareSectorLocked);
  // Writing broken access bytes locks the sector from then on.
  EXPECT_EQ(r.oneShot(0xAC, 8, kSerial).status, 0);
  Bytes trailer = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07,
                   0x81, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  r.activate();
  ASSERT_EQ(r.auth(KeyType::A, 2, 11), 0);
  EXPECT_EQ(r.write(11, trailer), 0);
  EXPECT_EQ(r.read(8).status, st::kMifareSectorLocked);
  EXPECT_EQ(r.oneShot(0xAC, 8, kSerial).status, st::kMifareSectorLocked);
}

TEST(MifareKeys, LoadAndTransferStorePerTypeAndSector) {
  Reader r;
  EXPECT_EQ(r.loadKey(KeyType::B, 5, kKeyB), 0);
  EXPECT_EQ(r.m.storedKey(KeyType::B, 5), kKeyB);
  EXPECT_EQ(r.m.storedKey(KeyType::A, 5), kTransportKey);
  EXPECT_EQ(r.cmd(0xA4, cat({{9}, of(kKeyA)})).status, 0);  // transfer: both types
  EXPECT_EQ(r.m.storedKey(KeyType::A, 9), kKeyA);
  EXPECT_EQ(r.m.storedKey(KeyType::B, 9), kKeyA);
  const std::pair<Bytes, std::uint8_t> refused[] = {
      {cat({{0xB4, 1, 0}, of(kKeyA)}), st::kBadParameter},
      {cat({{0xB4, 0, 16}, of(kKeyA)}), st::kMifareBadAddress},
      {cat({{0xA4, 16}, of(kKeyA)}), st::kMifareBadAddress},
      {{0xA9, 2}, st::kBadParameter},
      {{0xB4, 0, 1}, st::kWrongLength},
      {{0xBD, 0}, st::kWrongLength}};
  for (const auto& [frame, status] : refused)
    EXPECT_EQ(r.cmd(frame[0], Bytes(frame.begin() + 1, frame.end())).status, status);
  EXPECT_EQ(r.cmd(0xA9, {1}).status, 0);
  EXPECT_EQ(r.m.authMode(), 1);
}

TEST(MifareOneShot, RightSerialWrongSerialNoCard) {
  Reader r;
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).status, st::kMifareNoCard);
  r.m.insertClassic(kSerial);
  EXPECT_EQ(r.oneShot(0xAC, 4, kOther).status, st::kMifareWrongSerial);
  EXPECT_EQ(r.oneShot(0xAC, 64, kSerial).status, st::kMifareBadAddress);
  Bytes data(16);
  for (int i = 0; i < 16; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  Reply w = r.oneShot(0xAD, 4, kSerial, data);
  ASSERT_EQ(w.status, 0);
  EXPECT_EQ(w.data, data);
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).data, data);
  // The card is left selected and authenticated for that sector.
  EXPECT_EQ(r.read(4).data, data);
  // A halted card is woken by the one-shot command.
  ASSERT_EQ(r.cmd(0xBD).status, 0);
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).status, 0);
}

TEST(MifareOneShot, TrailerWriteIsAnsweredAsTheCardReadsIt) {
  Reader r;
  r.m.insertClassic(kSerial);
  Bytes trailer = cat({of(kKeyA), {0xFF, 0x07, 0x80, 0x69}, of(kKeyB)});
  Reply w = r.oneShot(0xAD, 7, kSerial, trailer);
  ASSERT_EQ(w.status, 0);
  EXPECT_EQ(w.data, cat({Bytes(6, 0), {0xFF, 0x07, 0x80, 0x69}, of(kKeyB)}));
  // The reader's stored transport key no longer opens sector 1.
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).status, st::kMifareAuthRefused);
  ASSERT_EQ(r.loadKey(KeyType::B, 1, kKeyB), 0);
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).status, st::kMifareAccessDenied);  // B is readable here
  ASSERT_EQ(r.loadKey(KeyType::A, 1, kKeyA), 0);
  EXPECT_EQ(r.oneShot(0xAC, 4, kSerial).status, 0);
}

TEST(MifareOneShot, FallsBackToKeyBAndWriteKeyChangesBothKeys) {
  Reader r;
  ClassicCard& c = *r.m.insertClassic(kSerial);
  setTrailer(c, 3, {4, 4, 4, 3});  // data: read A|B, write B
  ASSERT_EQ(r.loadKey(KeyType::A, 3, kKeyA), 0);
  EXPECT_EQ(r.oneShot(0xAD, 12, kSerial, block16(7)).status, st::kMifareAccessDenied);
  ASSERT_EQ(r.loadKey(KeyType::B, 3, kKeyB), 0);
  EXPECT_EQ(r.oneShot(0xAD, 12, kSerial, block16(7)).data, block16(7));

  EXPECT_EQ(r.oneShot(0xAE, 4, kSerial, cat({of(kKeyA), {0xFF}})).status, 0);
  const std::uint8_t* t = c.blockBytes(19);
  EXPECT_EQ(Bytes(t, t + 16), cat({of(kKeyA), {0xFF, 0x07, 0x80, 0x69}, of(kKeyA)}));
  EXPECT_EQ(r.oneShot(0xAC, 16, kSerial).status, st::kMifareAuthRefused);
  EXPECT_EQ(r.oneShot(0xAE, 16, kSerial, cat({of(kKeyA), {0xFF}})).status, st::kMifareBadAddress);
}

TEST(MifareLight, TestBenchRoadOnTheDefaultCard) {
  Reader r;
  LightCard& l = *r.m.insertLight(kOther);
  Reply rq = r.cmd(0xB5, {1});
  EXPECT_EQ(rq.data, (Bytes{0x10, 0x00}));
  ASSERT_EQ(r.select(kOther), 0);
  EXPECT_EQ(r.read(2).status, st::kMifareNotAuthenticated);
  EXPECT_EQ(r.auth(KeyType::A, 0, 8), st::kMifareBadAddress);
  ASSERT_EQ(r.auth(KeyType::A, 0, 6), 0);
  // A write takes 4 bytes; a read returns two pages, then zeros.
  EXPECT_EQ(r.write(2, cat({{0x12, 0x34, 0x00, 0x00}, Bytes(12, 0xEE)})), 0);
  EXPECT_EQ(r.read(2).data, cat({{0x12, 0x34, 0x00, 0x00}, Bytes(12, 0)}));
  EXPECT_EQ(r.read(11).data, Bytes(16, 0));
  EXPECT_EQ(r.read(0).data,
            cat({of(kOther), {0xCA ^ 0xFE ^ 0x00 ^ 0x01, 0x0C, 0x10, 0x00}, Bytes(8, 0)}));
  EXPECT_EQ(r.read(6).data, cat({Bytes(4, 0), {0, 0, 0xFF, 0x00}, Bytes(8, 0)}));  // keys hidden
  EXPECT_EQ(r.read(12).status, st::kMifareBadAddress);
  EXPECT_EQ(r.write(0, Bytes(16, 0)), st::kMifareAccessDenied);
  // The value: write, decrement only, never below zero, 16 bits.
  EXPECT_EQ(valueOf(r.oneShot(0xB0, 0, kOther, le(500))), 500);
  EXPECT_EQ(valueOf(r.oneShot(0xB2, 0, kOther, le(200))), 300);
  EXPECT_EQ(r.oneShot(0xB1, 0, kOther, le(1)).status, st::kMifareAccessDenied);
  EXPECT_EQ(r.oneShot(0xB2, 0, kOther, le(301)).status, st::kMifareBadValue);
  EXPECT_EQ(r.oneShot(0xB0, 0, kOther, le(70000)).status, st::kMifareBadValue);
  EXPECT_EQ(r.oneShot(0xAF, 4, kOther).status, st::kMifareBadAddress);
  r.activate(kOther);
  ASSERT_EQ(r.auth(KeyType::B, 0, 8), 0);
  EXPECT_EQ(r.decrement(0, 100), 0);
  EXPECT_EQ(r.increment(0, 100), st::kMifareAccessDenied);
  EXPECT_EQ(valueOf(r.oneShot(0xAF, 0, kOther)), 200);
  EXPECT_EQ(Bytes(l.memory().begin() + 16, l.memory().begin() + 24),
            (Bytes{0xC8, 0x00, 0x37, 0xFF, 0xC8, 0x00, 0x37, 0xFF}));
}

TEST(MifareLight, AccessBytesAndKeyChange) {
  Reader r;
  LightCard& l = *r.m.insertLight(kOther);
  // Key A may read area 1 only; key B keeps everything.
  l.memory()[7 * 4 + 2] = LightCard::kReadData1;
  l.memory()[7 * 4 + 3] = static_cast<std::uint8_t>(~LightCard::kReadData1);
  r.activate(kOther);
  ASSERT_EQ(r.auth(KeyType::A, 0, 6), 0);
  EXPECT_EQ(r.read(3).status, 0);
  EXPECT_EQ(r.write(3, Bytes(16, 1)), st::kMifareAccessDenied);
  EXPECT_EQ(r.read(10).status, st::kMifareAccessDenied);
  EXPECT_EQ(r.read(9).data, cat({{0, 0, 0xFF, 0x00}, Bytes(12, 0)}));  // page 10 hidden
  std::int32_t left = 0;
  EXPECT_EQ(l.decrement(0, 0, left), 0);  // anyone may spend
  // The one-shot key change falls back to key B, which may write keys.
  EXPECT_EQ(r.oneShot(0xAE, 0, kOther, cat({of(kKeyA), {0xFF}})).status, 0);
  EXPECT_EQ(Bytes(l.memory().begin() + 24, l.memory().begin() + 30), of(kKeyA));
  EXPECT_EQ(r.oneShot(0xAE, 2, kOther, cat({of(kKeyA), {0xFF}})).status, st::kMifareBadAddress);
  // A broken access byte makes that key useless.
  l.memory()[9 * 4 + 3] = 0x55;
  r.activate(kOther);
  EXPECT_EQ(r.auth(KeyType::B, 0, 8), st::kMifareSectorLocked);
}

}  // namespace
