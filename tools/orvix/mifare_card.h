// The card steps of orvix/ops with the tool's failures (Failure, with exit
// codes) in place of the operations' errors, for code written against them.
#pragma once

#include "common.h"
#include "orvix/ops/dump.h"

namespace orvix::mifare {

using ops::Block;
using ops::dataRights;
using ops::decodeAccess;
using ops::decodeValue;
using ops::Dump;
using ops::encodeValue;
using ops::Format;
using ops::formatFor;
using ops::formatNamed;
using ops::isTrailer;
using ops::kBlocks;
using ops::Key;
using ops::KeyFile;
using ops::kSectors;
using ops::locksKeysForever;
using ops::trailerOf;
using ops::trailerRights;
using ops::Value;
using ops::writeDump;

// Runs f, turning an operation's Error into a Failure.
template <class F>
auto asFailure(F f) {
  try {
    return f();
  } catch (const ops::Error& e) {
    throw Failure(exitOf(e), e.what(), e.code);
  }
}

// (A template, so that it is the better match for a name given as text.)
template <class Name>
Dump readDump(const std::string& bytes, Format f, const Name& name) {
  return asFailure([&] { return ops::readDump(bytes, f, std::string(name)); });
}

class Card {
 public:
  explicit Card(orvix_reader* r = nullptr) : card_(r ? r : reader()) {}
  void wake() {
    asFailure([&] { return card_.wake(), 0; });
  }
  bool authenticate(int s, int kt, const Key& k) {
    return asFailure([&] { return card_.authenticate(s, kt, k); });
  }
  int read(int b, Block& out) {
    return asFailure([&] { return card_.read(b, out); });
  }
  int write(int b, const Block& d) {
    return asFailure([&] { return card_.write(b, d); });
  }
  int step(int b, std::int32_t amount, bool inc) {
    return asFailure([&] { return card_.step(b, amount, inc); });
  }
  ops::Card& card() { return card_; }

 private:
  ops::Card card_;
};

struct RestoreOptions {
  std::set<int> sectors;
  bool withTrailers = false, force = false;
};
struct DumpReport {
  int sectorsRead = 0, keysFound = 0;
  std::vector<int> unread;
  std::vector<std::string> errors;
};
// A partial dump (blocks not read left out), as the service gives it.
Dump dumpCard(Card& card, const KeyFile& keys, Progress& progress, DumpReport& report);
int restoreCard(Card& card, const Dump& d, const KeyFile& keys, const RestoreOptions& o,
                Progress& progress);
void checkTrailer(const Block& t, int sector, bool force);

}  // namespace orvix::mifare
