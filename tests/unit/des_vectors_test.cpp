// EnDesData and UnDesData: published known answers, the length rules, and
// the block-by-block handling of in-place and overlapping buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cipher/des.h"
#include "orvix32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(const std::string& hex) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return b;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Single-DES known answers: FIPS 81 (ECB example), the NIST SP 800-17 /
// SP 800-20 variable-plaintext and variable-key tables, and common examples.
const Vector kVectors[] = {
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},  // FIPS 81
    {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},  // FIPS 81
    {"0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},  // FIPS 81
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},  // variable plaintext
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},  // variable key
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},  // permutation
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},  // S-box table
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
};

TEST(DesVectors, KnownAnswersEncryptAndDecryptOneBlock) {
  for (const auto& v : kVectors) {
    const Bytes key = fromHex(v.key), plain = fromHex(v.plain), cipher = fromHex(v.cipher);
    Bytes out(8, 0);
    ASSERT_EQ(EnDesData(plain.data(), key.data(), out.data(), 8), 0);
    EXPECT_EQ(out, cipher) << "encrypt key " << v.key << " data " << v.plain;
    ASSERT_EQ(UnDesData(cipher.data(), key.data(), out.data(), 8), 0);
    EXPECT_EQ(out, plain) << "decrypt key " << v.key << " data " << v.cipher;
  }
}

TEST(DesVectors, ParityBitsDoNotChangeTheResult) {
  const Bytes plain = fromHex("4E6F772069732074");
  Bytes key = fromHex("0123456789ABCDEF");
  Bytes a(8), b(8);
  EnDesData(plain.data(), key.data(), a.data(), 8);
  for (auto& k : key) k ^= 0x01;
  EnDesData(plain.data(), key.data(), b.data(), 8);
  EXPECT_EQ(a, b);
}

TEST(DesLength, RefusedAndEmptyLengthsWriteNothing) {
  struct Case {
    int length;
    int result;
  } cases[] = {{0, 0}, {12, 4}, {-8, 0}, {-16, 0}, {7, 4}, {1, 4}, {-3, 4}, {9, 4}, {15, 4}};
  const Bytes key = fromHex("0123456789ABCDEF");
  const Bytes in(32, 0x42);
  for (const auto& c : cases) {
    for (auto* fn : {&EnDesData, &UnDesData}) {
      Bytes out(32, 0xEE);
      EXPECT_EQ(fn(in.data(), key.data(), out.data(), c.length), c.result) << c.length;
      EXPECT_EQ(out, Bytes(32, 0xEE)) << "length " << c.length << " wrote output";
    }
  }
}

TEST(DesLength, NullBuffersWithDataAreRefused) {
  const Bytes key(8, 0), in(8, 0);
  Bytes out(8, 0xEE);
  EXPECT_EQ(EnDesData(nullptr, key.data(), out.data(), 8), 4);
  EXPECT_EQ(EnDesData(in.data(), nullptr, out.data(), 8), 4);
  EXPECT_EQ(UnDesData(in.data(), key.data(), nullptr, 8), 4);
  EXPECT_EQ(out, Bytes(8, 0xEE));
  EXPECT_EQ(EnDesData(nullptr, nullptr, nullptr, 0), 0);
}

TEST(DesModes, EqualBlocksGiveEqualOutputAndEveryLengthRoundTrips) {
  const Bytes key = fromHex("133457799BBCDFF1");
  const Bytes block = fromHex("0123456789ABCDEF");
  const Bytes cipher = fromHex("85E813540F0AB405");
  // Lengths around the sizes the engine interleaves blocks in.
  for (int blocks = 1; blocks <= 13; ++blocks) {
    Bytes in;
    for (int i = 0; i < blocks; ++i) in.insert(in.end(), block.begin(), block.end());
    Bytes out(in.size(), 0);
    ASSERT_EQ(EnDesData(in.data(), key.data(), out.data(), static_cast<int>(in.size())), 0);
    for (int i = 0; i < blocks; ++i)
      EXPECT_EQ(Bytes(out.begin() + 8 * i, out.begin() + 8 * i + 8), cipher)
          << blocks << " blocks, block " << i;
    Bytes back(in.size(), 0);
    ASSERT_EQ(UnDesData(out.data(), key.data(), back.data(), static_cast<int>(out.size())), 0);
    EXPECT_EQ(back, in);
  }
}

TEST(DesModes, InPlaceGivesTheSameResultAsSeparateBuffers) {
  const Bytes key = fromHex("0E329232EA6D0D73");
  Bytes in(8 * 10);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 37 + 5);
  Bytes separate(in.size());
  EnDesData(in.data(), key.data(), separate.data(), static_cast<int>(in.size()));
  Bytes inPlace = in;
  EnDesData(inPlace.data(), key.data(), inPlace.data(), static_cast<int>(inPlace.size()));
  EXPECT_EQ(inPlace, separate);
  UnDesData(inPlace.data(), key.data(), inPlace.data(), static_cast<int>(inPlace.size()));
  EXPECT_EQ(inPlace, in);
}

// Output overlapping the input at another address: each block is read whole
// before its result is written, one block after the other.
TEST(DesModes, OverlappingBuffersAreProcessedBlockByBlock) {
  const std::uint8_t key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const auto ks = orvix::des::makeKeySchedule(key, orvix::des::Direction::Encrypt);
  for (int shift : {-12, -8, -4, -1, 1, 4, 8, 12}) {
    const int blocks = 7;
    Bytes base(8 * blocks + 32);
    for (std::size_t i = 0; i < base.size(); ++i) base[i] = static_cast<std::uint8_t>(i * 13 + 1);
    const std::size_t inAt = 16, outAt = static_cast<std::size_t>(16 + shift);

    Bytes expected = base;
    for (int b = 0; b < blocks; ++b) {
      std::uint8_t tmp[8];
      std::copy_n(expected.begin() + static_cast<long>(inAt) + 8 * b, 8, tmp);
      orvix::des::cryptBlock(ks, tmp, tmp);
      std::copy_n(tmp, 8, expected.begin() + static_cast<long>(outAt) + 8 * b);
    }
    Bytes actual = base;
    EnDesData(actual.data() + inAt, key, actual.data() + outAt, 8 * blocks);
    EXPECT_EQ(actual, expected) << "shift " << shift;
  }
}

}  // namespace
