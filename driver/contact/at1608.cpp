// AT1608 secure memory cards: zone read and write, password verification,
// mutual authentication, fuse byte and reset.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "contact/at1608_cipher.h"
#include "contact/contact_common.h"
#include "orvix32.h"

using namespace orvix;
using namespace orvix::contact;

using orvix::LinkState;

static int impl_AT1608_Write(LinkState& s, int zone, int address, int length, unsigned char* data);
static int impl_AT1608_Read(LinkState& s, int zone, int address, int length, unsigned char* buffer);
static int impl_AT1608_Psw(LinkState& s, int index, unsigned char* password);
static int impl_AT1608_Authentic(LinkState& s, unsigned char* challenge, unsigned char* secret);
static int impl_AT1608_ReadFuse(LinkState& s, unsigned char* fuse);
static int impl_AT1608_Reset(LinkState& s);

namespace {

constexpr std::uint8_t kCmdWrite = 0x28;
constexpr std::uint8_t kCmdRead = 0x29;
constexpr std::uint8_t kCmdPassword = 0x2A;
constexpr std::uint8_t kCmdAuthenticate = 0x2B;
constexpr std::uint8_t kCmdReadFuse = 0x2C;
constexpr std::uint8_t kCmdReset = 0x2D;

constexpr int kLastZone = 8;
constexpr int kLastAddress = 255;
constexpr int kMaxTransfer = 160;
constexpr int kLastPassword = 15;
constexpr int kIdentityZone = 8;
constexpr int kIdentityAddress = 40;

bool validTransfer(int zone, int address, int length) {
  return zone >= 0 && zone <= kLastZone && address >= 0 && address <= kLastAddress && length >= 0 &&
         length <= kMaxTransfer;
}

// The attempt counter: its leading one bits, 00 … FF -> 0 … 8; any other
// value has no count.
std::optional<std::uint8_t> attempts(std::uint8_t counter) {
  std::uint8_t pattern = 0;
  for (std::uint8_t n = 0; n <= 8; ++n) {
    if (counter == pattern) return n;
    pattern = static_cast<std::uint8_t>(pattern >> 1 | 0x80);
  }
  return std::nullopt;
}

// The counter byte that leads the reply, when this exchange brought one.
std::optional<std::uint8_t> replyAttempts(const LinkState& s, std::uint8_t status) {
  if (isLinkError(status) || s.RecvLen == 0) return std::nullopt;
  return attempts(s.RecvData[0]);
}

}  // namespace

static int impl_AT1608_Write(LinkState& s, int zone, int address, int length, unsigned char* data) {
  if (!data && length > 0) return kBadArgument;
  if (!validTransfer(zone, address, length)) return kBadArgument;
  std::array<std::uint8_t, 3 + kMaxTransfer> out{};
  out[0] = static_cast<std::uint8_t>(zone);
  out[1] = static_cast<std::uint8_t>(address);
  out[2] = static_cast<std::uint8_t>(length);
  std::copy_n(data, length, out.begin() + 3);
  return exchange(s, kCmdWrite, out.data(), static_cast<std::size_t>(length) + 3);
}

static int impl_AT1608_Read(LinkState& s, int zone, int address, int length,
                            unsigned char* buffer) {
  if (!buffer && length > 0) return kBadArgument;
  if (!validTransfer(zone, address, length)) return kBadArgument;
  const std::uint8_t out[3] = {static_cast<std::uint8_t>(zone), static_cast<std::uint8_t>(address),
                               static_cast<std::uint8_t>(length)};
  const std::uint8_t status = exchange(s, kCmdRead, out, sizeof out);
  // Exactly length bytes, whatever the reader sent (at most 160 of 255).
  if (status == 0) std::copy_n(s.RecvData.begin(), length, buffer);
  return status;
}

static int impl_AT1608_Psw(LinkState& s, int index, unsigned char* password) {
  if (!password) return kBadArgument;
  if (index < 0 || index > kLastPassword) return kBadArgument;
  const std::uint8_t out[4] = {static_cast<std::uint8_t>(index), password[0], password[1],
                               password[2]};
  const std::uint8_t status = exchange(s, kCmdPassword, out, sizeof out);
  if (const auto count = replyAttempts(s, status)) password[0] = *count;
  const auto& r = s.RecvData;
  for (int i = 1; i <= 3; ++i) password[i] = status == 0 ? r[i] : 0;
  return status;
}

static int impl_AT1608_Authentic(LinkState& s, unsigned char* challenge, unsigned char* secret) {
  if (!challenge || !secret) return kBadArgument;
  at1608::Block identity{};
  if (const int st = impl_AT1608_Read(s, kIdentityZone, kIdentityAddress, 8, identity.data());
      st != 0)
    return st;
  at1608::Block ch{};
  at1608::Block sec{};
  std::copy_n(challenge, 8, ch.begin());
  std::copy_n(secret, 8, sec.begin());
  const at1608::Answers answers = at1608::authenticate(s.Contact.Cipher, identity, sec, ch);

  std::array<std::uint8_t, 16> out{};
  std::copy(ch.begin(), ch.end(), out.begin());
  std::copy(answers.host.begin(), answers.host.end(), out.begin() + 8);
  const std::uint8_t status = exchange(s, kCmdAuthenticate, out.data(), out.size());
  if (const auto count = replyAttempts(s, status)) {
    challenge[0] = *count;
    challenge[1] = static_cast<std::uint8_t>('0' + *count);
  }
  if (status != 0) return status;

  // The card's answer follows the counter byte: at most the 8 expected bytes.
  if (s.RecvLen > 1 + answers.expected.size()) return kNotAvailable;
  for (int i = 1; i < s.RecvLen; ++i)
    if (s.RecvData[i] != answers.expected[i - 1]) return kNotAvailable;
  return 0;
}

static int impl_AT1608_ReadFuse(LinkState& s, unsigned char* fuse) {
  if (!fuse) return kBadArgument;
  const std::uint8_t status = exchange(s, kCmdReadFuse, nullptr, 0);
  if (status == 0 && s.RecvLen == 1) *fuse = s.RecvData[0];
  return status;
}

static int impl_AT1608_Reset(LinkState& s) { return exchange(s, kCmdReset, nullptr, 0); }

extern "C" {

ORVIX32_API int ORVIX32_CALL AT1608_Write(int zone, int address, int length, unsigned char* data) {
  return flat<impl_AT1608_Write>(zone, address, length, data);
}

ORVIX32_API int ORVIX32_CALL AT1608_Read(int zone, int address, int length, unsigned char* buffer) {
  return flat<impl_AT1608_Read>(zone, address, length, buffer);
}

ORVIX32_API int ORVIX32_CALL AT1608_Psw(int index, unsigned char* password) {
  return flat<impl_AT1608_Psw>(index, password);
}

ORVIX32_API int ORVIX32_CALL AT1608_Authentic(unsigned char* challenge, unsigned char* secret) {
  return flat<impl_AT1608_Authentic>(challenge, secret);
}

ORVIX32_API int ORVIX32_CALL AT1608_ReadFuse(unsigned char* fuse) {
  return flat<impl_AT1608_ReadFuse>(fuse);
}

ORVIX32_API int ORVIX32_CALL AT1608_Reset(void) { return flat<impl_AT1608_Reset>(); }

}  // extern "C"

// ---- The same commands on a reader ------------------------------------------

namespace {

std::size_t positive(int length) { return length > 0 ? static_cast<std::size_t>(length) : 0; }

// AT1608_Write sends the caller's bytes unchanged: a copy keeps them const.
int writeConst(LinkState& s, int zone, int address, int length, const unsigned char* data) {
  if (!data) return impl_AT1608_Write(s, zone, address, length, nullptr);
  std::array<unsigned char, 256> copy{};
  std::copy_n(data, std::min<std::size_t>(positive(length), copy.size()), copy.begin());
  return impl_AT1608_Write(s, zone, address, length, copy.data());
}

int authenticateConst(LinkState& s, unsigned char* challenge, const unsigned char* secret) {
  if (!secret) return kBadArgument;
  unsigned char copy[8];
  std::copy_n(secret, 8, copy);
  return impl_AT1608_Authentic(s, challenge, copy);
}

}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL orvix_at1608_write(orvix_reader* r, int zone, int address, int length,
                                                const unsigned char* data, size_t data_size) {
  return handle<writeConst>(r, room(true, inFits(data, data_size, positive(length))), zone, address,
                            length, data);
}
ORVIX32_API int ORVIX32_CALL orvix_at1608_read(orvix_reader* r, int zone, int address, int length,
                                               unsigned char* buffer, size_t buffer_size) {
  return handle<impl_AT1608_Read>(r, room(outFits(buffer, buffer_size, positive(length))), zone,
                                  address, length, buffer);
}
ORVIX32_API int ORVIX32_CALL orvix_at1608_password(orvix_reader* r, int index,
                                                   unsigned char* password, size_t password_size) {
  return handle<impl_AT1608_Psw>(r, room(outFits(password, password_size, 4)), index, password);
}
ORVIX32_API int ORVIX32_CALL orvix_at1608_authenticate(orvix_reader* r, unsigned char* challenge,
                                                       size_t challenge_size,
                                                       const unsigned char* secret,
                                                       size_t secret_size) {
  return handle<authenticateConst>(
      r, room(outFits(challenge, challenge_size, 8), inFits(secret, secret_size, 8)), challenge,
      secret);
}
ORVIX32_API int ORVIX32_CALL orvix_at1608_read_fuse(orvix_reader* r, unsigned char* fuse,
                                                    size_t fuse_size) {
  return handle<impl_AT1608_ReadFuse>(r, room(outFits(fuse, fuse_size, 1)), fuse);
}
ORVIX32_API int ORVIX32_CALL orvix_at1608_reset(orvix_reader* r) {
  return handle<impl_AT1608_Reset>(r, 0);
}

}  // extern "C"
