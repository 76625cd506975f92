#include "orvix/ops/dump_formats.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "orvix/ops/error.h"
#include "orvix/ops/text.h"

namespace orvix::ops {

using nlohmann::json;

namespace {

// Exactly N bytes written as 2N hexadecimal digits, nothing else.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> fixedFromHex(std::string_view text) {
  if (text.size() != 2 * N) return std::nullopt;
  auto b = parseHex(text);
  if (!b || b->size() != N) return std::nullopt;
  std::array<std::uint8_t, N> out;
  std::copy(b->begin(), b->end(), out.begin());
  return out;
}

std::optional<Block> blockFromHex(std::string_view text) { return fixedFromHex<16>(text); }
std::optional<Key> keyFromHex(std::string_view text) { return fixedFromHex<6>(text); }

std::vector<std::string> lines(const std::string& bytes) {
  std::vector<std::string> out;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The trailer as a file carries it: the bytes read with the keys found put
// in; nullopt when nothing of the sector is known.
std::optional<Block> fileTrailer(const Dump& d, int sector) {
  const auto& read = d.blocks[trailerOf(sector)];
  if (!read && !d.keyA[sector] && !d.keyB[sector]) return std::nullopt;
  Block t = read.value_or(Block{});
  if (d.keyA[sector]) std::copy(d.keyA[sector]->begin(), d.keyA[sector]->end(), t.begin());
  if (d.keyB[sector]) std::copy(d.keyB[sector]->begin(), d.keyB[sector]->end(), t.begin() + 10);
  return t;
}

std::optional<Block> fileBlock(const Dump& d, int block) {
  return isTrailer(block) ? fileTrailer(d, block / 4) : d.blocks[block];
}

// Keys taken from the trailers of a file that holds every block. Such a file
// carries zeros where a key was not found (a card reads key A back as zeros),
// so six zero bytes are not taken as a key: a restore will not write them.
void keysFromTrailers(Dump& d) {
  const Key unknown{};
  for (int s = 0; s < kSectors; ++s) {
    const auto& t = d.blocks[trailerOf(s)];
    if (!t) continue;
    Key a, b;
    std::copy_n(t->begin(), 6, a.begin());
    std::copy_n(t->begin() + 10, 6, b.begin());
    if (a != unknown) d.keyA[s] = a;
    if (b != unknown) d.keyB[s] = b;
  }
}

// Raw and emulator files cannot say "not read": a sector that was not read
// holds zeros, whose access bytes are malformed (no card accepts them). Such
// a sector counts as not read, so a restore never writes it.
void dropUnreadSectors(Dump& d) {
  for (int s = 0; s < kSectors; ++s)
    if (!decodeAccess(d.blocks[trailerOf(s)]->data() + 6)) {
      for (int b = s * 4; b < s * 4 + 4; ++b) d.blocks[b].reset();
      d.keyA[s].reset();
      d.keyB[s].reset();
    }
}

// An index as the file writes it: decimal, no sign, no leading zero.
std::optional<int> indexOf(const std::string& text, int count) {
  const auto n = parseNumber(text, 0, count - 1);
  if (!n || std::to_string(*n) != text) return std::nullopt;
  return static_cast<int>(*n);
}

}  // namespace

std::optional<Format> formatNamed(const std::string& n) {
  if (n == "mfd" || n == "bin" || n == "dump") return Format::Raw;
  if (n == "eml") return Format::Eml;
  if (n == "json") return Format::Json;
  if (n == "mct" || n == "txt") return Format::Mct;
  return std::nullopt;
}

std::optional<Format> formatFor(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return formatNamed(ext);
}

std::string partialRefusal(Format f) {
  if (f == Format::Json || f == Format::Mct) return {};
  return std::string(f == Format::Raw ? "a raw" : "an emulator") +
         " dump cannot mark the blocks not read; a partial dump is written as json or mct";
}

std::string writeDump(const Dump& d, Format f) {
  std::string out;
  if (f == Format::Raw || f == Format::Eml) {
    for (const auto& b : d.blocks)
      if (!b) badData(partialRefusal(f));
    for (int b = 0; b < kBlocks; ++b) {
      const Block blk = fileBlock(d, b).value_or(Block{});
      if (f == Format::Raw)
        out.append(reinterpret_cast<const char*>(blk.data()), blk.size());
      else
        out += hex(blk.data(), blk.size()) + "\n";
    }
    return out;
  }
  if (f == Format::Mct) {
    const std::string dashes(32, '-');
    for (int s = 0; s < kSectors; ++s) {
      out += "+Sector: " + std::to_string(s) + "\n";
      for (int b = s * 4; b < s * 4 + 4; ++b) {
        const auto blk = fileBlock(d, b);
        std::string line = blk ? hex(blk->data(), 16) : dashes;
        if (blk && isTrailer(b)) {
          if (!d.keyA[s]) line.replace(0, 12, 12, '-');
          if (!d.keyB[s]) line.replace(20, 12, 12, '-');
        }
        out += line + "\n";
      }
    }
    return out;
  }
  json doc;
  doc["Created"] = "orvix";
  doc["FileType"] = "mfcard";
  if (const auto& b0 = d.blocks[0])
    doc["Card"] = {{"UID", hex(b0->data(), 4)},
                   {"ATQA", hex(b0->data() + 6, 2)},
                   {"SAK", hex(b0->data() + 5, 1)}};
  json blocks = json::object(), keys = json::object();
  for (int b = 0; b < kBlocks; ++b) {
    const auto blk = fileBlock(d, b);
    blocks[std::to_string(b)] = blk ? json(hex(blk->data(), 16)) : json(nullptr);
  }
  for (int s = 0; s < kSectors; ++s) {
    const auto t = fileTrailer(d, s);
    if (!t) continue;
    json k = json::object();
    if (d.keyA[s]) k["KeyA"] = hex(d.keyA[s]->data(), 6);
    if (d.keyB[s]) k["KeyB"] = hex(d.keyB[s]->data(), 6);
    if (d.blocks[trailerOf(s)]) {
      k["AccessConditions"] = hex(t->data() + 6, 4);
      json text = json::object();
      if (const auto c = decodeAccess(t->data() + 6)) {
        for (int i = 0; i < 3; ++i) text["block" + std::to_string(i)] = dataRights((*c)[i]);
        text["block3"] = trailerRights((*c)[3]);
      }
      text["UserData"] = hex(t->data() + 9, 1);
      k["AccessConditionsText"] = text;
    }
    keys[std::to_string(s)] = k;
  }
  doc["blocks"] = blocks;
  doc["SectorKeys"] = keys;
  return doc.dump(2) + "\n";
}

Dump readDump(const std::string& bytes, Format f, const std::string& name) {
  Dump d;
  if (f == Format::Raw) {
    if (bytes.size() != kBlocks * 16)
      badData(name + ": a raw dump is 1024 bytes, this one is " + std::to_string(bytes.size()));
    for (int b = 0; b < kBlocks; ++b) {
      Block blk;
      std::copy_n(bytes.begin() + b * 16, 16, blk.begin());
      d.blocks[b] = blk;
    }
    keysFromTrailers(d);
    dropUnreadSectors(d);
    return d;
  }
  if (f == Format::Eml) {
    auto ls = lines(bytes);
    while (!ls.empty() && trim(ls.back()).empty()) ls.pop_back();
    if (ls.size() != kBlocks)
      badData(name + ": an emulator dump has 64 block lines, this one " +
              std::to_string(ls.size()));
    for (int b = 0; b < kBlocks; ++b)
      if (!(d.blocks[b] = blockFromHex(trim(ls[b]))))
        badData(name + " line " + std::to_string(b + 1) + ": not 32 hexadecimal digits");
    keysFromTrailers(d);
    dropUnreadSectors(d);
    return d;
  }
  if (f == Format::Mct) {
    int sector = -1, row = 0, lineNo = 0;
    for (const auto& raw : lines(bytes)) {
      ++lineNo;
      const std::string l = trim(raw);
      const std::string where = name + " line " + std::to_string(lineNo);
      if (l.empty()) continue;
      if (l.rfind("+Sector:", 0) == 0) {
        sector = indexOf(trim(l.substr(8)), kSectors).value_or(-1);
        if (sector < 0) badData(where + ": sector 0-15 expected");
        row = 0;
        continue;
      }
      if (sector < 0 || row >= 4) badData(where + ": a block line outside a sector's four");
      const int b = sector * 4 + row++;
      if (l == std::string(32, '-')) continue;
      std::string digits = l;
      const bool noA = isTrailer(b) && digits.compare(0, 12, std::string(12, '-')) == 0;
      const bool noB =
          isTrailer(b) && digits.size() == 32 && digits.compare(20, 12, std::string(12, '-')) == 0;
      if (noA) digits.replace(0, 12, 12, '0');
      if (noB) digits.replace(20, 12, 12, '0');
      auto blk = blockFromHex(digits);
      if (!blk) badData(where + ": not 32 hexadecimal digits");
      d.blocks[b] = blk;
      if (isTrailer(b)) {
        Key k;
        if (!noA) d.keyA[sector] = (std::copy_n(blk->begin(), 6, k.begin()), k);
        if (!noB) d.keyB[sector] = (std::copy_n(blk->begin() + 10, 6, k.begin()), k);
      }
    }
    return d;
  }
  json doc = json::parse(bytes, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("blocks") ||
      !doc["blocks"].is_object())
    badData(name + ": not a JSON card dump (no \"blocks\" object)");
  for (const auto& [index, value] : doc["blocks"].items()) {
    const int b = indexOf(index, kBlocks).value_or(-1);
    if (b < 0) badData(name + ": block \"" + index + "\" is not 0-63");
    if (value.is_null()) continue;
    if (!value.is_string() || !(d.blocks[b] = blockFromHex(value.get<std::string>())))
      badData(name + ": block " + index + " is not 32 hexadecimal digits");
  }
  keysFromTrailers(d);
  if (doc.contains("SectorKeys") && doc["SectorKeys"].is_object())
    for (const auto& [index, k] : doc["SectorKeys"].items()) {
      const int s = indexOf(index, kSectors).value_or(-1);
      if (s < 0 || !k.is_object()) badData(name + ": sector \"" + index + "\" is not 0-15");
      // A sector listed here has the keys named here: a key left out is
      // unknown, whatever its trailer bytes hold.
      d.keyA[s].reset();
      d.keyB[s].reset();
      for (auto [field, slot] : {std::pair{"KeyA", &d.keyA}, std::pair{"KeyB", &d.keyB}})
        if (k.contains(field) && k[field].is_string()) {
          auto key = keyFromHex(k[field].get<std::string>());
          if (!key) badData(name + ": sector " + index + " " + field + " is not 12 hex digits");
          (*slot)[s] = key;
        }
    }
  return d;
}

KeyFile readKeys(const std::string& bytes, const std::string& name) {
  KeyFile kf;
  // Text: printable, and beyond ASCII only in comments (UTF-8).
  const bool text = std::all_of(bytes.begin(), bytes.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == '\n' || c == '\r' || c == '\t' || (u >= 0x20 && u != 0x7F);
  });
  // 192 bytes on one line are a binary file whose keys happen to be printable.
  if (!text || (bytes.size() == 192 && bytes.find('\n') == std::string::npos)) {
    if (bytes.size() != 192)
      badData(name + ": a binary key file is 192 bytes, this one is " +
              std::to_string(bytes.size()));
    for (int i = 0; i < 32; ++i) {
      Key k;
      std::copy_n(bytes.begin() + i * 6, 6, k.begin());
      (i < 16 ? kf.keyA[i] : kf.keyB[i - 16]) = k;
    }
    return kf;
  }
  int lineNo = 0;
  for (const auto& raw : lines(bytes)) {
    ++lineNo;
    std::string l = trim(raw.substr(0, raw.find('#')));
    if (l.empty()) continue;
    const std::string token = l.substr(0, l.find_first_of(" \t"));
    auto k = keyFromHex(token);
    if (!k) badData(name + " line " + std::to_string(lineNo) + ": not a 12-digit key");
    if (std::find(kf.any.begin(), kf.any.end(), *k) == kf.any.end()) kf.any.push_back(*k);
  }
  return kf;
}

std::string writeKeys(const Dump& d, bool binary) {
  std::string out;
  if (binary) {
    for (const auto* set : {&d.keyA, &d.keyB})
      for (const auto& k : *set) {
        const Key key = k.value_or(Key{});
        out.append(reinterpret_cast<const char*>(key.data()), key.size());
      }
    return out;
  }
  std::vector<Key> seen;
  out = "# keys found by orvix\n";
  for (int s = 0; s < kSectors; ++s)
    for (const auto& k : {d.keyA[s], d.keyB[s]})
      if (k && std::find(seen.begin(), seen.end(), *k) == seen.end()) {
        seen.push_back(*k);
        out += hex(k->data(), 6) + "\n";
      }
  return out;
}

std::vector<Key> defaultKeys() {
  const char* known[] = {"FFFFFFFFFFFF", "A0A1A2A3A4A5", "D3F7D3F7D3F7", "000000000000",
                         "B0B1B2B3B4B5", "4D3A99C351DD", "1A982C7E459A", "AABBCCDDEEFF"};
  std::vector<Key> out;
  for (const char* k : known) out.push_back(*keyFromHex(k));
  return out;
}

}  // namespace orvix::ops
