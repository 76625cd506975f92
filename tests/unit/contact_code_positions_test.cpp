// Security codes of the contact types whose reply puts code and error counter
// at fixed positions (0, 15 … 17): all four positions come back whatever
// length the caller gave; every other type keeps its reply within length.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "fake_fixture.h"
#include "orvix32.h"

namespace {

using fake::Bytes;
using fake::bytes;
using fake::Wire;

struct CodeCase {
  int type;
  std::function<int(unsigned char*)> call;
  Bytes code;                  // the caller's 8 bytes before the call
  std::vector<Bytes> replies;  // reply data, one exchange each, status 0
  std::uint8_t status;         // status of the first reply
  Bytes line;                  // every command frame sent
  int result;
  Bytes after;  // the caller's 8 bytes afterwards
};

const Bytes kAskAB = bytes({0xAA, 0xBB, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
const Bytes kNew1234 = bytes({0x12, 0x34, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
const Bytes kCounterCode = bytes({0xC1, 0xC2, 0xD1, 0xD2});
// Erase, write and counter read-back at code address c.
Bytes changeAt(int c) {
  Bytes b = Wire::expectedFrame(0x1A, bytes({18, 0, c, 2, 0xFF, 0xFF}));
  const Bytes w = Wire::expectedFrame(0x15, bytes({18, 0, c, 2, 0x12, 0x34}));
  const Bytes r = Wire::expectedFrame(0x14, bytes({18, 0, c + 2, 2}));
  b.insert(b.end(), w.begin(), w.end());
  b.insert(b.end(), r.begin(), r.end());
  return b;
}
const std::vector<Bytes> kChangeReplies = {bytes({0xFF, 0xFF}), bytes({0x12, 0x34}),
                                           bytes({0x0F, 0x00})};
const Bytes kChanged = bytes({0x0F, 0x00, 0x12, 0x34, 0xEE, 0xEE, 0xEE, 0xEE});

auto check(int n) {
  return [n](unsigned char* c) { return CheckSecret(n, c); };
}
auto modify(int n) {
  return [n](unsigned char* c) { return ModifySecret(n, c); };
}

// clang-format off
const CodeCase kCases[] = {
    {0, check(2), kAskAB, {kCounterCode}, 0, Wire::expectedFrame(0x0C, bytes({0xAA, 0xBB})), 0,
     bytes({0xD1, 0xD2, 0xC1, 0xC2, 0xEE, 0xEE, 0xEE, 0xEE})},
    {17, check(0), kAskAB, {kCounterCode}, 0, Wire::expectedFrame(0x0C, {}), 0,
     bytes({0xD1, 0xD2, 0xC1, 0xC2, 0xEE, 0xEE, 0xEE, 0xEE})},
    {15, check(2), kAskAB, {kCounterCode}, 0x45, Wire::expectedFrame(0x0C, bytes({0xAA, 0xBB})),
     0x45, kAskAB},
    {2, check(2), kAskAB, {kCounterCode}, 0, Wire::expectedFrame(0x0C, bytes({0xAA, 0xBB})), 0,
     bytes({0xC1, 0xC2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE})},
    {0, modify(2), kNew1234, kChangeReplies, 0, changeAt(8), 0, kChanged},
    {16, modify(1), kNew1234, kChangeReplies, 0, changeAt(10), 0, kChanged},
    {17, modify(0), kNew1234, kChangeReplies, 0, changeAt(10), 0, kChanged},
    {15, modify(-7), kNew1234, kChangeReplies, 0, changeAt(10), 0, kChanged},
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
      wire().reply(i == 0 ? c.status : 0, c.replies[i]);
    Bytes code = c.code;
    EXPECT_EQ(c.call(code.data()), c.result);
    EXPECT_EQ(wire().written, c.line);
    EXPECT_EQ(code, c.after);
  }
}

}  // namespace
