// The Telnet layer of rfc2217:// ports: a byte-level state machine without
// any socket. It escapes data for the server (0xFF doubled), builds the COM
// Port Control commands, and takes the server's bytes apart into line data,
// option negotiation and COM Port Control answers.
//
// Bounded against any server: a subnegotiation keeps at most kSubMax bytes
// (the rest is skipped up to its end), answers to the server wait in a fixed
// buffer (and each refusal of an unknown option is sent once per connection),
// and nothing ever allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvix::telnet {

inline constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                              kSb = 250, kSe = 240;
inline constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

// COM Port Control commands from the client; the server answers each with
// the same number plus 100.
enum ComCommand : std::uint8_t {
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Longest escaped form of n data bytes.
constexpr std::size_t escapedSize(std::size_t n) { return 2 * n; }
// Copies data to out (room: escapedSize(n)) with every 0xFF doubled; returns
// the escaped length.
std::size_t escape(const std::uint8_t* data, std::size_t n, std::uint8_t* out);

// The client's offers at connect: binary both ways, no go-ahead both ways,
// and (comPort) the COM Port Control option. out has room for 15 bytes.
std::size_t greeting(bool comPort, std::uint8_t* out);

// IAC SB COM-PORT cmd value… IAC SE with the value escaped. value is at most
// 4 bytes; out has room for 14 bytes.
std::size_t comPortCommand(std::uint8_t cmd, const std::uint8_t* value, std::size_t n,
                           std::uint8_t* out);

class Decoder {
 public:
  static constexpr std::size_t kSubMax = 16;
  static constexpr std::size_t kReplyMax = 96;

  // Marks the offers greeting() made as waiting for the server's answer.
  void offered(bool comPort);
  // Takes n bytes from the server. Line data goes to data (room: n bytes);
  // returns how many data bytes were written there. Answers to the server
  // collect in reply().
  std::size_t feed(const std::uint8_t* in, std::size_t n, std::uint8_t* data);

  const std::uint8_t* reply() const { return reply_; }
  std::size_t replyLength() const { return replyLen_; }
  void clearReply() { replyLen_ = 0; }

  // COM Port Control answers seen since the last clearAnswers(): bit c for
  // the answer to client command c.
  std::uint32_t answers() const { return answers_; }
  void clearAnswers() { answers_ = 0; }
  // The rate the server last answered SET-BAUDRATE with.
  std::uint32_t answeredBaud() const { return baud_; }
  // The server said DONT COM-PORT: it has no port control.
  bool comPortRefused() const { return comPortRefused_; }

 private:
  enum class State : std::uint8_t { Data, Iac, Will, Wont, Do, Dont, Sb, SbData, SbIac };
  enum Side : std::uint8_t { No, WantYes, Yes };

  void command(std::uint8_t b);
  void option(State verb, std::uint8_t opt);
  void endSub();
  void answer(std::uint8_t verb, std::uint8_t opt);
  // An option both sides may use; the rest is refused.
  static bool supported(std::uint8_t opt) {
    return opt == kBinary || opt == kSuppressGoAhead || opt == kComPort;
  }

  State state_ = State::Data;
  Side us_[256]{};                  // options we use (WILL/WONT from us)
  Side him_[256]{};                 // options the server uses (DO/DONT from us)
  std::uint8_t refusedOnce_[64]{};  // 2 bits per option: WONT sent, DONT sent
  std::uint8_t sub_[kSubMax]{};
  std::size_t subLen_ = 0;
  bool subOverflow_ = false;
  std::uint8_t reply_[kReplyMax]{};
  std::size_t replyLen_ = 0;
  std::uint32_t answers_ = 0;
  std::uint32_t baud_ = 0;
  bool comPortRefused_ = false;
};

}  // namespace orvix::telnet
