// The simulated contact slot and SAM slots: what the reader answers to each
// command as the cards' codes, counters, pages and protocols allow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../driver/contact/at1608_cipher.h"
#include "contact/contact_module.h"
#include "core/status.h"
#include "core_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using readersim::Reply;
using readersim::contact::ContactModule;
using readersim::contact::CpuCard;
using readersim::contact::MemoryCard;
using simtest::cat;
namespace st = readersim::status;

class ContactSlot : public ::testing::Test {
 protected:
  Reply run(std::uint8_t cmd, const Bytes& data = {}) { return m.execute(cmd, data); }
  std::string control(const std::string& line) {
    std::string out;
    EXPECT_TRUE(m.control(simtest::words(line), out)) << line;
    return out;
  }
  void powered(int type) {
    ASSERT_EQ(run(0x0A, {static_cast<std::uint8_t>(type)}).status, 0);
    ASSERT_EQ(run(0x02).status, 0);
  }
  ContactModule m;
};

TEST_F(ContactSlot, TypeSelectionPowerAndInquiry) {
  EXPECT_EQ(run(0x0D).data, (Bytes{0xFF, 1, 0}));
  EXPECT_EQ(run(0x14, {18, 0, 0, 2}).status, st::kContactWrongCard);  // no type yet
  EXPECT_EQ(run(0x0A, {31}).status, st::kContactUnknownType);
  EXPECT_EQ(run(0x0A, {2}).status, 0);
  EXPECT_EQ(run(0x14, {18, 0, 0, 2}).status, st::kContactNotPowered);
  EXPECT_EQ(run(0x02).status, 0);
  EXPECT_EQ(run(0x0D).data, (Bytes{2, 1, 1}));
  EXPECT_EQ(run(0x1C).status, 0);
  EXPECT_EQ(run(0x0D).data, (Bytes{2, 1, 2}));
  EXPECT_EQ(run(0x14, {18, 0, 6, 2}).data, (Bytes{0x81, 0x15}));  // wakes the card
  EXPECT_EQ(run(0x0D).data, (Bytes{2, 1, 1}));
  control("contact remove");
  EXPECT_EQ(run(0x02).status, st::kContactNoCard);
  EXPECT_EQ(run(0x0D).data, (Bytes{2, 0, 0}));
}

TEST_F(ContactSlot, ASingleCardShowsItsOwnIdentity) {
  powered(0);
  EXPECT_EQ(run(0x14, {18, 0, 0, 2}).data, (Bytes{0xB7, 0xA0}));
  // A single card shows its own identity whatever type is selected.
  control("contact insert 1");
  powered(4);
  EXPECT_EQ(run(0x14, {18, 0, 6, 2}).data, (Bytes{0x81, 0x05}));
}

TEST_F(ContactSlot, SecurityAreaCodeUsesUpTheCounterAndLocks) {
  control("contact insert 2 code=123456");
  powered(2);
  EXPECT_EQ(run(0x14, {2}).data, (Bytes{0x07, 0, 0, 0}));  // code hidden
  EXPECT_EQ(run(0x15, {18, 0, 32, 1, 0x55}).status, st::kContactNotVerified);
  Reply r = run(0x0C, {0x12, 0x34, 0x00});
  EXPECT_EQ(r.status, st::kContactWrongCode);
  EXPECT_EQ(r.data, (Bytes{0x06}));
  r = run(0x0C, {0x12, 0x34, 0x56});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data, (Bytes{0x07}));
  EXPECT_EQ(run(0x14, {2}).data, (Bytes{0x07, 0x12, 0x34, 0x56}));
  EXPECT_EQ(run(0x15, {18, 0, 32, 1, 0x55}).data, (Bytes{0x55}));
  EXPECT_EQ(run(0x15, {18, 0, 6, 1, 0x00}).status, st::kContactReadOnly);
  // A new code (exactly 3 bytes), then power off ends the session.
  EXPECT_EQ(run(0x15, {2, 0xAB, 0xCD}).status, st::kWrongLength);
  EXPECT_EQ(run(0x15, {2, 0xAB, 0xCD, 0xEF}).data, (Bytes{0xAB, 0xCD, 0xEF}));
  run(0x03);
  run(0x02);
  EXPECT_EQ(run(0x15, {18, 0, 32, 1, 0x55}).status, st::kContactNotVerified);
  for (int left : {0x06, 0x04, 0x00})
    EXPECT_EQ(run(0x0C, {0x12, 0x34, 0x56}).data, Bytes{static_cast<std::uint8_t>(left)});
  r = run(0x0C, {0xAB, 0xCD, 0xEF});
  EXPECT_EQ(r.status, st::kContactLocked);
  EXPECT_EQ(run(0x15, {2, 1, 2, 3}).status, st::kContactLocked);
  EXPECT_NE(control("contact list").find("(locked)"), std::string::npos);
}

TEST_F(ContactSlot, CodeInMemoryIsErasedThenWritten) {
  powered(0);
  EXPECT_EQ(run(0x14, {18, 0, 8, 6}).data, (Bytes{0, 0, 0x0F, 0x00, 0xFF, 0xFF}));
  Reply r = run(0x0C, {0xF0, 0xF0});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data, (Bytes{0x0F, 0x00, 0xF0, 0xF0}));
  // A write can only clear bits: the erase comes first.
  EXPECT_EQ(run(0x15, {18, 0, 8, 2, 0x12, 0x34}).data, (Bytes{0x10, 0x30}));
  EXPECT_EQ(run(0x1A, {18, 0, 8, 2, 0xFF, 0xFF}).data, (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(run(0x15, {18, 0, 8, 2, 0x12, 0x34}).data, (Bytes{0x12, 0x34}));
  EXPECT_EQ(run(0x15, {18, 0, 10, 1, 0x00}).status, st::kContactReadOnly);  // counter
  run(0x03);
  run(0x02);
  EXPECT_EQ(run(0x0C, {0xF0, 0xF0}).data, (Bytes{0x0E, 0x00, 0x00, 0x00}));
  EXPECT_EQ(run(0x0C, {0x12, 0x34}).status, 0);
  EXPECT_EQ(run(0x1A, {18, 0, 0, 1, 0xFF}).status, st::kContactReadOnly);  // identity
}

TEST_F(ContactSlot, EraseZoneAndKeyChecks) {
  powered(16);
  EXPECT_EQ(run(0x19, {6, 1, 2, 3, 4}).status, st::kContactNoSuchCode);
  Reply r = run(0x19, {4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data, (Bytes{0xFF}));
  EXPECT_EQ(run(0x19, {5, 0, 0, 0, 0}).data, (Bytes{0xFE}));
  EXPECT_EQ(run(0x18, {0, 0xFF, 0xFF}).status, st::kContactNoSuchCode);  // no zones
  EXPECT_EQ(run(0x1A, {18, 0, 40, 1, 0xFF}).status, st::kContactNotVerified);
  powered(25);
  EXPECT_EQ(run(0x18, {4, 0xFF, 0xFF}).status, st::kContactBadAddress);
  EXPECT_EQ(run(0x18, {3, 0xFF, 0xFF}).status, 0);
  EXPECT_EQ(run(0x1B, {3, 0x0F}).status, st::kContactNotVerified);
  EXPECT_EQ(run(0x0C, {0xFF, 0xFF}).status, 0);
  EXPECT_EQ(run(0x1B, {3, 0x0F}).status, 0);
  EXPECT_EQ(run(0x14, {2}).data, (Bytes{0xFF, 0xFF, 0xFF}));
  // Cards without a code answer no code checks.
  powered(1);
  EXPECT_EQ(run(0x0C, {1, 2, 3}).status, st::kContactNoSuchCode);
  EXPECT_EQ(run(0x15, {18, 0, 16, 2, 7, 8}).data, (Bytes{7, 8}));
  EXPECT_EQ(run(0x1A, {18, 0, 16, 1, 0xFF}).status, st::kContactWrongCard);
}

TEST_F(ContactSlot, PageCardsTransferPiecesWithinAPage) {
  powered(21);
  EXPECT_EQ(run(0x23, {0x01, 0x2C, 0x01, 0x00, 3, 7, 8, 9}).data, (Bytes{7, 8, 9}));
  EXPECT_EQ(run(0x24, {0x01, 0x2C, 0x01, 0x00, 3}).data, (Bytes{7, 8, 9}));
  EXPECT_EQ(run(0x24, {0, 0, 0x01, 0x06, 2}).status, 0);  // 262 + 2 = 264
  EXPECT_EQ(run(0x24, {0, 0, 0x01, 0x07, 2}).status, st::kContactBadAddress);
  EXPECT_EQ(run(0x24, {0x04, 0x00, 0, 0, 1}).status, st::kContactBadAddress);  // page 1024
  EXPECT_EQ(run(0x24, {0, 0, 0, 0, 67}).status, st::kBadParameter);
  EXPECT_EQ(run(0x23, {0, 0, 0, 0, 2, 1}).status, st::kWrongLength);
  powered(20);
  EXPECT_EQ(run(0x24, {0, 0, 0x00, 0xFF, 2}).status, st::kContactBadAddress);  // 256-byte pages
  powered(2);
  EXPECT_EQ(run(0x24, {0, 0, 0, 0, 1}).status, st::kContactWrongCard);
}

TEST_F(ContactSlot, At1608PasswordsCountersAndAuthentication) {
  control("contact insert at1608 secret=0011223344556677");
  EXPECT_EQ(run(0x29, {8, 40, 8}).data, (Bytes{0x16, 0x08, 0x20, 0x26, 0x12, 0x06, 0x00, 0x01}));
  EXPECT_EQ(run(0x28, {3, 0, 2, 1, 2}).status, st::kContactNotVerified);
  Reply r = run(0x2A, {3, 0xA3, 0xB3, 0x00});
  EXPECT_EQ(r.status, st::kContactWrongCode);
  EXPECT_EQ(r.data, (Bytes{0xFE}));
  r = run(0x2A, {3, 0xA3, 0xB3, 0xC3});
  EXPECT_EQ(r.data, (Bytes{0xFF, 0xA3, 0xB3, 0xC3}));
  EXPECT_EQ(run(0x28, {3, 254, 2, 1, 2}).status, 0);
  EXPECT_EQ(run(0x28, {3, 255, 2, 1, 2}).status, st::kContactBadAddress);
  EXPECT_EQ(run(0x29, {3, 254, 2}).data, (Bytes{1, 2}));
  EXPECT_EQ(run(0x2D).status, 0);  // reset closes the zone again
  EXPECT_EQ(run(0x28, {3, 0, 1, 9}).status, st::kContactNotVerified);
  EXPECT_EQ(run(0x2C).data, (Bytes{0x07}));

  const orvix::at1608::Block id{0x16, 0x08, 0x20, 0x26, 0x12, 0x06, 0x00, 0x01};
  const orvix::at1608::Block secret{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  const orvix::at1608::Block challenge{9, 8, 7, 6, 5, 4, 3, 2};
  const auto a = orvix::at1608::authenticate(id, secret, challenge);
  Bytes wrong = cat(Bytes(challenge.begin(), challenge.end()), Bytes(8, 0));
  r = run(0x2B, wrong);
  EXPECT_EQ(r.status, st::kContactAuthFailed);
  EXPECT_EQ(r.data, (Bytes{0xFE}));
  r = run(0x2B,
          cat(Bytes(challenge.begin(), challenge.end()), Bytes(a.host.begin(), a.host.end())));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data, cat({0xFF}, Bytes(a.expected.begin(), a.expected.end())));
  // Eight wrong answers lock the authentication.
  for (int i = 0; i < 8; ++i) run(0x2B, wrong);
  EXPECT_EQ(run(0x2B, wrong).status, st::kContactLocked);
  // Memory-card commands do not reach an AT1608.
  EXPECT_EQ(run(0x0A, {2}).status, 0);
  run(0x02);
  EXPECT_EQ(run(0x14, {18, 0, 0, 1}).status, st::kContactWrongCard);
}

TEST_F(ContactSlot, CpuCardAnswersToResetAndApdusUnderT0) {
  EXPECT_EQ(run(0x33, {0x00, 0x84, 0x00, 0x00, 0x08}).status, st::kContactNotPowered);
  Reply atr = run(0x32);
  EXPECT_EQ(atr.status, 0);
  EXPECT_EQ(Bytes(atr.data.begin(), atr.data.begin() + 3), (Bytes{0x3B, 0x16, 0x94}));
  struct Case {
    Bytes apdu;
    Bytes tail;  // the last two bytes of the answer
    std::size_t size;
  } cases[] = {
      {{0x00, 0x84, 0x00, 0x00, 0x08}, {0x90, 0x00}, 10},
      {{0x00, 0x84, 0x00, 0x00, 0x05}, {0x67, 0x00}, 2},
      {{0x00, 0xB0, 0x00, 0x00, 0x04}, {0x69, 0x86}, 2},  // no file selected
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x09}, {0x6A, 0x82}, 2},
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02}, {0x90, 0x00}, 2},
      {{0x00, 0xB0, 0x00, 0x02, 0x04}, {0x90, 0x00}, 6},
      {{0x00, 0xB0, 0x00, 0xC6, 0x04}, {0x62, 0x82}, 4},  // 2 bytes left
      {{0x00, 0xB0, 0x00, 0xC9, 0x01}, {0x6B, 0x00}, 2},
      {{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}, {0x6A, 0x86}, 2},
      {{0x00, 0xA4, 0x00, 0x00, 0x03, 0x3F, 0x00}, {0x67, 0x00}, 2},
      {{0x00, 0xCA, 0x00, 0x00, 0x00}, {0x6D, 0x00}, 2},
      {{0x80, 0xB0, 0x00, 0x00, 0x01}, {0x6E, 0x00}, 2},
  };
  for (const auto& c : cases) {
    Reply r = run(0x33, c.apdu);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.data.size(), c.size) << int(c.apdu[1]);
    EXPECT_EQ(Bytes(r.data.end() - 2, r.data.end()), c.tail) << int(c.apdu[1]);
  }
  EXPECT_EQ(run(0x33, {0x00, 0xB0, 0x00, 0x02, 0x02}).data, (Bytes{2, 3, 0x90, 0x00}));
}

TEST_F(ContactSlot, T1CardsAnswerWithIBlocks) {
  control("sam insert 3 t1");
  EXPECT_EQ(run(0x50).data[2], 0x81);  // TD1: T=1
  auto block = [](std::uint8_t pcb, const Bytes& inf) {
    Bytes b{0x00, pcb, static_cast<std::uint8_t>(inf.size())};
    b.insert(b.end(), inf.begin(), inf.end());
    std::uint8_t x = 0;
    for (auto v : b) x ^= v;
    b.push_back(x);
    return b;
  };
  const Bytes select = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02};
  EXPECT_EQ(run(0x51, block(0x00, select)).data, block(0x00, {0x90, 0x00}));
  // The card's N(S) alternates; the host's may repeat (shared by the slots).
  EXPECT_EQ(run(0x51, block(0x00, {0x00, 0xB0, 0x00, 0x00, 0x01})).data,
            block(0x40, {0x00, 0x90, 0x00}));
  Bytes bad = block(0x40, select);
  bad.back() ^= 1;
  // R-blocks name the N(S) expected next (1): EDC error, other error.
  EXPECT_EQ(run(0x51, bad).data, block(0x91, {}));
  Bytes badLen = block(0x40, select);
  badLen[2] = 3;
  badLen.back() = 0;
  for (std::size_t i = 0; i + 1 < badLen.size(); ++i) badLen.back() ^= badLen[i];
  EXPECT_EQ(run(0x51, badLen).data, block(0x92, {}));
  EXPECT_EQ(run(0x51, block(0xC1, {0xFE})).data, block(0xE1, {0xFE}));
  EXPECT_EQ(run(0x51, block(0x40, {0x00, 0x12, 0x00, 0x00})).data, block(0x00, {0x6D, 0x00}));
  EXPECT_NE(control("sam list").find("host N(S) 0 0 1"), std::string::npos);
  // A reset starts the card's sequence again.
  run(0x50);
  EXPECT_EQ(run(0x51, block(0x40, select)).data, block(0x00, {0x90, 0x00}));
}

TEST_F(ContactSlot, SamSlotsAndCardKindsFollowTheControlWords) {
  EXPECT_EQ(run(0x3C).data[1], 0x16);  // SAM 1: T=0
  EXPECT_EQ(run(0x46).data[1], 0x86);  // SAM 2: T=1
  EXPECT_EQ(run(0x5A).status, st::kContactNoCard);
  EXPECT_EQ(run(0x5B, {0, 0x84, 0, 0, 8}).status, st::kContactNoCard);
  control("sam insert 4 t0");
  EXPECT_EQ(run(0x5B, {0, 0x84, 0, 0, 8}).status, st::kContactNotPowered);
  EXPECT_EQ(run(0x5A).status, 0);
  control("sam remove 1");
  EXPECT_EQ(run(0x3C).status, st::kContactNoCard);
  control("contact insert cpu t1");
  EXPECT_EQ(run(0x32).data[1], 0x86);
  EXPECT_EQ(run(0x29, {8, 40, 8}).status, st::kContactWrongCard);
  control("contact insert 21");
  EXPECT_EQ(run(0x32).status, st::kContactWrongCard);
  control("contact remove");
  EXPECT_EQ(run(0x32).status, st::kContactNoCard);
  control("contact rack");
  EXPECT_EQ(run(0x32).status, 0);
  for (const char* bad :
       {"contact insert 31", "contact insert 2 code=1234", "contact insert 1 code=123456",
        "contact insert at1608 secret=00", "sam insert 5 t0"})
    EXPECT_EQ(control(bad).rfind("error:", 0), 0u) << bad;
  EXPECT_EQ(control("contact insert 4 code=A1B2 counter=01"),
            "contact: memory card type 4, code A1 B2, counter 01, fuse FF, selected type none, "
            "power off");
  std::string out;
  EXPECT_FALSE(m.control({"card", "insert"}, out));
}

}  // namespace
