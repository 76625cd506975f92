// Block transfer with page-organised cards: page splits, pieces of 66, the
// buffer positions of each share, and replies that try to overrun.
#include <gtest/gtest.h>

#include <vector>

#include "fake_fixture.h"
#include "fake_port.h"
#include "link/link_state.h"
#include "orvix32.h"

using fake::Bytes;
using fake::bytes;

namespace {

struct Piece {
  int page, offset, count;
  bool operator==(const Piece&) const = default;
};
using Pieces = std::vector<Piece>;

// The pieces the host sent, page and offset high byte first; the outgoing
// length must be the header's 5 bytes (reads) or 5 plus the count (writes).
Pieces piecesOf(const Bytes& w, std::uint8_t cmd) {
  Pieces out;
  for (std::size_t i = 0; i + 3 <= w.size(); i += 5 + w[i + 2]) {
    EXPECT_EQ(w[i + 1], cmd);
    const Piece p{w[i + 3] << 8 | w[i + 4], w[i + 5] << 8 | w[i + 6], w[i + 7]};
    EXPECT_EQ(w[i + 2], cmd == 0x24 ? 5 : 5 + p.count);
    out.push_back(p);
  }
  return out;
}

class BlockTransfer : public fake::LinkedTest {
 protected:
  void select(int type) { orvix::link().Contact.SelectedCardType = type; }
};

TEST_F(BlockTransfer, ReadsAreCutAtPagesAndIntoPiecesOf66) {
  struct Case {
    int type, address, length;
    Pieces want;
  };
  // clang-format off
  const Case cases[] = {
      {21, 260, 10, {{0, 260, 4}, {1, 0, 6}}},  // pages of 264
      {2, 250, 10, {{0, 250, 6}, {1, 0, 4}}},   // pages of 256
      {255, 0, 256, {{0, 0, 66}, {0, 66, 66}, {0, 132, 66}, {0, 198, 58}}},
      {21, 264, 264, {{1, 0, 66}, {1, 66, 66}, {1, 132, 66}, {1, 198, 66}}},
      {0, 300 * 256 + 1, 1, {{300, 1, 1}}},
      {21, 263, 2, {{0, 263, 1}, {1, 0, 1}}},
      {7, 200, 400, {{0, 200, 56}, {1, 0, 66}, {1, 66, 66}, {1, 132, 66}, {1, 198, 58},
                     {2, 0, 66}, {2, 66, 22}}},
      {21, 65535 * 264 + 263, 1, {{65535, 263, 1}}},  // the last page is reachable
  };
  // clang-format on
  for (const auto& c : cases) {
    wire().written.clear();
    select(c.type);
    const int pageSize = c.type == 21 ? 264 : 256;
    for (const auto& p : c.want) {  // each reply: its bytes' card addresses (low byte)
      Bytes b;
      for (int i = 0; i < p.count; ++i)
        b.push_back(static_cast<std::uint8_t>(p.page * pageSize + p.offset + i));
      wire().reply(0, b);
    }
    std::vector<unsigned char> buf(static_cast<std::size_t>(c.length) + 2, 0xEE);
    EXPECT_EQ(ReadMemCard(c.address, c.length, buf.data() + 1), 0);
    EXPECT_EQ(piecesOf(wire().written, 0x24), c.want) << "address " << c.address;
    for (int i = 0; i < c.length; ++i)
      ASSERT_EQ(buf[static_cast<std::size_t>(i) + 1], static_cast<std::uint8_t>(c.address + i));
    EXPECT_EQ(buf.front(), 0xEE);
    EXPECT_EQ(buf.back(), 0xEE);
  }
}

TEST_F(BlockTransfer, WritesSendData66AtATimeAndTakeRepliesBack) {
  select(2);
  wire().reply(0, {});
  wire().reply(0, bytes({0xAB}));
  std::vector<unsigned char> buf(67);
  for (int i = 0; i < 67; ++i) buf[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
  EXPECT_EQ(WriteMemCard(10, 67, buf.data()), 0);
  Bytes first = bytes({0, 0, 0, 10, 66});
  for (int i = 0; i < 66; ++i) first.push_back(static_cast<std::uint8_t>(i));
  Bytes want = fake::Wire::expectedFrame(0x23, first);
  Bytes second = fake::Wire::expectedFrame(0x23, bytes({0, 0, 0, 76, 1, 0x42}));
  want.insert(want.end(), second.begin(), second.end());
  EXPECT_EQ(wire().written, want);
  // Within a page the replies are laid down one after the other: the first
  // piece answered nothing, so the second piece's reply lands at byte 0.
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 2), bytes({0xAB, 1}));
  EXPECT_EQ(buf[66], 66);
}

TEST_F(BlockTransfer, RepliesNeverRunPastTheCallersBuffer) {
  // Read and write across a page end, every reply 255 bytes long.
  for (std::uint8_t cmd : {std::uint8_t{0x24}, std::uint8_t{0x23}}) {
    wire().written.clear();
    select(21);
    for (int i = 0; i < 3; ++i) wire().reply(0, Bytes(255, 0x5A));
    std::vector<unsigned char> buf(16 + 100 + 16, 0xEE);
    unsigned char* p = buf.data() + 16;
    std::fill_n(p, 100, 0x00);
    EXPECT_EQ(cmd == 0x24 ? ReadMemCard(234, 100, p) : WriteMemCard(234, 100, p), 0);
    EXPECT_EQ(piecesOf(wire().written, cmd), (Pieces{{0, 234, 30}, {1, 0, 66}, {1, 66, 4}}));
    Bytes want(16, 0xEE);
    want.resize(116, 0x5A);
    want.resize(132, 0xEE);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), want);
  }
}

TEST_F(BlockTransfer, ArgumentsAreCheckedBeforeAnything) {
  struct Case {
    int type, address, length;
  } cases[] = {
      {2, -1, 1},          {2, 0, 0}, {2, 0, -3}, {2, 65536 * 256, 1}, {2, 65535 * 256 + 255, 2},
      {21, 65536 * 264, 1}};
  for (const auto& c : cases) {
    select(c.type);
    unsigned char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(ReadMemCard(c.address, c.length, buf), 4);
    EXPECT_EQ(WriteMemCard(c.address, c.length, buf), 4);
    EXPECT_EQ(EraseMemCard(c.address, c.length, buf), 4);
    EXPECT_EQ(Bytes(buf, buf + 4), bytes({1, 2, 3, 4}));
  }
  EXPECT_TRUE(wire().written.empty());
}

TEST_F(BlockTransfer, EraseFillsFFAndStopsAtTheFirstFailure) {
  select(3);
  wire().reply(0, {});
  wire().reply(0x44, {});
  std::vector<unsigned char> buf(300, 0x00);
  EXPECT_EQ(EraseMemCard(0, 300, buf.data()), 0x44);
  EXPECT_EQ(piecesOf(wire().written, 0x23), (Pieces{{0, 0, 66}, {0, 66, 66}}));
  EXPECT_EQ(Bytes(buf.begin(), buf.end()), Bytes(300, 0xFF));
}

}  // namespace
