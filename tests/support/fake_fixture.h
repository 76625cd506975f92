// The fixture of the command tables: COM1 linked to the fake reader, and
// rows of (card type, what the reader sends, call, the caller's buffer, the
// frames on the line, the result, the buffer afterwards).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "fake_port.h"

namespace fake {

// "A0 A1A2" -> A0 A1 A2 (blanks ignored).
inline Bytes hex(const std::string& s) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] != ' ')
      b.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i++, 2), nullptr, 16)));
  return b;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// The reader's side of one exchange: ready, acknowledge, response frame.
inline Bytes answer(int status, const Bytes& data = {}) {
  Wire w;
  w.reply(static_cast<std::uint8_t>(status), data);
  return Bytes(w.input.begin(), w.input.end());
}

inline std::string toHex(const Bytes& b) {
  std::string s;
  char t[3];
  for (auto v : b) s += (std::snprintf(t, sizeof t, "%02X", v), t);
  return s;
}

// The command frames in w as "CC:DATA" in hex, blank-separated; from the first
// byte that does not start a well-made frame (sync, length, checksum, poll)
// on, "?" and the rest in hex.
inline std::string frames(const Bytes& w) {
  std::string out;
  for (std::size_t i = 0; i < w.size();) {
    if (!out.empty()) out += ' ';
    const std::size_t n = i + 2 < w.size() ? w[i + 2] : 0, end = i + 5 + n;
    if (end > w.size() || w[i] != 0x23 || w[end - 1] != 0x89 ||
        w[end - 2] != xorOf(Bytes(w.begin() + long(i) + 1, w.begin() + long(end) - 2))) {
      out += '?' + toHex(Bytes(w.begin() + long(i), w.end()));
      break;
    }
    out +=
        toHex({w[i + 1]}) + ':' + toHex(Bytes(w.begin() + long(i) + 3, w.begin() + long(end) - 2));
    i = end;
  }
  return out;
}

// Caller memory with 16 guard bytes on both sides.
struct Guarded {
  explicit Guarded(std::size_t size, std::uint8_t fill = 0xEE, const Bytes& start = {})
      : n(long(size)), mem(size + 32, 0xEE) {
    std::fill_n(mem.begin() + 16, n, fill);
    std::copy(start.begin(), start.end(), mem.begin() + 16);
  }
  unsigned char* data() { return mem.data() + 16; }
  Bytes bytes() const { return Bytes(mem.begin() + 16, mem.begin() + 16 + n); }
  bool guardsIntact() const {
    return Bytes(mem.begin(), mem.begin() + 16) == Bytes(16, 0xEE) &&
           Bytes(mem.end() - 16, mem.end()) == Bytes(16, 0xEE);
  }
  long n;
  Bytes mem;
};

struct Row {
  const char* name;
  int type;                   // contact card type selected first; -1: as it is
  std::vector<Bytes> reader;  // what the reader sends
  std::function<int(unsigned char*)> call;
  std::size_t room;  // the caller's buffer: room bytes of fill, then start
  std::uint8_t fill;
  Bytes start;
  std::string line;  // the frames written
  int result;
  Bytes after;  // the buffer afterwards; empty: as it was
};

class LinkedTest : public ::testing::Test {
 protected:
  void SetUp() override { fx.link(); }
  Wire& wire() { return *fx.wire(0); }
  std::string line() { return frames(wire().written); }
  void clear() {
    wire().written.clear();
    wire().input.clear();
  }
  void run(std::span<const Row> rows) {
    for (const Row& r : rows) {
      SCOPED_TRACE(r.name);
      clear();
      if (r.type >= 0) orvix::link().Contact.SelectedCardType = r.type;
      for (const Bytes& b : r.reader) wire().raw(b);
      Guarded buf(r.room, r.fill, r.start);
      const Bytes before = buf.bytes();
      EXPECT_EQ(r.call(buf.data()), r.result);
      EXPECT_EQ(line(), r.line);
      EXPECT_EQ(buf.bytes(), r.after.empty() ? before : r.after);
      EXPECT_TRUE(buf.guardsIntact());
    }
  }
  FakeReader fx;
};

}  // namespace fake
