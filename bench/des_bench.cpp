// des_bench: EnDesData throughput on 1 MiB against OpenSSL's single DES in
// ECB mode, in the same run, with the ratio (not a test; run by hand, on an
// optimised build: figures from a Debug build say little).
//
// OpenSSL is timed two ways, both with the key schedule set up once: the EVP
// interface (DES-ECB lives in OpenSSL 3's legacy provider) and the low-level
// DES_ecb_encrypt block by block. The ratio is taken against the faster one.
// Every path's output is checked against the others before timing counts.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "orvix32.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBytes = 1 << 20;

// Best of `rounds` timings of `reps` passes over the buffer, in MB/s (10^6).
double throughput(const std::function<void()>& pass, int reps, int rounds) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < reps; ++i) pass();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, s);
  }
  return static_cast<double>(kBytes) * reps / best / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 16;
  const int rounds = 5;

  std::vector<unsigned char> in(kBytes), ours(kBytes), evpOut(kBytes + 8), lowOut(kBytes);
  std::mt19937 rng(46);
  for (auto& b : in) b = static_cast<unsigned char>(rng());
  const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  EVP_CIPHER* cipher = legacy ? EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr) : nullptr;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (cipher) {
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
  } else {
    std::printf("note: OpenSSL's legacy provider is not available; EVP path skipped\n");
  }

  DES_cblock k;
  std::memcpy(k, key, 8);
  DES_key_schedule schedule;
  DES_set_key_unchecked(&k, &schedule);

  auto passOurs = [&] {
    if (EnDesData(in.data(), key, ours.data(), static_cast<int>(kBytes)) != 0) std::abort();
  };
  auto passEvp = [&] {
    int n = 0;
    if (EVP_EncryptUpdate(ctx, evpOut.data(), &n, in.data(), static_cast<int>(kBytes)) != 1 ||
        n != static_cast<int>(kBytes))
      std::abort();
  };
  auto passLow = [&] {
    for (std::size_t i = 0; i < kBytes; i += 8)
      DES_ecb_encrypt(reinterpret_cast<DES_cblock*>(in.data() + i),
                      reinterpret_cast<DES_cblock*>(lowOut.data() + i), &schedule, DES_ENCRYPT);
  };

  passOurs();
  passLow();
  if (ours != lowOut) {
    std::printf("MISMATCH: EnDesData and DES_ecb_encrypt disagree\n");
    return 1;
  }
  if (cipher) {
    passEvp();
    if (!std::equal(ours.begin(), ours.end(), evpOut.begin())) {
      std::printf("MISMATCH: EnDesData and EVP DES-ECB disagree\n");
      return 1;
    }
  }

  const double mbOurs = throughput(passOurs, reps, rounds);
  const double mbLow = throughput(passLow, reps, rounds);
  const double mbEvp = cipher ? throughput(passEvp, reps, rounds) : 0.0;
  const double mbOpenssl = std::max(mbLow, mbEvp);

  std::printf("DES-ECB encryption of 1 MiB, best of %d rounds of %d passes\n", rounds, reps);
  std::printf("  EnDesData                 %8.1f MB/s\n", mbOurs);
  if (cipher) std::printf("  OpenSSL EVP DES-ECB       %8.1f MB/s\n", mbEvp);
  std::printf("  OpenSSL DES_ecb_encrypt   %8.1f MB/s\n", mbLow);
  std::printf("  ratio EnDesData / OpenSSL %8.2f (target >= 1.20)\n", mbOurs / mbOpenssl);
#ifndef __OPTIMIZE__
  std::printf("  note: this build is not optimised; measure on a Release build\n");
#endif

  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  if (legacy) OSSL_PROVIDER_unload(legacy);
  if (deflt) OSSL_PROVIDER_unload(deflt);
  return mbOurs / mbOpenssl >= 1.2 ? 0 : 2;
}
