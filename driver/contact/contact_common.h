// Helpers shared by the contact-card families: one exchange, the bounded copy
// of a reply into a caller's buffer, and the memory-card behaviour table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "link/reader.h"

namespace orvix::contact {

// Library result codes of the contact families (no exchange, or a judged reply).
inline constexpr int kNotAvailable = 3;      // not for this card type / precondition failed
inline constexpr int kNotSelectedType = 19;  // VerifyIC: not the selected type

// Sends one command and returns the status of the exchange.
inline std::uint8_t exchange(LinkState& s, std::uint8_t cmd, const std::uint8_t* data,
                             std::size_t len) {
  setCommand(s, cmd, data, len);
  return ExchangeFrame(s);
}

// Copies the reply (at most `room` bytes) to dst; returns the bytes copied.
inline std::size_t copyReply(const LinkState& s, std::uint8_t* dst, std::size_t room) {
  const std::size_t n = std::min<std::size_t>(s.RecvLen, room);
  std::copy_n(s.RecvData.begin(), n, dst);
  return n;
}

inline int selectedType(const LinkState& s) { return s.Contact.SelectedCardType; }

// ---- Memory-card behaviour by selected type ---------------------------------

// How VerifyIC recognises the card.
enum class IdentityCheck : std::uint8_t {
  Fails,     // cannot be checked: 19
  Skipped,   // no check: 0
  Address0,  // area 18 address 0, read twice: B7 A0 or 37 A0
  Address6,  // area 18 address 6: 81 then the row's identity byte
};

enum class SecretCheck : std::uint8_t {
  CheckRefused,  // 3
  General,       // the code bytes as given, reply copied back
  Reordered,     // as General; the 4-byte reply swaps its halves into the code
  TwoByte,       // exactly 2 code bytes, reply copied whatever the status
};

enum class SecretAccess : std::uint8_t {
  AccessRefused,  // 3
  InMemory,       // code and counter in area 18 (erase-and-write to change)
  SecurityArea,   // the area-2 form: command data 02
  SecurityArea2,  // the area-2 form with a code of exactly 2 bytes
};

enum class EraseKeyForm : std::uint8_t {
  KeyRefused,  // 3
  FourByte,    // any selector, 4 key bytes
  BySelector,  // selector 4: 6 key bytes, selector 5: 4 key bytes, else 3
  TwoByteKey,  // selector and 2 key bytes, reply copied whatever the status
};

struct CardBehaviour {
  IdentityCheck identity = IdentityCheck::Fails;
  std::uint8_t identityByte = 0;  // second identity byte for Address6
  SecretCheck check = SecretCheck::General;
  SecretAccess readSecret = SecretAccess::AccessRefused;
  SecretAccess modifySecret = SecretAccess::AccessRefused;
  std::uint8_t codeAddress = 0;      // InMemory: code address; the counter follows
  std::uint8_t secretReadCount = 0;  // InMemory: bytes ReadSecret reads at the code
  bool eraseCommand = false;         // EraseCard uses 0x1A with area 18
  EraseKeyForm eraseKey = EraseKeyForm::KeyRefused;
  bool zoneKeys = false;  // CheckZoneSecret available
  int pageSize = 256;     // page of the block transfer
};

// The row for a selected type (an unlisted code behaves as "any other").
const CardBehaviour& behaviourOf(int type);

}  // namespace orvix::contact
