// The contact slot and the four SAM slots of the simulated reader.
//
// The contact slot starts as a card rack: it holds whichever card the host
// addresses, a memory card of the selected type (one per type, each keeping
// its state), the AT1608 card, or the CPU card (T=0). "contact insert" puts
// one particular card in the slot instead; commands for any other kind of
// card then get kContactWrongCard, and VerifyIC sees that card's own
// identity bytes whatever type is selected. SAM slot 1 holds a T=0 SAM and
// slot 2 a T=1 SAM at start; slots 3 and 4 are empty.
//
// The reader keeps the selected type (0 … 30, 255 = none at start) and the
// slot's power; memory-card commands need the card powered (PowerOn), and
// PowerOff ends a verified code session. CPU card and SAMs need a reset
// before their first APDU.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contact/at1608_card.h"
#include "contact/cpu_card.h"
#include "contact/memory_card.h"
#include "core/module.h"

namespace readersim::contact {

class ContactModule final : public Module {
 public:
  enum class Slot { Empty, Rack, Memory, At1608, Cpu };

  ContactModule();

  std::string name() const override { return "contact"; }
  bool handles(std::uint8_t cmd) const override;
  Reply execute(std::uint8_t cmd, std::span<const std::uint8_t> data) override;
  bool control(const std::vector<std::string>& words, std::string& out) override;
  std::string help() const override;

  // For tests (hold the simulator's mutex while the service runs).
  void rack();
  void insert(MemoryCard card);
  void insert(At1608Card card);
  void insert(CpuCard card);
  void remove();
  void insertSam(int slot, CpuCard card);  // slot 1 … 4
  void removeSam(int slot);
  Slot slot() const { return slot_; }
  int selectedType() const { return selected_; }
  int power() const { return power_; }
  // The memory card the host addresses now (nullptr: none).
  MemoryCard* memoryCard();
  At1608Card* at1608();
  CpuCard* cpu();
  CpuCard* sam(int slot);

 private:
  Reply memoryCommand(std::uint8_t cmd, std::span<const std::uint8_t> d);
  Reply at1608Command(std::uint8_t cmd, std::span<const std::uint8_t> d);
  Reply cpuCommand(int slot, bool reset, std::span<const std::uint8_t> d);
  std::string describe() const;
  std::string describeSams() const;

  Slot slot_ = Slot::Rack;
  int selected_ = 255;
  int power_ = 0;  // 0 off, 1 on, 2 standby
  std::map<int, MemoryCard> rackCards_;
  std::optional<MemoryCard> memory_;
  std::optional<At1608Card> at1608_;
  std::optional<CpuCard> cpu_;
  std::array<std::optional<CpuCard>, 4> sams_;
};

}  // namespace readersim::contact
