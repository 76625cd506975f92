#include "core/fault.h"

#include <cctype>
#include <limits>
#include <sstream>

#include "core/words.h"

namespace readersim {

namespace {

struct KindName {
  FaultKind kind;
  const char* name;
  int linkError;
};

constexpr KindName kKinds[] = {
    {FaultKind::SilentOnSync, "silent", 102},
    {FaultKind::WrongReady, "wrongready", 103},
    {FaultKind::NoAck, "noack", 108},
    {FaultKind::WrongAck, "wrongack", 109},
    {FaultKind::NoStatus, "nostatus", 111},
    {FaultKind::NoLength, "nolength", 112},
    {FaultKind::ShortData, "shortdata", 113},
    {FaultKind::NoChecksum, "nochecksum", 114},
    {FaultKind::BadChecksum, "badchecksum", 115},
    {FaultKind::Delay, "delay", 0},
    {FaultKind::Status, "status", 0},
    {FaultKind::Unplug, "unplug", 0},
};

}  // namespace

bool isSyncStage(FaultKind kind) {
  return kind == FaultKind::SilentOnSync || kind == FaultKind::WrongReady ||
         kind == FaultKind::Unplug;
}

const char* faultName(FaultKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k.name;
  return "?";
}

int faultLinkError(FaultKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k.linkError;
  return 0;
}

std::string describe(const Fault& f) {
  std::ostringstream o;
  o << faultName(f.kind);
  if (f.command) {
    o << " cmd=" << hexByte(*f.command);
  }
  o << " count=";
  if (f.count < 0)
    o << "all";
  else
    o << f.count;
  o << " skip=" << f.skip;
  if (f.kind == FaultKind::Delay) o << " ms=" << f.delayMs;
  if (f.status != 0) o << " status=" << int(f.status);
  return o.str();
}

std::optional<Fault> parseFault(const std::vector<std::string>& words, std::string& error) {
  if (words.empty()) {
    error = "fault: which kind?";
    return std::nullopt;
  }
  Fault f;
  bool found = false;
  std::string kindWord = words[0];
  for (auto& c : kindWord) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (kindWord == "nack") kindWord = "noack";
  const auto number =
      parseInt(kindWord, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 10);
  for (const auto& k : kKinds) {
    if ((number && k.linkError != 0 && k.linkError == *number) || kindWord == k.name) {
      f.kind = k.kind;
      found = true;
      break;
    }
  }
  if (!found) {
    error = "fault: unknown kind '" + words[0] + "'";
    return std::nullopt;
  }
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    auto eq = w.find('=');
    if (eq == std::string::npos) {
      error = "fault: expected key=value, got '" + w + "'";
      return std::nullopt;
    }
    std::string key = w.substr(0, eq), value = w.substr(eq + 1);
    if (key == "cmd") {
      std::string hex = value;
      if (hex.size() > 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X')) hex = hex.substr(2);
      const auto v = parseInt(hex, 0, 255, 16);
      if (!v) {
        error = "fault: cmd wants a hex byte, got '" + value + "'";
        return std::nullopt;
      }
      f.command = static_cast<std::uint8_t>(*v);
    } else if (key == "count") {
      if (value == "all" || value == "-1") {
        f.count = -1;
      } else if (const auto v = parseInt(value, 1, 1000000, 10)) {
        f.count = *v;
      } else {
        error = "fault: count wants N >= 1 or 'all', got '" + value + "'";
        return std::nullopt;
      }
    } else if (key == "skip") {
      const auto v = parseInt(value, 0, 1000000, 10);
      if (!v) {
        error = "fault: skip wants N >= 0, got '" + value + "'";
        return std::nullopt;
      }
      f.skip = *v;
    } else if (key == "ms") {
      const auto v = parseInt(value, 0, 600000, 10);
      if (!v) {
        error = "fault: ms wants 0 … 600000, got '" + value + "'";
        return std::nullopt;
      }
      f.delayMs = *v;
    } else if (key == "status") {
      const auto v = parseInt(value, 0, 255, 0);
      if (!v) {
        error = "fault: status wants 0 … 255, got '" + value + "'";
        return std::nullopt;
      }
      f.status = static_cast<std::uint8_t>(*v);
    } else {
      error = "fault: unknown key '" + key + "'";
      return std::nullopt;
    }
  }
  if (f.command && isSyncStage(f.kind)) {
    error = std::string("fault: ") + faultName(f.kind) +
            " acts at the sync byte, before the command is known: no cmd= filter";
    return std::nullopt;
  }
  if (f.kind == FaultKind::WrongReady && f.status == 0x45) {
    error = "fault: wrongready status=0x45 is the right ready byte";
    return std::nullopt;
  }
  if (f.kind == FaultKind::WrongAck && f.status == 0x67) {
    error = "fault: wrongack status=0x67 is the right acknowledge byte";
    return std::nullopt;
  }
  return f;
}

std::string faultHelp() {
  return "fault KIND [cmd=HEX] [count=N|all] [skip=N] [ms=N] [status=N]\n"
         "    queue a reader-side fault; KIND (or the host link error it causes):\n"
         "      silent (102)      no answer to the sync byte\n"
         "      wrongready (103)  answers the sync byte with 0x3F (or status=N)\n"
         "      noack|nack (108)  takes the frame, never acknowledges (not carried out)\n"
         "      wrongack (109)    carries the command out, acknowledges with 0x3F (or status=N)\n"
         "      nostatus (111)    silent after the poll byte\n"
         "      nolength (112)    sends the status byte only\n"
         "      shortdata (113)   sends one data byte less than announced (announces >= 1)\n"
         "      nochecksum (114)  leaves out the checksum byte\n"
         "      badchecksum (115) sends a wrong checksum byte\n"
         "      delay             waits ms=N before the acknowledge, then answers\n"
         "      status            answers status=N (default 0x0F), no data, not carried out\n"
         "      unplug            the line goes away at the sync byte\n"
         "    cmd= limits a frame-stage fault to one command byte (not for silent,\n"
         "    wrongready, unplug); skip= lets N matching exchanges pass first;\n"
         "    count= how many exchanges get it (default 1)\n"
         "faults [clear]      list the queued faults, or drop them all";
}

std::optional<Fault> FaultQueue::consume(std::deque<Fault>::iterator it) {
  Fault f = *it;
  if (it->count > 0 && --it->count == 0) q_.erase(it);
  return f;
}

std::optional<Fault> FaultQueue::takeAtSync() {
  bool blocked = false;
  for (auto it = q_.begin(); it != q_.end(); ++it) {
    if (isSyncStage(it->kind)) {
      if (it->skip > 0) {
        --it->skip;
        continue;
      }
      if (!blocked) return consume(it);
    } else if (!it->command && it->skip == 0) {
      blocked = true;
    }
  }
  return std::nullopt;
}

std::optional<Fault> FaultQueue::takeAtFrame(std::uint8_t cmd) {
  for (auto it = q_.begin(); it != q_.end(); ++it) {
    if (isSyncStage(it->kind)) continue;
    if (it->command && *it->command != cmd) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    return consume(it);
  }
  return std::nullopt;
}

}  // namespace readersim
