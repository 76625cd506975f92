// libifd-orvix: the reader as a pcsc-lite IFD handler (interface version 3).
//
// One reader link (an orvix_reader) serves six card slots: the contact CPU
// card slot, the four SAM slots and the contactless field. A reader.conf.d
// entry names a port as orvix_open takes it ("COM1", "/dev/ttyUSB0",
// "tcp://HOST:PORT", "rfc2217://HOST:PORT"), optionally after a slot word
// and a colon (cpu, sam1 … sam4, contactless, or all: "sam1:COM1"; pcscd
// takes a name without a colon for a file that must exist): without one, or
// with "all", the entry
// is one PC/SC reader with all six slots (slot n = Kind n); with one it is a
// reader of that slot alone, so each slot can carry its own friendly name.
// Entries naming the same port share one link.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvix.h"

namespace orvix::ifd {

using Bytes = std::vector<std::uint8_t>;

enum class Kind { Cpu, Sam1, Sam2, Sam3, Sam4, Contactless };
constexpr int kKinds = 6;
constexpr std::size_t kKeySlots = 32;  // key numbers of the load-keys command

// What the handler knows of one slot of the reader.
struct Slot {
  bool powered = false;  // PC/SC powered it up and has not powered it down
  bool present = false;  // as last seen
  int protocol = -1;     // contact slots: 0 (T=0) or 1 (T=1) from the last answer to reset
  int apdus = 0;         // APDUs since that reset
  Bytes atr;
  // Contactless: the card's serial and type as the reader delivered them,
  // and the keys loaded by number (the reader's volatile key memory).
  std::array<std::uint8_t, 4> uid{};
  std::uint16_t type = 0;
  std::array<std::array<std::uint8_t, 6>, kKeySlots> keys{};
  std::bitset<kKeySlots> loaded;
};

// One port and the slots behind it. Every use holds mu: pcscd's threads
// (one per slot and the event threads) never talk over the link at once.
struct Link {
  explicit Link(std::string d) : device(std::move(d)) {}
  ~Link();
  // Stops the call running on the link, from any thread.
  void cancel();
  // Closes the reader held (if any) and holds r instead. Holds mu.
  void setReader(orvix_reader* r);
  std::string device;
  std::mutex mu;
  std::mutex cancelMu;             // guards reader against cancel()
  orvix_reader* reader = nullptr;  // null while the reader is unreachable
  long long nextRelinkMs = 0;      // when the next relink may be tried
  std::array<Slot, kKinds> slots;
};

// Links the port when it is not linked (at most one attempt a second);
// false when no reader answers. Holds link.mu.
bool linked(Link& link);
// A link error (or a cancelled call) ends the link: every slot reads empty
// until a relink. Returns true when code was such an error.
bool dropOnLinkError(Link& link, int code);

// Contact slots (cpu.cpp).
long contactPower(Link& link, Kind kind, bool up, Bytes& atr);
long contactPresence(Link& link, Kind kind);
long contactTransmit(Link& link, Kind kind, const std::uint8_t* tx, std::size_t txLength,
                     std::uint8_t* rx, std::size_t& rxLength);

// Contactless field (storage.cpp).
long fieldPower(Link& link, bool up, Bytes& atr);
long fieldPresence(Link& link);
long fieldTransmit(Link& link, const std::uint8_t* tx, std::size_t txLength, std::uint8_t* rx,
                   std::size_t& rxLength);
// The ATR PC/SC gives a storage card of the reader's type code.
Bytes storageAtr(std::uint16_t type);
// The answer to one class FF storage command: data and SW1 SW2.
Bytes storageCommand(Link& link, const std::uint8_t* apdu, std::size_t length);

}  // namespace orvix::ifd
