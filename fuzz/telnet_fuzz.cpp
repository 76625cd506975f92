// Feeds arbitrary server bytes to the Telnet layer of rfc2217:// ports, split
// into feeds at points taken from the input, as a TCP stream may split them.
// Line data never outgrows the feed, answers stay within their buffer, and
// data escaped for the line decodes to itself whatever came before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/telnet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvix::telnet;
  if (size == 0) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  ++data;
  --size;
  Decoder d;
  d.offered(chunk & 1);
  std::vector<std::uint8_t> out(chunk);
  for (std::size_t at = 0; at < size; at += chunk) {
    const std::size_t n = chunk < size - at ? chunk : size - at;
    if (d.feed(data + at, n, out.data()) > n || d.replyLength() > Decoder::kReplyMax) std::abort();
    d.clearReply();
  }
  // Escaped for the line, the same bytes decode to themselves.
  Decoder fresh;
  std::vector<std::uint8_t> wire(escapedSize(size)), back(size);
  const std::size_t len = escape(data, size, wire.data());
  if (fresh.feed(wire.data(), len, back.data()) != size) std::abort();
  for (std::size_t i = 0; i < size; ++i)
    if (back[i] != data[i]) std::abort();
  return 0;
}
