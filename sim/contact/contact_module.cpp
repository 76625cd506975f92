#include "contact/contact_module.h"

#include "core/status.h"
#include "core/words.h"

namespace readersim::contact {

namespace {

constexpr int kLastType = 30;
constexpr std::uint8_t kNoType = 255;

// Reset and exchange command bytes of slot 0 (CPU card) and SAM slots 1 … 4.
constexpr std::uint8_t kResetCmd[5] = {0x32, 0x3C, 0x46, 0x50, 0x5A};
constexpr std::uint8_t kApduCmd[5] = {0x33, 0x3D, 0x47, 0x51, 0x5B};

Reply fail(std::uint8_t st) { return {st, {}}; }

CpuCard makeCpu(bool t1) { return CpuCard(t1, "SIMCPU", 0x43505530u); }
CpuCard makeSam(int slot, bool t1) {
  return CpuCard(t1, "SIMS" + std::to_string(slot) + " ",
                 0x53414D30u + static_cast<unsigned>(slot));
}

// "option=value" words after the fixed ones.
bool option(const std::string& word, const char* name, std::string& value) {
  const std::string prefix = std::string(name) + "=";
  if (word.rfind(prefix, 0) != 0) return false;
  value = word.substr(prefix.size());
  return true;
}

}  // namespace

ContactModule::ContactModule() {
  rack();
  sams_[0] = makeSam(1, false);
  sams_[1] = makeSam(2, true);
}

bool ContactModule::handles(std::uint8_t cmd) const {
  switch (cmd) {
    case 0x02:
    case 0x03:
    case 0x0A:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x14:
    case 0x15:
    case 0x18:
    case 0x19:
    case 0x1A:
    case 0x1B:
    case 0x1C:
    case 0x23:
    case 0x24:
      return true;
    default:
      break;
  }
  if (cmd >= 0x28 && cmd <= 0x2D) return true;
  for (int i = 0; i < 5; ++i)
    if (cmd == kResetCmd[i] || cmd == kApduCmd[i]) return true;
  return false;
}

void ContactModule::rack() {
  slot_ = Slot::Rack;
  power_ = 0;
  rackCards_.clear();
  memory_.reset();
  at1608_ = At1608Card();
  cpu_ = makeCpu(false);
}

void ContactModule::insert(MemoryCard card) {
  remove();
  memory_ = std::move(card);
  slot_ = Slot::Memory;
}

void ContactModule::insert(At1608Card card) {
  remove();
  at1608_ = std::move(card);
  slot_ = Slot::At1608;
}

void ContactModule::insert(CpuCard card) {
  remove();
  cpu_ = std::move(card);
  slot_ = Slot::Cpu;
}

void ContactModule::remove() {
  slot_ = Slot::Empty;
  power_ = 0;
  rackCards_.clear();
  memory_.reset();
  at1608_.reset();
  cpu_.reset();
}

void ContactModule::insertSam(int slot, CpuCard card) { sams_[slot - 1] = std::move(card); }
void ContactModule::removeSam(int slot) { sams_[slot - 1].reset(); }

MemoryCard* ContactModule::memoryCard() {
  if (slot_ == Slot::Memory) return &*memory_;
  if (slot_ != Slot::Rack || selected_ > kLastType) return nullptr;
  auto it = rackCards_.find(selected_);
  if (it == rackCards_.end()) it = rackCards_.emplace(selected_, MemoryCard::make(selected_)).first;
  return &it->second;
}

At1608Card* ContactModule::at1608() {
  return (slot_ == Slot::Rack || slot_ == Slot::At1608) && at1608_ ? &*at1608_ : nullptr;
}

CpuCard* ContactModule::cpu() {
  return (slot_ == Slot::Rack || slot_ == Slot::Cpu) && cpu_ ? &*cpu_ : nullptr;
}

CpuCard* ContactModule::sam(int slot) { return sams_[slot - 1] ? &*sams_[slot - 1] : nullptr; }

Reply ContactModule::execute(std::uint8_t cmd, std::span<const std::uint8_t> d) {
  switch (cmd) {
    case 0x02:  // power on
      if (slot_ == Slot::Empty) return fail(status::kContactNoCard);
      power_ = 1;
      return {};
    case 0x03:  // power off: every session ends
      power_ = 0;
      for (auto& [type, card] : rackCards_) card.powerOff();
      if (memory_) memory_->powerOff();
      if (cpu_) cpu_->powerDown();
      if (at1608_) at1608_->reset();
      return {};
    case 0x0A:  // select the card type
      if (d.size() != 1) return fail(status::kWrongLength);
      if (d[0] > kLastType) return fail(status::kContactUnknownType);
      selected_ = d[0];
      return {};
    case 0x0D:  // inquire: selected type, card present, power
      return {status::kOk,
              {static_cast<std::uint8_t>(selected_),
               static_cast<std::uint8_t>(slot_ != Slot::Empty), static_cast<std::uint8_t>(power_)}};
    default:
      break;
  }
  if (cmd >= 0x28 && cmd <= 0x2D) return at1608Command(cmd, d);
  for (int i = 0; i < 5; ++i) {
    if (cmd == kResetCmd[i]) return cpuCommand(i, true, d);
    if (cmd == kApduCmd[i]) return cpuCommand(i, false, d);
  }
  return memoryCommand(cmd, d);
}

Reply ContactModule::memoryCommand(std::uint8_t cmd, std::span<const std::uint8_t> d) {
  if (slot_ == Slot::Empty) return fail(status::kContactNoCard);
  MemoryCard* card = memoryCard();
  if (!card) return fail(status::kContactWrongCard);
  if (power_ == 0) return fail(status::kContactNotPowered);
  power_ = 1;  // any command wakes the card from standby
  switch (cmd) {
    case 0x0C:
      return card->checkSecret(d);
    case 0x0E:
      return card->fuse(d);
    case 0x14:
      return card->read(d);
    case 0x15:
      return card->write(d);
    case 0x18:
      return card->checkZoneKey(d);
    case 0x19:
      return card->checkEraseKey(d);
    case 0x1A:
      return card->erase(d);
    case 0x1B:
      return card->setZoneBits(d);
    case 0x1C:
      if (!d.empty()) return fail(status::kWrongLength);
      power_ = 2;
      return {};
    case 0x23:
      return card->writePiece(d);
    case 0x24:
      return card->readPiece(d);
    default:
      return fail(status::kUnknownCommand);
  }
}

Reply ContactModule::at1608Command(std::uint8_t cmd, std::span<const std::uint8_t> d) {
  if (slot_ == Slot::Empty) return fail(status::kContactNoCard);
  At1608Card* card = at1608();
  if (!card) return fail(status::kContactWrongCard);
  switch (cmd) {
    case 0x28:
      return card->write(d);
    case 0x29:
      return card->read(d);
    case 0x2A:
      return card->password(d);
    case 0x2B:
      return card->authenticate(d);
    case 0x2C:
      return d.empty() ? card->readFuse() : fail(status::kWrongLength);
    default:
      return d.empty() ? card->reset() : fail(status::kWrongLength);
  }
}

Reply ContactModule::cpuCommand(int slot, bool reset, std::span<const std::uint8_t> d) {
  CpuCard* card = slot == 0 ? cpu() : sam(slot);
  if (!card) {
    const bool otherCard = slot == 0 && (slot_ == Slot::Memory || slot_ == Slot::At1608);
    return fail(otherCard ? status::kContactWrongCard : status::kContactNoCard);
  }
  if (reset) {
    if (!d.empty()) return fail(status::kWrongLength);
    if (slot == 0) power_ = 1;
    return {status::kOk, card->reset()};
  }
  if (!card->isReset()) return fail(status::kContactNotPowered);
  return {status::kOk, card->exchange(Bytes(d.begin(), d.end()))};
}

std::string ContactModule::describe() const {
  std::string s = "contact: ";
  switch (slot_) {
    case Slot::Empty:
      s += "slot empty";
      break;
    case Slot::Rack:
      s += "card rack";
      break;
    case Slot::Memory:
      s += memory_->describe();
      break;
    case Slot::At1608:
      s += at1608_->describe();
      break;
    case Slot::Cpu:
      s += "CPU card " + cpu_->describe();
      break;
  }
  s +=
      ", selected type " + (selected_ == kNoType ? std::string("none") : std::to_string(selected_));
  static const char* const kPower[] = {"off", "on", "standby"};
  s += ", power " + std::string(kPower[power_]);
  if (slot_ == Slot::Rack) {
    for (const auto& [type, card] : rackCards_) s += "; " + card.describe();
    s += "; " + at1608_->describe() + "; CPU card " + cpu_->describe();
  }
  return s;
}

std::string ContactModule::describeSams() const {
  std::string s = "sam:";
  for (int i = 0; i < 4; ++i) {
    s += " " + std::to_string(i + 1) + "=";
    s += sams_[i] ? sams_[i]->describe() : "empty";
    if (i < 3) s += ";";
  }
  return s;
}

bool ContactModule::control(const std::vector<std::string>& words, std::string& out) {
  if (words.empty()) return false;
  const std::string verb = words.size() > 1 ? words[1] : "";
  if (words[0] == "sam") {
    if (verb == "list" && words.size() == 2) {
      out = describeSams();
      return true;
    }
    // 0 = no valid slot number given.
    const int slot = words.size() > 2 ? parseInt(words[2], 1, 4).value_or(0) : 0;
    if (verb == "insert" && slot && words.size() == 4 && (words[3] == "t0" || words[3] == "t1")) {
      insertSam(slot, makeSam(slot, words[3] == "t1"));
      out = describeSams();
      return true;
    }
    if (verb == "remove" && slot && words.size() == 3) {
      removeSam(slot);
      out = describeSams();
      return true;
    }
    out = "error: sam insert <1-4> t0|t1 | sam remove <1-4> | sam list";
    return true;
  }
  if (words[0] != "contact") return false;
  if ((verb == "list" || verb == "show") && words.size() == 2) {
    out = describe();
    return true;
  }
  if (verb == "remove" && words.size() == 2) {
    remove();
    out = describe();
    return true;
  }
  if (verb == "rack" && words.size() == 2) {
    rack();
    out = describe();
    return true;
  }
  if (verb == "insert" && words.size() >= 3) {
    const std::string& what = words[2];
    if (what == "cpu" && words.size() == 4 && (words[3] == "t0" || words[3] == "t1")) {
      insert(makeCpu(words[3] == "t1"));
      out = describe();
      return true;
    }
    if (what == "at1608") {
      At1608Card card;
      for (std::size_t i = 3; i < words.size(); ++i) {
        std::string v;
        std::optional<Bytes> b;
        if (option(words[i], "secret", v) && (b = parseHexBytes(v)) && b->size() == 8) {
          std::copy(b->begin(), b->end(), card.secret().begin());
        } else if (option(words[i], "identity", v) && (b = parseHexBytes(v)) && b->size() == 8) {
          At1608Card::Block8 id{};
          std::copy(b->begin(), b->end(), id.begin());
          card.setIdentity(id);
        } else {
          out = "error: contact insert at1608 [secret=<16 hex digits>] [identity=<16 hex digits>]";
          return true;
        }
      }
      insert(std::move(card));
      out = describe();
      return true;
    }
    if (const auto type = parseInt(what, 0, kLastType)) {
      MemoryCard card = MemoryCard::make(*type);
      for (std::size_t i = 3; i < words.size(); ++i) {
        std::string v;
        if (option(words[i], "code", v)) {
          const Bytes b = parseHexBytes(v).value_or(Bytes{});
          if (!b.empty() && card.setCode(b)) continue;
        } else if (option(words[i], "counter", v)) {
          const Bytes b = parseHexBytes(v).value_or(Bytes{});
          if (b.size() == 1 && card.codeForm() != CodeForm::None) {
            card.setCounter(b[0]);
            continue;
          }
        }
        out =
            "error: contact insert <type 0-30> [code=<hex, the card's code length>] "
            "[counter=<2 hex digits>]";
        return true;
      }
      insert(std::move(card));
      out = describe();
      return true;
    }
  }
  out =
      "error: contact insert <type 0-30> [code=HEX] [counter=HH] | contact insert at1608 "
      "[secret=HEX] [identity=HEX] | contact insert cpu t0|t1 | contact rack | contact remove | "
      "contact list";
  return true;
}

std::string ContactModule::help() const {
  return "contact insert <type 0-30> [code=HEX] [counter=HH]  a memory card of that type\n"
         "contact insert at1608 [secret=HEX16] [identity=HEX16]  an AT1608 card\n"
         "contact insert cpu t0|t1     a CPU card answering T=0 or T=1\n"
         "contact rack                 every card at once, picked by the command (the start)\n"
         "contact remove               empty the contact slot\n"
         "contact list                 what the contact slot holds\n"
         "sam insert <1-4> t0|t1       a SAM into a SAM slot\n"
         "sam remove <1-4>             empty a SAM slot\n"
         "sam list                     what the SAM slots hold\n";
}

}  // namespace readersim::contact
