// Memory-card family frames against the scripted fake port: pieces, the type
// table, the security-code flows and replies that try to overrun buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

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

// The command frames the host wrote, each checked for its sync, checksum and poll.
std::vector<Frame> framesOf(const Bytes& w) {
  std::vector<Frame> out;
  std::size_t i = 0;
  while (i < w.size()) {
    EXPECT_EQ(w[i], 0x23);
    if (i + 3 > w.size()) break;
    Frame f{w[i + 1], {}};
    const std::size_t n = w[i + 2];
    if (i + 5 + n > w.size()) break;
    f.data.assign(w.begin() + static_cast<long>(i + 3), w.begin() + static_cast<long>(i + 3 + n));
    Bytes body{f.cmd, static_cast<std::uint8_t>(n)};
    body.insert(body.end(), f.data.begin(), f.data.end());
    EXPECT_EQ(w[i + 3 + n], fake::xorOf(body));
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

// A caller buffer with guard bytes on both sides.
class Guarded {
 public:
  explicit Guarded(std::size_t n, std::uint8_t fill = 0x00) : mem_(n + 32, 0xEE) {
    std::fill_n(mem_.begin() + 16, n, fill);
    n_ = n;
  }
  unsigned char* data() { return mem_.data() + 16; }
  Bytes bytes() const {
    return Bytes(mem_.begin() + 16, mem_.begin() + 16 + static_cast<long>(n_));
  }
  bool guardsIntact() const {
    for (std::size_t i = 0; i < 16; ++i)
      if (mem_[i] != 0xEE || mem_[16 + n_ + i] != 0xEE) return false;
    return true;
  }

 private:
  Bytes mem_;
  std::size_t n_;
};

class MemoryCard : public ::testing::Test {
 protected:
  void SetUp() override { fx.link(); }
  fake::Wire& wire() { return *fx.wire(0); }
  std::vector<Frame> frames() { return framesOf(wire().written); }
  void select(int type) { orvix::link().Contact.SelectedCardType = type; }
  void clear() {
    wire().written.clear();
    wire().input.clear();
  }
  fake::FakeReader fx;
};

// ---- pieces ------------------------------------------------------------------

TEST_F(MemoryCard, ReadCardCutsRunsIntoPiecesOf64AtAdvancingPositions) {
  struct Case {
    int page, address, length;
    std::vector<Frame> want;
  } cases[] = {
      {0, 0, 1, {{0x14, bytes({18, 0x00, 0x00, 1})}}},
      {0, 0, 64, {{0x14, bytes({18, 0x00, 0x00, 64})}}},
      {0, 5, 65, {{0x14, bytes({18, 0x00, 0x05, 64})}, {0x14, bytes({18, 0x00, 0x45, 1})}}},
      {1,
       10,
       130,
       {{0x14, bytes({18, 0x01, 0x0A, 64})},
        {0x14, bytes({18, 0x01, 0x4A, 64})},
        {0x14, bytes({18, 0x01, 0x8A, 2})}}},
  };
  for (const auto& c : cases) {
    clear();
    for (const auto& f : c.want)
      wire().reply(0, run(f.data[3], static_cast<std::uint8_t>(f.data[2])));
    Guarded buf(static_cast<std::size_t>(c.length));
    EXPECT_EQ(ReadCard(18, c.page, c.address, c.length, buf.data()), 0);
    EXPECT_EQ(frames(), c.want) << "length " << c.length;
    Bytes expect;
    for (const auto& f : c.want) {
      Bytes part = run(f.data[3], f.data[2]);
      expect.insert(expect.end(), part.begin(), part.end());
    }
    EXPECT_EQ(buf.bytes(), expect);
    EXPECT_TRUE(buf.guardsIntact());
  }
}

TEST_F(MemoryCard, ReadCardOutputAdvancesByWhatTheReaderReturned) {
  wire().reply(0, run(10, 0x10));
  wire().reply(0, run(64, 0x40));
  wire().reply(0, run(2, 0xA0));
  Guarded buf(130, 0x55);
  EXPECT_EQ(ReadCard(18, 0, 0, 130, buf.data()), 0);
  Bytes want = run(10, 0x10);
  Bytes mid = run(64, 0x40);
  want.insert(want.end(), mid.begin(), mid.end());
  want.push_back(0xA0);
  want.push_back(0xA1);
  want.resize(130, 0x55);
  EXPECT_EQ(buf.bytes(), want);
  // The card position still advanced by 64 per piece.
  EXPECT_EQ(frames()[2].data, bytes({18, 0x00, 0x80, 2}));
}

TEST_F(MemoryCard, RepliesLongerThanThePieceAreCutToThePiece) {
  // ReadCard: 3 bytes asked, 200 sent.
  wire().reply(0, Bytes(200, 0x77));
  Guarded r(3);
  EXPECT_EQ(ReadCard(18, 0, 0, 3, r.data()), 0);
  EXPECT_EQ(r.bytes(), Bytes(3, 0x77));
  EXPECT_TRUE(r.guardsIntact());
  // WriteCard: last piece of 2 bytes, 255-byte reply.
  clear();
  wire().reply(0, Bytes(255, 0x11));
  wire().reply(0, Bytes(255, 0x22));
  Guarded w(66, 0x01);
  EXPECT_EQ(WriteCard(3, 0, 0, 66, w.data()), 0);
  Bytes want(64, 0x11);
  want.push_back(0x22);
  want.push_back(0x22);
  EXPECT_EQ(w.bytes(), want);
  EXPECT_TRUE(w.guardsIntact());
}

TEST_F(MemoryCard, WriteCardSendsPiecesAndCopiesRepliesOverThem) {
  wire().reply(0, run(64, 0x80));
  wire().reply(0, {});
  wire().reply(0, bytes({0xC0}));
  Guarded buf(130);
  Bytes data = run(130, 0);
  std::copy(data.begin(), data.end(), buf.data());
  EXPECT_EQ(WriteCard(7, 0, 0x20, 130, buf.data()), 0);
  auto f = frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].data.size(), 68u);
  EXPECT_EQ(f[1].data.size(), 68u);
  EXPECT_EQ(f[2].data, bytes({7, 0x00, 0xA0, 2, 128, 129}));
  EXPECT_EQ(Bytes(f[1].data.begin(), f[1].data.begin() + 5), bytes({7, 0x00, 0x60, 64, 64}));
  Bytes want = run(64, 0x80);  // piece 0: reply copied over
  Bytes keep = run(64, 64);    // piece 1: empty reply, data kept
  want.insert(want.end(), keep.begin(), keep.end());
  want.push_back(0xC0);  // piece 2: one reply byte
  want.push_back(129);
  EXPECT_EQ(buf.bytes(), want);
}

TEST_F(MemoryCard, AFailingPieceEndsTheTransfer) {
  wire().reply(0, run(64, 0));
  wire().reply(0x41, {});
  Guarded buf(130, 0x55);
  EXPECT_EQ(ReadCard(18, 0, 0, 130, buf.data()), 0x41);
  EXPECT_EQ(frames().size(), 2u);
  EXPECT_EQ(buf.bytes()[64], 0x55);
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
  // The very last position is still reachable.
  wire().reply(0, bytes({0x99}));
  Guarded one(1);
  EXPECT_EQ(ReadCard(18, 255, 255, 1, one.data()), 0);
  EXPECT_EQ(frames()[0].data, bytes({18, 0xFF, 0xFF, 1}));
}

TEST_F(MemoryCard, EraseCardWritesFFOrUsesTheEraseCommandByType) {
  struct Case {
    int type;
    std::uint8_t cmd;
    std::uint8_t area;
  } cases[] = {{1, 0x15, 7},   {2, 0x15, 7},   {21, 0x15, 7},  {255, 0x15, 7}, {0, 0x1A, 18},
               {15, 0x1A, 18}, {16, 0x1A, 18}, {17, 0x1A, 18}, {25, 0x1A, 18}, {26, 0x1A, 18}};
  for (const auto& c : cases) {
    clear();
    select(c.type);
    wire().reply(0, {});
    Guarded buf(3, 0x12);
    EXPECT_EQ(EraseCard(7, 0, 4, 3, buf.data()), 0);
    EXPECT_EQ(frames(), std::vector<Frame>({{c.cmd, bytes({c.area, 0, 4, 3, 0xFF, 0xFF, 0xFF})}}))
        << "type " << c.type;
    EXPECT_EQ(buf.bytes(), Bytes(3, 0xFF));
  }
}

// ---- the type table ---------------------------------------------------------

// What each operation of the type-dependent exports does for one type: "=r"
// for the result r without any exchange, else every frame sent as
// "command:data" in hexadecimal. Each row of the type table, one type each.
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

constexpr const char* kId0 = "14:12000002 14:12000002";
constexpr const char* kId6 = "14:12000602";
constexpr const char* kCheck = "0C:1234";
constexpr const char* kArea2Read = "14:02";
constexpr const char* kArea2Modify = "15:021234";
constexpr const char* kWriteFF = "15:09000002FFFF";
constexpr const char* kEraseCmd = "1A:12000002FFFF";
constexpr const char* kNoKeys = "=3 =3 =3 =3";
constexpr const char* kModify10 = "1A:12000A02FFFF 15:12000A021234 14:12000C02";

const TypeRow kTypeRows[] = {
    {0, kId0, kCheck, "14:12000806", "1A:12000802FFFF 15:120008021234 14:12000A02", kEraseCmd,
     "19:0112345678 19:0412345678 19:0512345678 19:0612345678", "=3"},
    {1, kId6, "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {2, kId6, kCheck, kArea2Read, kArea2Modify, kWriteFF, kNoKeys, "=3"},
    {3, kId6, "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {4, kId6, kCheck, kArea2Read, kArea2Modify, kWriteFF, kNoKeys, "=3"},
    {7, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {12, "=0", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {15, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd,
     "19:0112345678 19:0412345678 19:0512345678 19:0612345678", "=3"},
    {16, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, "=3 19:04123456789ABC 19:0512345678 =3",
     "=3"},
    {17, "=0", kCheck, "14:12000A04", kModify10, kEraseCmd, kNoKeys, "=3"},
    {18, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {21, "=0", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {25, "=0", kCheck, kArea2Read, kArea2Modify, kEraseCmd,
     "19:011234 19:041234 19:051234 19:061234", "18:011234"},
    {26, "=0", kCheck, kArea2Read, kArea2Modify, kEraseCmd,
     "19:011234 19:041234 19:051234 19:061234", "18:011234"},
    {27, "=0", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {28, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {30, "=0", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {255, "=19", "=3", "=3", "=3", kWriteFF, kNoKeys, "=3"},
    {300, "=19", kCheck, "=3", "=3", kWriteFF, kNoKeys, "=3"},
};

TEST_F(MemoryCard, EveryTypeBehavesAsItsRowSays) {
  // Runs one operation against a reader that accepts everything.
  auto trace = [&](auto op) {
    clear();
    for (int i = 0; i < 4; ++i) wire().reply(0, Bytes(4, 0xFF));
    const int result = op();
    std::string out;
    for (const Frame& f : frames()) {
      char t[4];
      out += out.empty() ? "" : " ";
      std::snprintf(t, sizeof t, "%02X:", f.cmd);
      out += t;
      for (auto b : f.data) {
        std::snprintf(t, sizeof t, "%02X", b);
        out += t;
      }
    }
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
    for (int selector : {1, 4, 5, 6})
      keys +=
          (keys.empty() ? "" : " ") + trace([&] { return CheckEraseSecret(selector, fresh()); });
    EXPECT_EQ(keys, row.keys);
    EXPECT_EQ(trace([&] { return CheckZoneSecret(1, fresh()); }), row.zone);
  }
}

TEST_F(MemoryCard, SelectCardKeepsTheWholeTypeOnSuccessOnly) {
  wire().reply(0, {});
  EXPECT_EQ(SelectCard(300), 0);
  EXPECT_EQ(frames(), std::vector<Frame>({{0x0A, bytes({0x2C})}}));
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 300);
  wire().reply(0x42, {});
  EXPECT_EQ(SelectCard(2), 0x42);
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 300);
}

TEST_F(MemoryCard, InquireReportsTheSlotAndSelectsItsType) {
  wire().reply(0, bytes({25, 1, 1}));
  int type = -1, second = -1, power = -1;
  EXPECT_EQ(Inquire(&type, &second, &power), 0);
  EXPECT_EQ(type, 25);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(power, 1);
  EXPECT_EQ(orvix::link().Contact.SelectedCardType, 25);
  wire().reply(0x40, bytes({3, 3, 3}));
  EXPECT_EQ(Inquire(&type, &second, &power), 0x40);
  EXPECT_EQ(type, 25);
}

TEST_F(MemoryCard, VerifyICComparesTheIdentityBytes) {
  struct Case {
    int type;
    Bytes first, second;
    int result;
  } cases[] = {
      {0, bytes({0x00, 0x00}), bytes({0xB7, 0xA0}), 0},
      {0, bytes({0xB7, 0xA0}), bytes({0x37, 0xA0}), 0},
      {0, bytes({0xB7, 0xA0}), bytes({0xB7, 0xA1}), 19},
      {1, bytes({0x81, 0x05}), {}, 0},
      {2, bytes({0x81, 0x15}), {}, 0},
      {3, bytes({0x81, 0x03}), {}, 0},
      {4, bytes({0x81, 0x13}), {}, 0},
      {4, bytes({0x81, 0x15}), {}, 19},
      {2, bytes({0x81}), {}, 19},  // a short reply leaves the missing byte unmatched
  };
  for (const auto& c : cases) {
    clear();
    select(c.type);
    wire().reply(0, c.first);
    if (c.type == 0) wire().reply(0, c.second);
    EXPECT_EQ(VerifyIC(), c.result) << "type " << c.type;
  }
  clear();
  select(0);
  wire().reply(0x43, {});
  EXPECT_EQ(VerifyIC(), 0x43);
  EXPECT_EQ(frames().size(), 1u);
}

// ---- security codes -----------------------------------------------------------

TEST_F(MemoryCard, CheckSecretForms) {
  // Reordered: the reply's counter and code halves trade places.
  select(0);
  wire().reply(0, bytes({0xC1, 0xC2, 0xD1, 0xD2}));
  Guarded code(4);
  std::copy_n(bytes({0xAA, 0xBB, 0, 0}).begin(), 4, code.data());
  EXPECT_EQ(CheckSecret(4, code.data()), 0);
  EXPECT_EQ(frames()[0], (Frame{0x0C, bytes({0xAA, 0xBB, 0, 0})}));
  EXPECT_EQ(code.bytes(), bytes({0xD1, 0xD2, 0xC1, 0xC2}));

  // Reordered with a 2-byte code area: only the two bytes it has.
  clear();
  wire().reply(0, bytes({0xC1, 0xC2, 0xD1, 0xD2}));
  Guarded two(2);
  EXPECT_EQ(CheckSecret(2, two.data()), 0);
  EXPECT_EQ(two.bytes(), bytes({0xD1, 0xD2}));
  EXPECT_TRUE(two.guardsIntact());

  // General: the reply goes back into at most length bytes, on success only.
  clear();
  select(2);
  wire().reply(0, Bytes(255, 0x07));
  Guarded g(3);
  EXPECT_EQ(CheckSecret(3, g.data()), 0);
  EXPECT_EQ(g.bytes(), Bytes(3, 0x07));
  EXPECT_TRUE(g.guardsIntact());
  wire().reply(0x45, bytes({0x03}));
  Guarded gf(3, 0x66);
  EXPECT_EQ(CheckSecret(3, gf.data()), 0x45);
  EXPECT_EQ(gf.bytes(), Bytes(3, 0x66));

  // Two-byte: exactly 2 bytes; the reply is copied whatever the status,
  // but not after a link error.
  clear();
  select(25);
  Guarded t(2, 0x66);
  EXPECT_EQ(CheckSecret(3, t.data()), 3);
  EXPECT_TRUE(wire().written.empty());
  wire().reply(0x45, Bytes(40, 0x01));
  EXPECT_EQ(CheckSecret(2, t.data()), 0x45);
  EXPECT_EQ(t.bytes(), bytes({0x01, 0x01}));
  EXPECT_TRUE(t.guardsIntact());
  wire().raw(bytes({0x45, 0x67, 0x00, 0x02, 0x09, 0x09, 0x77}));  // bad checksum
  EXPECT_EQ(CheckSecret(2, t.data()), 115);
  EXPECT_EQ(t.bytes(), bytes({0x01, 0x01}));

  // Lengths that do not fit the frame.
  clear();
  select(2);
  EXPECT_EQ(CheckSecret(256, g.data()), 4);
  EXPECT_EQ(CheckSecret(-1, g.data()), 4);
  EXPECT_TRUE(wire().written.empty());
}

TEST_F(MemoryCard, ReadSecretForms) {
  select(2);
  wire().reply(0, bytes({0x07, 0xA1, 0xA2, 0xA3}));
  Guarded counter(2, 0x55), code(8, 0x55);
  EXPECT_EQ(ReadSecret(counter.data(), code.data()), 0);
  EXPECT_EQ(counter.bytes(), bytes({0x07, 0x00}));
  EXPECT_EQ(code.bytes(), bytes({0xA1, 0xA2, 0xA3, 0x55, 0x55, 0x55, 0x55, 0x55}));

  // A reply of 255 bytes stores no more than 8 code bytes.
  wire().reply(0, run(255, 0));
  EXPECT_EQ(ReadSecret(counter.data(), code.data()), 0);
  EXPECT_EQ(code.bytes(), run(8, 1));
  EXPECT_TRUE(code.guardsIntact());

  // Code and counter in the card memory.
  clear();
  select(16);
  wire().reply(0, bytes({0xC1, 0xC2, 0x0F, 0x00}));
  EXPECT_EQ(ReadSecret(counter.data(), code.data()), 0);
  EXPECT_EQ(frames()[0].data, bytes({18, 0, 10, 4}));
  EXPECT_EQ(counter.bytes(), bytes({0x0F, 0x00}));
  EXPECT_EQ(code.bytes()[0], 0xC1);
  EXPECT_EQ(code.bytes()[1], 0xC2);

  wire().reply(0x46, {});
  EXPECT_EQ(ReadSecret(counter.data(), code.data()), 0x46);
}

TEST_F(MemoryCard, ModifySecretEraseAndWrite) {
  select(0);
  wire().reply(0, bytes({0xFF, 0xFF}));
  wire().reply(0, bytes({0x12, 0x34}));
  wire().reply(0, bytes({0x0F, 0x00}));
  Guarded code(4);
  std::copy_n(bytes({0x12, 0x34}).begin(), 2, code.data());
  EXPECT_EQ(ModifySecret(4, code.data()), 0);
  EXPECT_EQ(frames(), std::vector<Frame>({{0x1A, bytes({18, 0, 8, 2, 0xFF, 0xFF})},
                                          {0x15, bytes({18, 0, 8, 2, 0x12, 0x34})},
                                          {0x14, bytes({18, 0, 10, 2})}}));
  EXPECT_EQ(code.bytes(), bytes({0x0F, 0x00, 0x12, 0x34}));

  // An erase that did not leave FF stops before the write.
  clear();
  select(15);
  wire().reply(0, bytes({0xFF, 0x7F}));
  EXPECT_EQ(ModifySecret(4, code.data()), 3);
  EXPECT_EQ(frames().size(), 1u);
  EXPECT_EQ(frames()[0].data[2], 10);

  // The code area must hold the 2 code bytes.
  clear();
  EXPECT_EQ(ModifySecret(1, code.data()), 4);
  EXPECT_TRUE(wire().written.empty());
}

TEST_F(MemoryCard, ModifySecretAreaTwoForms) {
  select(4);
  wire().reply(0, Bytes(100, 0x09));
  Guarded code(3);
  std::copy_n(bytes({1, 2, 3}).begin(), 3, code.data());
  EXPECT_EQ(ModifySecret(3, code.data()), 0);
  EXPECT_EQ(frames()[0], (Frame{0x15, bytes({2, 1, 2, 3})}));
  EXPECT_EQ(code.bytes(), Bytes(3, 0x09));
  EXPECT_TRUE(code.guardsIntact());
  clear();
  EXPECT_EQ(ModifySecret(255, code.data()), 4);
  EXPECT_EQ(ModifySecret(-2, code.data()), 4);
  select(26);
  EXPECT_EQ(ModifySecret(3, code.data()), 3);
  EXPECT_TRUE(wire().written.empty());
  wire().reply(0x47, bytes({5, 5}));
  Guarded two(2, 0x66);
  EXPECT_EQ(ModifySecret(2, two.data()), 0x47);
  EXPECT_EQ(two.bytes(), Bytes(2, 0x66));  // copied on success only
}

TEST_F(MemoryCard, KeyRepliesStayInsideTheKey) {
  struct Case {
    int type, selector;
    std::size_t keyBytes;
    std::uint8_t status;
    bool copied;
  } cases[] = {{0, 9, 4, 0, true},  {15, 1, 4, 0, true},     {16, 4, 6, 0, true},
               {16, 5, 4, 0, true}, {16, 5, 4, 0x45, false}, {25, 3, 2, 0x45, true},
               {26, 3, 2, 0, true}};
  for (const auto& c : cases) {
    clear();
    select(c.type);
    wire().reply(c.status, Bytes(255, 0x3C));
    Guarded key(c.keyBytes, 0x01);
    EXPECT_EQ(CheckEraseSecret(c.selector, key.data()), c.status);
    EXPECT_EQ(frames()[0].data, [&] {
      Bytes b{static_cast<std::uint8_t>(c.selector)};
      b.resize(c.keyBytes + 1, 0x01);
      return b;
    }());
    EXPECT_EQ(key.bytes(), Bytes(c.keyBytes, c.copied ? 0x3C : 0x01)) << "type " << c.type;
    EXPECT_TRUE(key.guardsIntact());
  }
  clear();
  select(25);
  wire().reply(0x48, Bytes(200, 0x5A));
  Guarded zone(2, 0x01);
  EXPECT_EQ(CheckZoneSecret(3, zone.data()), 0x48);
  EXPECT_EQ(frames()[0], (Frame{0x18, bytes({3, 0x01, 0x01})}));
  EXPECT_EQ(zone.bytes(), Bytes(2, 0x5A));
  EXPECT_TRUE(zone.guardsIntact());
}

}  // namespace
