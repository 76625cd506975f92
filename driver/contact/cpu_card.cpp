// CPU card (slot 0) and SAM slots 1 … 4: reset with protocol detection, and
// one command APDU per reader command, framed as a plain T=0 command or as a
// T=1 I-block by the protocol of the last answer to reset.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "contact/contact_common.h"
#include "orvix32.h"

using namespace orvix;
using namespace orvix::contact;

namespace {

struct Slot {
  std::uint8_t reset;
  std::uint8_t exchange;
};
constexpr Slot kSlots[5] = {{0x32, 0x33}, {0x3C, 0x3D}, {0x46, 0x47}, {0x50, 0x51}, {0x5A, 0x5B}};

constexpr std::uint8_t kMaxLc = 83;          // the APDU area holds 88 bytes
constexpr std::size_t kFixedLeAt = 133;      // Le of the fixed command layout
constexpr std::uint8_t kPcbSequence = 0x40;  // N(S) of an I-block

// T0 says which of TA1, TB1, TC1, TD1 follow; TD1's low nibble is the protocol.
// An answer that ends before TD1 offers T=0 only.
std::uint8_t detectT1(const std::uint8_t* atr, std::size_t n) {
  if (n < 2 || (atr[1] & 0x80) == 0) return 0;
  const std::size_t td1 = 2 + static_cast<std::size_t>(std::popcount(unsigned(atr[1] & 0x70)));
  if (td1 >= n) return 0;
  return (atr[td1] & 0x0F) == 1 ? 1 : 0;
}

int reset(LinkState& s, int slotIndex, std::uint8_t* answer) {
  if (!answer) return kBadArgument;
  const Slot& slot = kSlots[slotIndex];
  ContactState& c = s.Contact;
  c.SequenceBit = 0;
  c.ResponseCount = 0;
  const std::uint8_t status = exchange(s, slot.reset, nullptr, 0);
  if (status != 0) {
    answer[0] = 0;
    return status;
  }
  answer[0] = s.RecvLen;
  std::copy_n(s.RecvData.begin(), s.RecvLen, answer + 1);
  c.ResponseCount = static_cast<std::uint8_t>(std::min<std::size_t>(s.RecvLen, c.Response.size()));
  std::copy_n(s.RecvData.begin(), c.ResponseCount, c.Response.begin());
  c.ProtocolT1 = detectT1(s.RecvData.data(), s.RecvLen);
  return status;
}

enum class Layout { Fixed, Packed };

// Builds the APDU and the reader command's data from the caller's command.
void frameApdu(ContactState& c, const std::uint8_t* command, Layout layout) {
  std::copy_n(command, 4, c.ApduHeader.begin());
  c.ApduLc = command[4];
  std::copy_n(command + 5, c.ApduLc, c.ApduData.begin());
  c.ApduLe = layout == Layout::Fixed ? command[kFixedLeAt] : command[5 + c.ApduLc];

  std::copy(c.ApduHeader.begin(), c.ApduHeader.end(), c.Apdu.begin());
  if (c.ApduLc != 0) {
    c.Apdu[4] = c.ApduLc;
    std::copy_n(c.ApduData.begin(), c.ApduLc, c.Apdu.begin() + 5);
    c.ApduLen = static_cast<std::uint8_t>(5 + c.ApduLc);
  } else {
    c.Apdu[4] = c.ApduLe;
    c.ApduLen = 5;
  }

  if (c.ProtocolT1 == 0) {
    std::copy_n(c.Apdu.begin(), c.ApduLen, c.SendBuffer.begin());
    c.SendBufferLen = c.ApduLen;
    return;
  }
  c.SendBuffer[0] = 0x00;  // NAD
  c.SendBuffer[1] = c.SequenceBit ? kPcbSequence : 0x00;
  c.SendBuffer[2] = c.ApduLen;
  std::copy_n(c.Apdu.begin(), c.ApduLen, c.SendBuffer.begin() + 3);
  const std::size_t end = 3u + c.ApduLen;
  std::uint8_t lrc = 0;
  for (std::size_t i = 0; i < end; ++i) lrc ^= c.SendBuffer[i];
  c.SendBuffer[end] = lrc;
  c.SendBufferLen = static_cast<std::uint8_t>(end + 1);
}

// Takes the response data and SW1 SW2 out of the reply.
int decodeReply(const LinkState& s, ContactState& c) {
  const std::size_t m = s.RecvLen;
  std::size_t first = 0;
  std::size_t count = 0;
  std::size_t sw = 0;
  if (c.ProtocolT1 == 0) {
    if (m < 2) return ORVIX32_NO_STATUS_WORD;
    count = m - 2;
    sw = m - 2;
  } else {
    if (m < 6) return ORVIX32_NO_STATUS_WORD;
    first = 3;
    count = m - 6;
    sw = m - 3;
  }
  // The response area holds 135 bytes; anything beyond is dropped.
  c.ResponseCount = static_cast<std::uint8_t>(std::min(count, c.Response.size()));
  std::copy_n(s.RecvData.begin() + static_cast<std::ptrdiff_t>(first), c.ResponseCount,
              c.Response.begin());
  return s.RecvData[sw] * 256 + s.RecvData[sw + 1];
}

int apdu(LinkState& s, int slotIndex, std::uint8_t* command, std::uint8_t* response,
         Layout layout) {
  if (!command || !response || command[4] > kMaxLc) return kBadArgument;
  const Slot& slot = kSlots[slotIndex];
  ContactState& c = s.Contact;
  frameApdu(c, command, layout);
  c.ResponseCount = 0;
  const std::uint8_t status = exchange(s, slot.exchange, c.SendBuffer.data(), c.SendBufferLen);
  int result = status;
  if (status == 0) {
    c.SequenceBit ^= 1;
    result = decodeReply(s, c);
  }
  response[0] = c.ResponseCount;
  std::copy_n(c.Response.begin(), c.ResponseCount, response + 1);
  if (layout == Layout::Packed) {
    command[0] = c.SendBufferLen;
    std::copy_n(c.SendBuffer.begin(), c.SendBufferLen, command + 1);
  }
  return result;
}

int protocolType(LinkState& s) { return s.Contact.ProtocolT1 == 1 ? 1 : 0; }

template <int Slot>
int resetSlot(LinkState& s, unsigned char* answer) {
  return reset(s, Slot, answer);
}
template <int Slot, Layout L>
int apduSlot(LinkState& s, unsigned char* command, unsigned char* response) {
  return apdu(s, Slot, command, response, L);
}

// On a reader: the reply goes to a full-size area first, and to the caller's
// buffer only when it fits there.
constexpr std::size_t kAnswerRoom = 256;
constexpr std::size_t kResponseRoom = 136;
constexpr std::size_t kFixedCommand = 134;

int resetSized(LinkState& s, int slot, unsigned char* answer, std::size_t size,
               std::size_t* received) {
  if (received) *received = 0;
  if (!answer) return kBadArgument;
  unsigned char full[kAnswerRoom];
  const int status = reset(s, slot, full);
  const std::size_t n = 1u + full[0];
  if (received) *received = n;
  // A reset that failed tells its failure, not the room its empty answer needs.
  if (n > size) return status != 0 ? status : ORVIX_BUFFER_TOO_SMALL;
  std::copy_n(full, n, answer);
  return status;
}

int apduSized(LinkState& s, int slot, unsigned char* command, unsigned char* response,
              std::size_t size, Layout layout) {
  if (!response) return kBadArgument;
  unsigned char full[kResponseRoom];
  const int result = apdu(s, slot, command, full, layout);
  if (result == kBadArgument) return result;
  // An exchange that failed tells its failure, not the room of its empty reply.
  if (1u + full[0] > size) return s.Status != 0 ? result : ORVIX_BUFFER_TOO_SMALL;
  std::copy_n(full, 1u + full[0], response);
  return result;
}

int commandSized(LinkState& s, int slot, const unsigned char* command, unsigned char* response,
                 std::size_t size) {
  if (!command) return kBadArgument;
  unsigned char copy[kFixedCommand];  // the fixed layout is only read
  std::copy_n(command, kFixedCommand, copy);
  return apduSized(s, slot, copy, response, size, Layout::Fixed);
}

int packedSized(LinkState& s, int slot, unsigned char* command, std::size_t commandSize,
                unsigned char* response, std::size_t size) {
  if (!command) return kBadArgument;
  // Read: 6 + Lc bytes; written back: 1 + the bytes sent (at most 10 + Lc).
  if (commandSize < 5 || commandSize < 10u + command[4]) return kBadArgument;
  return apduSized(s, slot, command, response, size, Layout::Packed);
}

int slotRoom(int slot) { return slot < 0 || slot > 4 ? kBadArgument : 0; }

}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL CPUCardProtocolType(void) { return flat<protocolType>(); }

ORVIX32_API int ORVIX32_CALL CpuCardReset(unsigned char* answer) {
  return flat<resetSlot<0>>(answer);
}
ORVIX32_API int ORVIX32_CALL ProCpuCardCmd(unsigned char* command, unsigned char* response) {
  return flat<apduSlot<0, Layout::Fixed>>(command, response);
}
ORVIX32_API int ORVIX32_CALL ProCpuCard(unsigned char* command, unsigned char* response) {
  return flat<apduSlot<0, Layout::Packed>>(command, response);
}

#define ORVIX32_SAM_SLOT(n)                                                                     \
  ORVIX32_API int ORVIX32_CALL SamCard##n##Reset(unsigned char* answer) {                       \
    return flat<resetSlot<n>>(answer);                                                          \
  }                                                                                             \
  ORVIX32_API int ORVIX32_CALL ProSamCard##n##Cmd(unsigned char* command,                       \
                                                  unsigned char* response) {                    \
    return flat<apduSlot<n, Layout::Fixed>>(command, response);                                 \
  }                                                                                             \
  ORVIX32_API int ORVIX32_CALL ProSamCard##n(unsigned char* command, unsigned char* response) { \
    return flat<apduSlot<n, Layout::Packed>>(command, response);                                \
  }

ORVIX32_SAM_SLOT(1)
ORVIX32_SAM_SLOT(2)
ORVIX32_SAM_SLOT(3)
ORVIX32_SAM_SLOT(4)

#undef ORVIX32_SAM_SLOT

// ---- The same commands on a reader ------------------------------------------

ORVIX32_API int ORVIX32_CALL orvix_cpu_protocol(orvix_reader* r) {
  return queryReader(r, 0, protocolType);
}
ORVIX32_API int ORVIX32_CALL orvix_cpu_reset(orvix_reader* r, int slot, unsigned char* answer,
                                             size_t answer_size, size_t* received) {
  return handle<resetSized>(r, slotRoom(slot), slot, answer, answer_size, received);
}
ORVIX32_API int ORVIX32_CALL orvix_cpu_command(orvix_reader* r, int slot,
                                               const unsigned char* command, size_t command_size,
                                               unsigned char* response, size_t response_size) {
  const int error = slotRoom(slot);
  return handle<commandSized>(
      r, error ? error : room(true, inFits(command, command_size, kFixedCommand)), slot, command,
      response, response_size);
}
ORVIX32_API int ORVIX32_CALL orvix_cpu_packed(orvix_reader* r, int slot, unsigned char* command,
                                              size_t command_size, unsigned char* response,
                                              size_t response_size) {
  return handle<packedSized>(r, slotRoom(slot), slot, command, command_size, response,
                             response_size);
}

}  // extern "C"
