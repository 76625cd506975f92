// Single-block Mifare 1 work: read, write with read-back, value blocks.
// Each opens the block's sector with the first key that lets it do its
// step: the caller's keys, then the well-known ones, as key A then key B.
#pragma once

#include <string>

#include "orvix/ops/card.h"

namespace orvix::ops {

Block readBlock(Card& card, int block, const KeyFile& keys);

struct WriteResult {
  Block readBack{};
  // False when no key the new access bits allow may read the block back:
  // the write went through but could not be checked ("written, not
  // verified").
  bool verified = true;
  std::string note;  // what was not verified and why, else empty
};
// Refuses what writeRefusal refuses before anything is sent. A trailer is
// read back through a key its new access bits allow to read it.
WriteResult writeBlock(Card& card, int block, const Block& data, const KeyFile& keys, bool force);

enum class ValueStep { Get, Set, Add, Sub };
// The block's value after the step, read back. Sub below zero is refused
// unless allowNegative; a read-back that is not the value expected is an
// Error; a link failure after an increment or decrement went out says
// that the card may have been changed.
Value valueStep(Card& card, int block, ValueStep step, std::int64_t amount, const KeyFile& keys,
                bool allowNegative = false);

}  // namespace orvix::ops
