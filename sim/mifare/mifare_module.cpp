#include "mifare/mifare_module.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/status.h"
#include "core/words.h"
#include "files.h"

namespace readersim {

using mifare::Card;
using mifare::CardState;
using mifare::ClassicCard;
using mifare::Key;
using mifare::KeyType;
using mifare::LightCard;
using mifare::Serial;
using mifare::Target;

namespace mifare {

const char* stateName(CardState s) {
  switch (s) {
    case CardState::Idle:
      return "idle";
    case CardState::Ready:
      return "ready";
    case CardState::Active:
      return "active";
    case CardState::Authenticated:
      return "authenticated";
    case CardState::Halted:
      return "halted";
  }
  return "?";
}

std::string serialText(const Serial& s) { return hexText(s); }

std::optional<Serial> parseSerial(const std::string& text) { return parseHexArray<4>(text); }

}  // namespace mifare

namespace {

// Command bytes and the number of data bytes each carries.
struct CommandShape {
  std::uint8_t cmd;
  std::size_t len;
};
constexpr CommandShape kShapes[] = {
    {0xA4, 7}, {0xA9, 1}, {0xAA, 0}, {0xAB, 0},  {0xAC, 5}, {0xAD, 21}, {0xAE, 12},
    {0xAF, 5}, {0xB0, 9}, {0xB1, 9}, {0xB2, 9},  {0xB4, 8}, {0xB5, 1},  {0xB6, 0},
    {0xB7, 4}, {0xB8, 3}, {0xB9, 1}, {0xBA, 17}, {0xBB, 5}, {0xBC, 5},  {0xBD, 0},
};

Serial serialAt(std::span<const std::uint8_t> d, std::size_t at) {
  return {d[at], d[at + 1], d[at + 2], d[at + 3]};
}
std::int32_t valueAt(std::span<const std::uint8_t> d, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 4; i-- > 0;) v = v << 8 | d[at + i];
  return static_cast<std::int32_t>(v);
}
Key keyAt(std::span<const std::uint8_t> d, std::size_t at) {
  Key k;
  std::copy_n(d.begin() + static_cast<std::ptrdiff_t>(at), 6, k.begin());
  return k;
}
mifare::Block blockAt(std::span<const std::uint8_t> d, std::size_t at) {
  mifare::Block b{};
  std::copy_n(d.begin() + static_cast<std::ptrdiff_t>(at), 16, b.begin());
  return b;
}

Reply fail(std::uint8_t st) { return {st, {}}; }
Reply withBlock(std::uint8_t st, const mifare::Block& b) {
  if (st) return fail(st);
  return {status::kOk, {b.begin(), b.end()}};
}
Reply withValue(std::uint8_t st, std::int32_t v) {
  if (st) return fail(st);
  const auto u = static_cast<std::uint32_t>(v);
  return {status::kOk,
          {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
           static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)}};
}

}  // namespace

MifareModule::MifareModule() {
  for (auto& type : keys_) type.fill(mifare::kTransportKey);
}

bool MifareModule::handles(std::uint8_t cmd) const {
  return std::any_of(std::begin(kShapes), std::end(kShapes),
                     [cmd](const CommandShape& s) { return s.cmd == cmd; });
}

Card* MifareModule::card(const Serial& serial) {
  for (auto& c : field_)
    if (c->serial() == serial) return c.get();
  return nullptr;
}

Card* MifareModule::insert(std::unique_ptr<Card> c) {
  if (!c || card(c->serial())) return nullptr;
  field_.push_back(std::move(c));
  return field_.back().get();
}

ClassicCard* MifareModule::insertClassic(const Serial& serial) {
  return static_cast<ClassicCard*>(insert(std::make_unique<ClassicCard>(serial)));
}

LightCard* MifareModule::insertLight(const Serial& serial) {
  return static_cast<LightCard*>(insert(std::make_unique<LightCard>(serial)));
}

bool MifareModule::remove(const Serial& serial) {
  auto it = std::find_if(field_.begin(), field_.end(),
                         [&](const auto& c) { return c->serial() == serial; });
  if (it == field_.end()) return false;
  field_.erase(it);
  return true;
}

void MifareModule::removeAll() { field_.clear(); }

Card* MifareModule::selectedCard() {
  for (auto& c : field_)
    if (c->selected()) return c.get();
  return nullptr;
}

Reply MifareModule::request(std::uint8_t mode) {
  if (mode > 1) return fail(status::kBadParameter);
  Card* first = nullptr;
  for (auto& c : field_) {
    // "IDLE" (0) wakes only cards that are not halted; "ALL" (1) wakes every
    // card. A woken card is ready and forgets any selection.
    if (c->state() == CardState::Halted && mode == 0) continue;
    c->setState(CardState::Ready);
    if (!first) first = c.get();
  }
  if (!first) return fail(status::kMifareNoCard);
  const std::uint16_t t = first->typeCode();
  return {status::kOk, {static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(t >> 8)}};
}

Reply MifareModule::antiCollision() {
  for (auto& c : field_)
    if (c->state() == CardState::Ready) {
      const Serial s = c->serial();
      return {status::kOk, {s.begin(), s.end()}};
    }
  return fail(status::kMifareNoCard);
}

Reply MifareModule::select(const Serial& serial) {
  if (field_.empty()) return fail(status::kMifareNoCard);
  Card* target = card(serial);
  if (!target) return fail(status::kMifareWrongSerial);
  if (target->state() == CardState::Idle || target->state() == CardState::Halted)
    return fail(status::kMifareNoCard);
  for (auto& c : field_)
    if (c.get() != target && c->selected()) c->setState(CardState::Idle);
  target->setState(CardState::Active);
  return {status::kOk, {}};
}

// The serial or type of the card the reader holds: the selected one, else
// the first that answered a request.
Reply MifareModule::identity(bool type) {
  Card* c = selectedCard();
  if (!c)
    for (auto& f : field_)
      if (f->state() == CardState::Ready) {
        c = f.get();
        break;
      }
  if (!c) return fail(status::kMifareNoCard);
  if (type) {
    const std::uint16_t t = c->typeCode();
    return {status::kOk, {static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(t >> 8)}};
  }
  const Serial s = c->serial();
  return {status::kOk, {s.begin(), s.end()}};
}

template <class Op>
std::uint8_t MifareModule::oneShot(const Serial& serial, Target what, int address, Op op) {
  if (field_.empty()) return status::kMifareNoCard;
  Card* c = card(serial);
  if (!c) return status::kMifareWrongSerial;
  std::uint8_t refused = status::kMifareAuthRefused;
  for (KeyType kt : {KeyType::A, KeyType::B}) {
    auto target = c->authTarget(what, address, kt);
    if (!target) return status::kMifareBadAddress;
    // Wake (as a request for all cards would) and select the card.
    for (auto& other : field_)
      if (other.get() != c && other->selected()) other->setState(CardState::Idle);
    c->setState(CardState::Active);
    const int k = static_cast<int>(kt);
    std::uint8_t st = c->authenticate(kt, target->block, keys_[k][target->sector]);
    if (st == status::kMifareSectorLocked && refused == status::kMifareAuthRefused) refused = st;
    if (st) continue;
    st = op(*c);
    if (st != status::kMifareAccessDenied) return st;
    refused = st;
  }
  return refused;
}

Reply MifareModule::execute(std::uint8_t cmd, std::span<const std::uint8_t> d) {
  const auto* shape = std::find_if(std::begin(kShapes), std::end(kShapes),
                                   [cmd](const CommandShape& s) { return s.cmd == cmd; });
  if (shape == std::end(kShapes)) return fail(status::kUnknownCommand);
  if (d.size() != shape->len) return fail(status::kWrongLength);

  switch (cmd) {
    case 0xA4: {  // transfer a key: key A and key B of a sector
      if (d[0] > 15) return fail(status::kMifareBadAddress);
      keys_[0][d[0]] = keys_[1][d[0]] = keyAt(d, 1);
      return {};
    }
    case 0xA9:  // authentication mode
      if (d[0] > 1) return fail(status::kBadParameter);
      authMode_ = d[0];
      return {};
    case 0xAA:
      return identity(true);
    case 0xAB:
      return identity(false);
    case 0xAC: {  // one-shot read
      mifare::Block b{};
      const int block = d[0];
      const std::uint8_t result =
          oneShot(serialAt(d, 1), Target::Data, block, [&](Card& c) { return c.read(block, b); });
      return withBlock(result, b);
    }
    case 0xAD: {  // one-shot write, answered with the block as it reads now
      mifare::Block b{};
      const int block = d[0];
      const mifare::Block data = blockAt(d, 5);
      const std::uint8_t result = oneShot(serialAt(d, 1), Target::Data, block, [&](Card& c) {
        std::uint8_t st = c.write(block, data);
        if (st == status::kOk && c.read(block, b) != status::kOk) b.fill(0);
        return st;
      });
      return withBlock(result, b);
    }
    case 0xAE: {  // one-shot key change (d[11], the last byte, is not used)
      const int area = d[0];
      const Key key = keyAt(d, 5);
      return fail(oneShot(serialAt(d, 1), Target::KeyArea, area,
                          [&](Card& c) { return c.writeKey(area, key); }));
    }
    case 0xAF: {
      std::int32_t v = 0;
      const int block = d[0];
      const std::uint8_t result = oneShot(serialAt(d, 1), Target::Value, block,
                                          [&](Card& c) { return c.readValue(block, v); });
      return withValue(result, v);
    }
    case 0xB0:
    case 0xB1:
    case 0xB2: {
      const int block = d[0];
      const std::int32_t amount = valueAt(d, 5);
      std::int32_t v = amount;
      const std::uint8_t result = oneShot(serialAt(d, 1), Target::Value, block, [&](Card& c) {
        if (cmd == 0xB0) return c.writeValue(block, amount);
        if (cmd == 0xB1) return c.increment(block, amount, v);
        return c.decrement(block, amount, v);
      });
      return withValue(result, v);
    }
    case 0xB4: {  // load a key into the key memory: mode 0 = key A, 4 = key B
      if (d[0] != 0 && d[0] != 4) return fail(status::kBadParameter);
      if (d[1] > 15) return fail(status::kMifareBadAddress);
      keys_[d[0] / 4][d[1]] = keyAt(d, 2);
      return {};
    }
    case 0xB5:
      return request(d[0]);
    case 0xB6:
      return antiCollision();
    case 0xB7:
      return select(serialAt(d, 0));
    case 0xBD: {
      Card* c = selectedCard();
      if (!c) return fail(status::kMifareNoCard);
      c->setState(CardState::Halted);
      return {};
    }
    default:
      break;
  }

  // Commands on the selected card.
  if (cmd == 0xB8 && d[0] > 1) return fail(status::kBadParameter);
  if (cmd == 0xB8 && d[1] > 15) return fail(status::kMifareBadAddress);
  Card* c = selectedCard();
  if (!c) return fail(status::kMifareNoCard);
  const int block = cmd == 0xB8 ? d[2] : d[0];
  switch (cmd) {
    case 0xB8: {
      const auto kt = static_cast<KeyType>(d[0]);
      return fail(c->authenticate(kt, block, keys_[d[0]][d[1]]));
    }
    case 0xB9: {
      mifare::Block b{};
      return withBlock(c->read(block, b), b);
    }
    case 0xBA:
      return fail(c->write(block, blockAt(d, 1)));
    case 0xBB: {
      std::int32_t r = 0;
      return fail(c->increment(block, valueAt(d, 1), r));
    }
    case 0xBC: {
      std::int32_t r = 0;
      return fail(c->decrement(block, valueAt(d, 1), r));
    }
    default:
      return fail(status::kUnknownCommand);
  }
}

namespace {

// Reads a 1024-byte dump into image; empty, or why not. Only a regular file
// of exactly that size is read: it is opened without waiting (a FIFO or a
// device is refused, never waited on) and its size is checked first.
std::string readDump(const std::string& path, ClassicCard::Image& image) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  std::string err;
  if (fstat(fd, &st) != 0)
    err = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    err = "not a regular file";
  else if (static_cast<std::size_t>(st.st_size) != image.size())
    err = std::to_string(st.st_size) + " bytes; a Mifare 1 dump is " + std::to_string(image.size());
  for (std::size_t got = 0; err.empty() && got < image.size();) {
    const ssize_t n = ::read(fd, image.data() + got, image.size() - got);
    if (n > 0)
      got += static_cast<std::size_t>(n);
    else if (n == 0)
      err = "shorter than it was a moment ago";
    else if (errno != EINTR)
      err = std::strerror(errno);
  }
  ::close(fd);
  return err;
}

std::string cardLine(const Card& c) {
  return std::string(c.kind()) + " " + mifare::serialText(c.serial()) + " " +
         mifare::stateName(c.state());
}

}  // namespace

bool MifareModule::control(const std::vector<std::string>& words, std::string& out) {
  if (words.empty() || words[0] != "mifare") return false;
  const std::string sub = words.size() > 1 ? words[1] : std::string();
  auto serialArg = [&](std::size_t i) -> std::optional<Serial> {
    return i < words.size() ? mifare::parseSerial(words[i]) : std::nullopt;
  };

  if (sub == "insert" && words.size() == 4 && (words[2] == "classic" || words[2] == "light")) {
    auto s = serialArg(3);
    if (!s) {
      out = "error: the serial is 8 hexadecimal digits, bytes as delivered";
      return true;
    }
    Card* c = words[2] == "classic" ? static_cast<Card*>(insertClassic(*s))
                                    : static_cast<Card*>(insertLight(*s));
    out = c ? "inserted " + cardLine(*c)
            : "error: a card " + mifare::serialText(*s) + " is already in the field";
    return true;
  }
  if (sub == "remove" && words.size() <= 3) {
    if (words.size() == 2) {
      out = "removed " + std::to_string(field_.size()) + " card(s)";
      removeAll();
      return true;
    }
    auto s = serialArg(2);
    if (!s) {
      out = "error: the serial is 8 hexadecimal digits, bytes as delivered";
      return true;
    }
    out = remove(*s) ? "removed " + mifare::serialText(*s)
                     : "error: no card " + mifare::serialText(*s) + " in the field";
    return true;
  }
  if (sub == "load" && (words.size() == 3 || words.size() == 4)) {
    std::optional<Serial> s;
    if (words.size() == 4 && !(s = serialArg(3))) {
      out = "error: the serial is 8 hexadecimal digits, bytes as delivered";
      return true;
    }
    ClassicCard::Image image{};
    if (std::string err = readDump(words[2], image); !err.empty()) {
      out = "error: " + words[2] + ": " + err;
      return true;
    }
    auto c = std::make_unique<ClassicCard>(image);
    if (s) c->setSerial(*s);
    const Serial serial = c->serial();
    Card* added = insert(std::move(c));
    out = added ? "loaded " + cardLine(*added) + " from " + words[2]
                : "error: a card " + mifare::serialText(serial) + " is already in the field";
    return true;
  }
  if (sub == "save" && (words.size() == 3 || words.size() == 4)) {
    std::optional<Serial> s;
    if (words.size() == 4 && !(s = serialArg(3))) {
      out = "error: the serial is 8 hexadecimal digits, bytes as delivered";
      return true;
    }
    const ClassicCard* found = nullptr;
    for (auto& c : field_) {
      auto* cc = dynamic_cast<const ClassicCard*>(c.get());
      if (cc && (!s || cc->serial() == *s)) {
        found = cc;
        break;
      }
    }
    if (!found) {
      out = "error: no Mifare 1 card in the field";
      return true;
    }
    // Written whole beside the target and renamed over it; only a regular
    // file is ever replaced.
    const auto& img = found->image();
    std::string error;
    // "-" is a file of that name here (standard output carries the answers).
    const std::string path = words[2] == "-" ? "./-" : words[2];
    if (!files::writeAll({{path, std::string(img.begin(), img.end()), true}}, error)) {
      out = "error: " + error;
      return true;
    }
    out = "saved classic " + mifare::serialText(found->serial()) + " to " + words[2];
    return true;
  }
  if (sub == "list" && words.size() == 2) {
    if (field_.empty()) {
      out = "no card in the field";
      return true;
    }
    out = std::to_string(field_.size()) + " card(s):";
    for (std::size_t i = 0; i < field_.size(); ++i) out += (i ? "; " : " ") + cardLine(*field_[i]);
    return true;
  }
  out =
      "error: mifare insert classic|light SERIAL | remove [SERIAL] | load FILE [SERIAL] | "
      "save FILE [SERIAL] | list";
  return true;
}

std::string MifareModule::help() const {
  return "mifare insert classic SERIAL  a new Mifare 1 card (8 hex digits, bytes as delivered)\n"
         "mifare insert light SERIAL    a new Mifare Light 10 card\n"
         "mifare remove [SERIAL]        one card (or every card) leaves the field\n"
         "mifare load FILE [SERIAL]     a Mifare 1 card from a 1024-byte dump (serial: block 0)\n"
         "mifare save FILE [SERIAL]     writes the Mifare 1 card in the field to a dump\n"
         "mifare list                   the cards in the field and their states";
}

}  // namespace readersim
