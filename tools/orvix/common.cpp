#include "common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "commands.h"
#include "orvix.h"

namespace orvix {

int exitFor(int result) {
  if (result == ORVIX_CANCELLED) return kExitInterrupted;
  if (isLinkError(result) || result == ORVIX_NO_PORT || result == ORVIX_PORT_BUSY ||
      result == ORVIX_PERMISSION_DENIED)
    return kExitLink;
  if (result == 4) return kExitData;
  return kExitRefused;
}

int exitOf(const ops::Error& e) {
  switch (e.fault) {
    case ops::Fault::Argument:
      return kExitUsage;
    case ops::Fault::Link:
      return kExitLink;
    case ops::Fault::Refused:
      return kExitRefused;
    case ops::Fault::Data:
      return kExitData;
    case ops::Fault::Cancelled:
      return kExitInterrupted;
  }
  return kExitData;
}

void check(int result, const std::string& what) {
  if (result != 0) throw Failure(exitFor(result), what + ": result " + resultText(result), result);
}

void failData(const std::string& line) { throw Failure(kExitData, line); }

namespace {

orvix_reader* gReader = nullptr;
volatile std::sig_atomic_t gInterrupted = 0;
struct sigaction gPrevious {};

// The first Ctrl-C lets the block in hand finish and stops the walk; the
// second also cancels the call in progress (a reader that does not answer);
// the third ends the program.
void onInterrupt(int sig) {
  if (gInterrupted >= 2) {
    sigaction(sig, &gPrevious, nullptr);
    std::raise(sig);
    return;
  }
  gInterrupted = gInterrupted + 1;
  if (gInterrupted == 2 && gReader) orvix_cancel(gReader);
}

// "COM1" … "COM10" for a port index or a COM name in any case; "" otherwise.
std::string comName(const std::string& port) {
  std::string digits = port;
  if (port.size() > 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' &&
      (port[2] | 0x20) == 'm') {
    digits = port.substr(3);
    const auto n = parseNumber(digits, 1, 10);
    return n && std::to_string(*n) == digits ? "COM" + digits : "";
  }
  const auto n = parseNumber(digits, 0, 9);
  return n && std::to_string(*n) == digits ? "COM" + std::to_string(*n + 1) : "";
}

}  // namespace

orvix_reader* reader() { return gReader; }

void closeReader() {
  orvix_reader* r = gReader;
  gReader = nullptr;
  orvix_close(r);
}

StopOnInterrupt::StopOnInterrupt() {
  gInterrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &gPrevious);
}

StopOnInterrupt::~StopOnInterrupt() { sigaction(SIGINT, &gPrevious, nullptr); }

bool interrupted() { return gInterrupted != 0; }

std::string Context::portLabel(const std::string& port) {
  if (port.size() < 4 || port.compare(0, 3, "COM") != 0) return port;
  const char* p = std::getenv(("ORVIX32_" + port).c_str());
  return port + " (" +
         (p && *p ? std::string(p) : "/dev/ttyS" + std::to_string(std::stoi(port.substr(3)) - 1)) +
         ")";
}

void Context::link() {
  if (gReader) return;
  std::vector<std::string> tries;
  if (port == "auto") {
    tries = {"COM1", "COM2"};
  } else if (const std::string com = comName(port); !com.empty()) {
    tries = {com};
  } else if (!port.empty() && port.find_first_not_of("0123456789") != std::string::npos) {
    tries = {port};  // a device path or a URL
  } else {
    throw Failure(kExitUsage, "--port: 0-9, COM1-COM10, auto, a device path or a URL, not " + port);
  }
  int result = 0;
  for (const auto& t : tries) {
    orvix_reader* r = nullptr;
    result = orvix_open(t.c_str(), nullptr, &r);
    if (result == 0) {
      gReader = r;
      linked = t;
      return;
    }
  }
  if (port == "auto")
    throw Failure(kExitLink, "no reader answered on " + portLabel("COM1") + " or " +
                                 portLabel("COM2") + " (result " + resultText(result) +
                                 "); `orvix ports` tells why");
  const std::string label = portLabel(tries[0]);
  if (result == ORVIX_PORT_BUSY || result == ORVIX_PERMISSION_DENIED || result == ORVIX_NO_PORT) {
    const char* mapped = std::getenv(("ORVIX32_" + tries[0]).c_str());
    const std::string path = comName(port).empty() ? port : mapped && *mapped ? mapped : "";
    struct stat st {};
    if (!path.empty() && stat(path.c_str(), &st) == 0)
      if (const std::string trouble = portTrouble(path); !trouble.empty())
        throw Failure(kExitLink, "no link on " + label + ": " + trouble);
    if (result != ORVIX_NO_PORT)
      throw Failure(kExitLink, "no link on " + label + ": result " + resultText(result));
  }
  throw Failure(kExitLink, "no reader answered on " + label + " at 57600 or 9600 bit/s: result " +
                               resultText(result) + "; `orvix ports` tells why");
}

void emit(const Context& ctx, const json& doc, const std::string& text) {
  if (ctx.json) {
    ctx.document = doc;
    return;
  }
  auto& out = ctx.stdoutTaken ? std::cerr : std::cout;
  out << text;
  out.flush();
}

Progress::Progress(std::string label, std::size_t total)
    : label_(std::move(label)),
      total_(total ? total : 1),
      shown_(!label_.empty() && isatty(STDERR_FILENO) == 1) {
  update(0);
}

Progress::~Progress() {
  if (shown_ && lastWidth_ >= 0) std::fprintf(stderr, "\r\033[K");
}

void Progress::update(std::size_t done) {
  if (!shown_) return;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(done * kWidth / total_);
  if (filled == lastWidth_ && done != total_) return;
  lastWidth_ = filled;
  std::fprintf(stderr, "\r%s [%s%s] %zu/%zu", label_.c_str(), std::string(filled, '#').c_str(),
               std::string(kWidth - filled, '.').c_str(), done, total_);
  std::fflush(stderr);
}

}  // namespace orvix
