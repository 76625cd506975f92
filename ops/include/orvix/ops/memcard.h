// Contact memory cards: a run of bytes read or written. Without an area the
// run goes through the block transfer of page-organised cards (pages of 256
// bytes, 264 for type 21); with an area through the area read and write of
// the card type (pages of 256 bytes).
#pragma once

#include "orvix/ops/control.h"
#include "orvix/ops/text.h"

struct orvix_reader;

namespace orvix::ops {

struct MemoryRun {
  int type = -1;  // the card type code 0-255
  int area = -1;  // -1: block transfer
  int page = 0, address = 0;
};

// The run's first position on the card; an argument error (named as the
// command line spells the options) for a type, page, address or length out
// of range or a run past the card's last position. Nothing is sent.
long long memoryRunStart(const MemoryRun& run, long long length);
// Selects the card type, powers the card on and reads into data (its size
// is the length) or writes data, one page (or 64-byte row) at a time;
// progress counts bytes. A read that meets a link error is repeated after a
// fresh link (twice at most); a write is never repeated.
void memoryTransfer(orvix_reader* r, const MemoryRun& run, bool write, Bytes& data,
                    const Control& control = {});

}  // namespace orvix::ops
