// The port doctor: every reader port and serial device with one verdict,
// found through the library (a device it refuses is never opened).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvix::ops {

// One port as the port doctor sees it: "COM1" (or "-" for a device found
// by the scan), its path, the verdict (ok, silent, missing, console, busy,
// no permission, unreachable, same device as …) and the details.
struct PortReport {
  std::string name, path, verdict, detail;
};
using PortProbe = std::function<void(PortReport&)>;

// Links a reader on the port and gives "ok" with its speed, module and
// firmware, or why no reader is there.
void probeReader(PortReport& p);

// Every reader port (COM1 … COM10), every device the scan finds
// (ORVIX_PORTS_SCAN) and the extra ports, with their verdicts. probe links
// to a port nothing is in the way of; known, when given, may give a port's
// verdict first (a port the caller holds), and ports it leaves without one
// are examined.
std::vector<PortReport> examinePorts(const PortProbe& probe = probeReader,
                                     const PortProbe& known = {},
                                     const std::vector<std::string>& extra = {});

// Why a port cannot be a reader's (missing, console, no permission, busy,
// with the details), found without writing to it; empty when nothing is
// in the way.
std::string portTrouble(const std::string& path);

}  // namespace orvix::ops
