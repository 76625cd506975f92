// A processor card (the CPU card of the contact slot, or a SAM) speaking
// T=0 or T=1.
//
// Answer to reset: T=0  3B 16 94 <6 historical bytes>;
//                  T=1  3B 86 81 31 FE 45 <6 historical bytes> TCK
// (TD1 = 81: T=1; TD2 = 31: IFSC FE, BWI/CWI 45). The historical bytes are
// "SIMCPU" for the CPU card and "SIMSn " for SAM n.
//
// Files: the master file 3F00 and two transparent files, 0001 (16 bytes:
// the card's serial) and 0002 (200 bytes 00 01 02 …). APDUs: SELECT by file
// identifier (00 A4 00 00 02 FID), SELECT of the card's applet by its AID
// (00 A4 04 00|0C 08 F0 4F 52 56 49 58 33 32, that is F0 "ORVIX32"; another
// AID gives 6A82; the selection leaves no current file), READ BINARY (00 B0 P1 P2 Le, at most 128
// bytes per command, 6282 when the file ends first), GET CHALLENGE
// (00 84 00 00 04 or 08); status words 6700 wrong length, 6A82 file not
// found, 6A86 wrong P1 P2, 6B00 offset beyond the file, 6986 no current
// file, 6D00 unknown instruction, 6E00 class not supported.
//
// Under T=1 each command must be an I-block (NAD PCB LEN INF LRC); the card
// answers with an I-block of its own, its N(S) alternating from 0 after each
// reset. It does not insist on the host's N(S) alternating (hosts that share
// one sequence bit over several slots skip values); it records what it saw.
// A block with a bad LRC or LEN gets an R-block (EDC / other error), an
// IFS request an IFS response; chaining is not supported.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace readersim::contact {

class CpuCard {
 public:
  using Bytes = std::vector<std::uint8_t>;

  CpuCard(bool t1, std::string historical, std::uint32_t seed);

  bool t1() const { return t1_; }
  bool isReset() const { return reset_; }
  const Bytes& answerToReset() const { return atr_; }
  // Cold reset: the answer to reset; the card is then ready for commands.
  Bytes reset();
  // One reader exchange: the APDU (T=0) or block (T=1) in, the answer out.
  Bytes exchange(const Bytes& in);
  // The APDU layer alone: response data followed by SW1 SW2.
  Bytes process(const Bytes& apdu);
  void powerDown() { reset_ = false; }

  // N(S) values of the host's I-blocks since the last reset, in order.
  const std::vector<int>& hostSequence() const { return hostNs_; }
  std::string describe() const;

 private:
  Bytes block(std::uint8_t pcb, const Bytes& inf) const;
  Bytes exchangeT1(const Bytes& in);

  bool t1_;
  Bytes atr_;
  bool reset_ = false;
  int cardNs_ = 0;
  std::vector<int> hostNs_;
  std::map<std::uint16_t, Bytes> files_;
  int current_ = -1;  // current transparent file, -1 = none (the MF)
  std::uint32_t random_;
};

}  // namespace readersim::contact
