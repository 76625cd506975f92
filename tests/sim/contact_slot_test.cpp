// The simulated contact slot and SAM slots: what the reader answers to each
// command as the cards' codes, counters, pages and protocols allow.
#include <gtest/gtest.h>

#include "at1608_vectors.h"
#include "contact/contact_module.h"
#include "core/status.h"
#include "core_host.h"

namespace {
// clang-format off

using namespace simtest;
namespace st = readersim::status;
const int kOk = 0;

TEST(ContactSlot, TypePowerInquiryAndIdentity) {
  readersim::contact::ContactModule m;
  play(m, {
    {0x0D, "", kOk, "FF0100"}, {0x14, "12000002", st::kContactWrongCard, ""},  // no type yet
    {0x0A, "1F", st::kContactUnknownType, ""}, {0x0A, "02", kOk, ""},
    {0x14, "12000002", st::kContactNotPowered, ""}, {0x02, "", kOk, ""}, {0x0D, "", kOk, "020101"},
    {0x1C, "", kOk, ""}, {0x0D, "", kOk, "020102"},                   // standby
    {0x14, "12000602", kOk, "8115"}, {0x0D, "", kOk, "020101"},     // a read wakes the card
    {-1, "contact remove", 0, ""}, {0x02, "", st::kContactNoCard, ""}, {0x0D, "", kOk, "020000"},
    {-1, "contact rack", 0, ""}, {0x0A, "00", kOk, ""}, {0x02, "", kOk, ""}, {0x14, "12000002", kOk, "B7A0"},
    // A single card shows its own identity whatever type is selected.
    {-1, "contact insert 1", 0, ""}, {0x0A, "04", kOk, ""}, {0x02, "", kOk, ""}, {0x14, "12000602", kOk, "8105"},
  });
}

TEST(ContactSlot, SecurityAreaCodeUsesUpTheCounterAndLocks) {
  readersim::contact::ContactModule m;
  play(m, {
    {-1, "contact insert 2 code=123456", 0, ""}, {0x0A, "02", kOk, ""}, {0x02, "", kOk, ""},
    {0x14, "02", kOk, "07000000"},  // code hidden
    {0x15, "1200200155", st::kContactNotVerified, ""},
    {0x0C, "123400", st::kContactWrongCode, "06"}, {0x0C, "123456", kOk, "07"},
    {0x14, "02", kOk, "07123456"}, {0x15, "1200200155", kOk, "55"},
    {0x15, "1200060100", st::kContactReadOnly, ""},
    // A new code (exactly 3 bytes), then power off ends the session.
    {0x15, "02ABCD", st::kWrongLength, ""}, {0x15, "02ABCDEF", kOk, "ABCDEF"},
    {0x03, "", kOk, ""}, {0x02, "", kOk, ""}, {0x15, "1200200155", st::kContactNotVerified, ""},
    {0x0C, "123456", st::kContactWrongCode, "06"}, {0x0C, "123456", st::kContactWrongCode, "04"},
    {0x0C, "123456", st::kContactWrongCode, "00"}, {0x0C, "ABCDEF", st::kContactLocked, "*"},
    {0x15, "02010203", st::kContactLocked, ""},
  });
  std::string out;
  m.control({"contact", "list"}, out);
  EXPECT_NE(out.find("(locked)"), std::string::npos) << out;
}

TEST(ContactSlot, CodeInMemoryEraseZonesAndKeys) {
  readersim::contact::ContactModule m;
  play(m, {
    {0x0A, "00", kOk, ""}, {0x02, "", kOk, ""}, {0x14, "12000806", kOk, "00000F00FFFF"},
    {0x0C, "F0F0", kOk, "0F00F0F0"},
    // A write can only clear bits: the erase comes first.
    {0x15, "120008021234", kOk, "1030"}, {0x1A, "12000802FFFF", kOk, "FFFF"}, {0x15, "120008021234", kOk, "1234"},
    {0x15, "12000A0100", st::kContactReadOnly, ""},  // the counter
    {0x03, "", kOk, ""}, {0x02, "", kOk, ""}, {0x0C, "F0F0", st::kContactWrongCode, "0E000000"},
    {0x0C, "1234", kOk, "*"}, {0x1A, "12000001FF", st::kContactReadOnly, ""},  // the identity
    {0x0A, "10", kOk, ""}, {0x02, "", kOk, ""}, {0x19, "0601020304", st::kContactNoSuchCode, ""},
    {0x19, "04FFFFFFFFFFFF", kOk, "FF"}, {0x19, "0500000000", st::kContactWrongCode, "FE"},
    {0x18, "00FFFF", st::kContactNoSuchCode, ""},  // no zones
    {0x1A, "12002801FF", st::kContactNotVerified, ""},
    {0x0A, "19", kOk, ""}, {0x02, "", kOk, ""}, {0x18, "04FFFF", st::kContactBadAddress, ""},
    {0x18, "03FFFF", kOk, "*"}, {0x1B, "030F", st::kContactNotVerified, ""}, {0x0C, "FFFF", kOk, "*"},
    {0x1B, "030F", kOk, "*"}, {0x14, "02", kOk, "FFFFFF"},
    // Cards without a code answer no code checks.
    {0x0A, "01", kOk, ""}, {0x02, "", kOk, ""}, {0x0C, "010203", st::kContactNoSuchCode, ""},
    {0x15, "120010020708", kOk, "0708"}, {0x1A, "12001001FF", st::kContactWrongCard, ""},
    // Page cards: pieces within a page.
    {0x0A, "15", kOk, ""}, {0x02, "", kOk, ""}, {0x23, "012C010003070809", kOk, "070809"},
    {0x24, "012C010003", kOk, "070809"}, {0x24, "0000010602", kOk, "*"},  // 262 + 2 = 264
    {0x24, "0000010702", st::kContactBadAddress, ""}, {0x24, "0400000001", st::kContactBadAddress, ""},  // page 1024
    {0x24, "0000000043", st::kBadParameter, ""}, {0x23, "000000000201", st::kWrongLength, ""},
    {0x0A, "14", kOk, ""}, {0x02, "", kOk, ""}, {0x24, "000000FF02", st::kContactBadAddress, ""},  // 256-byte pages
    {0x0A, "02", kOk, ""}, {0x02, "", kOk, ""}, {0x24, "0000000001", st::kContactWrongCard, ""},
  });
}

TEST(ContactSlot, At1608PasswordsCountersAndAuthentication) {
  readersim::contact::ContactModule m;
  const At1608Vector& v = kAt1608Vectors[1];  // the card's own identity; known answers
  const std::string ch = v.challenge, wrong = ch + "0000000000000000", host = ch + v.host;
  std::vector<Step> steps = {
      {-1, std::string("contact insert at1608 secret=") + v.secret, 0, ""},
      {0x29, "082808", kOk, "1608202612060001"},
      {0x28, "0300020102", st::kContactNotVerified, ""},
      {0x2A, "03A3B300", st::kContactWrongCode, "FE"},
      {0x2A, "03A3B3C3", kOk, "FFA3B3C3"},
      {0x28, "03FE020102", kOk, "*"},
      {0x28, "03FF020102", st::kContactBadAddress, ""},
      {0x29, "03FE02", kOk, "0102"},
      {0x2D, "", kOk, ""},  // a reset closes the zone again
      {0x28, "03000109", st::kContactNotVerified, ""},
      {0x2C, "", kOk, "07"},
      {0x2B, wrong, st::kContactAuthFailed, "FE"},
      {0x2B, host, kOk, std::string("FF") + v.expected}};
  for (int i = 0; i < 8; ++i) steps.push_back({0x2B, wrong, st::kContactAuthFailed, "*"});
  steps.push_back({0x2B, wrong, st::kContactLocked, "*"});  // eight wrong answers lock it
  // Memory-card commands do not reach an AT1608.
  steps.insert(
      steps.end(),
      {{0x0A, "02", kOk, ""}, {0x02, "", kOk, ""}, {0x14, "12000001", st::kContactWrongCard, ""}});
  play(m, steps);
  for (const auto& k : kAt1608Vectors) {  // every known answer from a card of that identity
    readersim::contact::ContactModule other;
    play(other, {{-1, std::string("contact insert at1608 secret=") + k.secret + " identity=" + k.identity, 0, ""},
                 {0x2B, std::string(k.challenge) + k.host, kOk, std::string("FF") + k.expected}});
  }
}

TEST(ContactSlot, CpuCardAndSamsUnderT0AndT1) {
  readersim::contact::ContactModule m;
  auto block = [](int pcb, const std::string& inf) {
    const Bytes b = cat({0x00, std::uint8_t(pcb), std::uint8_t(inf.size() / 2)}, hex(inf));
    std::uint8_t x = 0;
    for (auto v : b) x ^= v;
    return toHex(cat(b, {x}));
  };
  Bytes bad = hex(block(0x40, "00A40000020002")), badLen = bad;
  bad.back() ^= 1;  // an EDC error
  badLen[2] = 3;    // a length that does not fit the block
  badLen.back() = std::uint8_t(badLen.back() ^ 7 ^ 3);
  play(m, {
    {0x33, "0084000008", st::kContactNotPowered, ""}, {0x32, "", kOk, "3B1694*"},
    {0x33, "0084000008", kOk, "????????????????9000"},
    {0x33, "0084000005", kOk, "6700"}, {0x33, "00B0000004", kOk, "6986"},  // no file selected
    {0x33, "00A40000020009", kOk, "6A82"}, {0x33, "00A40000020002", kOk, "9000"},
    {0x33, "00B0000204", kOk, "????????9000"}, {0x33, "00B0000202", kOk, "02039000"},
    {0x33, "00B000C604", kOk, "????6282"},  // 2 bytes left
    {0x33, "00B000C901", kOk, "6B00"}, {0x33, "00A40100023F00", kOk, "6A86"}, {0x33, "00A40000033F00", kOk, "6700"},
    // The applet by its AID (another AID is not found); no file is current after it.
    {0x33, "00A40400023F00", kOk, "6A82"}, {0x33, "00A4040C08F04F525649583332", kOk, "9000"},
    {0x33, "00B0000001", kOk, "6986"},
    {0x33, "00CA000000", kOk, "6D00"}, {0x33, "80B0000001", kOk, "6E00"},
    // T=1: the card's N(S) alternates; the host's may repeat (shared by the slots).
    {0x3C, "", kOk, "??16*"}, {0x46, "", kOk, "??86*"},  // SAM 1: T=0, SAM 2: T=1
    {-1, "sam insert 3 t1", 0, ""}, {0x50, "", kOk, "????81*"},
    {0x51, block(0x00, "00A40000020002"), kOk, block(0x00, "9000")},
    {0x51, block(0x00, "00B0000001"), kOk, block(0x40, "009000")},
    {0x51, toHex(bad), kOk, block(0x91, "")},  // R-blocks name the N(S) expected next: EDC error,
    {0x51, toHex(badLen), kOk, block(0x92, "")},  // other error
    {0x51, block(0xC1, "FE"), kOk, block(0xE1, "FE")}, {0x51, block(0x40, "00120000"), kOk, block(0x00, "6D00")},
    {-1, "sam list", 0, "~host N(S) 0 0 1"}, {0x50, "", kOk, "*"},  // a reset starts the card's sequence again
    {0x51, block(0x40, "00A40000020002"), kOk, block(0x00, "9000")},
    // The SAM slots and card kinds follow the control words.
    {0x5A, "", st::kContactNoCard, ""}, {0x5B, "0084000008", st::kContactNoCard, ""},
    {-1, "sam insert 4 t0", 0, ""}, {0x5B, "0084000008", st::kContactNotPowered, ""}, {0x5A, "", kOk, "*"},
    {-1, "sam remove 1", 0, ""}, {0x3C, "", st::kContactNoCard, ""},
    {-1, "contact insert cpu t1", 0, ""}, {0x32, "", kOk, "??86*"}, {0x29, "082808", st::kContactWrongCard, ""},
    {-1, "contact insert 21", 0, ""}, {0x32, "", st::kContactWrongCard, ""},
    {-1, "contact remove", 0, ""}, {0x32, "", st::kContactNoCard, ""}, {-1, "contact rack", 0, ""}, {0x32, "", kOk,
     "*"},
    {-1, "contact insert 31", 0, "error:"}, {-1, "contact insert 2 code=1234", 0, "error:"},
    {-1, "contact insert 1 code=123456", 0, "error:"}, {-1, "contact insert at1608 secret=00", 0, "error:"},
    {-1, "sam insert 5 t0", 0, "error:"},
    {-1, "contact insert 4 code=A1B2 counter=01", 0, "contact: memory card type 4, code A1 B2, counter 01, fuse FF, "
                                                   "selected type none, power off"},
  });
  std::string out;
  EXPECT_FALSE(m.control({"card", "insert"}, out));
}

// clang-format on
}  // namespace
