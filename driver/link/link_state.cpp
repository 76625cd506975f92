#include "link/link_state.h"

#include <algorithm>

namespace orvix {

namespace {
// The library's one global record. Trivially destructible on purpose: loading
// and unloading the library does no work, and unloading does not close the port.
LinkState theLink;
}  // namespace

LinkState& link() { return theLink; }

void setCommand(std::uint8_t cmd, const std::uint8_t* data, std::size_t len) {
  LinkState& s = link();
  len = std::min(len, s.SendData.size());
  s.CmdCode = cmd;
  s.SendLen = static_cast<std::uint8_t>(len);
  if (len) std::copy_n(data, len, s.SendData.begin());
}

}  // namespace orvix
