#include "rf5550/rf5550_module.h"

#include <algorithm>
#include <cstdio>

#include "core/status.h"
#include "core/words.h"

namespace readersim::rf5550 {

namespace {

constexpr std::uint8_t kRead = 0x64;
constexpr std::uint8_t kWrite = 0x65;
constexpr std::uint8_t kConfigure = 0x66;
constexpr std::uint8_t kWake = 0x67;
constexpr std::uint8_t kReadAfterWake = 0x68;
constexpr std::uint8_t kWriteAfterWake = 0x69;

Reply fail(std::uint8_t st) { return {st, {}}; }

}  // namespace

Tag Tag::factory() {
  Tag t;
  t.blocks[kConfigBlock] = {0xE7, 0x00, 0x00, 0x00};
  return t;
}

bool Tag::passwordMatches(const std::uint8_t* password) const {
  return std::equal(password, password + 4, blocks[kPasswordBlock].begin());
}

Rf5550Module::Rf5550Module() : tag_(Tag::factory()) {}

void Rf5550Module::insert(const Tag& tag) {
  tag_ = tag;
  tag_.awake = false;
  inField_ = true;
}

void Rf5550Module::insert() {
  tag_.awake = false;
  inField_ = true;
}

void Rf5550Module::remove() {
  inField_ = false;
  tag_.awake = false;
}

Reply Rf5550Module::execute(std::uint8_t cmd, std::span<const std::uint8_t> data) {
  switch (cmd) {
    case kRead:
      return read(data, false);
    case kReadAfterWake:
      return read(data, true);
    case kWrite:
      return write(data, false);
    case kWriteAfterWake:
      return write(data, true);
    case kConfigure:
      return configure(data);
    case kWake:
      return wake(data);
    default:
      return fail(status::kUnknownCommand);
  }
}

// 0x64: block.  0x68: password[4], block.
Reply Rf5550Module::read(std::span<const std::uint8_t> data, bool withWake) {
  if (data.size() != (withWake ? 5u : 1u)) return fail(status::kWrongLength);
  if (!inField_) return fail(status::kRf5550NoTag);
  if (withWake) {
    if (!tag_.passwordMatches(data.data())) return fail(status::kRf5550WrongPassword);
    tag_.awake = true;
  } else if (!answers()) {
    return fail(status::kRf5550NoTag);
  }
  const int block = data.back();
  if (block >= kBlocks || (block != kConfigBlock && block > tag_.maxBlock()))
    return fail(status::kRf5550BadBlock);
  if (!withWake && block == kPasswordBlock && tag_.passwordMode())
    return fail(status::kRf5550ReadProtected);
  const Block& b = tag_.blocks[static_cast<std::size_t>(block)];
  return {status::kOk, {b.begin(), b.end()}};
}

// password[4], block, data[4], option.
Reply Rf5550Module::write(std::span<const std::uint8_t> data, bool withWake) {
  if (data.size() != 10) return fail(status::kWrongLength);
  if (!inField_) return fail(status::kRf5550NoTag);
  const bool passwordOk = tag_.passwordMatches(data.data());
  if (withWake) {
    if (!passwordOk) return fail(status::kRf5550WrongPassword);
    tag_.awake = true;
  } else if (!answers()) {
    return fail(status::kRf5550NoTag);
  }
  const int block = data[4];
  if (block >= kBlocks) return fail(status::kRf5550BadBlock);
  if (tag_.passwordMode() && !passwordOk) return fail(status::kRf5550WrongPassword);
  const auto i = static_cast<std::size_t>(block);
  if (tag_.locked[i]) return fail(status::kRf5550Locked);
  std::copy_n(data.begin() + 5, 4, tag_.blocks[i].begin());
  if (data[9] & 1) tag_.locked[i] = true;
  const Block& b = tag_.blocks[i];
  return {status::kOk, {b.begin(), b.end()}};
}

// password[4], configuration byte, option.
Reply Rf5550Module::configure(std::span<const std::uint8_t> data) {
  if (data.size() != 6) return fail(status::kWrongLength);
  if (!answers()) return fail(status::kRf5550NoTag);
  if (tag_.passwordMode() && !tag_.passwordMatches(data.data()))
    return fail(status::kRf5550WrongPassword);
  if (tag_.locked[kConfigBlock]) return fail(status::kRf5550Locked);
  tag_.blocks[kConfigBlock][0] = data[4];
  if (data[5] & 1) tag_.locked[kConfigBlock] = true;
  return {status::kOk, {}};
}

// password[4].
Reply Rf5550Module::wake(std::span<const std::uint8_t> data) {
  if (data.size() != 4) return fail(status::kWrongLength);
  if (!inField_) return fail(status::kRf5550NoTag);
  if (!tag_.passwordMatches(data.data())) return fail(status::kRf5550WrongPassword);
  tag_.awake = true;
  return {status::kOk, {}};
}

std::string Rf5550Module::describe() const {
  std::string s = inField_ ? "tag in field" : "no tag in field";
  s += tag_.awake ? ", awake" : ", asleep";
  char cfg[64];
  std::snprintf(cfg, sizeof cfg, "; config %02X (max block %d, password mode %s, wake mode %s)",
                tag_.config(), tag_.maxBlock(), tag_.passwordMode() ? "on" : "off",
                tag_.wakeMode() ? "on" : "off");
  s += cfg;
  s += "; blocks";
  for (int i = 0; i < kBlocks; ++i) {
    const auto u = static_cast<std::size_t>(i);
    s += " " + std::to_string(i) + "=" + hexText(tag_.blocks[u]) + (tag_.locked[u] ? "L" : "");
  }
  return s;
}

bool Rf5550Module::control(const std::vector<std::string>& words, std::string& out) {
  if (words.empty() || words[0] != "rf5550") return false;
  const std::string verb = words.size() > 1 ? words[1] : "";
  if (verb == "insert") {
    if (words.size() == 2) {
      insert();
    } else if (words.size() == 3 && words[2] == "new") {
      insert(Tag::factory());
    } else if (words.size() == 2 + kBlocks) {
      Tag t;
      for (int i = 0; i < kBlocks; ++i) {
        auto b = parseHexArray<4>(words[static_cast<std::size_t>(2 + i)]);
        if (!b) {
          out = "error: block " + std::to_string(i) + " is not 8 hexadecimal digits";
          return true;
        }
        t.blocks[static_cast<std::size_t>(i)] = *b;
      }
      insert(t);
    } else {
      out = "error: rf5550 insert [new | <block0> … <block7>]";
      return true;
    }
    out = "rf5550: " + describe();
    return true;
  }
  if (verb == "remove" && words.size() == 2) {
    remove();
    out = "rf5550: tag removed";
    return true;
  }
  if (verb == "show" && words.size() == 2) {
    out = "rf5550: " + describe();
    return true;
  }
  out = "error: rf5550 insert [new | <block0> … <block7>] | remove | show";
  return true;
}

std::string Rf5550Module::help() const {
  return "rf5550 insert       the RF5550 tag back into the field (asleep)\n"
         "rf5550 insert new   a factory tag (config E7, password 00000000)\n"
         "rf5550 insert <b0> … <b7>  a tag with these 8 blocks (8 hex digits each;\n"
         "                    b0 byte 0 = configuration, b7 = password)\n"
         "rf5550 remove       the tag leaves the field\n"
         "rf5550 show         the tag's blocks, locks, configuration and wake state";
}

}  // namespace readersim::rf5550
