// The simulated Mifare module and its cards: card states, authentication,
// the access-conditions tables, value blocks, the one-shot commands, the
// Mifare Light card, and the control words with Mifare 1 dumps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"
#include "mifare/mifare_module.h"

namespace {

using namespace simtest;
using namespace readersim::mifare;
namespace st = readersim::status;

const Serial kSerial{0x12, 0x34, 0x56, 0x78}, kOther{0xCA, 0xFE, 0x00, 0x01};
const std::string kA = "A0A1A2A3A4A5", kB = "B0B1B2B3B4B5", kFF = "FFFFFFFFFFFF";
const std::string kTransportAccess = "FF078069", kActivate = "B5:01";

// A sector's trailer with keys A and B and the given conditions.
void setTrailer(ClassicCard& c, int sector, std::array<std::uint8_t, 4> cond) {
  const auto t = hex(kA + toHex(Bytes(3)) + "69" + kB);
  std::memcpy(c.blockBytes(sector * 4 + 3), t.data(), 16);
  const auto ac = ClassicCard::encodeAccess(cond);
  std::memcpy(c.blockBytes(sector * 4 + 3) + 6, ac.data(), 3);
}
Bytes block(const ClassicCard& c, int b) { return Bytes(c.blockBytes(b), c.blockBytes(b) + 16); }
std::string h(int v) { return toHex({std::uint8_t(v)}); }
std::string le(std::int32_t v) {
  const auto u = std::uint32_t(v);
  return toHex(
      {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)});
}
// Request all and select: the card is active; then the key and the authentication.
std::vector<Step> session(KeyType kt, int sector, int block,
                          const std::string& serial = "12345678") {
  const bool a = kt == KeyType::A;
  return {{0xB5, "01", 0, "*"},
          {0xB7, serial, 0, "*"},
          {0xB4, h(a ? 0 : 4) + h(sector) + (a ? kA : kB), 0, ""},
          {0xB8, h(int(kt)) + h(sector) + h(block), 0, ""}};
}
bool allows(const char* who, KeyType kt) { return std::strchr(who, kt == KeyType::A ? 'A' : 'B'); }

TEST(MifareAccess, DataConditionDecidesEachOperation) {
  // Which key may read, write, increment, decrement (conditions C1 C2 C3).
  const std::tuple<int, const char*, const char*, const char*, const char*> rows[] = {
      {0b000, "AB", "AB", "AB", "AB"}, {0b010, "AB", "", "", ""},   {0b100, "AB", "B", "", ""},
      {0b110, "AB", "B", "B", "AB"},   {0b001, "AB", "", "", "AB"}, {0b011, "B", "B", "", ""},
      {0b101, "B", "", "", ""},        {0b111, "", "", "", ""}};
  for (const auto& [cond, rd, wr, inc, dec] : rows) {
    for (KeyType kt : {KeyType::A, KeyType::B}) {
      SCOPED_TRACE(std::to_string(cond) + (kt == KeyType::A ? " key A" : " key B"));
      readersim::MifareModule m;
      ClassicCard& c = *m.insertClassic(kSerial);
      const auto cd = std::uint8_t(cond);
      setTrailer(c, 1, {cd, cd, cd, 3});  // trailer 011: key B is not readable, so a real key
      ClassicCard::encodeValue(c.blockBytes(4), 100, 4);
      ClassicCard::encodeValue(c.blockBytes(6), 100, 6);
      const Bytes before5 = block(c, 5);
      auto want = [&](const char* who) {
        return allows(who, kt) ? 0 : int(st::kMifareAccessDenied);
      };
      auto steps = session(kt, 1, 7);
      steps.insert(steps.end(), {{0xB9, "04", want(rd), "*"},
                                 {0xBA, "05" + toHex(Bytes(16, 0x5A)), want(wr), "*"},
                                 {0xBB, "04" + le(1), want(inc), "*"},
                                 {0xBC, "06" + le(1), want(dec), "*"}});
      play(m, steps);
      EXPECT_EQ(block(c, 5), allows(wr, kt) ? Bytes(16, 0x5A) : before5);
      EXPECT_EQ(ClassicCard::decodeValue(c.blockBytes(4)), allows(inc, kt) ? 101 : 100);
      EXPECT_EQ(ClassicCard::decodeValue(c.blockBytes(6)), allows(dec, kt) ? 99 : 100);
    }
  }
}

TEST(MifareAccess, TrailerConditionDecidesEachPart) {
  // Key A write, access bytes read and write, key B read and write.
  const std::tuple<int, const char*, const char*, const char*, const char*, const char*> rows[] = {
      {0b000, "A", "A", "", "A", "A"},  {0b010, "", "A", "", "A", ""},
      {0b100, "B", "AB", "", "", "B"},  {0b110, "", "AB", "", "", ""},
      {0b001, "A", "A", "A", "A", "A"}, {0b011, "B", "AB", "B", "", "B"},
      {0b101, "", "AB", "B", "", ""},   {0b111, "", "AB", "", "", ""}};
  for (const auto& [cond, keyAWrite, acRead, acWrite, keyBRead, keyBWrite] : rows) {
    for (KeyType kt : {KeyType::A, KeyType::B}) {
      SCOPED_TRACE(std::to_string(cond) + (kt == KeyType::A ? " key A" : " key B"));
      readersim::MifareModule m;
      ClassicCard& c = *m.insertClassic(kSerial);
      setTrailer(c, 2, {0, 0, 0, std::uint8_t(cond)});
      const Bytes before = block(c, 11);
      play(m, session(kt, 2, 11));  // succeeds even where key B cannot serve
      // Where key B is readable it is no key: everything after it is refused.
      const bool useless = kt == KeyType::B && std::string(keyBRead) == "A";
      Bytes expect(16, 0);  // key A never reads back
      if (allows(acRead, kt))
        std::copy(before.begin() + 6, before.begin() + 10, expect.begin() + 6);
      if (allows(keyBRead, kt)) std::copy(before.begin() + 10, before.end(), expect.begin() + 10);
      const bool wa = !useless && allows(keyAWrite, kt), wc = !useless && allows(acWrite, kt),
                 wb = !useless && allows(keyBWrite, kt);
      Bytes next = before;  // new keys and a new user byte with the same access bytes
      std::fill(next.begin(), next.begin() + 6, 0x11);
      next[9] = 0x42;
      std::fill(next.begin() + 10, next.end(), 0x22);
      play(m, {{0xB9, "0B", useless ? st::kMifareAccessDenied : 0, useless ? "" : toHex(expect)},
               {0xBA, "0B" + toHex(next), wa || wc || wb ? 0 : st::kMifareAccessDenied, "*"}});
      EXPECT_EQ(c.blockBytes(11)[0], wa ? 0x11 : 0xA0);
      EXPECT_EQ(c.blockBytes(11)[9], wc ? 0x42 : 0x69);
      EXPECT_EQ(c.blockBytes(11)[15], wb ? 0x22 : 0xB5);
    }
  }
}

TEST(MifareClassic, NewCardAndValueBlocks) {
  readersim::MifareModule m;
  ClassicCard& c = *m.insertClassic(kSerial);
  EXPECT_EQ(toHex(block(c, 0)).substr(0, 16), "1234567808080400");  // serial, check byte, type
  for (int s = 0; s < 16; ++s)
    EXPECT_EQ(toHex(block(c, s * 4 + 3)), kFF + kTransportAccess + kFF) << s;
  EXPECT_EQ(ClassicCard::decodeAccess(hex(kTransportAccess).data()),
            (std::array<std::uint8_t, 4>{0, 0, 0, 1}));
  std::uint8_t b[16];
  ClassicCard::encodeValue(b, 1234567, 17);
  EXPECT_EQ(toHex(Bytes(b, b + 16)), "87D612007829EDFF87D6120011EE11EE");
  ClassicCard::encodeValue(b, -5, 4);
  EXPECT_EQ(toHex(Bytes(b, b + 16)), "FBFFFFFF04000000FBFFFFFF04FB04FB");
  EXPECT_EQ(ClassicCard::decodeValue(b), -5);
  for (int i = 0; i < 16; ++i) {  // each redundant copy is checked
    Bytes bad(b, b + 16);
    bad[std::size_t(i)] ^= 0x01;
    EXPECT_FALSE(ClassicCard::decodeValue(bad.data())) << "byte " << i;
  }
  ClassicCard::encodeValue(c.blockBytes(8), INT32_MAX, 8);
  ClassicCard::encodeValue(c.blockBytes(9), INT32_MIN, 9);
  c.blockBytes(10)[0] = 1;  // plain data, not a value
  Bytes img(c.image().begin(), c.image().end());
  auto steps = session(KeyType::A, 0, 3);
  steps[2].data = "0000" + kFF;
  steps.insert(
      steps.end(),
      {
          {0xBA, "00" + toHex(Bytes(16)), st::kMifareAccessDenied, ""},  // block 0 is read-only
          {0xAD, "0012345678" + toHex(Bytes(16)), st::kMifareAccessDenied, ""},
          {0xB0, "0012345678" + le(5), st::kMifareAccessDenied, ""},
          {0xB0, "0512345678" + le(10), 0, le(10)},
          {0xB2, "0512345678" + le(25), 0, le(-15)},
          {0xB1, "0512345678" + le(-1), 0, le(-16)},
          {0xB1, "0512345678" + le(116), 0, le(100)},
          {0xAF, "0512345678", 0, le(100)},
          {0xBC, "05" + le(300), 0, ""},
          {0xAF, "0512345678", 0, le(-200)},
          // Bad formats and overflows are refused and leave the blocks.
          {0xBB, "08" + le(1), st::kMifareNotAuthenticated, ""},
          {0xB8, "00020B", 0, ""},
          {0xBB, "08" + le(1), st::kMifareBadValue, ""},
          {0xBC, "09" + le(1), st::kMifareBadValue, ""},
          {0xBB, "09" + le(-1), st::kMifareBadValue, ""},
          {0xBB, "0A" + le(1), st::kMifareBadValue, ""},
          {0xBC, "0A" + le(1), st::kMifareBadValue, ""},
          {0xAF, "0A12345678", st::kMifareBadValue, ""},
          {0xB2, "0A12345678" + le(1), st::kMifareBadValue, ""},
          {0xB1, "0B12345678" + le(1), st::kMifareAccessDenied, ""},  // a trailer
      });
  play(m, steps);
  EXPECT_EQ(c.blockBytes(5)[12], 5);  // the address byte is kept
  const Bytes now(c.image().begin(), c.image().end());
  std::copy(now.begin() + 16 * 5, now.begin() + 16 * 6, img.begin() + 16 * 5);
  EXPECT_EQ(now, img);
  play(m, {{0xB2, "0812345678" + le(INT32_MAX), 0, le(0)}});
}

// clang-format off
TEST(MifareStates, SelectionAuthenticationHaltAndSeveralCards) {
  readersim::MifareModule m;
  m.insertClassic(kSerial);
  play(m, {
    {0xB9, "04", st::kMifareNoCard, ""}, {0xB6, "", st::kMifareNoCard, ""},  // idle, nothing ready
    {0xB5, "01", 0, "0400"}, {0xB8, "000107", st::kMifareNoCard, ""},         // ready, not selected
    {0xB6, "", 0, "12345678"}, {0xB7, "12345678", 0, "*"}, {0xB9, "04", st::kMifareNotAuthenticated, ""},
    {0xB8, "000107", 0, ""}, {0xB9, "04", 0, "*"}, {0xB9, "08", st::kMifareNotAuthenticated, ""},  // another sector
    {0xB9, "40", st::kMifareBadAddress, ""}, {0xB8, "000140", st::kMifareBadAddress, ""},
    {0xB8, "001007", st::kMifareBadAddress, ""}, {0xB8, "020107", st::kBadParameter, ""},
    // A failed authentication drops the card to idle, the sector-1 session too.
    {0xB4, "0002" + kA, 0, ""}, {0xB8, "00020B", st::kMifareAuthRefused, ""}, {0xB9, "04", st::kMifareNoCard, ""},
    {0xB8, "000107", st::kMifareNoCard, ""}, {0xB5, "00", 0, "*"}, {0xB7, "12345678", 0, "*"}, {0xB8, "000107", 0, ""},
    // A halted card wakes only for ALL.
    {0xBD, "", 0, ""}, {0xBD, "", st::kMifareNoCard, ""}, {0xB9, "04", st::kMifareNoCard, ""},
    {0xB7, "12345678", st::kMifareNoCard, ""}, {0xB5, "00", st::kMifareNoCard, ""}, {0xB5, "01", 0, "0400"},
    {0xB5, "02", st::kBadParameter, ""},
    {-1, "mifare insert light CAFE0001", 0, "inserted light CAFE0001 idle"},
    {0xB5, "01", 0, "*"}, {0xB7, "01020304", st::kMifareWrongSerial, ""}, {0xB7, "CAFE0001", 0, "*"},
    {0xAA, "", 0, "1000"}, {0xAB, "", 0, "CAFE0001"},
    {0xBD, "", 0, ""}, {0xB5, "00", 0, "*"}, {0xB6, "", 0, "12345678"},  // the other one is left
    {-1, "mifare remove", 0, "removed 2 card(s)"}, {0xB5, "01", st::kMifareNoCard, ""}, {0xAB, "", st::kMifareNoCard,
     ""},
    // The reader's keys, per type and sector; transfer stores both types.
    {0xB4, "0405" + kB, 0, ""}, {0xA4, "09" + kA, 0, ""}, {0xB4, "0100" + kA, st::kBadParameter, ""},
    {0xB4, "0010" + kA, st::kMifareBadAddress, ""}, {0xA4, "10" + kA, st::kMifareBadAddress, ""},
    {0xA9, "02", st::kBadParameter, ""}, {0xB4, "0001", st::kWrongLength, ""}, {0xBD, "00", st::kWrongLength, ""},
    {0xA9, "01", 0, ""},
  });
  EXPECT_EQ(toHex(Bytes(m.storedKey(KeyType::B, 5).begin(), m.storedKey(KeyType::B, 5).end())), kB);
  EXPECT_EQ(m.storedKey(KeyType::A, 5), kTransportKey);
  EXPECT_EQ(m.storedKey(KeyType::A, 9), m.storedKey(KeyType::B, 9));
  EXPECT_EQ(toHex(Bytes(m.storedKey(KeyType::A, 9).begin(), m.storedKey(KeyType::A, 9).end())), kA);
  EXPECT_EQ(m.authMode(), 1);
}

TEST(MifareOneShot, SerialsLocksTrailersAndKeyB) {
  readersim::MifareModule m;
  const std::string data = "000102030405060708090A0B0C0D0E0F";
  play(m, {{0xAC, "0412345678", st::kMifareNoCard, ""}});
  ClassicCard& c = *m.insertClassic(kSerial);
  c.blockBytes(7)[8] ^= 0x10;  // one inverted copy of the access bytes no longer matches
  setTrailer(c, 3, {4, 4, 4, 3});  // data: read A|B, write B
  play(m, {
    {0xAC, "04CAFE0001", st::kMifareWrongSerial, ""}, {0xAC, "4012345678", st::kMifareBadAddress, ""},
    {0xB5, "01", 0, "*"}, {0xB7, "12345678", 0, "*"}, {0xB8, "000107", st::kMifareSectorLocked, ""},
    {0xAC, "0412345678", st::kMifareSectorLocked, ""},
    {0xAD, "0812345678" + data, 0, data}, {0xAC, "0812345678", 0, data}, {0xB9, "08", 0, data},  // left authenticated
    {0xBD, "", 0, ""}, {0xAC, "0812345678", 0, data},  // a one-shot wakes a halted card
    // A trailer write is answered as the card reads it; the stored transport
    // key no longer opens the sector.
    {0xAD, "0B12345678" + kA + kTransportAccess + kB, 0, "000000000000" + kTransportAccess + kB},
    {0xAC, "0812345678", st::kMifareAuthRefused, ""}, {0xB4, "0402" + kB, 0, ""},
    {0xAC, "0812345678", st::kMifareAccessDenied, ""},  // B is readable here
    {0xB4, "0002" + kA, 0, ""}, {0xAC, "0812345678", 0, data},
    // Writing broken access bytes locks the sector from then on.
    {0xB8, "00020B", 0, ""}, {0xBA, "0B" + kA + "FF078169" + kB, 0, "*"}, {0xB9, "08", st::kMifareSectorLocked, ""},
    {0xAC, "0812345678", st::kMifareSectorLocked, ""},
    // Sector 3: key A may not write, key B may; the one-shot falls back to B.
    {0xB4, "0003" + kA, 0, ""}, {0xAD, "0C12345678" + data, st::kMifareAccessDenied, ""},
    {0xB4, "0403" + kB, 0, ""}, {0xAD, "0C12345678" + data, 0, data},
    // WriteKey changes both keys of the sector.
    {0xAE, "0412345678" + kA + "FF", 0, ""}, {0xAC, "1012345678", st::kMifareAuthRefused, ""},
    {0xAE, "1012345678" + kA + "FF", st::kMifareBadAddress, ""},
  });
  EXPECT_EQ(toHex(block(c, 19)), kA + kTransportAccess + kA);
}

TEST(MifareLight, TestBenchRoadAccessBytesAndKeyChange) {
  readersim::MifareModule m;
  LightCard& l = *m.insertLight(kOther);
  play(m, {
    {0xB5, "01", 0, "1000"}, {0xB7, "CAFE0001", 0, "*"}, {0xB9, "02", st::kMifareNotAuthenticated, ""},
    {0xB8, "000008", st::kMifareBadAddress, ""}, {0xB8, "000006", 0, ""},
    // A write takes 4 bytes; a read returns two pages, then zeros.
    {0xBA, "0212340000" + toHex(Bytes(12, 0xEE)), 0, "*"}, {0xB9, "02", 0, "12340000" + toHex(Bytes(12))},
    {0xB9, "0B", 0, toHex(Bytes(16))}, {0xB9, "00", 0, "CAFE0001350C1000" + toHex(Bytes(8))},
    {0xB9, "06", 0, "000000000000FF00" + toHex(Bytes(8))},  // keys hidden
    {0xB9, "0C", st::kMifareBadAddress, ""}, {0xBA, "00" + toHex(Bytes(16)), st::kMifareAccessDenied, ""},
    // The value: write, decrement only, never below zero, 16 bits.
    {0xB0, "00CAFE0001" + le(500), 0, le(500)}, {0xB2, "00CAFE0001" + le(200), 0, le(300)},
    {0xB1, "00CAFE0001" + le(1), st::kMifareAccessDenied, ""}, {0xB2, "00CAFE0001" + le(301), st::kMifareBadValue, ""},
    {0xB0, "00CAFE0001" + le(70000), st::kMifareBadValue, ""}, {0xAF, "04CAFE0001", st::kMifareBadAddress, ""},
    {0xB5, "01", 0, "*"}, {0xB7, "CAFE0001", 0, "*"}, {0xB8, "010008", 0, ""}, {0xBC, "00" + le(100), 0, ""},
    {0xBB, "00" + le(100), st::kMifareAccessDenied, ""}, {0xAF, "00CAFE0001", 0, le(200)},
  });
  EXPECT_EQ(toHex(Bytes(l.memory().begin() + 16, l.memory().begin() + 24)), "C80037FFC80037FF");
  // Key A may read area 1 only; key B keeps everything.
  l.memory()[7 * 4 + 2] = LightCard::kReadData1;
  l.memory()[7 * 4 + 3] = std::uint8_t(~LightCard::kReadData1);
  play(m, {
    {0xB5, "01", 0, "*"}, {0xB7, "CAFE0001", 0, "*"}, {0xB8, "000006", 0, ""}, {0xB9, "03", 0, "*"},
    {0xBA, "03" + toHex(Bytes(16, 1)), st::kMifareAccessDenied, ""}, {0xB9, "0A", st::kMifareAccessDenied, ""},
    {0xB9, "09", 0, "0000FF00" + toHex(Bytes(12))},  // page 10 hidden
  });
  std::int32_t left = 0;
  EXPECT_EQ(l.decrement(0, 0, left), 0);  // anyone may spend
  play(m, {
    // The one-shot key change falls back to key B, which may write keys.
    {0xAE, "00CAFE0001" + kA + "FF", 0, ""}, {0xAE, "02CAFE0001" + kA + "FF", st::kMifareBadAddress, ""},
  });
  EXPECT_EQ(toHex(Bytes(l.memory().begin() + 24, l.memory().begin() + 30)), kA);
  l.memory()[9 * 4 + 3] = 0x55;  // a broken access byte makes that key useless
  play(m, {{0xB5, "01", 0, "*"}, {0xB7, "CAFE0001", 0, "*"}, {0xB8, "010008", st::kMifareSectorLocked, ""}});
}

TEST(MifareControl, CardsInTheFieldAndDumps) {
  char tmpl[] = "/tmp/mifare-control-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl, file = dir + "/card.bin", shortFile = dir + "/short.bin";
  std::ofstream(shortFile, std::ios::binary) << std::string(1023, '\0');
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);  // nobody writes it: a load must not wait
  std::ofstream(dir + "/big").close();
  ASSERT_EQ(truncate((dir + "/big").c_str(), 3LL << 30), 0);  // sparse: no disk used
  auto sim = readersim::makeStandardSimulator();
  auto& m = *sim->find<readersim::MifareModule>();
  const std::string data = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF";
  play(m, {
    {-1, "mifare list", 0, "1 card(s): classic 12345678 idle"},  // the standard reader's
    {-1, "mifare insert light aabbccdd", 0, "inserted light AABBCCDD idle"},
    {-1, "mifare list", 0, "2 card(s): classic 12345678 idle; light AABBCCDD idle"},
    {-1, "mifare insert classic AABBCCDD", 0, "error:"}, {-1, "mifare insert classic 1234567", 0, "error:"},
    {-1, "mifare insert classic 12345G78", 0, "error:"}, {-1, "mifare insert classic 123456789", 0, "error:"},
    {-1, "mifare insert desfire 11223344", 0, "error:"}, {-1, "mifare remove 1234", 0, "error:"},
    {-1, "mifare frobnicate", 0, "error:"}, {-1, "mifare", 0, "error:"},
    {-1, "mifare remove aabbccdd", 0, "removed AABBCCDD"}, {-1, "mifare remove aabbccdd", 0, "error:"},
    {0xAD, "0912345678" + data, 0, data}, {-1, "mifare save " + file, 0, "saved classic 12345678 to " + file},
    {-1, "mifare remove", 0, "removed 1 card(s)"}, {-1, "mifare list", 0, "no card in the field"},
    {-1, "mifare load " + file, 0, "loaded classic 12345678 idle from " + file}, {0xAC, "0912345678", 0, data},
    // With a serial the loaded card takes it, check byte included.
    {-1, "mifare load " + file + " 01020304", 0, "loaded"}, {0xAC, "0001020304", 0, "0102030404*"},
    {0xAC, "0901020304", 0, data}, {-1, "mifare load " + file, 0, "error:"},  // 12345678 is in the field
    // Only a regular file of 1024 bytes is read; the reader keeps serving.
    {-1, "mifare load " + shortFile, 0, "error: " + shortFile + ": 1023 bytes; a Mifare 1 dump is 1024"},
    {-1, "mifare load " + dir + "/big", 0, "error: " + dir + "/big: 3221225472 bytes; a Mifare 1 dump is 1024"},
    {-1, "mifare load " + dir, 0, "error: " + dir + ": not a regular file"},
    {-1, "mifare load " + dir + "/fifo", 0, "error: " + dir + "/fifo: not a regular file"},
    {-1, "mifare load " + dir + "/missing.bin", 0, "error: " + dir + "/missing.bin: No such file or directory"},
    {-1, "mifare save " + dir + "/nowhere/card.bin", 0, "error:"},
    {-1, "mifare remove", 0, ""}, {-1, "mifare insert light 11223344", 0, ""},
    {-1, "mifare save " + dir + "/other.bin", 0, "error:"},  // no Mifare 1 card
  });
  std::ifstream in(file, std::ios::binary);
  const Bytes dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(dump.size(), 1024u);
  EXPECT_EQ(dump[9 * 16], 0xA0);
  EXPECT_EQ(dump[4], 0x12 ^ 0x34 ^ 0x56 ^ 0x78);
  EXPECT_EQ(m.cardCount(), 1u);
  std::string out;
  EXPECT_FALSE(sim->control({"card", "insert"}, out));
  std::filesystem::remove_all(dir);
}
// clang-format on

}  // namespace
