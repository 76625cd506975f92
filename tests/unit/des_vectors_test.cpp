// EnDesData and UnDesData: published known answers, the length rules, and
// the block-by-block handling of in-place and overlapping buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cipher/des.h"
#include "orvix32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using orvix::des::Direction;

Bytes fromHex(const std::string& hex) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return b;
}

// Single-DES known answers (key, plain, cipher): the ECB example of FIPS 81,
// rows of the NIST variable-plaintext, variable-key, permutation and S-box
// tables, and common examples.
const char* const kVectors[][3] = {
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
};

TEST(DesVectors, KnownAnswersEncryptAndDecryptOneBlock) {
  for (const auto& v : kVectors) {
    const Bytes plain = fromHex(v[1]), cipher = fromHex(v[2]);
    Bytes key = fromHex(v[0]);
    for (int parity = 0; parity < 2; ++parity) {  // parity bits do not change the result
      Bytes out(8, 0);
      ASSERT_EQ(EnDesData(plain.data(), key.data(), out.data(), 8), 0);
      EXPECT_EQ(out, cipher) << "encrypt key " << v[0] << " data " << v[1];
      ASSERT_EQ(UnDesData(cipher.data(), key.data(), out.data(), 8), 0);
      EXPECT_EQ(out, plain) << "decrypt key " << v[0] << " data " << v[2];
      for (auto& k : key) k ^= 0x01;
    }
  }
}

TEST(DesLength, RefusedAndEmptyLengthsWriteNothing) {
  struct Case {
    int length, result;
  } cases[] = {{0, 0}, {-8, 0}, {-16, 0}, {12, 4}, {7, 4}, {1, 4}, {-3, 4}, {9, 4}, {15, 4}};
  const Bytes key = fromHex("0123456789ABCDEF");
  const Bytes in(32, 0x42);
  for (const auto& c : cases) {
    for (auto* fn : {&EnDesData, &UnDesData}) {
      Bytes out(32, 0xEE);
      EXPECT_EQ(fn(in.data(), key.data(), out.data(), c.length), c.result) << c.length;
      EXPECT_EQ(out, Bytes(32, 0xEE)) << "length " << c.length << " wrote output";
    }
  }
  Bytes out(8, 0xEE);
  EXPECT_EQ(EnDesData(nullptr, key.data(), out.data(), 8), 4);
  EXPECT_EQ(EnDesData(in.data(), nullptr, out.data(), 8), 4);
  EXPECT_EQ(UnDesData(in.data(), key.data(), nullptr, 8), 4);
  EXPECT_EQ(out, Bytes(8, 0xEE));
  EXPECT_EQ(EnDesData(nullptr, nullptr, nullptr, 0), 0);
}

// Output in place or overlapping the input at another address: each block is
// read whole before its result is written, one block after the other.
TEST(DesModes, InPlaceAndOverlappingBuffersAreProcessedBlockByBlock) {
  const std::uint8_t key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  for (Direction d : {Direction::Encrypt, Direction::Decrypt}) {
    const auto ks = orvix::des::makeKeySchedule(key, d);
    for (int shift : {-12, -8, -4, -1, 0, 1, 4, 8, 12}) {
      const int blocks = 7;
      Bytes base(8 * blocks + 32);
      for (std::size_t i = 0; i < base.size(); ++i) base[i] = static_cast<std::uint8_t>(i * 13 + 1);
      const long inAt = 16, outAt = 16 + shift;
      Bytes expected = base;
      for (int b = 0; b < blocks; ++b) {
        std::uint8_t tmp[8];
        std::copy_n(expected.begin() + inAt + 8 * b, 8, tmp);
        orvix::des::cryptBlock(ks, tmp, tmp);
        std::copy_n(tmp, 8, expected.begin() + outAt + 8 * b);
      }
      Bytes actual = base;
      auto* fn = d == Direction::Encrypt ? &EnDesData : &UnDesData;
      EXPECT_EQ(fn(actual.data() + inAt, key, actual.data() + outAt, 8 * blocks), 0);
      EXPECT_EQ(actual, expected) << "shift " << shift;
    }
  }
}

}  // namespace
