#include "contact/at1608_card.h"

#include <algorithm>
#include <cstdio>

#include "core/status.h"

namespace readersim::contact {

namespace {

constexpr int kIdentityAt = 40;
constexpr int kConfigZone = 8;
constexpr int kSecureCode = 7;

Reply fail(std::uint8_t st, std::vector<std::uint8_t> data = {}) { return {st, std::move(data)}; }

std::uint8_t useAttempt(std::uint8_t counter) {
  return static_cast<std::uint8_t>(counter << 1);  // FF, FE, FC, … 00
}

// The card's side of the mutual authentication: three feedback shift
// registers (7 cells of 5 bits, 7 of 7 bits, 5 of 5 bits) clocked by the
// identity, the secret and the challenge, then run free to give the card's
// answer and the answer it expects from the host, byte by byte in turn.
class Cipher {
 public:
  using Block8 = At1608Card::Block8;
  Cipher(const Block8& id, const Block8& secret, const Block8& challenge) {
    for (int i = 0; i < 8; ++i) {
      const Block8& first = i < 4 ? id : secret;
      const int j = 2 * (i % 4);
      for (std::uint8_t x : {first[j], first[j + 1], challenge[i]})
        clock(x & 0x1F, x >> 3, ((x & 0x0F) << 3) | (x >> 5));
    }
    for (int k = 0; k < 8; ++k) {
      card[k] = nextByte();
      host[k] = nextByte();
    }
  }
  Block8 card{}, host{};

 private:
  // The sum folded into 1 … m (0 stays 0): the register's feedback.
  static int fold(int v, int m) { return v <= m ? v : (v % m ? v % m : m); }
  static int rotate(int x, int bits) { return ((x << 1) | (x >> (bits - 1))) & ((1 << bits) - 1); }
  // Moves each cell one place up, puts top into cell 0 and mixes the input
  // into cell at.
  template <std::size_t N>
  static void shift(std::array<int, N>& cells, int top, std::size_t at, int input) {
    std::copy_backward(cells.begin(), cells.end() - 1, cells.end());
    cells[0] = top;
    cells[at] ^= input;
  }
  void clock(int a, int b, int c) {
    shift(left_, fold(left_[3] + rotate(left_[6], 5), 31), 3, a);
    shift(middle_, fold(middle_[5] + rotate(middle_[6], 7), 127), 5, c);
    shift(right_, fold(right_[2] + right_[4], 31), 2, b);
  }
  int nibble() {
    clock(0, 0, 0);
    const int mix = middle_[0];
    return (((left_[0] ^ left_[4]) & ~mix) | (mix & (right_[0] ^ right_[3]))) & 0x0F;
  }
  std::uint8_t nextByte() {
    int byte = 0;
    for (int i = 0; i < 4; ++i) {
      const int n = nibble();  // only the second and the fourth count
      if (i == 1) byte = n << 4;
      if (i == 3) byte |= n;
    }
    return static_cast<std::uint8_t>(byte);
  }
  std::array<int, 7> left_{}, middle_{};
  std::array<int, 5> right_{};
};

}  // namespace

At1608Card::At1608Card() {
  for (int z = 0; z < 8; ++z) zones_[z].assign(256, 0xFF);
  zones_[kConfigZone].assign(128, 0xFF);
  setIdentity({0x16, 0x08, 0x20, 0x26, 0x12, 0x06, 0x00, 0x01});
  secret_ = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  for (int i = 0; i < 16; ++i) {
    const auto n = static_cast<std::uint8_t>(i);
    passwords_[i] = {static_cast<std::uint8_t>(0xA0 | n), static_cast<std::uint8_t>(0xB0 | n),
                     static_cast<std::uint8_t>(0xC0 | n)};
  }
  pac_.fill(0xFF);
}

At1608Card::Block8 At1608Card::identity() const {
  Block8 id{};
  std::copy_n(zones_[kConfigZone].begin() + kIdentityAt, 8, id.begin());
  return id;
}

void At1608Card::setIdentity(const Block8& id) {
  std::copy(id.begin(), id.end(), zones_[kConfigZone].begin() + kIdentityAt);
}

Reply At1608Card::write(std::span<const std::uint8_t> d) {
  if (d.size() < 3 || d.size() != 3u + d[2]) return fail(status::kWrongLength);
  const int zone = d[0];
  if (zone > kConfigZone) return fail(status::kContactBadAddress);
  auto& z = zones_[zone];
  if (d[1] + d[2] > static_cast<int>(z.size())) return fail(status::kContactBadAddress);
  const int pw = zone == kConfigZone ? kSecureCode : zone;
  if (!open_[pw]) return fail(status::kContactNotVerified);
  std::copy(d.begin() + 3, d.end(), z.begin() + d[1]);
  return {status::kOk, {}};
}

Reply At1608Card::read(std::span<const std::uint8_t> d) {
  if (d.size() != 3) return fail(status::kWrongLength);
  const int zone = d[0];
  if (zone > kConfigZone) return fail(status::kContactBadAddress);
  const auto& z = zones_[zone];
  if (d[1] + d[2] > static_cast<int>(z.size())) return fail(status::kContactBadAddress);
  return {status::kOk, Bytes(z.begin() + d[1], z.begin() + d[1] + d[2])};
}

Reply At1608Card::password(std::span<const std::uint8_t> d) {
  if (d.size() != 4) return fail(status::kWrongLength);
  if (d[0] > 15) return fail(status::kBadParameter);
  const int i = d[0];
  if (pac_[i] == 0) return fail(status::kContactLocked, {0x00});
  const bool right = std::equal(d.begin() + 1, d.end(), passwords_[i].begin());
  pac_[i] = right ? 0xFF : useAttempt(pac_[i]);
  open_[i] = right;
  if (!right) return fail(status::kContactWrongCode, {pac_[i]});
  return {status::kOk, {pac_[i], d[1], d[2], d[3]}};
}

Reply At1608Card::authenticate(std::span<const std::uint8_t> d) {
  if (d.size() != 16) return fail(status::kWrongLength);
  if (aac_ == 0) return fail(status::kContactLocked, {0x00});
  Block8 challenge{};
  std::copy_n(d.begin(), 8, challenge.begin());
  const Cipher answers(identity(), secret_, challenge);
  const bool right = std::equal(d.begin() + 8, d.end(), answers.host.begin());
  aac_ = right ? 0xFF : useAttempt(aac_);
  authenticated_ = right;
  if (!right) return fail(status::kContactAuthFailed, {aac_});
  Bytes reply{aac_};
  reply.insert(reply.end(), answers.card.begin(), answers.card.end());
  return {status::kOk, reply};
}

Reply At1608Card::readFuse() const { return {status::kOk, {fuse_}}; }

Reply At1608Card::reset() {
  open_.fill(false);
  authenticated_ = false;
  return {status::kOk, {}};
}

std::string At1608Card::describe() const {
  char s[160];
  const Block8 id = identity();
  std::snprintf(s, sizeof s,
                "AT1608, identity %02X%02X%02X%02X%02X%02X%02X%02X, AAC %02X%s, fuse %02X", id[0],
                id[1], id[2], id[3], id[4], id[5], id[6], id[7], aac_,
                authenticated_ ? " (authenticated)" : "", fuse_);
  return s;
}

}  // namespace readersim::contact
