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

namespace orvix {

namespace {

constexpr std::uint8_t kSync = 0x23;
constexpr std::uint8_t kReady = 0x45;
constexpr std::uint8_t kAck = 0x67;
constexpr std::uint8_t kPoll = 0x89;

// Byte I/O of one exchange, recording into the trace when there is one.
class Line {
 public:
  explicit Line(Trace* trace) : trace_(trace) {}

  bool send(std::uint8_t b) {
    const bool ok = SendByte(b) == 0;
    if (ok && trace_) trace_->sent(b);
    return ok;
  }
  bool sendWithRetry(std::uint8_t b) { return send(b) || send(b); }
  std::size_t write(const std::uint8_t* p, std::size_t n) {
    const std::size_t done = WriteComBytes(p, n);
    if (trace_) trace_->sent(p, done);
    return done;
  }
  bool read(std::uint8_t& b) {
    const bool ok = ReadComBytes(&b, 1) == 1;
    if (ok && trace_) trace_->received(b);
    return ok;
  }
  bool readWithRetries(std::uint8_t& b, int attempts) {
    for (int i = 0; i < attempts; ++i)
      if (read(b)) return true;
    return false;
  }
  std::size_t read(std::uint8_t* p, std::size_t n) {
    const std::size_t got = ReadComBytes(p, n);
    if (trace_) trace_->received(p, got);
    return got;
  }

 private:
  Trace* trace_;
};

std::uint8_t exchange(LinkState& s, Line& line) {
  s.Status = 0;
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

}  // namespace

std::uint8_t ExchangeFrame() {
  LinkState& s = link();
  if (!s.TraceChecked) {
    s.TraceChecked = true;
    s.Tracer.openFromEnvironment();
  }
  Trace* trace = s.Tracer.enabled() ? &s.Tracer : nullptr;
  if (trace) trace->begin();
  Line line(trace);
  s.Status = exchange(s, line);
  if (trace)
    trace->end(s.PortIndex, s.LineSpeed, s.CmdCode, s.Status,
               s.ComHandle ? s.ComHandle->url() : nullptr);
  return s.Status;
}

std::uint8_t ExchangeWithRelink() {
  LinkState& s = link();
  std::uint8_t status = ExchangeFrame();
  // The relink sends its own probe frame; keep the caller's frame to repeat it.
  const std::uint8_t cmd = s.CmdCode;
  const std::uint8_t len = s.SendLen;
  const std::array<std::uint8_t, 255> data = s.SendData;
  for (int cycle = 0; cycle < kMaxRelinks && isLinkError(status); ++cycle) {
    unlinkComImpl();
    linkComImpl(s.PortIndex);
    s.CmdCode = cmd;
    s.SendLen = len;
    s.SendData = data;
    status = ExchangeFrame();
  }
  return status;
}

}  // namespace orvix
