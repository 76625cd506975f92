#include "common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "commands.h"
#include "orvix32.h"

namespace orvix {

namespace {

// The frame exchange's own errors, 101-115, with their letters.
constexpr const char* kLinkErrors[] = {
    "e: sync byte not written",     "f: no answer to sync",       "g: answer to sync not 0x45",
    "h: command byte not written",  "i: length byte not written", "j: command data not written",
    "k: checksum byte not written", "l: no acknowledge",          "m: acknowledge not 0x67",
    "n: poll byte not written",     "o: no status byte",          "p: no length byte",
    "q: response data short",       "r: no checksum byte",        "s: checksum mismatch",
};

// The reader's own statuses that mean something to a person at the bench.
struct ReaderStatus {
  int code;
  const char* meaning;
};
constexpr ReaderStatus kReaderStatuses[] = {
    {0x01, "unknown command"},
    {0x05, "wrong data length"},
    {0x06, "bad parameter"},
    {0x20, "no card"},
    {0x21, "wrong serial"},
    {0x22, "authentication refused"},
    {0x23, "not authenticated for that sector"},
    {0x24, "access denied by the access conditions"},
    {0x25, "not in value format, or the value would leave its range"},
    {0x26, "bad block or sector number"},
    {0x27, "sector locked"},
    {0x30, "no card in the contact slot"},
    {0x31, "card not powered"},
    {0x32, "wrong kind of card"},
    {0x33, "unknown card type"},
    {0x34, "bad address"},
    {0x35, "wrong code"},
    {0x36, "card locked"},
    {0x37, "code not verified"},
    {0x38, "read-only"},
    {0x48, "bad clock"},
    {0x49, "bad request"},
    {0x4A, "no such record"},
};

}  // namespace

std::string resultText(int result) {
  std::string text = std::to_string(result) + " (";
  if (result == 0) return text + "ok)";
  if (isLinkError(result)) return text + "link error " + kLinkErrors[result - 101] + ")";
  if (result == 4) return text + "argument out of range, nothing sent)";
  if (result == ORVIX32_NO_STATUS_WORD) return text + "reply too short for status words)";
  char code[16];
  std::snprintf(code, sizeof code, "0x%02X", result);
  text += "reader status ";
  text += code;
  for (const auto& s : kReaderStatuses)
    if (s.code == result) return text + ": " + s.meaning + ")";
  return text + ")";
}

int exitFor(int result) {
  if (isLinkError(result)) return kExitLink;
  if (result == 4) return kExitData;
  return kExitRefused;
}

void check(int result, const std::string& what) {
  if (result != 0) throw Failure(exitFor(result), what + ": result " + resultText(result), result);
}

void failData(const std::string& line) { throw Failure(kExitData, line); }

std::string Context::portLabel(int index) {
  const std::string var = "ORVIX32_COM" + std::to_string(index + 1);
  const char* p = std::getenv(var.c_str());
  return "COM" + std::to_string(index + 1) + " (" +
         (p && *p ? std::string(p) : "/dev/ttyS" + std::to_string(index)) + ")";
}

void Context::link() {
  if (port == "auto") {
    int index = 0;
    const int result = AutoLinkCom(&index);
    if (result != 0)
      throw Failure(kExitLink, "no reader answered on " + portLabel(0) + " or " + portLabel(1) +
                                   " (AutoLinkCom result " + std::to_string(result) +
                                   "); `orvix ports` tells why");
    linked = index;
    return;
  }
  int index = -1;
  try {
    std::size_t used = 0;
    index = std::stoi(port, &used);
    if (used != port.size()) index = -1;
  } catch (const std::exception&) {
  }
  if (index < 0 || index > 9) throw Failure(kExitUsage, "--port: 0-9 or auto, not " + port);
  if (LinkCom(index) != 0) {
    const char* p = std::getenv(("ORVIX32_COM" + std::to_string(index + 1)).c_str());
    const std::string path = p && *p ? p : "/dev/ttyS" + std::to_string(index);
    struct stat st {};
    if (const std::string trouble = stat(path.c_str(), &st) == 0 ? portTrouble(path) : "";
        !trouble.empty())
      throw Failure(kExitLink, "no link on " + portLabel(index) + ": " + trouble);
    const std::string why =
        stat(path.c_str(), &st) != 0 ? "no such device" : "`orvix ports` tells why";
    throw Failure(kExitLink, "no reader answered on " + portLabel(index) +
                                 " at 57600 or 9600 bit/s: LinkCom result 1 (no link; " + why +
                                 ")");
  }
  linked = index;
}

std::string hex(const std::uint8_t* data, std::size_t size, bool spaced) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (spaced && i) out += ' ';
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::optional<Bytes> parseHex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c == ' ' || c == '\t' || c == ':')
      continue;
    else
      return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
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

std::optional<long long> parseNumber(std::string_view text, long long min, long long max) {
  std::size_t i = !text.empty() && text[0] == '-' && min < 0;
  if (i == text.size() || text.size() - i > 18) return std::nullopt;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < min || v > max) return std::nullopt;
  return v;
}

Progress::Progress(std::string label, std::size_t total)
    : label_(std::move(label)), total_(total ? total : 1),
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
