// The contact slot on the line: memory-card pieces, the card-type table,
// security codes, page-card blocks, CPU card and SAM APDUs, and AT1608 cards,
// with replies that try to overrun the caller's buffers.
#include <gtest/gtest.h>

#include <array>

#include "at1608_vectors.h"
#include "fake_fixture.h"
#include "link/link_state.h"
#include "orvix32.h"

using namespace fake;
using orvix::link;

namespace {
// clang-format off

using Call = std::function<int(unsigned char*)>;
Bytes seq(std::size_t n, int first) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + int(i));
  return b;
}
const auto hx = toHex;

using Contact = LinkedTest;

TEST_F(Contact, MemoryCardRunsGoInPiecesOf64) {
  auto read = [](int page, int address, int length) -> Call {
    return [=](unsigned char* b) { return ReadCard(18, page, address, length, b); };
  };
  const Row rows[] = {
    {"read 64", -1, {answer(0, seq(64, 0))}, read(0, 0, 64), 64, 0, {}, "14:12000040", 0, seq(64, 0)},
    {"read 65 from 5", -1, {answer(0, seq(64, 5)), answer(0, {0x45})}, read(0, 5, 65), 65, 0, {},
     "14:12000540 14:12004501", 0, seq(65, 5)},
    {"read 130 on page 1", -1, {answer(0, seq(64, 10)), answer(0, seq(64, 0x4A)), answer(0, seq(2, 0x8A))},
     read(1, 10, 130), 130, 0, {}, "14:12010A40 14:12014A40 14:12018A02", 0, seq(130, 10)},
    {"read the last position", -1, {answer(0, {0xFF})}, read(255, 255, 1), 1, 0, {}, "14:12FFFF01", 0, {0xFF}},
    {"read: output advances by what came", -1,
     {answer(0, seq(10, 0x10)), answer(0, seq(64, 0x40)), answer(0, seq(2, 0xA0))}, read(0, 0, 130), 130, 0x55,
     {}, "14:12000040 14:12004040 14:12008002", 0, seq(10, 0x10) + seq(64, 0x40) + seq(2, 0xA0) + Bytes(54, 0x55)},
    {"read stops at a failure", -1, {answer(0, seq(64, 0)), answer(0x41)}, read(0, 0, 130), 130, 0x55, {},
     "14:12000040 14:12004040", 0x41, seq(64, 0) + Bytes(66, 0x55)},
    {"read: a long reply is cut to the piece", -1, {answer(0, Bytes(200, 0x77))}, read(0, 0, 3), 3, 0, {},
     "14:12000003", 0, Bytes(3, 0x77)},
    {"write: 255-byte replies are cut", -1, {answer(0, Bytes(255, 0x11)), answer(0, Bytes(255, 0x22))},
     [](unsigned char* b) { return WriteCard(3, 0, 0, 66, b); }, 66, 1, {},
     "15:03000040" + hx(Bytes(64, 1)) + " 15:03004002" + "0101", 0, Bytes(64, 0x11) + Bytes(2, 0x22)},
    {"write: replies over the pieces", -1, {answer(0, seq(64, 0x80)), answer(0), answer(0, {0xC0})},
     [](unsigned char* b) { return WriteCard(7, 0, 0x20, 130, b); }, 130, 0, seq(130, 0),
     "15:07002040" + hx(seq(64, 0)) + " 15:07006040" + hx(seq(64, 64)) + " 15:0700A002" + "8081", 0,
     seq(64, 0x80) + seq(64, 64) + hex("C081")},
  };
  run(rows);
  clear();
  for (auto [page, address, length] : {std::tuple{-1, 0, 1}, {0, -1, 1}, {0, 0, 0}, {0, 0, -5}, {256, 0, 1},
                                       {255, 255, 2}, {0, 65536, 1}, {0x7FFFFFFF, 0, 1}}) {
    Guarded buf(4, 0x33);
    EXPECT_EQ(ReadCard(18, page, address, length, buf.data()), 4);
    EXPECT_EQ(WriteCard(18, page, address, length, buf.data()), 4);
    EXPECT_EQ(EraseCard(18, page, address, length, buf.data()), 4);
    EXPECT_EQ(buf.bytes(), Bytes(4, 0x33));
  }
  EXPECT_TRUE(wire().written.empty());
}

// What each type-dependent export does for one type of each behaviour: "=r"
// for the result r without any exchange, else every frame sent.
struct TypeRow {
  int type;
  const char *verify, *check, *read, *modify, *erase, *keys, *zone;
};
constexpr const char *kId6 = "14:12000602", *kCheck = "0C:1234", *kArea2Read = "14:02",
                     *kArea2Modify = "15:021234", *kWriteFF = "15:09000002FFFF",
                     *kEraseCmd = "1A:12000002FFFF", *kNoKeys = "=3 =3 =3 =3",
                     *kKeys4 = "19:0112345678 19:0412345678 19:0512345678 19:0612345678",
                     *kModify10 = "1A:12000A02FFFF 15:12000A021234 14:12000C02";
// verify: VerifyIC; check: CheckSecret(2, 12 34); read: ReadSecret; modify:
// ModifySecret(2, 12 34); erase: EraseCard(9, 0, 0, 2); keys: CheckEraseSecret
// with selectors 1, 4, 5, 6; zone: CheckZoneSecret(1, 12 34).
const TypeRow kTypeRows[] = {
    {0, "14:12000002 14:12000002", kCheck, "14:12000806", "1A:12000802FFFF 15:120008021234 14:12000A02",
     kEraseCmd, kKeys4, "=3"},
    {1, kId6, "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {2, kId6, kCheck, kArea2Read, kArea2Modify, kWriteFF, kNoKeys, "=3"},
    {12, "=0", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {15, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, kKeys4, "=3"},
    {16, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, "=3 19:04123456789ABC 19:0512345678 =3", "=3"},
    {17, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, kNoKeys, "=3"},
    {18, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {25, "=0", kCheck, kArea2Read, kArea2Modify, kEraseCmd, "19:011234 19:041234 19:051234 19:061234", "18:011234"},
    {27, "=0", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {255, "=19", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {300, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
};

TEST_F(Contact, EveryTypeBehavesAsItsRowSays) {
  auto trace = [&](auto op) {  // one operation against a reader that accepts everything
    clear();
    for (int i = 0; i < 4; ++i) wire().reply(0, Bytes(4, 0xFF));
    const int result = op();
    return line().empty() ? "=" + std::to_string(result) : line();
  };
  for (const TypeRow& row : kTypeRows) {
    SCOPED_TRACE("type " + std::to_string(row.type));
    link().Contact.SelectedCardType = row.type;
    std::array<unsigned char, 8> code{}, counter{};
    auto fresh = [&] {
      code = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
      return code.data();
    };
    EXPECT_EQ(trace([] { return VerifyIC(); }), row.verify);
    EXPECT_EQ(trace([&] { return CheckSecret(2, fresh()); }), row.check);
    EXPECT_EQ(trace([&] { return ReadSecret(counter.data(), fresh()); }), row.read);
    EXPECT_EQ(trace([&] { return ModifySecret(2, fresh()); }), row.modify);
    EXPECT_EQ(trace([&] { return EraseCard(9, 0, 0, 2, fresh()); }), row.erase);
    std::string keys;
    for (int sel : {1, 4, 5, 6})
      keys += (keys.empty() ? "" : " ") + trace([&] { return CheckEraseSecret(sel, fresh()); });
    EXPECT_EQ(keys, row.keys);
    EXPECT_EQ(trace([&] { return CheckZoneSecret(1, fresh()); }), row.zone);
  }
  clear();  // SelectCard and Inquire keep the type on success only
  wire().reply(0);
  wire().reply(0x42);
  EXPECT_EQ(SelectCard(300), 0);
  EXPECT_EQ(SelectCard(2), 0x42);
  EXPECT_EQ(line(), "0A:2C 0A:02");
  EXPECT_EQ(link().Contact.SelectedCardType, 300);
  wire().reply(0, {25, 1, 1});
  wire().reply(0x40, {3, 3, 3});
  int type = -1, second = -1, power = -1;
  EXPECT_EQ(Inquire(&type, &second, &power), 0);
  EXPECT_EQ((std::array{type, second, power}), (std::array{25, 1, 1}));
  EXPECT_EQ(Inquire(&type, &second, &power), 0x40);
  EXPECT_EQ(type, 25);
  EXPECT_EQ(link().Contact.SelectedCardType, 25);
}

Call check(int n) { return [n](unsigned char* b) { return CheckSecret(n, b); }; }
Call modify(int n) { return [n](unsigned char* b) { return ModifySecret(n, b); }; }
Call eraseKey(int s) { return [s](unsigned char* b) { return CheckEraseSecret(s, b); }; }
const Call kVerify = [](unsigned char*) { return VerifyIC(); };
const Call kReadSecret = [](unsigned char* b) { return ReadSecret(b, b + 2); };  // counter, code
const Call kZone3 = [](unsigned char* b) { return CheckZoneSecret(3, b); };
const Bytes kBadSum = hex("45 67 00 02 09 09 77");
const Bytes k255 = Bytes(255, 0x3C);

TEST_F(Contact, IdentityAndSecurityCodes) {
  const Row rows[] = {
    // VerifyIC compares the identity bytes; a short reply leaves a byte unmatched.
    {"verify 0, zeros first", 0, {answer(0, hex("0000")), answer(0, hex("B7A0"))}, kVerify, 0, 0, {},
     "14:12000002 14:12000002", 0, {}},
    {"verify 0, high bit aside", 0, {answer(0, hex("B7A0")), answer(0, hex("37A0"))}, kVerify, 0, 0, {},
     "14:12000002 14:12000002", 0, {}},
    {"verify 0, wrong", 0, {answer(0, hex("B7A0")), answer(0, hex("B7A1"))}, kVerify, 0, 0, {},
     "14:12000002 14:12000002", 19, {}},
    {"verify 0, refused", 0, {answer(0x43)}, kVerify, 0, 0, {}, "14:12000002", 0x43, {}},
    {"verify 2", 2, {answer(0, hex("8115"))}, kVerify, 0, 0, {}, "14:12000602", 0, {}},
    {"verify 4", 4, {answer(0, hex("8113"))}, kVerify, 0, 0, {}, "14:12000602", 0, {}},
    {"verify 4, other card", 4, {answer(0, hex("8115"))}, kVerify, 0, 0, {}, "14:12000602", 19, {}},
    {"verify 2, short reply", 2, {answer(0, hex("81"))}, kVerify, 0, 0, {}, "14:12000602", 19, {}},
    // Reordered: the reply's counter and code halves trade places.
    // Code and counter at fixed positions (0, 15 … 17): all four bytes whatever the length.
    {"check 0", 0, {answer(0, hex("C1C2D1D2"))}, check(2), 6, 0xEE, hex("AABB"), "0C:AABB", 0, hex("D1D2C1C2EEEE")},
    {"check 17, 0", 17, {answer(0, hex("C1C2D1D2"))}, check(0), 6, 0xEE, {}, "0C:", 0, hex("D1D2C1C2EEEE")},
    {"check 15, refused", 15, {answer(0x45, hex("C1C2D1D2"))}, check(2), 6, 0xEE, {}, "0C:EEEE", 0x45, {}},
    // General: the reply comes back into at most length bytes, on success only.
    {"check 2", 2, {answer(0, Bytes(255, 7))}, check(3), 3, 0, {}, "0C:000000", 0, Bytes(3, 7)},
    {"check 2, refused", 2, {answer(0x45, {3})}, check(3), 3, 0x66, {}, "0C:666666", 0x45, {}},
    {"check 2, 256", 2, {}, check(256), 3, 0, {}, "", 4, {}},
    {"check 2, -1", 2, {}, check(-1), 3, 0, {}, "", 4, {}},
    // Two-byte: exactly 2 bytes; the reply whatever the status, not after a link error.
    {"check 25, 3", 25, {}, check(3), 2, 0x66, {}, "", 3, {}},
    {"check 25, refused", 25, {answer(0x45, Bytes(40, 1))}, check(2), 2, 0x66, {}, "0C:6666", 0x45, hex("0101")},
    {"check 25, bad checksum", 25, {kBadSum}, check(2), 2, 0x66, {}, "0C:6666", 115, {}},
    // ReadSecret (counter, then code): the security area gives at most 8 code bytes.
    {"read 2", 2, {answer(0, hex("07A1A2A3"))}, kReadSecret, 10, 0x55, {}, "14:02", 0,
     hex("0700A1A2A35555555555")},
    {"read 2, long", 2, {answer(0, seq(255, 0))}, kReadSecret, 10, 0x55, {}, "14:02", 0, hex("0000") + seq(8, 1)},
    {"read 16", 16, {answer(0, hex("C1C20F00"))}, kReadSecret, 10, 0x55, {}, "14:12000A04", 0,
     hex("0F00C1C2") + Bytes(6, 0x55)},
    {"read 16, refused", 16, {answer(0x46)}, kReadSecret, 10, 0x55, {}, "14:12000A04", 0x46, {}},
    // In card memory: erase, write, read the counter back; an erase that did
    // not leave FF stops before the write.
    {"modify 0", 0, {answer(0, hex("FFFF")), answer(0, hex("1234")), answer(0, hex("0F00"))}, modify(2), 6, 0xEE,
     hex("1234"), "1A:12000802FFFF 15:120008021234 14:12000A02", 0, hex("0F001234EEEE")},
    {"modify 16, 1", 16, {answer(0, hex("FFFF")), answer(0, hex("1234")), answer(0, hex("0F00"))}, modify(1), 6, 0xEE,
     hex("1234"), "1A:12000A02FFFF 15:12000A021234 14:12000C02", 0, hex("0F001234EEEE")},
    {"modify 15, -7", 15, {answer(0, hex("FFFF")), answer(0, hex("1234")), answer(0, hex("0F00"))}, modify(-7), 6,
     0xEE, hex("1234"), "1A:12000A02FFFF 15:12000A021234 14:12000C02", 0, hex("0F001234EEEE")},
    {"modify 15, erase left 7F", 15, {answer(0, hex("FF7F"))}, modify(4), 4, 0, {}, "1A:12000A02FFFF", 3, {}},
    // In the security area: the reply into length bytes, on success only.
    {"modify 4", 4, {answer(0, Bytes(100, 9))}, modify(3), 3, 0, hex("010203"), "15:02010203", 0, Bytes(3, 9)},
    {"modify 4, 255", 4, {}, modify(255), 3, 0, {}, "", 4, {}},
    {"modify 4, -2", 4, {}, modify(-2), 3, 0, {}, "", 4, {}},
    {"modify 26, 3", 26, {}, modify(3), 3, 0, {}, "", 3, {}},
    {"modify 26, refused", 26, {answer(0x47, hex("0505"))}, modify(2), 2, 0x66, {}, "15:026666", 0x47, {}},
    // Erase keys and the zone code: replies stay inside the key.
    {"erase key 0", 0, {answer(0, k255)}, eraseKey(9), 4, 1, {}, "19:0901010101", 0, Bytes(4, 0x3C)},
    {"erase key 16/4", 16, {answer(0, k255)}, eraseKey(4), 6, 1, {}, "19:04010101010101", 0, Bytes(6, 0x3C)},
    {"erase key 16/5", 16, {answer(0, k255)}, eraseKey(5), 4, 1, {}, "19:0501010101", 0, Bytes(4, 0x3C)},
    {"erase key 16/5, refused", 16, {answer(0x45, k255)}, eraseKey(5), 4, 1, {}, "19:0501010101", 0x45, {}},
    {"erase key 25, refused", 25, {answer(0x45, k255)}, eraseKey(3), 2, 1, {}, "19:030101", 0x45, Bytes(2, 0x3C)},
    {"erase key 26", 26, {answer(0, k255)}, eraseKey(3), 2, 1, {}, "19:030101", 0, Bytes(2, 0x3C)},
    {"zone 25, refused", 25, {answer(0x48, Bytes(200, 0x5A))}, kZone3, 2, 1, {}, "18:030101", 0x48, Bytes(2, 0x5A)},
  };
  run(rows);
}

// Page cards: pieces of at most 66 bytes that never cross a page, page and
// offset high byte first; reads send 5 header bytes, writes 5 plus the data.
struct Piece {
  int page, offset, count;
  bool operator==(const Piece&) const = default;
};
std::vector<Piece> piecesOf(const Bytes& w, std::uint8_t cmd) {
  std::vector<Piece> out;
  for (std::size_t i = 0; i + 7 < w.size(); i += 5u + w[i + 2]) {
    EXPECT_EQ(w[i + 1], cmd);
    out.push_back({w[i + 3] << 8 | w[i + 4], w[i + 5] << 8 | w[i + 6], w[i + 7]});
    EXPECT_EQ(w[i + 2], cmd == 0x24 ? 5 : 5 + out.back().count);
  }
  return out;
}

TEST_F(Contact, PageCardReadsAreCutAtPagesAndIntoPiecesOf66) {
  struct Case {
    int type, address, length;
    std::vector<Piece> want;
  };
  const Case cases[] = {
      {21, 260, 10, {{0, 260, 4}, {1, 0, 6}}},  // pages of 264
      {2, 250, 10, {{0, 250, 6}, {1, 0, 4}}},   // pages of 256
      {255, 0, 256, {{0, 0, 66}, {0, 66, 66}, {0, 132, 66}, {0, 198, 58}}},
      {21, 264, 264, {{1, 0, 66}, {1, 66, 66}, {1, 132, 66}, {1, 198, 66}}},
      {0, 300 * 256 + 1, 1, {{300, 1, 1}}},
      {21, 263, 2, {{0, 263, 1}, {1, 0, 1}}},
      {7, 200, 400, {{0, 200, 56}, {1, 0, 66}, {1, 66, 66}, {1, 132, 66}, {1, 198, 58}, {2, 0, 66}, {2, 66, 22}}},
      {21, 65535 * 264 + 263, 1, {{65535, 263, 1}}},  // the last page is reachable
  };
  for (const auto& c : cases) {
    clear();
    link().Contact.SelectedCardType = c.type;
    const int pageSize = c.type == 21 ? 264 : 256;
    for (const auto& p : c.want)  // each reply: its bytes' card addresses (low byte)
      wire().reply(0, seq(std::size_t(p.count), p.page * pageSize + p.offset));
    Guarded buf(std::size_t(c.length));
    EXPECT_EQ(ReadMemCard(c.address, c.length, buf.data()), 0);
    EXPECT_EQ(piecesOf(wire().written, 0x24), c.want) << "address " << c.address;
    EXPECT_EQ(buf.bytes(), seq(std::size_t(c.length), c.address));
    EXPECT_TRUE(buf.guardsIntact());
  }
  for (auto [type, address, length] : {std::tuple{2, -1, 1}, {2, 0, 0}, {2, 0, -3}, {2, 65536 * 256, 1},
                                       {2, 65535 * 256 + 255, 2}, {21, 65536 * 264, 1}}) {
    link().Contact.SelectedCardType = type;
    Guarded buf(4, 1);
    EXPECT_EQ(ReadMemCard(address, length, buf.data()), 4);
    EXPECT_EQ(WriteMemCard(address, length, buf.data()), 4);
    EXPECT_EQ(EraseMemCard(address, length, buf.data()), 4);
    EXPECT_EQ(buf.bytes(), Bytes(4, 1));
  }
}

TEST_F(Contact, PageCardWritesEraseAndLongReplies) {
  const Row rows[] = {
    // Within a page the replies are laid down one after the other: the first
    // piece answered nothing, so the second piece's reply lands at byte 0.
    {"write 67", 2, {answer(0), answer(0, {0xAB})}, [](unsigned char* b) { return WriteMemCard(10, 67, b); },
     67, 0, seq(67, 0), "23:0000000A42" + hx(seq(66, 0)) + " 23:0000004C0142", 0, hex("AB01") + seq(65, 2)},
    {"erase fills FF, stops at a failure", 3, {answer(0), answer(0x44)},
     [](unsigned char* b) { return EraseMemCard(0, 300, b); }, 300, 0, {},
     "23:0000000042" + hx(Bytes(66, 0xFF)) + " 23:0000004242" + hx(Bytes(66, 0xFF)), 0x44, Bytes(300, 0xFF)},
  };
  run(rows);
  // Read and write across a page end, every reply 255 bytes long.
  for (int cmd : {0x24, 0x23}) {
    clear();
    link().Contact.SelectedCardType = 21;
    for (int i = 0; i < 3; ++i) wire().reply(0, Bytes(255, 0x5A));
    Guarded buf(100, 0);
    EXPECT_EQ(cmd == 0x24 ? ReadMemCard(234, 100, buf.data()) : WriteMemCard(234, 100, buf.data()),
              0);
    EXPECT_EQ(piecesOf(wire().written, std::uint8_t(cmd)),
              (std::vector<Piece>{{0, 234, 30}, {1, 0, 66}, {1, 66, 4}}));
    EXPECT_EQ(buf.bytes(), Bytes(100, 0x5A));
    EXPECT_TRUE(buf.guardsIntact());
  }
}

// ---- CPU card and SAM slots ----------------------------------------------------

struct SlotFns {
  std::uint8_t resetCmd;
  int (*reset)(unsigned char*);
  int (*fixed)(unsigned char*, unsigned char*);
};
const SlotFns kSlots[5] = {{0x32, CpuCardReset, ProCpuCardCmd}, {0x3C, SamCard1Reset, ProSamCard1Cmd},
                           {0x46, SamCard2Reset, ProSamCard2Cmd}, {0x50, SamCard3Reset, ProSamCard3Cmd},
                           {0x5A, SamCard4Reset, ProSamCard4Cmd}};
const Bytes kAtrT0 = hex("3B021450"), kAtrT1 = hex("3B8001");

// A fixed-layout command: header, Lc, data, Le at byte 133.
std::array<unsigned char, 134> fixedCommand(const char* head, const Bytes& data, int le) {
  std::array<unsigned char, 134> c{};
  const Bytes h = hex(head) + Bytes{std::uint8_t(data.size())} + data;
  std::copy(h.begin(), h.end(), c.begin());
  c[133] = std::uint8_t(le);
  return c;
}
Bytes t1Block(int pcb, const Bytes& apdu) {
  Bytes b = Bytes{0x00, std::uint8_t(pcb), std::uint8_t(apdu.size())} + apdu;
  return b + Bytes{xorOf(b)};
}
// The line of a reset of the slot, then of its APDU command with the payload.
std::string resetThen(int slot, const Bytes& payload) {
  return toHex({kSlots[slot].resetCmd}) + ": " + toHex({std::uint8_t(kSlots[slot].resetCmd + 1)}) +
         ":" + toHex(payload);
}
Call afterReset(int slot, std::array<unsigned char, 134> cmd) {
  return [slot, cmd](unsigned char* b) mutable {
    kSlots[slot].reset(Guarded(257).data());
    return kSlots[slot].fixed(cmd.data(), b);
  };
}

TEST_F(Contact, CpuCardAnswerToResetSelectsTheProtocol) {
  EXPECT_EQ(CPUCardProtocolType(), 1);  // before any reset
  for (auto [atr, t1] : {std::pair{kAtrT0, 0}, {kAtrT1, 1}, {hex("3BF011223301"), 1},  // TD1 after TA1 TB1 TC1
                         {hex("3BF011223302"), 0}, {hex("3B90118131FE"), 1},  // TD1 = 81
                         {hex("3BE300FF81315245A1A2A31B"), 1}, {hex("3B80"), 0}, {hex("3B"), 0}}) {
    link().Contact.ProtocolT1 = std::uint8_t(1 - t1);
    wire().reply(0, atr);
    Guarded answer(257);
    EXPECT_EQ(CpuCardReset(answer.data()), 0);
    EXPECT_EQ(CPUCardProtocolType(), t1) << toHex(atr);
    EXPECT_EQ(answer.bytes(),
              Bytes{std::uint8_t(atr.size())} + atr + Bytes(256 - atr.size(), 0xEE));
  }
  clear();  // a failed reset clears the answer and keeps the protocol
  wire().reply(0x49, kAtrT1);
  Guarded answer(2, 0x77);
  EXPECT_EQ(SamCard3Reset(answer.data()), 0x49);
  EXPECT_EQ(answer.bytes(), hex("0077"));
  EXPECT_EQ(CPUCardProtocolType(), 0);
  EXPECT_EQ(line(), "50:");
}

// One fixed-layout exchange after a reset: the APDU on the line (T=1: in a
// block), the result, and the response area (length, data; 77 untouched).
// Case 2 (read): Le goes out as the fifth byte; case 4 (select): Lc and data.
TEST_F(Contact, CpuCardApdusAndTheirReplies) {
  const auto read = fixedCommand("00840000", {}, 8),
             select = fixedCommand("00A40000", hex("3F00"), 0x10);
  const Bytes readApdu = hex("0084000008"), selectApdu = hex("00A40000023F00");
  const int noSw = ORVIX32_NO_STATUS_WORD;
  auto resp = [](const char* h) { return hex(h) + Bytes(136 - hex(h).size(), 0x77); };
  Bytes longT0(255, 0x5A), longT1(255, 0x5A);  // T=0: status words last; T=1: before the check byte
  longT0[253] = longT1[252] = 0x90;
  longT0[254] = longT1[253] = 0x00;
  const Row rows[] = {
    {"T=0 read", -1, {answer(0, kAtrT0), answer(0, hex("01020304050607089000"))}, afterReset(0, read), 136, 0x77, {},
     resetThen(0, readApdu), 0x9000, resp("0801020304050607 08")},
    {"T=0 select, 6A82", -1, {answer(0, kAtrT0), answer(0, hex("6A82"))}, afterReset(0, select), 136, 0x77, {},
     resetThen(0, selectApdu), 0x6A82, resp("00")},
    {"T=0 SAM 2 select", -1, {answer(0, kAtrT0), answer(0, hex("9000"))}, afterReset(2, select), 136, 0x77, {},
     resetThen(2, selectApdu), 0x9000, resp("00")},
    {"T=1 SAM 1 read", -1, {answer(0, kAtrT1), answer(0, t1Block(0, hex("9000")))}, afterReset(1, read), 136, 0x77,
     {}, resetThen(1, t1Block(0, readApdu)), 0x9000, resp("00")},
    {"T=1 SAM 4 select", -1, {answer(0, kAtrT1), answer(0, t1Block(0x40, hex("A1A2A36282")))}, afterReset(4, select),
     136, 0x77, {}, resetThen(4, t1Block(0, selectApdu)), 0x6282, resp("03A1A2A3")},
    // Replies too short for status words have their own result.
    {"T=0 empty", -1, {answer(0, kAtrT0), answer(0)}, afterReset(0, read), 136, 0x77, {}, resetThen(0, readApdu),
     noSw, resp("00")},
    {"T=0 one byte", -1, {answer(0, kAtrT0), answer(0, hex("90"))}, afterReset(0, read), 136, 0x77, {},
     resetThen(0, readApdu), noSw, resp("00")},
    {"T=1 short block", -1, {answer(0, kAtrT1), answer(0, hex("0000029000"))}, afterReset(0, read), 136, 0x77, {},
     resetThen(0, t1Block(0, readApdu)), noSw, resp("00")},
    {"T=1 empty", -1, {answer(0, kAtrT1), answer(0)}, afterReset(0, read), 136, 0x77, {},
     resetThen(0, t1Block(0, readApdu)), noSw, resp("00")},
    // A long reply stops at the response area.
    {"T=0 long", -1, {answer(0, kAtrT0), answer(0, longT0)}, afterReset(0, read), 136, 0x77, {},
     resetThen(0, readApdu), 0x9000, hex("87") + Bytes(135, 0x5A)},
    {"T=1 long", -1, {answer(0, kAtrT1), answer(0, longT1)}, afterReset(0, read), 136, 0x77, {},
     resetThen(0, t1Block(0, readApdu)), 0x9000, hex("87") + Bytes(135, 0x5A)},
    // A link error: the status and an empty response.
    {"link error", -1, {answer(0, kAtrT1), {0x45}}, afterReset(0, read), 136, 0x77, {},
     "32: ?2333090000050084000008893A", 108,
     resp("00")},
  };
  run(rows);
  EXPECT_EQ(link().Contact.SequenceBit, 0);  // cleared by the link error
  wire().reply(0, kAtrT0);
  wire().reply(0, hex("9000"));
  EXPECT_EQ(afterReset(0, read)(Guarded(136).data()), 0x9000);
  EXPECT_EQ(link().Contact.SequenceBit, 1);  // a T=0 exchange flips it too
}

TEST_F(Contact, CpuCardT1SequenceBitIsSharedAcrossSlotsAndResets) {
  wire().reply(0, kAtrT1);
  ASSERT_EQ(CpuCardReset(Guarded(257).data()), 0);
  auto cmd = fixedCommand("00840000", {}, 4);
  // {slot, status, PCB sent}; slot -1: a reset of slot 2.
  const std::array<int, 3> steps[] = {
      {0, 0, 0x00},    {0, 0, 0x40}, {0, 0, 0x00},
      {1, 0, 0x40},                               // another slot continues the same bit
      {2, 0x4D, 0x00},                            // a failed exchange does not flip it
      {3, 0, 0x00},    {4, 0, 0x40}, {-1, 0, 0},  // a reset of any slot clears it
      {0, 0, 0x00},    {4, 0, 0x40},
  };
  for (auto [slot, status, pcb] : steps) {
    clear();
    if (slot < 0) {
      wire().reply(0, kAtrT1);
      EXPECT_EQ(SamCard2Reset(Guarded(257).data()), 0);
      continue;
    }
    wire().reply(std::uint8_t(status), t1Block(0, hex("9000")));
    EXPECT_EQ(kSlots[slot].fixed(cmd.data(), Guarded(136).data()), status ? status : 0x9000);
    EXPECT_EQ(line(), toHex({std::uint8_t(kSlots[slot].resetCmd + 1)}) + ":" +
                          toHex(t1Block(pcb, hex("0084000004"))));
  }
}

TEST_F(Contact, CpuCardLcLimitAndPackedCommands) {
  auto cmd = fixedCommand("00D60000", Bytes(84, 1), 0);  // Lc beyond the APDU area is refused
  Guarded resp(136, 0x77);
  EXPECT_EQ(ProCpuCardCmd(cmd.data(), resp.data()), 4);
  std::array<unsigned char, 134> packed{0x00, 0xD6, 0x00, 0x00, 200};
  EXPECT_EQ(ProSamCard4(packed.data(), resp.data()), 4);
  EXPECT_EQ(packed[0], 0x00);
  EXPECT_EQ(resp.bytes()[0], 0x77);
  EXPECT_TRUE(wire().written.empty());
  wire().reply(0, kAtrT1);  // 83 data bytes still go
  wire().reply(0, t1Block(0, hex("9000")));
  EXPECT_EQ(afterReset(0, fixedCommand("00D60000", Bytes(83, 1), 0))(resp.data()), 0x9000);
  EXPECT_EQ(wire().written[7], 92);
  // Packed commands are overwritten with what was sent. T=0: Le right after
  // the data; the buffer becomes length + APDU.
  wire().reply(0, kAtrT0);
  wire().reply(0, hex("6D00"));
  std::array<unsigned char, 93> c0{0x80, 0xCA, 0x01, 0x02, 0x00, 0x10};
  ASSERT_EQ(CpuCardReset(Guarded(257).data()), 0);
  EXPECT_EQ(ProCpuCard(c0.data(), resp.data()), 0x6D00);
  EXPECT_EQ(Bytes(c0.begin(), c0.begin() + 6), hex("0580CA010210"));
  // T=1: the whole block, also when the exchange fails.
  wire().reply(0, kAtrT1);
  ASSERT_EQ(CpuCardReset(Guarded(257).data()), 0);
  clear();
  std::array<unsigned char, 93> c1{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x55};
  wire().reply(0x4E);
  EXPECT_EQ(ProSamCard3(c1.data(), resp.data()), 0x4E);
  const Bytes block = t1Block(0, hex("00A40000023F00"));
  EXPECT_EQ(Bytes(c1.begin(), c1.begin() + 1 + long(block.size())),
            Bytes{std::uint8_t(block.size())} + block);
  EXPECT_EQ(resp.bytes()[0], 0);
  EXPECT_EQ(line(), "51:" + toHex(block));
}

// ---- AT1608 --------------------------------------------------------------------

TEST_F(Contact, At1608TransfersCountersAndFuse) {
  auto psw = [](int n) -> Call { return [n](unsigned char* b) { return AT1608_Psw(n, b); }; };
  auto counter = [&](int c, const char* after) {
    return Row{"counter", -1, {answer(0, Bytes{std::uint8_t(c)} + hex("A1A2A3A4A5"))}, psw(7), 6, 0xEE,
               hex("112233"), "2A:07112233", 0, hex(after)};
  };
  const Call fuse = [](unsigned char* b) { return AT1608_ReadFuse(b); };
  const Row rows[] = {
    {"write 160", -1, {answer(0)}, [](unsigned char* b) { return AT1608_Write(8, 255, 160, b); }, 160, 0x42, {},
     "28:08FFA0" + hx(Bytes(160, 0x42)), 0, {}},
    {"write 0", -1, {answer(0)}, [](unsigned char* b) { return AT1608_Write(0, 0, 0, b); }, 1, 0x42, {},
     "28:000000", 0, {}},
    {"read 10 of 255", -1, {answer(0, Bytes(255, 0x31))}, [](unsigned char* b) { return AT1608_Read(3, 16, 10, b); },
     10, 0xEE, {}, "29:03100A", 0, Bytes(10, 0x31)},
    {"read refused", -1, {answer(0x4A, hex("0102"))}, [](unsigned char* b) { return AT1608_Read(3, 16, 2, b); },
     2, 0xEE, {}, "29:031002", 0x4A, {}},
    counter(0x00, "00A1A2A3EEEE"), counter(0x80, "01A1A2A3EEEE"), counter(0xFE, "07A1A2A3EEEE"),
    counter(0xFF, "08A1A2A3EEEE"), counter(0x7F, "11A1A2A3EEEE"), counter(0xF1, "11A1A2A3EEEE"),
    // A refusal keeps the counter and clears the rest; after a link error
    // there is no counter to convert.
    {"psw refused", -1, {answer(0x45, {0xFC})}, psw(15), 4, 0, hex("01020304"), "2A:0F010203", 0x45, hex("06000000")},
    {"psw link error", -1, {hex("456700 01F000")}, psw(0), 4, 0, hex("01020304"), "2A:00010203", 115, hex("01000000")},
    {"fuse, two bytes", -1, {answer(0, hex("0708"))}, fuse, 1, 0x55, {}, "2C:", 0, {}},
    {"fuse", -1, {answer(0, hex("07"))}, fuse, 1, 0x55, {}, "2C:", 0, hex("07")},
    {"fuse refused", -1, {answer(0x40, hex("09"))}, fuse, 1, 0x55, {}, "2C:", 0x40, {}},
    {"reset", -1, {answer(0)}, [](unsigned char*) { return AT1608_Reset(); }, 0, 0, {}, "2D:", 0, {}},
  };
  run(rows);
  clear();
  Guarded data(160, 0x42);
  for (auto [zone, address, length] : {std::tuple{9, 0, 1}, {-1, 0, 1}, {0, 256, 1}, {0, -1, 1}, {0, 0, 161},
                                      {0, 0, -1}}) {
    EXPECT_EQ(AT1608_Write(zone, address, length, data.data()), 4);
    EXPECT_EQ(AT1608_Read(zone, address, length, data.data()), 4);
  }
  EXPECT_EQ(AT1608_Psw(16, data.data()), 4);
  EXPECT_EQ(AT1608_Psw(-1, data.data()), 4);
  EXPECT_TRUE(wire().written.empty());
  EXPECT_EQ(data.bytes(), Bytes(160, 0x42));
}

TEST_F(Contact, At1608AuthenticationChecksTheCardsAnswer) {
  const At1608Vector& v = kAt1608Vectors[2];  // known answers, not the cipher under test
  const Bytes expected = hex(v.expected), idBytes = hex(v.identity), ch = hex(v.challenge);
  Bytes wrong = expected;
  wrong[5] ^= 1;
  const std::string sent = "29:082808 2B:" + hx(ch) + v.host;
  const Call auth = [&](unsigned char* b) { return AT1608_Authentic(b, b + 8); };
  // The challenge, then the secret; the counter comes back into the first two bytes.
  const Bytes start = ch + hex(v.secret);
  const Bytes after = hex("0737") + Bytes(start.begin() + 2, start.end());
  auto row = [&](const char* name, Bytes card, int result) {
    return Row{name, -1, {answer(0, idBytes), answer(0, hex("FE") + card)}, auth, 16, 0, start, sent, result, after};
  };
  const Row rows[] = {
      row("the expected answer", expected, 0),
      row("counter only", {}, 0),
      row("the first three bytes", Bytes(expected.begin(), expected.begin() + 3), 0),
      row("one bit wrong", wrong, 3),
      row("nine bytes, the ninth 00", expected + hex("00"), 3),
      row("nine bytes, the ninth FF", expected + hex("FF"), 3),
      row("sixteen bytes", expected + expected, 3),
      // The identity read fails: nothing more is sent.
      {"identity refused", -1, {answer(0x4B)}, auth, 16, 0, start, "29:082808", 0x4B, {}},
      // The card refuses: the counter is converted, the status returned; an
      // unlisted counter keeps both bytes.
      {"refused, counter C0", -1, {answer(0, idBytes), answer(0x4C, hex("C0"))}, auth, 16, 0, start, sent, 0x4C,
       hex("0232") + Bytes(start.begin() + 2, start.end())},
      {"refused, counter 81", -1, {answer(0, idBytes), answer(0x4C, hex("81"))}, auth, 16, 0, start, sent, 0x4C, {}},
  };
  run(rows);
}

// clang-format on
}  // namespace
