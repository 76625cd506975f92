#include "link/link_state.h"

#include <algorithm>
#include <mutex>

namespace orvix {

namespace {
// The library's one global record. Trivially destructible on purpose: loading
// and unloading the library does no work, and unloading does not close the port.
LinkState theLink;
// The call lock. Taken uncontended it costs one atomic operation each way.
std::recursive_mutex callLock;
}  // namespace

CallGuard::CallGuard() { callLock.lock(); }
CallGuard::~CallGuard() { callLock.unlock(); }

LinkState& link() { return theLink; }

void setCommand(std::uint8_t cmd, const std::uint8_t* data, std::size_t len) {
  LinkState& s = link();
  len = std::min(len, s.SendData.size());
  s.CmdCode = cmd;
  s.SendLen = static_cast<std::uint8_t>(len);
  if (len) std::copy_n(data, len, s.SendData.begin());
}

}  // namespace orvix
