// The simulated serial line: a pseudo-terminal whose slave end a host opens
// through a stable symbolic link. The simulator keeps its own slave handle
// open, so the master never sees a hang-up when the host closes its handle,
// and so the line settings the host programmed stay readable.
#pragma once

#include <string>

namespace readersim {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Makes a fresh pty (raw line) and points linkPath at its slave. Returns
  // false, with a reason in error, when something failed.
  bool open(const std::string& linkPath, std::string& error);
  // Removes the symbolic link (if it still points at this line), then closes
  // both ends: open host handles see a hang-up.
  void close();

  bool isOpen() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slaveName() const { return slaveName_; }
  // Bytes sent that the host has not read yet.
  int unread() const;
  // The speed the host programmed on the line, in bit/s (0 when unknown).
  int speed() const;
  // How long a byte written on the slave takes to be read on the master by a
  // thread waiting in poll() (median of a few trials made at open, before the
  // link exists): the pty's own delivery latency, which pacing discounts.
  long long deliveryNs() const { return deliveryNs_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  std::string link_;
  long long deliveryNs_ = 0;
};

// The speed constant of termios as a number of bit/s (0 when unknown).
int speedFromTermios(unsigned speedCode);

}  // namespace readersim
