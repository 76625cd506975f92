// State the contact-card families keep beside the link state.
#pragma once

#include <array>
#include <cstdint>

#include "contact/at1608_cipher.h"

namespace orvix {

struct ContactState {
  // The memory-card type chosen by the caller; 255 = none. Every LinkCom
  // resets it. Kept whole (SelectCard(300) selects 300, which then behaves as
  // any unlisted code).
  std::int32_t SelectedCardType = 255;

  // CPU card and SAM slots (shared by all five): the protocol read from the
  // last answer to reset (1 = T=1, 0 = T=0) and the T=1 send sequence bit.
  std::uint8_t ProtocolT1 = 1;
  std::uint8_t SequenceBit = 0;

  // The APDU being sent: command area, the APDU as sent to the card, and the
  // reader command's outgoing data (the APDU or the T=1 block).
  std::array<std::uint8_t, 4> ApduHeader{};
  std::uint8_t ApduLc = 0;
  std::array<std::uint8_t, 128> ApduData{};
  std::uint8_t ApduLe = 0;
  std::array<std::uint8_t, 88> Apdu{};
  std::uint8_t ApduLen = 0;
  std::array<std::uint8_t, 128> SendBuffer{};
  std::uint8_t SendBufferLen = 0;

  // The card's response data of the last reset or exchange.
  std::array<std::uint8_t, 135> Response{};
  std::uint8_t ResponseCount = 0;

  // The AT1608 cipher's workspace.
  at1608::Registers Cipher{};
};

}  // namespace orvix
