// Block transfer with a large page-organised memory card: a linear run of
// bytes is cut at page boundaries, and each page's share into pieces of at
// most 66 bytes, one reader command per piece.
#include <algorithm>
#include <array>
#include <cstdint>

#include "contact/contact_common.h"
#include "orvix32.h"

using namespace orvix;
using namespace orvix::contact;

using orvix::LinkState;

static int impl_ReadMemCard(LinkState& s, int address, int length, unsigned char* buffer);
static int impl_WriteMemCard(LinkState& s, int address, int length, unsigned char* buffer);
static int impl_EraseMemCard(LinkState& s, int address, int length, unsigned char* buffer);

namespace {

constexpr std::uint8_t kCmdWritePiece = 0x23;
constexpr std::uint8_t kCmdReadPiece = 0x24;
constexpr int kPiece = 66;
constexpr std::int64_t kPages = 65536;  // page numbers are 16 bits on the wire

struct Piece {
  int page;
  int offset;
  int count;
};

void header(std::uint8_t* d, const Piece& p) {
  d[0] = static_cast<std::uint8_t>(p.page >> 8);
  d[1] = static_cast<std::uint8_t>(p.page & 0xFF);
  d[2] = static_cast<std::uint8_t>(p.offset >> 8);
  d[3] = static_cast<std::uint8_t>(p.offset & 0xFF);
  d[4] = static_cast<std::uint8_t>(p.count);
}

// One page's share, read: replies are appended from `position` on, advancing
// by what the reader returned (never more than the piece asked for).
int readPage(LinkState& s, int page, int offset, int count, std::uint8_t* buffer,
             std::size_t position) {
  for (;;) {
    const Piece p{page, offset, std::min(count, kPiece)};
    std::uint8_t data[5];
    header(data, p);
    const std::uint8_t status = exchange(s, kCmdReadPiece, data, sizeof data);
    if (status != 0) return status;
    position += copyReply(s, buffer + position, static_cast<std::size_t>(p.count));
    count -= p.count;
    if (count == 0) return 0;
    offset += kPiece;
  }
}

// One page's share, written: data go out from the data position; each reply
// is copied back from the reply position (never more than the piece's count).
int writePage(LinkState& s, int page, int offset, int count, std::uint8_t* buffer,
              std::size_t position) {
  std::size_t dataPos = position;
  std::size_t replyPos = position;
  std::array<std::uint8_t, 5 + kPiece> data{};
  for (;;) {
    const Piece p{page, offset, std::min(count, kPiece)};
    header(data.data(), p);
    std::copy_n(buffer + dataPos, p.count, data.begin() + 5);
    dataPos += static_cast<std::size_t>(p.count);
    const std::uint8_t status =
        exchange(s, kCmdWritePiece, data.data(), static_cast<std::size_t>(p.count) + 5);
    if (status != 0) return status;
    replyPos += copyReply(s, buffer + replyPos, static_cast<std::size_t>(p.count));
    count -= p.count;
    if (count == 0) return 0;
    offset += kPiece;
  }
}

bool validRun(int address, int length, int pageSize) {
  if (address < 0 || length <= 0) return false;
  const std::int64_t last = std::int64_t{address} + length - 1;
  return last / pageSize < kPages;
}

using PageTransfer = int (*)(LinkState&, int, int, int, std::uint8_t*, std::size_t);

// Cuts the run at page boundaries; the first failing piece ends it.
int splitPages(LinkState& s, int address, int length, std::uint8_t* buffer, PageTransfer transfer) {
  const int pageSize = behaviourOf(selectedType(s)).pageSize;
  if (!validRun(address, length, pageSize)) return kBadArgument;
  int current = address;
  int remaining = length;
  for (;;) {
    const int page = current / pageSize;
    const int offset = current % pageSize;
    const int room = pageSize - offset;
    const auto position = static_cast<std::size_t>(current - address);
    if (remaining <= room) return transfer(s, page, offset, remaining, buffer, position);
    if (const int st = transfer(s, page, offset, room, buffer, position); st != 0) return st;
    current += room;
    remaining -= room;
  }
}

}  // namespace

static int impl_ReadMemCard(LinkState& s, int address, int length, unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  return splitPages(s, address, length, buffer, readPage);
}

static int impl_WriteMemCard(LinkState& s, int address, int length, unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  return splitPages(s, address, length, buffer, writePage);
}

static int impl_EraseMemCard(LinkState& s, int address, int length, unsigned char* buffer) {
  if (!buffer) return kBadArgument;
  if (!validRun(address, length, behaviourOf(selectedType(s)).pageSize)) return kBadArgument;
  std::fill_n(buffer, length, 0xFF);
  return impl_WriteMemCard(s, address, length, buffer);
}

extern "C" {

ORVIX32_API int ORVIX32_CALL ReadMemCard(int address, int length, unsigned char* buffer) {
  return flat<impl_ReadMemCard>(address, length, buffer);
}

ORVIX32_API int ORVIX32_CALL WriteMemCard(int address, int length, unsigned char* buffer) {
  return flat<impl_WriteMemCard>(address, length, buffer);
}

ORVIX32_API int ORVIX32_CALL EraseMemCard(int address, int length, unsigned char* buffer) {
  return flat<impl_EraseMemCard>(address, length, buffer);
}

}  // extern "C"

// ---- The same commands on a reader ------------------------------------------

namespace {
int runRoom(const unsigned char* buffer, std::size_t size, int length) {
  return room(outFits(buffer, size, length > 0 ? static_cast<std::size_t>(length) : 0));
}
}  // namespace

extern "C" {

ORVIX32_API int ORVIX32_CALL orvix_read_mem_card(orvix_reader* r, int address, int length,
                                                 unsigned char* buffer, size_t buffer_size) {
  return handle<impl_ReadMemCard>(r, runRoom(buffer, buffer_size, length), address, length, buffer);
}
ORVIX32_API int ORVIX32_CALL orvix_write_mem_card(orvix_reader* r, int address, int length,
                                                  unsigned char* buffer, size_t buffer_size) {
  return handle<impl_WriteMemCard>(r, runRoom(buffer, buffer_size, length), address, length,
                                   buffer);
}
ORVIX32_API int ORVIX32_CALL orvix_erase_mem_card(orvix_reader* r, int address, int length,
                                                  unsigned char* buffer, size_t buffer_size) {
  return handle<impl_EraseMemCard>(r, runRoom(buffer, buffer_size, length), address, length,
                                   buffer);
}

}  // extern "C"
