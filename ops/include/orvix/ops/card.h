// The Mifare 1 card in the reader's field, reached through the library's
// single card steps (request, anticollision, select, authentication, read,
// write, increment, decrement). The first wake fixes the card's serial:
// every later wake checks it, so work begun on one card never goes on
// with another.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orvix/ops/dump_formats.h"
#include "orvix/ops/error.h"

struct orvix_reader;

namespace orvix::ops {

// The card left the field or another card answered: the work on the card
// ends here, whatever the step was.
struct CardLost : Error {
  using Error::Error;
};

class Card {
 public:
  explicit Card(orvix_reader* reader) : reader_(reader) {}
  // Request (all cards), anticollision, select; an Error when no Mifare 1
  // card answers, CardLost when the card woken first is not the one now.
  void wake();
  // Loads the key into the reader and authenticates the sector with it.
  // False when the card refused it; an Error on a link error.
  bool authenticate(int sector, int keyType, const Key& key);
  // The library's result for one block; an Error on a link error.
  int read(int block, Block& out);
  int write(int block, const Block& data);
  // Increment or decrement: the library's result; an Error on a link error.
  // A failure after the command went out says the value must be read back.
  int step(int block, std::int32_t amount, bool increment);
  // The first of the candidates that opens the sector with this key type.
  std::optional<Key> findKey(int sector, int keyType, const std::vector<Key>& candidates);
  // Authenticates again with this key unless it opened the sector last.
  bool ensure(int sector, int keyType, const Key& key);
  std::uint32_t serial() const { return serial_; }
  // The serial as 8 hexadecimal digits, bytes as the card sends them.
  std::string serialText() const;
  orvix_reader* reader() const { return reader_; }

 private:
  int guard(int result, const std::string& what);
  orvix_reader* reader_;
  std::uint32_t serial_ = 0;
  bool pinned_ = false, awake_ = false;
  int authSector_ = -1, authType_ = -1;
  std::array<std::array<std::optional<Key>, kSectors>, 2> loaded_{};
};

// Keys to try for a sector: the key file's own key for it, keys that opened
// other sectors, then the lists.
std::vector<Key> candidates(int sector, int keyType, const KeyFile& kf, const Dump& known,
                            const std::vector<Key>& extra);

}  // namespace orvix::ops
