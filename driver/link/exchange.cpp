// The frame exchange: sync, command frame, acknowledge, poll, response frame.
//
//   host 0x23 · reader 0x45 · host cmd len data… sum · reader 0x67 ·
//   host 0x89 · reader status len data… sum
//
// Each checksum is the XOR of the frame's bytes before it. Every failure of
// the line ends the exchange with the link error of the step that failed.
#include <array>

#include "link/link_state.h"
#include "link/trace.h"
#include "orvix.h"

namespace orvix {

namespace {

constexpr std::uint8_t kSync = 0x23;
constexpr std::uint8_t kReady = 0x45;
constexpr std::uint8_t kAck = 0x67;
constexpr std::uint8_t kPoll = 0x89;

// Byte I/O of one exchange, recording into rec when there is a trace.
class Line {
 public:
  Line(LinkState& s, Recording* rec) : s_(s), rec_(rec) {}

  bool send(std::uint8_t b) {
    const bool ok = SendByte(s_, b) == 0;
    if (ok && rec_) rec_->sent(b);
    return ok;
  }
  bool sendWithRetry(std::uint8_t b) { return send(b) || (!cancelled(s_) && send(b)); }
  std::size_t write(const std::uint8_t* p, std::size_t n) {
    const std::size_t done = WriteComBytes(s_, p, n);
    if (rec_) rec_->sent(p, done);
    return done;
  }
  bool read(std::uint8_t& b) {
    const bool ok = ReadComBytes(s_, &b, 1) == 1;
    if (ok && rec_) rec_->received(b);
    return ok;
  }
  bool readWithRetries(std::uint8_t& b, int attempts) {
    for (int i = 0; i < attempts && !cancelled(s_); ++i)
      if (read(b)) return true;
    return false;
  }
  std::size_t read(std::uint8_t* p, std::size_t n) {
    const std::size_t got = ReadComBytes(s_, p, n);
    if (rec_) rec_->received(p, got);
    return got;
  }

 private:
  LinkState& s_;
  Recording* rec_;
};

std::uint8_t exchange(LinkState& s, Line& line) {
  s.Status = 0;
  s.FrameOut = false;
  if (!line.sendWithRetry(kSync)) return kSyncNotWritten;

  std::uint8_t b = 0;
  if (!line.readWithRetries(b, 2)) return kNoReady;
  if (b != kReady) return kBadReady;

  if (!line.send(s.CmdCode)) return kCmdNotWritten;
  if (!line.send(s.SendLen)) return kLenNotWritten;
  std::uint8_t sum = s.CmdCode ^ s.SendLen;
  if (s.SendLen > 0) {
    if (line.write(s.SendData.data(), s.SendLen) < s.SendLen) return kDataNotWritten;
    for (int i = 0; i < s.SendLen; ++i) sum ^= s.SendData[i];
  }
  if (!line.sendWithRetry(sum)) return kSumNotWritten;
  s.FrameOut = true;

  const int allowance = s.CmdCode == 0 ? s.ProbeReplyTries : s.CmdReplyTries;
  if (allowance < 1) return kNoAck;
  if (!line.readWithRetries(b, allowance)) return kNoAck;
  if (b != kAck) return kBadAck;

  if (!line.send(kPoll)) return kPollNotWritten;

  if (!line.read(b)) return kNoStatus;
  s.Status = b;
  std::uint8_t check = b;
  if (!line.read(b)) return kNoLength;
  s.RecvLen = b;
  check ^= b;
  if (s.RecvLen > 0) {
    // RecvData has room for 255 bytes, the most a length byte can announce.
    const std::size_t got = line.read(s.RecvData.data(), s.RecvLen);
    if (got < s.RecvLen) return kDataShort;
    for (int i = 0; i < s.RecvLen; ++i) check ^= s.RecvData[i];
  }
  if (!line.read(b)) return kNoChecksum;
  if (b != check) return kChecksumMismatch;
  return s.Status;
}

// Hands the exchange to the reader's trace callback.
void callBack(LinkState& s, const std::string& port) {
  orvix_exchange e{};
  e.port = port.c_str();
  e.command = s.CmdCode;
  e.sent = s.Record.sentBytes;
  e.sent_length = s.Record.sentLen;
  e.received = s.Record.recvBytes;
  e.received_length = s.Record.recvLen;
  e.status = s.Status;
  e.milliseconds = s.Record.elapsedMs();
  s.Callback(s.CallbackUser, &e);
}

}  // namespace

std::uint8_t ExchangeFrame(LinkState& s) {
  if (!s.TraceChecked) {
    s.TraceChecked = true;
    s.Tracer.openFromEnvironment();
  }
  const bool traced = s.Tracer.enabled() || s.OwnTrace.enabled() || s.Callback;
  if (traced) s.Record.begin();
  Line line(s, traced ? &s.Record : nullptr);
  s.Status = exchange(s, line);
  if (traced) {
    const std::string port = portLabel(s);
    const char* url = s.ComHandle ? s.ComHandle->url() : nullptr;
    s.Tracer.end(s.Record, port.c_str(), s.LineSpeed, s.CmdCode, s.Status, url);
    s.OwnTrace.end(s.Record, port.c_str(), s.LineSpeed, s.CmdCode, s.Status, url);
    if (s.Callback) callBack(s, port);
  }
  return s.Status;
}

namespace {

// The value commands (0xB1, 0xB2 one-shot, 0xBB, 0xBC on the selected card)
// change the card again each time they are carried out.
bool changesAgain(std::uint8_t cmd) {
  return cmd == 0xB1 || cmd == 0xB2 || cmd == 0xBB || cmd == 0xBC;
}
// The commands that change the card: the value commands, and the block, key
// and value writes (0xAD, 0xAE, 0xB0, 0xBA).
bool changesCard(std::uint8_t cmd) {
  return changesAgain(cmd) || cmd == 0xAD || cmd == 0xAE || cmd == 0xB0 || cmd == 0xBA;
}

// Whether the frame may be sent again after the link error status. A value
// command is repeated only when the failure came before the whole frame,
// checksum included, was written: the reader cannot have acted on it. Every
// other command of the family reads, or writes the same bytes again, and is
// always repeated.
bool repeatable(std::uint8_t cmd, std::uint8_t status) {
  return !changesAgain(cmd) || status <= kSumNotWritten;
}

// After one exchange of the caller's frame: whether the card may now have
// been changed without the caller knowing. Only the reader's answer settles
// it: success says the card holds what was sent; a refusal to the first
// frame says nothing happened; a link error or a cancel after the frame
// leaves it open, and so does a refusal to a frame sent again.
void noteOutcome(LinkState& s, std::uint8_t status) {
  if (!changesCard(s.CmdCode)) return;
  if (status == 0)
    s.MayHaveChanged = false;
  else if (s.FrameOut && (isLinkError(status) || cancelled(s)))
    s.MayHaveChanged = true;
}

}  // namespace

std::uint8_t ExchangeWithRelink(LinkState& s) {
  std::uint8_t status = ExchangeFrame(s);
  noteOutcome(s, status);
  // The relink sends its own probe frame; keep the caller's frame to repeat it.
  const std::uint8_t cmd = s.CmdCode;
  const std::uint8_t len = s.SendLen;
  const std::array<std::uint8_t, 255> data = s.SendData;
  for (int cycle = 0; cycle < kMaxRelinks && isLinkError(status) && !cancelled(s); ++cycle) {
    if (s.Device.empty()) {
      unlinkComImpl(s, s.SettleOnRelink);
      linkComImpl(s, s.PortIndex);
    } else {
      relinkImpl(s, false);  // (an RFC 2217 connection is kept and set again)
    }
    if (cancelled(s)) break;
    // Relinked, but not sent again: the card's state is unknown to the caller.
    if (!repeatable(cmd, status)) return s.Status = status;
    s.CmdCode = cmd;
    s.SendLen = len;
    s.SendData = data;
    status = ExchangeFrame(s);
    noteOutcome(s, status);
  }
  return status;
}

}  // namespace orvix
