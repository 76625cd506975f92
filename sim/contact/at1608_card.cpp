#include "contact/at1608_card.h"

#include <algorithm>
#include <cstdio>

// The cipher is shared with the driver: one source for both sides.
#include "../../driver/contact/at1608_cipher.h"
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
  orvix::at1608::Block challenge{};
  std::copy_n(d.begin(), 8, challenge.begin());
  const auto answers = orvix::at1608::authenticate(identity(), secret_, challenge);
  const bool right = std::equal(d.begin() + 8, d.end(), answers.host.begin());
  aac_ = right ? 0xFF : useAttempt(aac_);
  authenticated_ = right;
  if (!right) return fail(status::kContactAuthFailed, {aac_});
  Bytes reply{aac_};
  reply.insert(reply.end(), answers.expected.begin(), answers.expected.end());
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
