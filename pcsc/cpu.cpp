// The contact CPU card slot and the four SAM slots.
//
// The library frames each APDU by the protocol of the last answer to reset
// of any slot (the reader keeps one protocol flag for its five slots). An
// exchange on a slot whose card speaks the other protocol therefore first
// sets the flag again by a reset that loses nothing: of a card of that
// protocol that has had no APDU since its own reset (the slot's own card
// first), or that PC/SC holds unpowered. When there is none the APDU is
// refused (a communication error) rather than sent misframed or after a
// reset that would silently end the card's session. The T=1 sequence bit
// is the library's too, shared by the five slots.
extern "C" {
#include <ifdhandler.h>
}

#include <algorithm>
#include <cstring>

#include "ifd.h"

namespace orvix::ifd {

namespace {

constexpr std::size_t kMaxData = 255;  // the reader's response count is one byte

int librarySlot(Kind kind) { return static_cast<int>(kind); }

// The protocol an answer to reset selects, as the library reads it.
int atrProtocol(const Bytes& atr) {
  if (atr.size() < 2 || !(atr[1] & 0x80)) return 0;
  std::size_t at = 2;
  for (int bit = 4; bit < 7; ++bit)
    if (atr[1] & (1 << bit)) ++at;
  return at < atr.size() && (atr[at] & 0x0F) == 1 ? 1 : 0;
}

// Resets the slot's card; 0, or the library's result.
int reset(Link& link, Kind kind) {
  Slot& s = link.slots[static_cast<int>(kind)];
  unsigned char answer[256];
  size_t received = 0;
  const int st = orvix_cpu_reset(link.reader, librarySlot(kind), answer, sizeof answer, &received);
  dropOnLinkError(link, st);
  if (st != 0 || received < 1) {
    s.present = false;
    s.protocol = -1;
    return st ? st : ORVIX_NO_STATUS_WORD;
  }
  s.atr.assign(answer + 1, answer + received);
  if (s.atr.size() > MAX_ATR_SIZE) s.atr.resize(MAX_ATR_SIZE);
  s.protocol = atrProtocol(s.atr);
  s.present = true;
  s.apdus = 0;
  return 0;
}

// Brings the reader's framing to the slot's protocol (see the top).
bool frameFor(Link& link, Kind kind) {
  const int want = link.slots[static_cast<int>(kind)].protocol;
  if (orvix_cpu_protocol(link.reader) == want) return true;
  for (int i = 0; i < 5; ++i) {  // the slot itself first
    const int k = (static_cast<int>(kind) + i) % 5;
    const Slot& other = link.slots[k];
    if (other.protocol != want || (other.apdus > 0 && (i == 0 || other.powered))) continue;
    reset(link, static_cast<Kind>(k));
    if (!link.reader) return false;
    if (orvix_cpu_protocol(link.reader) == want) return true;
  }
  return false;
}

// Whether a contact slot other than kind is in a session (APDUs since its
// reset) that a change of the reader's framing would break.
bool sessionElsewhere(const Link& link, Kind kind) {
  for (int k = 0; k < 5; ++k)
    if (k != static_cast<int>(kind) && link.slots[k].powered && link.slots[k].apdus > 0)
      return true;
  return false;
}

// Whether the slot holds a card. The contact slot is asked (Inquire); a SAM
// slot is only known by its reset, which is tried while PC/SC holds the slot
// unpowered and the reset cannot change the framing under another slot's
// session (its card's protocol is the reader's now, or no session runs).
bool probe(Link& link, Kind kind) {
  Slot& s = link.slots[static_cast<int>(kind)];
  if (kind == Kind::Cpu) {
    int type = 0, present = 0, power = 0;
    const int st = orvix_inquire(link.reader, &type, &present, &power);
    if (dropOnLinkError(link, st)) return false;
    s.present = st == 0 && present != 0;
    // A card PC/SC powered that the slot holds unpowered was taken out and
    // one put in between two looks: it reads as removed once.
    if (!s.present)
      s.powered = false;
    else if (s.powered && power == 0)
      s.powered = s.present = false;
    return s.present;
  }
  if (s.powered) return s.present;
  const bool harmless =
      s.protocol == orvix_cpu_protocol(link.reader) || !sessionElsewhere(link, kind);
  if (harmless) reset(link, kind);
  return s.present;
}

}  // namespace

long contactPower(Link& link, Kind kind, bool up, Bytes& atr) {
  Slot& s = link.slots[static_cast<int>(kind)];
  s.powered = false;
  if (!up) {
    if (kind == Kind::Cpu && dropOnLinkError(link, orvix_power_off(link.reader)))
      return IFD_COMMUNICATION_ERROR;
    return IFD_SUCCESS;
  }
  const int st = reset(link, kind);
  if (!link.reader) return IFD_COMMUNICATION_ERROR;
  if (st != 0) return IFD_ERROR_POWER_ACTION;
  s.powered = true;
  atr = s.atr;
  return IFD_SUCCESS;
}

long contactPresence(Link& link, Kind kind) {
  return probe(link, kind) ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
}

long contactTransmit(Link& link, Kind kind, const std::uint8_t* tx, std::size_t txLength,
                     std::uint8_t* rx, std::size_t& rxLength) {
  Slot& s = link.slots[static_cast<int>(kind)];
  const std::size_t room = rxLength;
  rxLength = 0;
  if (!s.powered) return IFD_ICC_NOT_PRESENT;
  // Short APDUs only (cases 1 to 4): header, then Lc and data, or Le.
  if (txLength < 4) return IFD_COMMUNICATION_ERROR;
  // In/out: the library writes back the bytes it sent (a T=1 block: 4 more).
  unsigned char command[10 + 255] = {};
  std::memcpy(command, tx, 4);
  std::size_t lc = 0, le = 0;
  if (txLength == 5) {
    le = tx[4];
  } else if (txLength > 5) {
    lc = tx[4];
    if (lc == 0 || (txLength != 5 + lc && txLength != 6 + lc)) {
      if (room < 2) return IFD_ERROR_INSUFFICIENT_BUFFER;
      rx[0] = 0x67, rx[1] = 0x00, rxLength = 2;  // extended or malformed: wrong length
      return IFD_SUCCESS;
    }
    if (txLength == 6 + lc) le = tx[5 + lc];
  }
  command[4] = static_cast<unsigned char>(lc);
  std::memcpy(command + 5, tx + 5, lc);
  command[5 + lc] = static_cast<unsigned char>(le);
  if (!frameFor(link, kind)) {
    if (!link.reader || !s.present) return IFD_ICC_NOT_PRESENT;
    return IFD_COMMUNICATION_ERROR;
  }
  unsigned char response[1 + kMaxData] = {};
  const int result = orvix_cpu_packed(link.reader, librarySlot(kind), command, sizeof command,
                                      response, sizeof response);
  if (dropOnLinkError(link, result)) return IFD_COMMUNICATION_ERROR;
  if (result < 0x100 || result > 0xFFFF) {
    // A reader status (no card, not powered) or a reply without status words:
    // the session is over either way. Whether a card is still there is asked
    // of the contact slot, and learnt from a fresh reset of a SAM.
    const bool there = kind == Kind::Cpu ? probe(link, kind) : reset(link, kind) == 0;
    if (!link.reader) return IFD_COMMUNICATION_ERROR;
    return there ? IFD_COMMUNICATION_ERROR : IFD_ICC_NOT_PRESENT;
  }
  ++s.apdus;
  const std::size_t n = response[0];
  if (room < n + 2) return IFD_ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(rx, response + 1, n);
  rx[n] = static_cast<std::uint8_t>(result >> 8);
  rx[n + 1] = static_cast<std::uint8_t>(result & 0xFF);
  rxLength = n + 2;
  return IFD_SUCCESS;
}

}  // namespace orvix::ifd
