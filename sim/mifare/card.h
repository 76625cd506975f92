// A contactless card in the simulated reader's field: its protocol state and
// the memory operations the reader's firmware carries out on it. The module
// (mifare_module.h) plays the reader: it finds, selects and authenticates
// cards; each card model decides what its memory allows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace readersim::mifare {

// The 4 serial bytes in the order the reader delivers them.
using Serial = std::array<std::uint8_t, 4>;
using Key = std::array<std::uint8_t, 6>;
using Block = std::array<std::uint8_t, 16>;

inline constexpr Key kTransportKey{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

enum class KeyType : std::uint8_t { A = 0, B = 1 };

// Idle: in the field, not woken. Ready: answered a request. Active: selected.
// Authenticated: selected and authenticated for one sector (key area).
// Halted: sent to sleep; only a request for all cards wakes it.
enum class CardState { Idle, Ready, Active, Authenticated, Halted };

const char* stateName(CardState s);

// What a one-shot command addresses: a data block (page), a value, or a key
// area (Mifare 1: sector; Mifare Light: key type).
enum class Target { Data, Value, KeyArea };

class Card {
 public:
  virtual ~Card() = default;

  virtual std::uint16_t typeCode() const = 0;  // answered to request and type read
  virtual const char* kind() const = 0;        // "classic" or "light"
  virtual Serial serial() const = 0;

  CardState state() const { return state_; }
  // Moves the card to a state of the protocol; anything but Authenticated
  // forgets the authentication.
  void setState(CardState s) {
    state_ = s;
    if (s != CardState::Authenticated) authArea_ = -1;
  }
  bool selected() const {
    return state_ == CardState::Active || state_ == CardState::Authenticated;
  }

  // Authenticates with key (of type kt) for the key area that block names.
  // Only a selected card takes it. On failure the card falls back to Idle
  // and must be requested and selected again.
  virtual std::uint8_t authenticate(KeyType kt, int block, const Key& key) = 0;

  // Where a one-shot command on address authenticates with key type kt: the
  // sector of the reader's key memory and the block to name. nullopt when the
  // address is out of range for the card.
  struct AuthTarget {
    int sector;
    int block;
  };
  virtual std::optional<AuthTarget> authTarget(Target what, int address, KeyType kt) const = 0;

  // Memory operations on an authenticated card; each returns a reader
  // status (0 = done).
  virtual std::uint8_t read(int block, Block& out) = 0;
  virtual std::uint8_t write(int block, const Block& data) = 0;
  virtual std::uint8_t readValue(int block, std::int32_t& value) = 0;
  virtual std::uint8_t writeValue(int block, std::int32_t value) = 0;
  virtual std::uint8_t increment(int block, std::int32_t amount, std::int32_t& result) = 0;
  virtual std::uint8_t decrement(int block, std::int32_t amount, std::int32_t& result) = 0;
  // Writes a new key into the key area (see Target::KeyArea).
  virtual std::uint8_t writeKey(int area, const Key& key) = 0;

 protected:
  // Key area the card is authenticated for (-1 = none) and with which key.
  int authArea_ = -1;
  KeyType authKey_ = KeyType::A;

  void authenticated(int area, KeyType kt) {
    state_ = CardState::Authenticated;
    authArea_ = area;
    authKey_ = kt;
  }
  bool authenticatedFor(int area) const {
    return state_ == CardState::Authenticated && authArea_ == area;
  }

 private:
  CardState state_ = CardState::Idle;
};

std::string serialText(const Serial& s);                     // "12345678"
std::optional<Serial> parseSerial(const std::string& text);  // 8 hex digits

}  // namespace readersim::mifare
