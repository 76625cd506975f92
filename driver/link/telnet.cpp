#include "link/telnet.h"

namespace orvix::telnet {

std::size_t escape(const std::uint8_t* data, std::size_t n, std::uint8_t* out) {
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    out[k++] = data[i];
    if (data[i] == kIac) out[k++] = kIac;
  }
  return k;
}

std::size_t greeting(bool comPort, std::uint8_t* out) {
  const std::uint8_t offers[][2] = {{kWill, kBinary},
                                    {kDo, kBinary},
                                    {kWill, kSuppressGoAhead},
                                    {kDo, kSuppressGoAhead},
                                    {kWill, kComPort}};
  std::size_t k = 0;
  for (std::size_t i = 0; i < (comPort ? 5u : 4u); ++i) {
    out[k++] = kIac;
    out[k++] = offers[i][0];
    out[k++] = offers[i][1];
  }
  return k;
}

std::size_t comPortCommand(std::uint8_t cmd, const std::uint8_t* value, std::size_t n,
                           std::uint8_t* out) {
  std::size_t k = 0;
  out[k++] = kIac;
  out[k++] = kSb;
  out[k++] = kComPort;
  k += escape(&cmd, 1, out + k);
  k += escape(value, n > 4 ? 4 : n, out + k);
  out[k++] = kIac;
  out[k++] = kSe;
  return k;
}

void Decoder::offered(bool comPort) {
  us_[kBinary] = him_[kBinary] = WantYes;
  us_[kSuppressGoAhead] = him_[kSuppressGoAhead] = WantYes;
  if (comPort) us_[kComPort] = WantYes;
}

std::size_t Decoder::feed(const std::uint8_t* in, std::size_t n, std::uint8_t* data) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = in[i];
    switch (state_) {
      case State::Data:
        if (b == kIac)
          state_ = State::Iac;
        else
          data[out++] = b;
        break;
      case State::Iac:
        if (b == kIac) {
          data[out++] = b;
          state_ = State::Data;
        } else {
          command(b);
        }
        break;
      case State::Will:
      case State::Wont:
      case State::Do:
      case State::Dont:
        option(state_, b);
        state_ = State::Data;
        break;
      case State::Sb:
        sub_[0] = b;
        subLen_ = 1;
        subOverflow_ = false;
        state_ = State::SbData;
        break;
      case State::SbData:
        if (b == kIac) {
          state_ = State::SbIac;
        } else if (subLen_ < kSubMax) {
          sub_[subLen_++] = b;
        } else {
          subOverflow_ = true;
        }
        break;
      case State::SbIac:
        if (b == kIac) {
          if (subLen_ < kSubMax)
            sub_[subLen_++] = b;
          else
            subOverflow_ = true;
          state_ = State::SbData;
        } else if (b == kSe) {
          endSub();
          state_ = State::Data;
        } else {
          // A command inside a subnegotiation: the subnegotiation is
          // abandoned and the command taken as one.
          command(b);
        }
        break;
    }
  }
  return out;
}

void Decoder::command(std::uint8_t b) {
  switch (b) {
    case kWill:
      state_ = State::Will;
      break;
    case kWont:
      state_ = State::Wont;
      break;
    case kDo:
      state_ = State::Do;
      break;
    case kDont:
      state_ = State::Dont;
      break;
    case kSb:
      state_ = State::Sb;
      break;
    default:  // NOP, go-ahead, a stray SE and the like carry nothing for us
      state_ = State::Data;
      break;
  }
}

// Option negotiation without loops: a request that changes nothing gets no
// answer, a request we made and the server granted gets none either, and an
// option we do not support is refused once per connection.
void Decoder::option(State verb, std::uint8_t opt) {
  const bool serverSide = verb == State::Will || verb == State::Wont;
  Side& side = serverSide ? him_[opt] : us_[opt];
  const bool enable = verb == State::Will || verb == State::Do;
  const std::uint8_t yes = serverSide ? kDo : kWill;
  const std::uint8_t no = serverSide ? kDont : kWont;
  if (enable) {
    if (side == Yes) return;
    // COM Port Control is ours to offer; the server offering it is refused.
    if (supported(opt) && !(serverSide && opt == kComPort)) {
      if (side == No) answer(yes, opt);
      side = Yes;
      return;
    }
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << ((opt % 4) * 2 + serverSide));
    if (refusedOnce_[opt / 4] & bit) return;
    refusedOnce_[opt / 4] |= bit;
    answer(no, opt);
    return;
  }
  if (!serverSide && opt == kComPort) comPortRefused_ = true;
  if (side == Yes) answer(no, opt);
  side = No;
}

void Decoder::endSub() {
  // COM Port Control answers: option, command (100 + the client's), value.
  if (subOverflow_ || subLen_ < 2 || sub_[0] != kComPort) return;
  const std::uint8_t cmd = sub_[1];
  if (cmd <= kServerOffset || cmd > kServerOffset + kPurgeData) return;
  answers_ |= 1u << (cmd - kServerOffset);
  if (cmd == kServerOffset + kSetBaudRate && subLen_ == 6)
    baud_ = static_cast<std::uint32_t>(sub_[2]) << 24 | static_cast<std::uint32_t>(sub_[3]) << 16 |
            static_cast<std::uint32_t>(sub_[4]) << 8 | sub_[5];
}

void Decoder::answer(std::uint8_t verb, std::uint8_t opt) {
  if (replyLen_ + 3 > kReplyMax) return;
  reply_[replyLen_++] = kIac;
  reply_[replyLen_++] = verb;
  reply_[replyLen_++] = opt;
}

}  // namespace orvix::telnet
