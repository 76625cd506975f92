// Security codes of the types with code and error counter at fixed positions
// (0, 15 … 17): all four come back whatever the length; other types keep the
// reply within length.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "fake_fixture.h"
#include "orvix32.h"

namespace {

using fake::Bytes;
using fake::bytes;
using fake::Wire;
using U = unsigned char*;

struct CodeCase {
  int type;
  std::function<int(U)> call;
  std::vector<Bytes> replies;  // reply data, one exchange each
  Bytes line;                  // the command frames sent
  int result;                  // also the first reply's status; the others answer 0
  Bytes after;                 // the caller's 6 bytes, which start as kStart
};

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// Erase, write and counter read-back at code address c.
Bytes changeAt(int c) {
  return Wire::expectedFrame(0x1A, bytes({18, 0, c, 2, 0xFF, 0xFF})) +
         Wire::expectedFrame(0x15, bytes({18, 0, c, 2, 0x12, 0x34})) +
         Wire::expectedFrame(0x14, bytes({18, 0, c + 2, 2}));
}
const Bytes kStart = bytes({0x12, 0x34, 0xEE, 0xEE, 0xEE, 0xEE});
const Bytes kAsk = Wire::expectedFrame(0x0C, bytes({0x12, 0x34}));
const Bytes kAskNone = Wire::expectedFrame(0x0C, {});
const std::vector<Bytes> kCounterCode = {bytes({0xC1, 0xC2, 0xD1, 0xD2})};
const std::vector<Bytes> kChange = {bytes({0xFF, 0xFF}), bytes({0x12, 0x34}), bytes({0x0F, 0})};
const Bytes kSwapped = bytes({0xD1, 0xD2, 0xC1, 0xC2, 0xEE, 0xEE});
const Bytes kChanged = bytes({0x0F, 0x00, 0x12, 0x34, 0xEE, 0xEE});
const Bytes kCapped = bytes({0xC1, 0xC2, 0xEE, 0xEE, 0xEE, 0xEE});

// clang-format off
const CodeCase kCases[] = {
    {0, [](U c) { return CheckSecret(2, c); }, kCounterCode, kAsk, 0, kSwapped},
    {17, [](U c) { return CheckSecret(0, c); }, kCounterCode, kAskNone, 0, kSwapped},
    {15, [](U c) { return CheckSecret(2, c); }, kCounterCode, kAsk, 0x45, kStart},
    {2, [](U c) { return CheckSecret(2, c); }, kCounterCode, kAsk, 0, kCapped},
    {0, [](U c) { return ModifySecret(2, c); }, kChange, changeAt(8), 0, kChanged},
    {16, [](U c) { return ModifySecret(1, c); }, kChange, changeAt(10), 0, kChanged},
    {17, [](U c) { return ModifySecret(0, c); }, kChange, changeAt(10), 0, kChanged},
    {15, [](U c) { return ModifySecret(-7, c); }, kChange, changeAt(10), 0, kChanged},
};
// clang-format on

using CodePositions = fake::LinkedTest;

TEST_F(CodePositions, FixedPositionsWhateverTheLengthOtherTypesCapped) {
  for (const CodeCase& c : kCases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    wire().written.clear();
    wire().input.clear();
    orvix::link().Contact.SelectedCardType = c.type;
    for (std::size_t i = 0; i < c.replies.size(); ++i)
      wire().reply(i == 0 ? static_cast<std::uint8_t>(c.result) : 0, c.replies[i]);
    Bytes code = kStart;
    EXPECT_EQ(c.call(code.data()), c.result);
    EXPECT_EQ(wire().written, c.line);
    EXPECT_EQ(code, c.after);
  }
}

}  // namespace
