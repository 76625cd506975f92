#include "contact/cpu_card.h"

#include <algorithm>
#include <cstdio>

namespace readersim::contact {

namespace {

constexpr std::uint16_t kMasterFile = 0x3F00;
constexpr std::uint8_t kAid[] = {0xF0, 0x4F, 0x52, 0x56, 0x49, 0x58, 0x33, 0x32};  // F0 "ORVIX32"
constexpr std::size_t kMaxResponse = 128;
constexpr std::uint8_t kPcbChaining = 0x20;
constexpr std::uint8_t kPcbNs = 0x40;

CpuCard::Bytes sw(std::uint16_t w) {
  return {static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w & 0xFF)};
}

std::uint8_t lrc(const CpuCard::Bytes& b, std::size_t n) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < n; ++i) x ^= b[i];
  return x;
}

}  // namespace

CpuCard::CpuCard(bool t1, std::string historical, std::uint32_t seed)
    : t1_(t1), random_(seed ? seed : 1) {
  historical.resize(6, ' ');
  if (t1_) {
    atr_ = {0x3B, 0x86, 0x81, 0x31, 0xFE, 0x45};
    atr_.insert(atr_.end(), historical.begin(), historical.end());
    std::uint8_t tck = 0;
    for (std::size_t i = 1; i < atr_.size(); ++i) tck ^= atr_[i];
    atr_.push_back(tck);
  } else {
    atr_ = {0x3B, 0x16, 0x94};
    atr_.insert(atr_.end(), historical.begin(), historical.end());
  }
  Bytes serial(16);
  for (std::size_t i = 0; i < serial.size(); ++i)
    serial[i] = static_cast<std::uint8_t>((seed >> (8 * (i % 4))) + i);
  files_[0x0001] = serial;
  Bytes big(200);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
  files_[0x0002] = big;
}

CpuCard::Bytes CpuCard::reset() {
  reset_ = true;
  cardNs_ = 0;
  hostNs_.clear();
  current_ = -1;
  return atr_;
}

CpuCard::Bytes CpuCard::process(const Bytes& a) {
  if (a.size() < 4) return sw(0x6700);
  const std::uint8_t cla = a[0], ins = a[1], p1 = a[2], p2 = a[3];
  // Case 1: header only; case 2: P3 = Le; cases 3 and 4: P3 = Lc, data, [Le].
  Bytes data;
  int le = -1;
  if (a.size() == 5) {
    le = a[4] == 0 ? 256 : a[4];
  } else if (a.size() > 5) {
    const std::size_t lc = a[4];
    if (a.size() != 5 + lc && a.size() != 6 + lc) return sw(0x6700);
    data.assign(a.begin() + 5, a.begin() + 5 + static_cast<long>(lc));
    if (a.size() == 6 + lc) le = a.back() == 0 ? 256 : a.back();
  }
  if (cla != 0x00) return sw(0x6E00);
  switch (ins) {
    case 0xA4: {  // SELECT by file identifier, or the applet by its AID
      if (p1 == 0x04 && (p2 == 0x00 || p2 == 0x0C)) {
        if (!std::equal(data.begin(), data.end(), std::begin(kAid), std::end(kAid)))
          return sw(0x6A82);
        current_ = -1;
        return sw(0x9000);
      }
      if (p1 != 0 || p2 != 0) return sw(0x6A86);
      if (data.size() != 2) return sw(0x6700);
      const auto fid = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
      if (fid == kMasterFile) {
        current_ = -1;
        return sw(0x9000);
      }
      if (!files_.count(fid)) return sw(0x6A82);
      current_ = fid;
      return sw(0x9000);
    }
    case 0xB0: {  // READ BINARY
      if (!data.empty() || le < 0) return sw(0x6700);
      if (p1 & 0x80) return sw(0x6A86);
      if (current_ < 0) return sw(0x6986);
      const Bytes& f = files_[static_cast<std::uint16_t>(current_)];
      const std::size_t offset = static_cast<std::size_t>(p1 << 8 | p2);
      if (offset > f.size()) return sw(0x6B00);
      const std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(le), kMaxResponse);
      const std::size_t n = std::min(want, f.size() - offset);
      Bytes r(f.begin() + static_cast<long>(offset), f.begin() + static_cast<long>(offset + n));
      const Bytes s =
          sw(n < static_cast<std::size_t>(le) && offset + n == f.size() ? 0x6282 : 0x9000);
      r.insert(r.end(), s.begin(), s.end());
      return r;
    }
    case 0x84: {  // GET CHALLENGE
      if (p1 != 0 || p2 != 0) return sw(0x6A86);
      if (!data.empty() || (le != 4 && le != 8)) return sw(0x6700);
      Bytes r;
      for (int i = 0; i < le; ++i) {
        random_ ^= random_ << 13;
        random_ ^= random_ >> 17;
        random_ ^= random_ << 5;
        r.push_back(static_cast<std::uint8_t>(random_));
      }
      r.push_back(0x90);
      r.push_back(0x00);
      return r;
    }
    default:
      return sw(0x6D00);
  }
}

CpuCard::Bytes CpuCard::block(std::uint8_t pcb, const Bytes& inf) const {
  Bytes b{0x00, pcb, static_cast<std::uint8_t>(inf.size())};
  b.insert(b.end(), inf.begin(), inf.end());
  b.push_back(lrc(b, b.size()));
  return b;
}

CpuCard::Bytes CpuCard::exchangeT1(const Bytes& in) {
  const std::uint8_t nr = static_cast<std::uint8_t>(hostNs_.empty() ? 0 : (hostNs_.back() ^ 1));
  auto rblock = [&](std::uint8_t error) {
    return block(static_cast<std::uint8_t>(0x80 | nr << 4 | error), {});
  };
  if (in.size() < 4 || lrc(in, in.size()) != 0) return rblock(0x01);
  if (in[2] != in.size() - 4) return rblock(0x02);
  const std::uint8_t pcb = in[1];
  const Bytes inf(in.begin() + 3, in.end() - 1);
  if ((pcb & 0xC0) == 0xC0) {
    if (pcb == 0xC1) return block(0xE1, inf);  // IFS request -> IFS response
    return rblock(0x02);
  }
  if (pcb & 0x80) return rblock(0x02);  // an R-block: nothing to repeat here
  if (pcb & kPcbChaining) return rblock(0x02);
  hostNs_.push_back(pcb & kPcbNs ? 1 : 0);
  if (hostNs_.size() > 64) hostNs_.erase(hostNs_.begin());
  const Bytes answer = process(inf);
  const auto out = block(static_cast<std::uint8_t>(cardNs_ ? kPcbNs : 0), answer);
  cardNs_ ^= 1;
  return out;
}

CpuCard::Bytes CpuCard::exchange(const Bytes& in) { return t1_ ? exchangeT1(in) : process(in); }

std::string CpuCard::describe() const {
  std::string s = t1_ ? "T=1" : "T=0";
  s += reset_ ? ", reset" : ", not reset";
  if (t1_ && !hostNs_.empty()) {
    s += ", host N(S)";
    for (int v : hostNs_) s += " " + std::to_string(v);
  }
  return s;
}

}  // namespace readersim::contact
