// The AT1608 mutual-authentication cipher: three shift registers of small
// cells clocked by the card's identity, the shared secret and the challenge.
// Host and card run the same computation; the host sends its answer H and
// expects the card to answer E.
//
// Header-only and free of the link state, so that the reader simulator plays
// the card side with exactly this code.
#pragma once

#include <array>
#include <cstdint>

namespace orvix::at1608 {

using Block = std::array<std::uint8_t, 8>;

// Cell values: left and right registers 5 bits, middle register 7 bits.
inline std::uint8_t rotl5(std::uint8_t x) {
  return static_cast<std::uint8_t>(((x << 1) & 0x1F) | ((x >> 4) & 1));
}
inline std::uint8_t rotl7(std::uint8_t x) {
  return static_cast<std::uint8_t>(((x << 1) & 0x7F) | ((x >> 6) & 1));
}
// v when v <= m; otherwise v mod m, a remainder of 0 becoming m.
inline std::uint8_t fold(unsigned v, unsigned m) {
  if (v <= m) return static_cast<std::uint8_t>(v);
  const unsigned r = v % m;
  return static_cast<std::uint8_t>(r == 0 ? m : r);
}

// The cipher's working registers (and a copy of its three inputs).
struct Registers {
  std::array<std::uint8_t, 7> L{};
  std::array<std::uint8_t, 7> M{};
  std::array<std::uint8_t, 5> R{};
  Block identity{};
  Block secret{};
  Block challenge{};

  void clear() {
    L.fill(0);
    M.fill(0);
    R.fill(0);
  }

  // One clock with inputs a (0..31, left), b (0..31, right), c (0..127, middle).
  void clock(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    const auto l = L;
    const auto m = M;
    const auto r = R;
    L[0] = fold(l[3] + rotl5(l[6]), 31);
    L[1] = l[0];
    L[2] = l[1];
    L[3] = static_cast<std::uint8_t>(l[2] ^ a);
    L[4] = l[3];
    L[5] = l[4];
    L[6] = l[5];
    M[0] = fold(m[5] + rotl7(m[6]), 127);
    M[1] = m[0];
    M[2] = m[1];
    M[3] = m[2];
    M[4] = m[3];
    M[5] = static_cast<std::uint8_t>(m[4] ^ c);
    M[6] = m[5];
    R[0] = fold(r[2] + r[4], 31);
    R[1] = r[0];
    R[2] = static_cast<std::uint8_t>(r[1] ^ b);
    R[3] = r[2];
    R[4] = r[3];
  }

  void feed(std::uint8_t x) {
    clock(static_cast<std::uint8_t>(x & 0x1F), static_cast<std::uint8_t>(x >> 3),
          static_cast<std::uint8_t>(((x & 0x0F) << 3) + (x >> 5)));
  }

  // A clock with zero inputs, then the nibble the registers show.
  std::uint8_t outputStep() {
    clock(0, 0, 0);
    return static_cast<std::uint8_t>((((L[0] ^ L[4]) & ~M[0]) | (M[0] & (R[0] ^ R[3]))) & 0x0F);
  }

  // Four output steps; the second and fourth nibbles make the byte.
  std::uint8_t outputByte() {
    outputStep();
    const std::uint8_t high = outputStep();
    outputStep();
    const std::uint8_t low = outputStep();
    return static_cast<std::uint8_t>((high << 4) | low);
  }
};

struct Answers {
  Block host{};      // H: sent to the card with the challenge
  Block expected{};  // E: what the card must answer
};

// Runs one authentication in the given workspace (cleared first).
inline Answers authenticate(Registers& w, const Block& identity, const Block& secret,
                            const Block& challenge) {
  w.identity = identity;
  w.secret = secret;
  w.challenge = challenge;
  w.clear();
  for (int i = 0; i < 4; ++i) {
    w.feed(w.identity[2 * i]);
    w.feed(w.identity[2 * i + 1]);
    w.feed(w.challenge[i]);
  }
  for (int i = 0; i < 4; ++i) {
    w.feed(w.secret[2 * i]);
    w.feed(w.secret[2 * i + 1]);
    w.feed(w.challenge[4 + i]);
  }
  Answers a;
  for (int k = 0; k < 8; ++k) {
    a.expected[k] = w.outputByte();
    a.host[k] = w.outputByte();
  }
  return a;
}

// The same computation in a workspace of its own: a pure function.
inline Answers authenticate(const Block& identity, const Block& secret, const Block& challenge) {
  Registers w;
  return authenticate(w, identity, secret, challenge);
}

}  // namespace orvix::at1608
