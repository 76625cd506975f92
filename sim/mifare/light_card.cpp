#include "mifare/light_card.h"

#include <algorithm>

#include "core/status.h"

namespace readersim::mifare {

namespace {
constexpr int kValuePages[2] = {4, 5};
}  // namespace

LightCard::LightCard(const Serial& serial) {
  std::copy(serial.begin(), serial.end(), mem_.begin());
  std::uint8_t* p1 = page(1);
  p1[0] = static_cast<std::uint8_t>(serial[0] ^ serial[1] ^ serial[2] ^ serial[3]);
  p1[1] = 0x0C;  // size code: 12 pages
  p1[2] = 0x10;  // type
  p1[3] = 0x00;
  setValue(0);
  for (int keyPage : {kKeyAPage, kKeyBPage}) {
    std::fill_n(page(keyPage), 6, 0xFF);
    page(keyPage + 1)[2] = 0xFF;
    page(keyPage + 1)[3] = 0x00;
  }
}

Serial LightCard::serial() const {
  Serial s;
  std::copy_n(mem_.begin(), 4, s.begin());
  return s;
}

std::optional<std::uint8_t> LightCard::access(KeyType kt) const {
  const std::uint8_t* p = mem_.data() + 4 * ((kt == KeyType::A ? kKeyAPage : kKeyBPage) + 1);
  if (p[2] != static_cast<std::uint8_t>(~p[3])) return std::nullopt;
  return p[2];
}

std::uint8_t LightCard::rights(std::uint8_t& out) const {
  if (!authenticatedFor(0)) return status::kMifareNotAuthenticated;
  auto acc = access(authKey_);
  if (!acc) return status::kMifareSectorLocked;
  out = *acc;
  return status::kOk;
}

bool LightCard::mayRead(int p, std::uint8_t r) const {
  if (p == 2 || p == 3) return r & kReadData1;
  if (p == 10 || p == 11) return r & kReadData2;
  return true;
}

std::uint8_t LightCard::writeRight(int p) const {
  if (p == 2 || p == 3) return kWriteData1;
  if (p == 4 || p == 5) return kWriteValue;
  if (p >= 6 && p <= 9) return kWriteKeys;
  if (p == 10 || p == 11) return kWriteData2;
  return 0;
}

std::optional<std::uint16_t> LightCard::value() const {
  const std::uint8_t* a = mem_.data() + 4 * kValuePages[0];
  const std::uint8_t* b = mem_.data() + 4 * kValuePages[1];
  if (!std::equal(a, a + 4, b)) return std::nullopt;
  if (a[2] != static_cast<std::uint8_t>(~a[0]) || a[3] != static_cast<std::uint8_t>(~a[1]))
    return std::nullopt;
  return static_cast<std::uint16_t>(a[0] | a[1] << 8);
}

void LightCard::setValue(std::uint16_t v) {
  for (int p : kValuePages) {
    std::uint8_t* b = page(p);
    b[0] = static_cast<std::uint8_t>(v);
    b[1] = static_cast<std::uint8_t>(v >> 8);
    b[2] = static_cast<std::uint8_t>(~b[0]);
    b[3] = static_cast<std::uint8_t>(~b[1]);
  }
}

std::uint8_t LightCard::authenticate(KeyType kt, int block, const Key& key) {
  if (!selected()) return status::kMifareNoCard;
  if (block != (kt == KeyType::A ? kKeyAPage : kKeyBPage)) return status::kMifareBadAddress;
  const std::uint8_t* k = mem_.data() + 4 * block;
  if (!access(kt)) {
    setState(CardState::Idle);
    return status::kMifareSectorLocked;
  }
  if (!std::equal(key.begin(), key.end(), k)) {
    setState(CardState::Idle);
    return status::kMifareAuthRefused;
  }
  authenticated(0, kt);
  return status::kOk;
}

std::optional<Card::AuthTarget> LightCard::authTarget(Target what, int address, KeyType kt) const {
  const bool inRange = what == Target::Data    ? address >= 0 && address < kPages
                       : what == Target::Value ? address == 0
                                               : address == 0 || address == 1;
  if (!inRange) return std::nullopt;
  return AuthTarget{0, kt == KeyType::A ? kKeyAPage : kKeyBPage};
}

std::uint8_t LightCard::read(int p, Block& out) {
  if (p < 0 || p >= kPages) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  if (!mayRead(p, r)) return status::kMifareAccessDenied;
  out.fill(0);
  for (int i = 0; i < 2 && p + i < kPages; ++i) {
    const int q = p + i;
    if (!mayRead(q, r)) continue;
    std::copy_n(mem_.data() + 4 * q, 4, out.begin() + 4 * i);
    // Key bytes never read back.
    if (q == kKeyAPage || q == kKeyBPage) std::fill_n(out.begin() + 4 * i, 4, 0);
    if (q == kKeyAPage + 1 || q == kKeyBPage + 1) std::fill_n(out.begin() + 4 * i, 2, 0);
  }
  return status::kOk;
}

std::uint8_t LightCard::write(int p, const Block& data) {
  if (p < 0 || p >= kPages) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  const std::uint8_t need = writeRight(p);
  if (!need || !(r & need)) return status::kMifareAccessDenied;
  std::copy_n(data.begin(), 4, page(p));
  return status::kOk;
}

std::uint8_t LightCard::readValue(int address, std::int32_t& out) {
  if (address != 0) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  auto v = value();
  if (!v) return status::kMifareBadValue;
  out = *v;
  return status::kOk;
}

std::uint8_t LightCard::writeValue(int address, std::int32_t v) {
  if (address != 0) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  if (!(r & kWriteValue)) return status::kMifareAccessDenied;
  if (v < 0 || v > 0xFFFF) return status::kMifareBadValue;
  setValue(static_cast<std::uint16_t>(v));
  return status::kOk;
}

std::uint8_t LightCard::increment(int address, std::int32_t, std::int32_t&) {
  if (address != 0) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  return status::kMifareAccessDenied;  // the value only goes down
}

std::uint8_t LightCard::decrement(int address, std::int32_t amount, std::int32_t& result) {
  if (address != 0) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  auto v = value();
  if (!v) return status::kMifareBadValue;
  if (amount < 0 || amount > *v) return status::kMifareBadValue;
  result = *v - amount;
  setValue(static_cast<std::uint16_t>(result));
  return status::kOk;
}

std::uint8_t LightCard::writeKey(int area, const Key& key) {
  if (area != 0 && area != 1) return status::kMifareBadAddress;
  std::uint8_t r = 0;
  if (std::uint8_t st = rights(r)) return st;
  if (!(r & kWriteKeys)) return status::kMifareAccessDenied;
  std::copy(key.begin(), key.end(), page(area == 0 ? kKeyAPage : kKeyBPage));
  return status::kOk;
}

}  // namespace readersim::mifare
