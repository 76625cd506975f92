// Memory-card family frames against the scripted fake port: pieces, the type
// table, the security-code flows and replies that try to overrun buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "fake_fixture.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;

namespace {

struct Frame {
  std::uint8_t cmd;
  Bytes data;
  bool operator==(const Frame&) const = default;
};
using Frames = std::vector<Frame>;

// The command frames the host wrote, each checked for its sync, checksum and poll.
Frames framesOf(const Bytes& w) {
  Frames out;
  for (std::size_t i = 0; i + 3 <= w.size();) {
    EXPECT_EQ(w[i], 0x23);
    const std::size_t n = w[i + 2];
    if (i + 5 + n > w.size()) break;
    Frame f{w[i + 1],
            Bytes(w.begin() + static_cast<long>(i + 3), w.begin() + static_cast<long>(i + 3 + n))};
    EXPECT_EQ(w[i + 3 + n], fake::xorOf(Bytes(w.begin() + static_cast<long>(i + 1),
                                              w.begin() + static_cast<long>(i + 3 + n))));
    EXPECT_EQ(w[i + 4 + n], 0x89);
    out.push_back(f);
    i += 5 + n;
  }
  return out;
}

Bytes run(std::size_t n, std::uint8_t first) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A caller buffer with 16 guard bytes on both sides.
struct Guarded {
  explicit Guarded(std::size_t size, std::uint8_t fill = 0x00, const Bytes& start = {})
      : n(size), mem(size + 32, 0xEE) {
    std::fill_n(mem.begin() + 16, n, fill);
    std::copy(start.begin(), start.end(), mem.begin() + 16);
  }
  unsigned char* data() { return mem.data() + 16; }
  Bytes bytes() const { return Bytes(mem.begin() + 16, mem.begin() + 16 + static_cast<long>(n)); }
  bool guardsIntact() const {
    return Bytes(mem.begin(), mem.begin() + 16) == Bytes(16, 0xEE) &&
           Bytes(mem.end() - 16, mem.end()) == Bytes(16, 0xEE);
  }
  std::size_t n;
  Bytes mem;
};

class MemoryCard : public fake::LinkedTest {
 protected:
  Frames frames() { return framesOf(wire().written); }
  // The frames written, as "command:data" in hex, separated by spaces.
  std::string line() {
    std::string out;
    char t[4];
    for (const Frame& f : frames()) {
      std::snprintf(t, sizeof t, "%02X:", f.cmd);
      out += (out.empty() ? "" : " ") + std::string(t);
      for (auto b : f.data) {
        std::snprintf(t, sizeof t, "%02X", b);
        out += t;
      }
    }
    return out;
  }
  void select(int type) { orvix::link().Contact.SelectedCardType = type; }
  void clear() {
    wire().written.clear();
    wire().input.clear();
  }
};

// ---- pieces ------------------------------------------------------------------

TEST_F(MemoryCard, ReadCardCutsRunsIntoPiecesOf64AtAdvancingPositions) {
  struct Case {
    int page, address, length;
    Frames want;
  } cases[] = {
      {0, 0, 64, {{0x14, bytes({18, 0x00, 0x00, 64})}}},
      {0, 5, 65, {{0x14, bytes({18, 0x00, 0x05, 64})}, {0x14, bytes({18, 0x00, 0x45, 1})}}},
      {1,
       10,
       130,
       {{0x14, bytes({18, 1, 0x0A, 64})},
        {0x14, bytes({18, 1, 0x4A, 64})},
        {0x14, bytes({18, 1, 0x8A, 2})}}},
      {255, 255, 1, {{0x14, bytes({18, 0xFF, 0xFF, 1})}}},  // the very last position
  };
  for (const auto& c : cases) {
    clear();
    Bytes expect;
    for (const auto& f : c.want) {
      wire().reply(0, run(f.data[3], f.data[2]));
      expect = expect + run(f.data[3], f.data[2]);
    }
    Guarded buf(static_cast<std::size_t>(c.length));
    EXPECT_EQ(ReadCard(18, c.page, c.address, c.length, buf.data()), 0);
    EXPECT_EQ(frames(), c.want) << "length " << c.length;
    EXPECT_EQ(buf.bytes(), expect);
    EXPECT_TRUE(buf.guardsIntact());
  }
}

TEST_F(MemoryCard, ReadCardOutputAdvancesByWhatTheReaderReturnedAndStopsAtAFailure) {
  wire().reply(0, run(10, 0x10));
  wire().reply(0, run(64, 0x40));
  wire().reply(0, run(2, 0xA0));
  Guarded buf(130, 0x55);
  EXPECT_EQ(ReadCard(18, 0, 0, 130, buf.data()), 0);
  Bytes want = run(10, 0x10) + run(64, 0x40) + run(2, 0xA0);
  want.resize(130, 0x55);
  EXPECT_EQ(buf.bytes(), want);
  EXPECT_EQ(frames()[2].data, bytes({18, 0x00, 0x80, 2}));  // the card position advanced by 64
  clear();
  wire().reply(0, run(64, 0));
  wire().reply(0x41, {});
  Guarded failed(130, 0x55);
  EXPECT_EQ(ReadCard(18, 0, 0, 130, failed.data()), 0x41);
  EXPECT_EQ(frames().size(), 2u);
  EXPECT_EQ(failed.bytes(), run(64, 0) + Bytes(66, 0x55));
}

TEST_F(MemoryCard, RepliesLongerThanThePieceAreCutToThePiece) {
  wire().reply(0, Bytes(200, 0x77));  // ReadCard: 3 bytes asked, 200 sent
  Guarded r(3);
  EXPECT_EQ(ReadCard(18, 0, 0, 3, r.data()), 0);
  EXPECT_EQ(r.bytes(), Bytes(3, 0x77));
  EXPECT_TRUE(r.guardsIntact());
  wire().reply(0, Bytes(255, 0x11));  // WriteCard: last piece of 2 bytes, 255-byte replies
  wire().reply(0, Bytes(255, 0x22));
  Guarded w(66, 0x01);
  EXPECT_EQ(WriteCard(3, 0, 0, 66, w.data()), 0);
  EXPECT_EQ(w.bytes(), Bytes(64, 0x11) + Bytes(2, 0x22));
  EXPECT_TRUE(w.guardsIntact());
}

TEST_F(MemoryCard, WriteCardSendsPiecesAndCopiesRepliesOverThem) {
  wire().reply(0, run(64, 0x80));
  wire().reply(0, {});
  wire().reply(0, bytes({0xC0}));
  Guarded buf(130, 0, run(130, 0));
  EXPECT_EQ(WriteCard(7, 0, 0x20, 130, buf.data()), 0);
  auto f = frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].data, bytes({7, 0x00, 0x20, 64}) + run(64, 0));
  EXPECT_EQ(f[1].data, bytes({7, 0x00, 0x60, 64}) + run(64, 64));
  EXPECT_EQ(f[2].data, bytes({7, 0x00, 0xA0, 2, 128, 129}));
  // Piece 0: reply copied over; piece 1: empty reply, data kept; piece 2: one byte.
  EXPECT_EQ(buf.bytes(), run(64, 0x80) + run(64, 64) + bytes({0xC0, 129}));
}

TEST_F(MemoryCard, RunsThatCannotBeAddressedAreRefusedBeforeAnyExchange) {
  struct Case {
    int page, address, length;
  } cases[] = {{-1, 0, 1},  {0, -1, 1},    {0, 0, 0},     {0, 0, -5},
               {256, 0, 1}, {255, 255, 2}, {0, 65536, 1}, {0x7FFFFFFF, 0, 1}};
  for (const auto& c : cases) {
    Guarded buf(4, 0x33);
    EXPECT_EQ(ReadCard(18, c.page, c.address, c.length, buf.data()), 4);
    EXPECT_EQ(WriteCard(18, c.page, c.address, c.length, buf.data()), 4);
    EXPECT_EQ(EraseCard(18, c.page, c.address, c.length, buf.data()), 4);
    EXPECT_EQ(buf.bytes(), Bytes(4, 0x33));
  }
  EXPECT_TRUE(wire().written.empty());
}

// ---- the type table ---------------------------------------------------------

// What each type-dependent export does for one type of each behaviour: "=r"
// for the result r without any exchange, else every frame sent as
// "command:data" in hex.
struct TypeRow {
  int type;
  const char* verify;  // VerifyIC
  const char* check;   // CheckSecret(2, 12 34)
  const char* read;    // ReadSecret
  const char* modify;  // ModifySecret(2, 12 34)
  const char* erase;   // EraseCard(9, 0, 0, 2)
  const char* keys;    // CheckEraseSecret with selectors 1, 4, 5, 6
  const char* zone;    // CheckZoneSecret(1, 12 34)
};

constexpr const char* kId6 = "14:12000602";
constexpr const char* kCheck = "0C:1234";
constexpr const char* kArea2Read = "14:02";
constexpr const char* kArea2Modify = "15:021234";
constexpr const char* kWriteFF = "15:09000002FFFF";
constexpr const char* kEraseCmd = "1A:12000002FFFF";
constexpr const char* kNoKeys = "=3 =3 =3 =3";
constexpr const char* kKeys4 = "19:0112345678 19:0412345678 19:0512345678 19:0612345678";
constexpr const char* kModify10 = "1A:12000A02FFFF 15:12000A021234 14:12000C02";

// clang-format off
const TypeRow kTypeRows[] = {
    {0, "14:12000002 14:12000002", kCheck, "14:12000806",
     "1A:12000802FFFF 15:120008021234 14:12000A02", kEraseCmd, kKeys4, "=3"},
    {1, kId6, "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {2, kId6, kCheck, kArea2Read, kArea2Modify, kWriteFF, kNoKeys, "=3"},
    {12, "=0", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {15, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, kKeys4, "=3"},
    {16, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd,
     "=3 19:04123456789ABC 19:0512345678 =3", "=3"},
    {17, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, kNoKeys, "=3"},
    {18, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {25, "=0", kCheck, kArea2Read, kArea2Modify, kEraseCmd,
     "19:011234 19:041234 19:051234 19:061234", "18:011234"},
    {27, "=0", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {255, "=19", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {300, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
};
// clang-format on

TEST_F(MemoryCard, EveryTypeBehavesAsItsRowSays) {
  // Runs one operation against a reader that accepts everything.
  auto trace = [&](auto op) {
    clear();
    for (int i = 0; i < 4; ++i) wire().reply(0, Bytes(4, 0xFF));
    const int result = op();
    const std::string out = line();
    return out.empty() ? "=" + std::to_string(result) : out;
  };
  for (const TypeRow& row : kTypeRows) {
    SCOPED_TRACE("type " + std::to_string(row.type));
    select(row.type);
    std::array<unsigned char, 8> code{};
    std::array<unsigned char, 2> counter{};
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
}

TEST_F(MemoryCard, SelectCardAndInquireKeepTheTypeOnSuccessOnly) {
  wire().reply(0, {});
  EXPECT_EQ(SelectCard(300), 0);
  EXPECT_EQ(frames(), Frames({{0x0A, bytes({0x2C})}}));
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 300);
  wire().reply(0x42, {});
  EXPECT_EQ(SelectCard(2), 0x42);
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 300);

  wire().reply(0, bytes({25, 1, 1}));
  int type = -1, second = -1, power = -1;
  EXPECT_EQ(Inquire(&type, &second, &power), 0);
  EXPECT_EQ((std::array<int, 3>{type, second, power}), (std::array<int, 3>{25, 1, 1}));
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 25);
  wire().reply(0x40, bytes({3, 3, 3}));
  EXPECT_EQ(Inquire(&type, &second, &power), 0x40);
  EXPECT_EQ(type, 25);
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 25);
}

// ---- identity and security codes ---------------------------------------------

// The reader's side of one exchange: ready, acknowledge, response frame.
Bytes answer(int status, const Bytes& data) {
  Bytes f = bytes({status, static_cast<int>(data.size())}) + data;
  return bytes({0x45, 0x67}) + f + Bytes{fake::xorOf(f)};
}
const Bytes kBadChecksum = bytes({0x45, 0x67, 0x00, 0x02, 0x09, 0x09, 0x77});

using Call = std::function<int(unsigned char*)>;
Call check(int n) {
  return [n](unsigned char* b) { return CheckSecret(n, b); };
}
Call modify(int n) {
  return [n](unsigned char* b) { return ModifySecret(n, b); };
}
Call eraseKey(int selector) {
  return [selector](unsigned char* b) { return CheckEraseSecret(selector, b); };
}
const Call kVerify = [](unsigned char*) { return VerifyIC(); };
const Call kReadSecret = [](unsigned char* b) { return ReadSecret(b, b + 2); };  // counter, code
const Call kZone3 = [](unsigned char* b) { return CheckZoneSecret(3, b); };

// One call with the caller's buffer (room bytes: fill, then start) between
// guards: what goes on the line, the result, and the buffer afterwards.
struct SecretCase {
  int type;
  Call call;
  std::size_t room;
  std::uint8_t fill;
  Bytes start;
  std::vector<Bytes> replies;
  const char* line;
  int result;
  Bytes after;  // empty: as before
};

// clang-format off
const SecretCase kSecretCases[] = {
    // VerifyIC compares the identity bytes; a short reply leaves a byte unmatched.
    {0, kVerify, 0, 0, {}, {answer(0, bytes({0x00, 0x00})), answer(0, bytes({0xB7, 0xA0}))},
     "14:12000002 14:12000002", 0, {}},
    {0, kVerify, 0, 0, {}, {answer(0, bytes({0xB7, 0xA0})), answer(0, bytes({0x37, 0xA0}))},
     "14:12000002 14:12000002", 0, {}},
    {0, kVerify, 0, 0, {}, {answer(0, bytes({0xB7, 0xA0})), answer(0, bytes({0xB7, 0xA1}))},
     "14:12000002 14:12000002", 19, {}},
    {0, kVerify, 0, 0, {}, {answer(0x43, {})}, "14:12000002", 0x43, {}},
    {2, kVerify, 0, 0, {}, {answer(0, bytes({0x81, 0x15}))}, "14:12000602", 0, {}},
    {4, kVerify, 0, 0, {}, {answer(0, bytes({0x81, 0x13}))}, "14:12000602", 0, {}},
    {4, kVerify, 0, 0, {}, {answer(0, bytes({0x81, 0x15}))}, "14:12000602", 19, {}},
    {2, kVerify, 0, 0, {}, {answer(0, bytes({0x81}))}, "14:12000602", 19, {}},
    // CheckSecret, reordered: the reply's counter and code halves trade places.
    {0, check(4), 4, 0, bytes({0xAA, 0xBB}), {answer(0, bytes({0xC1, 0xC2, 0xD1, 0xD2}))},
     "0C:AABB0000", 0, bytes({0xD1, 0xD2, 0xC1, 0xC2})},
    // General: the reply comes back into at most length bytes, on success only.
    {2, check(3), 3, 0, {}, {answer(0, Bytes(255, 0x07))}, "0C:000000", 0, Bytes(3, 0x07)},
    {2, check(3), 3, 0x66, {}, {answer(0x45, bytes({0x03}))}, "0C:666666", 0x45, {}},
    {2, check(256), 3, 0, {}, {}, "", 4, {}},
    {2, check(-1), 3, 0, {}, {}, "", 4, {}},
    // Two-byte: exactly 2 bytes; the reply whatever the status, not after a link error.
    {25, check(3), 2, 0x66, {}, {}, "", 3, {}},
    {25, check(2), 2, 0x66, {}, {answer(0x45, Bytes(40, 0x01))}, "0C:6666", 0x45, bytes({1, 1})},
    {25, check(2), 2, 0x66, {}, {kBadChecksum}, "0C:6666", 115, {}},
    // ReadSecret (counter, then code): the security area gives at most 8 code bytes.
    {2, kReadSecret, 10, 0x55, {}, {answer(0, bytes({0x07, 0xA1, 0xA2, 0xA3}))}, "14:02", 0,
     bytes({0x07, 0, 0xA1, 0xA2, 0xA3, 0x55, 0x55, 0x55, 0x55, 0x55})},
    {2, kReadSecret, 10, 0x55, {}, {answer(0, run(255, 0))}, "14:02", 0, bytes({0, 0}) + run(8, 1)},
    {16, kReadSecret, 10, 0x55, {}, {answer(0, bytes({0xC1, 0xC2, 0x0F, 0x00}))}, "14:12000A04", 0,
     bytes({0x0F, 0, 0xC1, 0xC2}) + Bytes(6, 0x55)},
    {16, kReadSecret, 10, 0x55, {}, {answer(0x46, {})}, "14:12000A04", 0x46, {}},
    // ModifySecret in card memory: erase, write, read the counter back; an
    // erase that did not leave FF stops before the write.
    {0, modify(4), 4, 0, bytes({0x12, 0x34}),
     {answer(0, bytes({0xFF, 0xFF})), answer(0, bytes({0x12, 0x34})), answer(0, bytes({0x0F, 0}))},
     "1A:12000802FFFF 15:120008021234 14:12000A02", 0, bytes({0x0F, 0, 0x12, 0x34})},
    {15, modify(4), 4, 0, {}, {answer(0, bytes({0xFF, 0x7F}))}, "1A:12000A02FFFF", 3, {}},
    // ModifySecret in the security area: the reply into length bytes, on success only.
    {4, modify(3), 3, 0, bytes({1, 2, 3}), {answer(0, Bytes(100, 0x09))}, "15:02010203", 0,
     Bytes(3, 0x09)},
    {4, modify(255), 3, 0, {}, {}, "", 4, {}},
    {4, modify(-2), 3, 0, {}, {}, "", 4, {}},
    {26, modify(3), 3, 0, {}, {}, "", 3, {}},
    {26, modify(2), 2, 0x66, {}, {answer(0x47, bytes({5, 5}))}, "15:026666", 0x47, {}},
    // Erase keys and the zone code: replies stay inside the key.
    {0, eraseKey(9), 4, 1, {}, {answer(0, Bytes(255, 0x3C))}, "19:0901010101", 0, Bytes(4, 0x3C)},
    {16, eraseKey(4), 6, 1, {}, {answer(0, Bytes(255, 0x3C))}, "19:04010101010101", 0,
     Bytes(6, 0x3C)},
    {16, eraseKey(5), 4, 1, {}, {answer(0, Bytes(255, 0x3C))}, "19:0501010101", 0, Bytes(4, 0x3C)},
    {16, eraseKey(5), 4, 1, {}, {answer(0x45, Bytes(255, 0x3C))}, "19:0501010101", 0x45, {}},
    {25, eraseKey(3), 2, 1, {}, {answer(0x45, Bytes(255, 0x3C))}, "19:030101", 0x45,
     Bytes(2, 0x3C)},
    {26, eraseKey(3), 2, 1, {}, {answer(0, Bytes(255, 0x3C))}, "19:030101", 0, Bytes(2, 0x3C)},
    {25, kZone3, 2, 1, {}, {answer(0x48, Bytes(200, 0x5A))}, "18:030101", 0x48, Bytes(2, 0x5A)},
};
// clang-format on

TEST_F(MemoryCard, IdentityAndSecurityCodesOnTheLineAndInTheCallersBuffer) {
  for (std::size_t i = 0; i < std::size(kSecretCases); ++i) {
    const SecretCase& c = kSecretCases[i];
    SCOPED_TRACE("row " + std::to_string(i) + ", type " + std::to_string(c.type));
    clear();
    select(c.type);
    for (const Bytes& r : c.replies) wire().raw(r);
    Guarded buf(c.room, c.fill, c.start);
    const Bytes before = buf.bytes();
    EXPECT_EQ(c.call(buf.data()), c.result);
    EXPECT_EQ(line(), c.line);
    EXPECT_EQ(buf.bytes(), c.after.empty() ? before : c.after);
    EXPECT_TRUE(buf.guardsIntact());
  }
}

}  // namespace
