// The whole card as one unit of work: the dump, and the restore of a dump.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "orvix/ops/card.h"
#include "orvix/ops/control.h"

namespace orvix::ops {

struct DumpOptions {
  KeyFile keys;
  // Blocks that could not be read end the dump as an error unless partial
  // is set; a partial dump marks each of them as not read.
  bool partial = false;
};

struct DumpResult {
  Dump dump;
  std::string serial;  // 8 hexadecimal digits
  int sectorsRead = 0, keysFound = 0;
  std::vector<int> unread;          // blocks
  std::vector<std::string> errors;  // sectors whose key search ended in an error
};

// Reads every sector it can open with the keys; progress counts sectors.
// The serial of the card first woken is fixed: a card lifted or swapped,
// a link error, a cancel or (unless partial) a block not read end the dump
// with an Error that names the blocks read.
DumpResult dumpCard(Card& card, const DumpOptions& o, const Control& control = {});

struct RestoreOptions {
  std::set<int> sectors;  // all when empty
  bool withTrailers = false, force = false;
  KeyFile keys;
};
struct RestoreResult {
  int written = 0;
  std::vector<int> skipped;  // blocks the dump does not hold: left as they were
};
// Checks the trailers first (nothing is written when one is refused), then
// writes each block the dump holds (never block 0, never one not read) and
// reads it back. An Error names the blocks already written.
RestoreResult restoreCard(Card& card, const Dump& d, const RestoreOptions& o,
                          const Control& control = {});

// "0-16 20 22-23"; "none" when empty.
std::string blockRanges(const std::vector<int>& blocks);

}  // namespace orvix::ops
