// EnDesData and UnDesData against an independent implementation: OpenSSL's
// single DES in ECB mode (a test dependency only; the library never uses it).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "orvix32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes opensslEcb(const Bytes& in, const std::uint8_t key[8], int direction) {
  DES_cblock k;
  std::copy_n(key, 8, k);
  DES_key_schedule ks;
  DES_set_key_unchecked(&k, &ks);
  Bytes out(in.size());
  for (std::size_t i = 0; i < in.size(); i += 8) {
    DES_cblock block, result;
    std::copy_n(in.data() + i, 8, block);
    DES_ecb_encrypt(&block, &result, &ks, direction);
    std::copy_n(result, 8, out.data() + i);
  }
  return out;
}

TEST(DesOpenSsl, RandomKeysAndDataAgreeBothWays) {
  std::mt19937_64 rng(20240607);
  auto byte = [&] { return static_cast<std::uint8_t>(rng()); };
  for (int trial = 0; trial < 2000; ++trial) {
    std::uint8_t key[8];
    for (auto& k : key) k = byte();
    const std::size_t blocks = 1 + rng() % 17;
    Bytes in(8 * blocks);
    for (auto& b : in) b = byte();
    const int len = static_cast<int>(in.size());

    Bytes enc(in.size());
    ASSERT_EQ(EnDesData(in.data(), key, enc.data(), len), 0);
    ASSERT_EQ(enc, opensslEcb(in, key, DES_ENCRYPT)) << "encrypt, trial " << trial;

    Bytes dec(in.size());
    ASSERT_EQ(UnDesData(in.data(), key, dec.data(), len), 0);
    ASSERT_EQ(dec, opensslEcb(in, key, DES_DECRYPT)) << "decrypt, trial " << trial;
  }
}

}  // namespace
