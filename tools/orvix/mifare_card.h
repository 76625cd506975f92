// The Mifare 1 card in the reader's field, reached through the library's
// single card steps (request, anticollision, select, authentication, read,
// write), and the dump and restore built on them.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mifare_format.h"

struct orvix_reader;

namespace orvix::mifare {

class Card {
 public:
  // On the flat link by default; on the given reader handle otherwise.
  explicit Card(orvix_reader* reader = nullptr) : reader_(reader) {}
  // Request (all cards), anticollision, select; a Failure when no Mifare 1
  // card answers.
  void wake();
  // Loads the key into the reader and authenticates the sector with it.
  // False when the card refused it; a Failure on a link error.
  bool authenticate(int sector, int keyType, const Key& key);
  // The library's result for one block; a Failure on a link error.
  int read(int block, Block& out);
  int write(int block, const Block& data);
  int step(int block, std::int32_t amount, bool increment);
  // The first of the candidates that opens the sector with this key type.
  std::optional<Key> findKey(int sector, int keyType, const std::vector<Key>& candidates);
  // Authenticates again with the key that opened the sector last, when a
  // failure may have dropped the card's state.
  bool ensure(int sector, int keyType, const Key& key);
  std::uint32_t serial() const { return serial_; }

 private:
  int guard(int result, const std::string& what);
  orvix_reader* reader_;
  std::uint32_t serial_ = 0;
  bool awake_ = false;
  int authSector_ = -1, authType_ = -1;
  std::array<std::array<std::optional<Key>, kSectors>, 2> loaded_{};
};

// Keys to try for a sector: the key file's own key for it, keys that opened
// other sectors, then the lists.
std::vector<Key> candidates(int sector, int keyType, const KeyFile& kf, const Dump& known,
                            const std::vector<Key>& extra);

struct DumpReport {
  int sectorsRead = 0, keysFound = 0;
  std::vector<int> unread;          // blocks
  std::vector<std::string> errors;  // sectors whose key search ended in an error
};
// Reads every sector it can open with the keys; the progress is per sector.
Dump dumpCard(Card& card, const KeyFile& keys, Progress& progress, DumpReport& report);

struct RestoreOptions {
  std::set<int> sectors;
  bool withTrailers = false, force = false;
};
// Checks the trailers first (nothing is written when one is refused), then
// writes and reads back; returns the number of blocks written.
int restoreCard(Card& card, const Dump& d, const KeyFile& keys, const RestoreOptions& o,
                Progress& progress);
// A Failure (exit 4) when a trailer's access bytes are malformed or would fix
// the sector's keys for ever (unless force).
void checkTrailer(const Block& t, int sector, bool force);

}  // namespace orvix::mifare
