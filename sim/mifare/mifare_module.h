// The reader's Mifare module: the firmware side of the RFMifare_ commands
// and the cards in its field.
//
// Reader key memory: one key A and one key B per sector 0-15 (a Mifare
// Light card uses sector 0), FF FF FF FF FF FF at power-up. 0xB4 stores one
// key by type (mode 0 = A, 4 = B); 0xA4 stores the key as A and B of the
// sector. Authentication (0xB8) and the one-shot commands use stored keys.
//
// The one-shot commands (0xAC … 0xB2, 0xAE) find the card by its serial
// (waking it if halted), select it, authenticate the sector with the stored
// key A (then key B if A is refused or does not grant the operation), carry
// the operation out and answer with the block or value as it stands
// afterwards. The card stays selected and authenticated.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/module.h"
#include "mifare/card.h"
#include "mifare/classic_card.h"
#include "mifare/light_card.h"

namespace readersim {

class MifareModule final : public Module {
 public:
  MifareModule();

  std::string name() const override { return "mifare"; }
  bool handles(std::uint8_t cmd) const override;
  Reply execute(std::uint8_t cmd, std::span<const std::uint8_t> data) override;
  bool control(const std::vector<std::string>& words, std::string& out) override;
  std::string help() const override;

  // Cards enter the field idle. Returns nullptr when a card with that serial
  // is already there. Hold the simulator's mutex while it serves.
  mifare::ClassicCard* insertClassic(const mifare::Serial& serial);
  mifare::LightCard* insertLight(const mifare::Serial& serial);
  mifare::Card* insert(std::unique_ptr<mifare::Card> card);
  bool remove(const mifare::Serial& serial);
  void removeAll();
  mifare::Card* card(const mifare::Serial& serial);
  std::size_t cardCount() const { return field_.size(); }

  const mifare::Key& storedKey(mifare::KeyType kt, int sector) const {
    return keys_[static_cast<int>(kt)][sector];
  }
  std::uint8_t authMode() const { return authMode_; }

 private:
  Reply request(std::uint8_t mode);
  Reply antiCollision();
  Reply select(const mifare::Serial& serial);
  Reply identity(bool type);
  mifare::Card* selectedCard();
  // Runs a one-shot command: finds, wakes, selects and authenticates the card,
  // then op(card) returns the status.
  template <class Op>
  std::uint8_t oneShot(const mifare::Serial& serial, mifare::Target what, int address, Op op);

  std::vector<std::unique_ptr<mifare::Card>> field_;
  std::array<std::array<mifare::Key, 16>, 2> keys_;
  std::uint8_t authMode_ = 0;
};

}  // namespace readersim
