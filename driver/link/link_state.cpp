#include "link/link_state.h"

#include <algorithm>
#include <mutex>

namespace orvix {

namespace {
// The call lock. Taken uncontended it costs one atomic operation each way.
std::recursive_mutex callLock;
}  // namespace

CallGuard::CallGuard() { callLock.lock(); }
CallGuard::~CallGuard() { callLock.unlock(); }

namespace {
// The process-wide link. Its destructor only frees the memory of its names:
// unloading the library does not close the port.
LinkState theLink;
}  // namespace

LinkState& link() { return theLink; }

std::string portLabel(const LinkState& s) {
  if (!s.PortName.empty()) return s.PortName;
  return "COM" + std::to_string(static_cast<long long>(s.PortIndex) + 1);
}

void setCommand(LinkState& s, std::uint8_t cmd, const std::uint8_t* data, std::size_t len) {
  len = std::min(len, s.SendData.size());
  s.CmdCode = cmd;
  s.SendLen = static_cast<std::uint8_t>(len);
  if (len) std::copy_n(data, len, s.SendData.begin());
}

}  // namespace orvix
