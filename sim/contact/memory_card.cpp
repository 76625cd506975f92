#include "contact/memory_card.h"

#include <algorithm>
#include <cstdio>

#include "core/status.h"
#include "core/words.h"

namespace readersim::contact {

namespace {

constexpr std::uint8_t kMemoryArea = 18;
constexpr std::uint8_t kSecurityArea = 2;
constexpr int kPieceMax = 66;

Reply fail(std::uint8_t st, Bytes data = {}) { return {st, std::move(data)}; }
Reply ok(Bytes data = {}) { return {status::kOk, std::move(data)}; }

// One attempt used: the lowest set bit of the counter is cleared.
std::uint8_t useAttempt(std::uint8_t counter) {
  return static_cast<std::uint8_t>(counter & (counter - 1));
}

}  // namespace

MemoryCard MemoryCard::make(int type) {
  MemoryCard c;
  c.type_ = type;
  c.memory_.assign(type == 4 ? 1024 : 256, 0xFF);
  auto identity = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), c.memory_.begin() + static_cast<long>(at));
    c.identityAt_ = at;
    c.identityLen_ = bytes.size();
  };
  auto securityArea = [&](Bytes code, std::uint8_t full) {
    c.form_ = CodeForm::SecurityArea;
    c.code_ = std::move(code);
    c.fullCounter_ = c.areaCounter_ = full;
  };
  auto inMemory = [&](std::size_t at) {
    c.form_ = CodeForm::InMemory;
    c.codeAt_ = at;
    c.memory_[at] = 0xF0;
    c.memory_[at + 1] = 0xF0;
    c.fullCounter_ = c.memory_[at + 2] = 0x0F;
    c.memory_[at + 3] = 0x00;
    c.erasable_ = true;
  };
  // Type 0 names itself by two bytes at address 0, types 1-4 at address 6.
  constexpr std::uint8_t kSecondIdentityByte[] = {0x05, 0x15, 0x03, 0x13};
  if (type == 0) identity(0, {0xB7, 0xA0});
  if (type >= 1 && type <= 4)
    identity(6, {0x81, kSecondIdentityByte[static_cast<std::size_t>(type - 1)]});
  switch (type) {
    case 0:
    case 15:
    case 17:
      inMemory(type == 0 ? 8 : 10);
      if (type != 17) c.eraseKeys_ = {{1, {Bytes(4, 0xFF)}}, {2, {Bytes(4, 0xFF)}}};
      break;
    case 16:
      inMemory(10);
      c.eraseKeys_ = {{4, {Bytes(6, 0xFF)}}, {5, {Bytes(4, 0xFF)}}};
      break;
    case 4:
    case 25:
    case 26:
      securityArea(Bytes(2, 0xFF), 0xFF);
      if (type == 4) break;
      c.erasable_ = true;
      c.eraseKeys_ = {{1, {Bytes(2, 0xFF)}}, {2, {Bytes(2, 0xFF)}}};
      c.zoneKeys_.assign(4, Key{Bytes(2, 0xFF)});
      c.zoneBits_.assign(4, 0xFF);
      break;
    case 2:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 18:
    case 27:
    case 28:
    case 29:
      securityArea(Bytes(3, 0xFF), 0x07);
      break;
    default:
      break;
  }
  if (type >= 19 && type <= 24) {
    c.pageSize_ = type == 21 ? 264 : 256;
    c.pageMemory_.assign(static_cast<std::size_t>(c.pageSize_) * 1024, 0xFF);
  }
  return c;
}

std::uint8_t MemoryCard::counter() const {
  switch (form_) {
    case CodeForm::InMemory:
      return memory_[codeAt_ + 2];
    case CodeForm::SecurityArea:
      return areaCounter_;
    case CodeForm::None:
      break;
  }
  return 0;
}

bool MemoryCard::setCode(const Bytes& code) {
  if (form_ == CodeForm::SecurityArea && code.size() == code_.size()) {
    code_ = code;
    return true;
  }
  if (form_ == CodeForm::InMemory && code.size() == 2) {
    std::copy(code.begin(), code.end(), memory_.begin() + static_cast<long>(codeAt_));
    return true;
  }
  return false;
}

void MemoryCard::setCounter(std::uint8_t value) {
  if (form_ == CodeForm::InMemory) memory_[codeAt_ + 2] = value;
  if (form_ == CodeForm::SecurityArea) areaCounter_ = value;
}

std::uint8_t MemoryCard::memoryByte(std::size_t address) const {
  const bool code = form_ == CodeForm::InMemory && address >= codeAt_ && address < codeAt_ + 2;
  return code && !verified_ ? 0x00 : memory_[address];
}

bool MemoryCard::isIdentity(std::size_t address) const {
  const bool id = address >= identityAt_ && address < identityAt_ + identityLen_;
  const bool count = form_ == CodeForm::InMemory && address >= codeAt_ + 2 && address < codeAt_ + 4;
  return id || count;
}

Reply MemoryCard::checkSecret(std::span<const std::uint8_t> d) {
  if (form_ == CodeForm::None) return fail(status::kContactNoSuchCode);
  if (locked()) return fail(status::kContactLocked, {0x00});
  const Bytes stored = form_ == CodeForm::InMemory
                           ? Bytes(memory_.begin() + static_cast<long>(codeAt_),
                                   memory_.begin() + static_cast<long>(codeAt_ + 2))
                           : code_;
  // The reader hands the card as many code bytes as it takes; extra bytes
  // are not sent on, missing ones make a wrong code.
  const bool right =
      d.size() >= stored.size() && std::equal(stored.begin(), stored.end(), d.begin());
  setCounter(right ? fullCounter_ : useAttempt(counter()));
  verified_ = right;
  // Counter first; cards with the code in memory add the code read back.
  Bytes reply{counter()};
  if (form_ == CodeForm::InMemory) {
    reply.push_back(memory_[codeAt_ + 3]);
    reply.push_back(memoryByte(codeAt_));
    reply.push_back(memoryByte(codeAt_ + 1));
  }
  return {right ? status::kOk : status::kContactWrongCode, reply};
}

Reply MemoryCard::fuse(std::span<const std::uint8_t> d) {
  if (d.size() != 1) return fail(status::kWrongLength);
  if (form_ != CodeForm::None && !verified_) return fail(status::kContactNotVerified);
  fuse_ = d[0];
  return ok();
}

Reply MemoryCard::read(std::span<const std::uint8_t> d) {
  if (d.size() == 1 && d[0] == kSecurityArea) {
    if (form_ != CodeForm::SecurityArea) return fail(status::kContactNoSuchCode);
    Bytes reply{areaCounter_};
    for (auto b : code_) reply.push_back(verified_ ? b : 0x00);
    return ok(reply);
  }
  if (d.size() != 4) return fail(status::kWrongLength);
  if (d[0] != kMemoryArea) return fail(status::kContactBadAddress);
  const std::size_t at = static_cast<std::size_t>(d[1] << 8 | d[2]);
  const std::size_t count = d[3];
  if (at + count > memory_.size()) return fail(status::kContactBadAddress);
  Bytes reply;
  for (std::size_t i = 0; i < count; ++i) reply.push_back(memoryByte(at + i));
  return ok(reply);
}

std::uint8_t MemoryCard::changeRange(std::span<const std::uint8_t> d, std::size_t& at,
                                     std::size_t& count) const {
  if (d.size() < 4) return status::kWrongLength;
  if (d[0] != kMemoryArea) return status::kContactBadAddress;
  at = static_cast<std::size_t>(d[1] << 8 | d[2]);
  count = d[3];
  if (d.size() != 4 + count) return status::kWrongLength;
  if (at + count > memory_.size()) return status::kContactBadAddress;
  if (form_ != CodeForm::None && !verified_) return status::kContactNotVerified;
  for (std::size_t i = 0; i < count; ++i)
    if (isIdentity(at + i)) return status::kContactReadOnly;
  return status::kOk;
}

Reply MemoryCard::write(std::span<const std::uint8_t> d) {
  if (!d.empty() && d[0] == kSecurityArea && form_ == CodeForm::SecurityArea) {
    if (locked()) return fail(status::kContactLocked);
    if (!verified_) return fail(status::kContactNotVerified);
    if (d.size() - 1 != code_.size()) return fail(status::kWrongLength);
    code_.assign(d.begin() + 1, d.end());
    return ok(code_);
  }
  std::size_t at = 0;
  std::size_t count = 0;
  if (const std::uint8_t st = changeRange(d, at, count); st != status::kOk) return fail(st);
  Bytes reply;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t& cell = memory_[at + i];
    cell = erasable_ ? static_cast<std::uint8_t>(cell & d[4 + i]) : d[4 + i];
    reply.push_back(memoryByte(at + i));
  }
  return ok(reply);
}

Reply MemoryCard::erase(std::span<const std::uint8_t> d) {
  if (!erasable_) return fail(status::kContactWrongCard);
  std::size_t at = 0;
  std::size_t count = 0;
  if (const std::uint8_t st = changeRange(d, at, count); st != status::kOk) return fail(st);
  std::fill_n(memory_.begin() + static_cast<long>(at), count, 0xFF);
  return ok(Bytes(count, 0xFF));
}

Reply MemoryCard::checkKey(Key& key, std::span<const std::uint8_t> value) {
  if (key.counter == 0) return fail(status::kContactLocked, {0x00});
  const bool right = std::equal(value.begin(), value.end(), key.value.begin(), key.value.end());
  key.counter = right ? 0xFF : useAttempt(key.counter);
  return {right ? status::kOk : status::kContactWrongCode, {key.counter}};
}

Reply MemoryCard::checkEraseKey(std::span<const std::uint8_t> d) {
  if (d.empty()) return fail(status::kWrongLength);
  auto it = eraseKeys_.find(d[0]);
  if (it == eraseKeys_.end()) return fail(status::kContactNoSuchCode);
  return checkKey(it->second, d.subspan(1));
}

Reply MemoryCard::checkZoneKey(std::span<const std::uint8_t> d) {
  if (zoneKeys_.empty()) return fail(status::kContactNoSuchCode);
  if (d.size() != 3) return fail(status::kWrongLength);
  if (d[0] >= zoneKeys_.size()) return fail(status::kContactBadAddress);
  return checkKey(zoneKeys_[d[0]], d.subspan(1));
}

Reply MemoryCard::setZoneBits(std::span<const std::uint8_t> d) {
  if (zoneBits_.empty()) return fail(status::kContactNoSuchCode);
  if (d.size() != 2) return fail(status::kWrongLength);
  if (d[0] >= zoneBits_.size()) return fail(status::kContactBadAddress);
  if (!verified_) return fail(status::kContactNotVerified);
  zoneBits_[d[0]] = d[1];
  return ok();
}

Reply MemoryCard::readPiece(std::span<const std::uint8_t> d) {
  if (pageSize_ == 0) return fail(status::kContactWrongCard);
  if (d.size() != 5) return fail(status::kWrongLength);
  const int page = d[0] << 8 | d[1];
  const int offset = d[2] << 8 | d[3];
  const int count = d[4];
  if (count < 1 || count > kPieceMax) return fail(status::kBadParameter);
  if (page >= pages() || offset + count > pageSize_) return fail(status::kContactBadAddress);
  const auto at = pageMemory_.begin() + static_cast<long>(page) * pageSize_ + offset;
  return ok(Bytes(at, at + count));
}

Reply MemoryCard::writePiece(std::span<const std::uint8_t> d) {
  if (pageSize_ == 0) return fail(status::kContactWrongCard);
  if (d.size() < 5) return fail(status::kWrongLength);
  const int page = d[0] << 8 | d[1];
  const int offset = d[2] << 8 | d[3];
  const int count = d[4];
  if (count < 1 || count > kPieceMax) return fail(status::kBadParameter);
  if (d.size() != 5 + static_cast<std::size_t>(count)) return fail(status::kWrongLength);
  if (page >= pages() || offset + count > pageSize_) return fail(status::kContactBadAddress);
  const auto at = pageMemory_.begin() + static_cast<long>(page) * pageSize_ + offset;
  std::copy(d.begin() + 5, d.end(), at);
  return ok(Bytes(at, at + count));
}

std::string MemoryCard::describe() const {
  std::string s = "memory card type " + std::to_string(type_);
  if (form_ == CodeForm::SecurityArea) s += ", code " + hexText(code_, " ");
  if (form_ == CodeForm::InMemory)
    s += ", code " + hexText(std::span(memory_).subspan(codeAt_, 2), " ");
  if (form_ != CodeForm::None) {
    char c[40];
    std::snprintf(c, sizeof c, ", counter %02X%s%s", counter(), locked() ? " (locked)" : "",
                  verified_ ? ", verified" : "");
    s += c;
  }
  if (pageSize_)
    s += ", " + std::to_string(pages()) + " pages of " + std::to_string(pageSize_) + " bytes";
  char f[16];
  std::snprintf(f, sizeof f, ", fuse %02X", fuse_);
  return s + f;
}

}  // namespace readersim::contact
