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
std::optional<std::uint8_t> replyAttempts(std::uint8_t status) {
  const LinkState& s = link();
  if (isLinkError(status) || s.RecvLen == 0) return std::nullopt;
  return attempts(s.RecvData[0]);
}

}  // namespace

extern "C" ORVIX32_API int ORVIX32_CALL AT1608_Write(int zone, int address, int length,
                                                     unsigned char* data) {
  const CallGuard guard;
  if (!data && length > 0) return kBadArgument;
  if (!validTransfer(zone, address, length)) return kBadArgument;
  std::array<std::uint8_t, 3 + kMaxTransfer> out{};
  out[0] = static_cast<std::uint8_t>(zone);
  out[1] = static_cast<std::uint8_t>(address);
  out[2] = static_cast<std::uint8_t>(length);
  std::copy_n(data, length, out.begin() + 3);
  return exchange(kCmdWrite, out.data(), static_cast<std::size_t>(length) + 3);
}

extern "C" ORVIX32_API int ORVIX32_CALL AT1608_Read(int zone, int address, int length,
                                                    unsigned char* buffer) {
  const CallGuard guard;
  if (!buffer && length > 0) return kBadArgument;
  if (!validTransfer(zone, address, length)) return kBadArgument;
  const std::uint8_t out[3] = {static_cast<std::uint8_t>(zone), static_cast<std::uint8_t>(address),
                               static_cast<std::uint8_t>(length)};
  const std::uint8_t status = exchange(kCmdRead, out, sizeof out);
  // Exactly length bytes, whatever the reader sent (at most 160 of 255).
  if (status == 0) std::copy_n(link().RecvData.begin(), length, buffer);
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL AT1608_Psw(int index, unsigned char* password) {
  const CallGuard guard;
  if (!password) return kBadArgument;
  if (index < 0 || index > kLastPassword) return kBadArgument;
  const std::uint8_t out[4] = {static_cast<std::uint8_t>(index), password[0], password[1],
                               password[2]};
  const std::uint8_t status = exchange(kCmdPassword, out, sizeof out);
  if (const auto count = replyAttempts(status)) password[0] = *count;
  const auto& r = link().RecvData;
  for (int i = 1; i <= 3; ++i) password[i] = status == 0 ? r[i] : 0;
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL AT1608_Authentic(unsigned char* challenge,
                                                         unsigned char* secret) {
  const CallGuard guard;
  if (!challenge || !secret) return kBadArgument;
  at1608::Block identity{};
  if (const int st = AT1608_Read(kIdentityZone, kIdentityAddress, 8, identity.data()); st != 0)
    return st;
  at1608::Block ch{};
  at1608::Block sec{};
  std::copy_n(challenge, 8, ch.begin());
  std::copy_n(secret, 8, sec.begin());
  const at1608::Answers answers = at1608::authenticate(link().Contact.Cipher, identity, sec, ch);

  std::array<std::uint8_t, 16> out{};
  std::copy(ch.begin(), ch.end(), out.begin());
  std::copy(answers.host.begin(), answers.host.end(), out.begin() + 8);
  const std::uint8_t status = exchange(kCmdAuthenticate, out.data(), out.size());
  if (const auto count = replyAttempts(status)) {
    challenge[0] = *count;
    challenge[1] = static_cast<std::uint8_t>('0' + *count);
  }
  if (status != 0) return status;

  // The card's answer follows the counter byte: at most the 8 expected bytes.
  const LinkState& s = link();
  if (s.RecvLen > 1 + answers.expected.size()) return kNotAvailable;
  for (int i = 1; i < s.RecvLen; ++i)
    if (s.RecvData[i] != answers.expected[i - 1]) return kNotAvailable;
  return 0;
}

extern "C" ORVIX32_API int ORVIX32_CALL AT1608_ReadFuse(unsigned char* fuse) {
  const CallGuard guard;
  if (!fuse) return kBadArgument;
  const std::uint8_t status = exchange(kCmdReadFuse, nullptr, 0);
  if (status == 0 && link().RecvLen == 1) *fuse = link().RecvData[0];
  return status;
}

extern "C" ORVIX32_API int ORVIX32_CALL AT1608_Reset(void) {
  const CallGuard guard;
  return exchange(kCmdReset, nullptr, 0);
}
