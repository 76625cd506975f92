// EnDesData and UnDesData (published known answers, OpenSSL's single DES as
// an independent reference, length rules, overlapping buffers) and the AT1608
// authentication cipher at register level and by known answers.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <random>

#include "at1608_vectors.h"
#include "cipher/des.h"
#include "contact/at1608_cipher.h"
#include "fake_fixture.h"
#include "orvix32.h"

using fake::Bytes;
using fake::hex;

namespace {

// Single-DES known answers (key, plain, cipher): the FIPS 81 examples.
const char* const kVectors[][3] = {{"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
                                   {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"}};

Bytes opensslEcb(const Bytes& in, const std::uint8_t key[8], int direction) {
  DES_cblock k, block, result;
  std::copy_n(key, 8, k);
  DES_key_schedule ks;
  DES_set_key_unchecked(&k, &ks);
  Bytes out(in.size());
  for (std::size_t i = 0; i < in.size(); i += 8) {
    std::copy_n(in.data() + i, 8, block);
    DES_ecb_encrypt(&block, &result, &ks, direction);
    std::copy_n(result, 8, out.data() + i);
  }
  return out;
}

TEST(Des, KnownAnswersAndOpenSslAgree) {
  for (const auto& v : kVectors) {
    const Bytes plain = hex(v[1]), cipher = hex(v[2]);
    Bytes key = hex(v[0]), out(8);
    for (int parity = 0; parity < 2; ++parity, key = hex(v[0])) {  // parity bits do not count
      for (auto& k : key) k = std::uint8_t(k ^ parity);
      ASSERT_EQ(EnDesData(plain.data(), key.data(), out.data(), 8), 0);
      EXPECT_EQ(out, cipher) << v[0] << " " << v[1];
      ASSERT_EQ(UnDesData(cipher.data(), key.data(), out.data(), 8), 0);
      EXPECT_EQ(out, plain) << v[0] << " " << v[2];
    }
  }
  std::mt19937_64 rng(20240607);
  for (int trial = 0; trial < 2000; ++trial) {
    std::uint8_t key[8];
    for (auto& k : key) k = std::uint8_t(rng());
    Bytes in(8 * (1 + rng() % 17)), enc(in.size()), dec(in.size());
    for (auto& b : in) b = std::uint8_t(rng());
    ASSERT_EQ(EnDesData(in.data(), key, enc.data(), int(in.size())), 0);
    ASSERT_EQ(enc, opensslEcb(in, key, DES_ENCRYPT)) << "encrypt, trial " << trial;
    ASSERT_EQ(UnDesData(in.data(), key, dec.data(), int(in.size())), 0);
    ASSERT_EQ(dec, opensslEcb(in, key, DES_DECRYPT)) << "decrypt, trial " << trial;
  }
}

TEST(Des, LengthRulesAndOverlappingBuffers) {
  const Bytes key = hex("0123456789ABCDEF"), in(32, 0x42);
  for (auto [length, result] :
       {std::pair{0, 0}, {-8, 0}, {-16, 0}, {12, 4}, {7, 4}, {1, 4}, {-3, 4}, {9, 4}, {15, 4}}) {
    for (auto* fn : {&EnDesData, &UnDesData}) {
      Bytes out(32, 0xEE);
      EXPECT_EQ(fn(in.data(), key.data(), out.data(), length), result) << length;
      EXPECT_EQ(out, Bytes(32, 0xEE)) << "length " << length << " wrote output";
    }
  }
  EXPECT_EQ(EnDesData(nullptr, nullptr, nullptr, 0), 0);
  // In place or overlapping at another address: each block is read whole
  // before its result is written, one block after the other.
  using orvix::des::Direction;
  for (Direction d : {Direction::Encrypt, Direction::Decrypt}) {
    const auto ks = orvix::des::makeKeySchedule(key.data(), d);
    for (int shift : {-12, -8, -4, -1, 0, 1, 4, 8, 12}) {
      Bytes base(7 * 8 + 32);
      for (std::size_t i = 0; i < base.size(); ++i) base[i] = std::uint8_t(i * 13 + 1);
      Bytes expected = base, actual = base;
      for (int b = 0; b < 7; ++b) {
        std::uint8_t tmp[8];
        std::copy_n(expected.begin() + 16 + 8 * b, 8, tmp);
        orvix::des::cryptBlock(ks, tmp, tmp);
        std::copy_n(tmp, 8, expected.begin() + 16 + shift + 8 * b);
      }
      auto* fn = d == Direction::Encrypt ? &EnDesData : &UnDesData;
      EXPECT_EQ(fn(actual.data() + 16, key.data(), actual.data() + 16 + shift, 56), 0);
      EXPECT_EQ(actual, expected) << "shift " << shift;
    }
  }
}

TEST(At1608Cipher, RegistersFoldAndKnownAnswers) {
  using orvix::at1608::Block;
  for (auto [v, m, want] : {std::tuple{0u, 31u, 0u},
                            {31u, 31u, 31u},
                            {32u, 31u, 1u},
                            {62u, 31u, 31u},
                            {254u, 127u, 127u},
                            {255u, 127u, 1u}})
    EXPECT_EQ(orvix::at1608::fold(v, m), want) << v << " mod " << m;
  orvix::at1608::Registers r, example;
  example.L = {1, 2, 3, 4, 5, 6, 7};
  example.M = {9, 10, 11, 12, 13, 14, 15};
  example.R = {0x11, 0x12, 0x13, 0x14, 0x15};
  auto regs = [](const auto& x) {
    return fake::toHex(Bytes(x.L.begin(), x.L.end())) + " " +
           fake::toHex(Bytes(x.M.begin(), x.M.end())) + " " +
           fake::toHex(Bytes(x.R.begin(), x.R.end()));
  };
  r = example;
  r.feed(0x5A);
  EXPECT_EQ(regs(r), "12010219040506 2C090A0B0C5F0E 0911191314");
  r = example;
  r.outputStep();
  EXPECT_EQ(r.outputStep(), 0x5);
  EXPECT_EQ(regs(r), "0F120102030405 292C090A0B0C0D 0709111213");
  auto block = [](const char* h) {
    Block b{};
    const Bytes v = hex(h);
    std::copy(v.begin(), v.end(), b.begin());
    return b;
  };
  for (const auto& v : kAt1608Vectors) {  // known answers, and the workspace cleared first
    const auto a = orvix::at1608::authenticate(example, block(v.identity), block(v.secret),
                                               block(v.challenge));
    EXPECT_EQ(fake::toHex(Bytes(a.expected.begin(), a.expected.end())), v.expected) << v.identity;
    EXPECT_EQ(fake::toHex(Bytes(a.host.begin(), a.host.end())), v.host) << v.identity;
  }
}

}  // namespace
