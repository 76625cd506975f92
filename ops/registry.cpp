#include "orvix/ops/registry.h"

#include <algorithm>
#include <climits>

#include "orvix/ops/apdu.h"
#include "orvix/ops/args.h"
#include "orvix/ops/attendance.h"
#include "orvix/ops/dump.h"
#include "orvix/ops/memcard.h"
#include "orvix/ops/mifare_ops.h"
#include "orvix/ops/text.h"

namespace orvix::ops {

namespace {

std::string text(const Args& a, const std::string& name) {
  const auto it = a.find(name);
  return it == a.end() ? std::string() : it->second;
}
bool flag(const Args& a, const std::string& name) { return a.count(name) && a.at(name) != "0"; }

// "keys": 12-digit keys separated by blanks or commas, tried first.
KeyFile keysOf(const Args& a) {
  KeyFile kf;
  const std::string list = text(a, "keys");
  for (std::size_t at = 0; at < list.size();) {
    const auto end = std::min(list.find_first_of(" ,", at), list.size());
    if (end > at) {
      const Key k = parseKey(std::string_view(list).substr(at, end - at), "keys");
      if (std::find(kf.any.begin(), kf.any.end(), k) == kf.any.end()) kf.any.push_back(k);
    }
    at = end + 1;
  }
  return kf;
}

Result blockResult(int block, const Block& b, const std::string& extra = {}) {
  return {{{"block", std::int64_t{block}}, {"data", hex(b.data(), 16)}},
          "block " + std::to_string(block) + ": " + hex(b.data(), 16, true) + "\n" + extra};
}

Result valueOp(orvix_reader* r, const Args& a, ValueStep step) {
  const int block = parseBlock(text(a, "block"));
  std::int64_t amount = 0;
  if (step == ValueStep::Set)
    amount = parseAmount(text(a, "amount"), INT32_MIN, INT32_MAX);
  else if (step != ValueStep::Get)
    amount = parseAmount(text(a, "amount"), 0, INT32_MAX);
  Card card(r);
  const Value v = valueStep(card, block, step, amount, keysOf(a), flag(a, "allow_negative"));
  return {{{"block", std::int64_t{block}},
           {"value", std::int64_t{v.amount}},
           {"address", std::int64_t{v.address}}},
          "block " + std::to_string(block) + ": value " + std::to_string(v.amount) + "\n"};
}

Result aclDecode(const Args& a) {
  const auto b = parseHex(text(a, "bytes"));
  if (!b || (b->size() != 3 && b->size() != 4))
    badArgument("bytes", "the access bytes 6-8 (or 6-9) of a trailer, 6 or 8 digits");
  const auto c = decodeAccess(b->data());
  if (!c)
    badData("access bytes " + hex(b->data(), 3, true) +
            ": an inverted copy does not match; the card would lock the sector");
  Result r;
  r.fields.emplace_back("bytes", hex(*b));
  for (int i = 0; i < 4; ++i) {
    const std::string bits = {char('0' + ((*c)[i] >> 2 & 1)), char('0' + ((*c)[i] >> 1 & 1)),
                              char('0' + ((*c)[i] & 1))};
    const std::string words = i < 3 ? dataRights((*c)[i]) : trailerRights((*c)[3]);
    r.text += (i < 3 ? "block " + std::to_string(i) : std::string("trailer")) + ": " + bits + "  " +
              words + "\n";
    r.fields.emplace_back("block" + std::to_string(i) + ".C1C2C3", bits);
    r.fields.emplace_back("block" + std::to_string(i) + ".rights", words);
  }
  r.fields.emplace_back("locksKeysForever", locksKeysForever((*c)[3]));
  if (locksKeysForever((*c)[3]))
    r.text += "warning: the keys and access bits of this sector can never be changed again\n";
  return r;
}

Result aclEncode(const Args& a) {
  std::string bits;
  for (char ch : text(a, "bits"))
    if (ch == '0' || ch == '1')
      bits += ch;
    else if (ch != ' ' && ch != ',' && ch != '-' && ch != '/')
      bits = "x";
  if (bits.size() != 12)
    badArgument("C1C2C3 x4", "twelve bits, blocks 0, 1, 2 and the trailer (e.g. 000 000 000 001)");
  Conditions c{};
  for (int i = 0; i < 4; ++i)
    c[i] = static_cast<std::uint8_t>((bits[i * 3] - '0') << 2 | (bits[i * 3 + 1] - '0') << 1 |
                                     (bits[i * 3 + 2] - '0'));
  const auto bytes = encodeAccess(c);
  const std::string h = hex(bytes.data(), 3);
  Result r{{{"bytes", h}, {"locksKeysForever", locksKeysForever(c[3])}}, h + "\n"};
  if (locksKeysForever(c[3]))
    r.text += "warning: the keys and access bits of this sector could never be changed again\n";
  return r;
}

Format formatArg(const Args& a) {
  const std::string name = text(a, "format").empty() ? "json" : text(a, "format");
  const auto f = formatNamed(name);
  if (!f) badArgument("format", "mfd, bin, eml, json or mct, not " + name);
  return *f;
}

std::vector<std::int64_t> numbers(const std::vector<int>& v) { return {v.begin(), v.end()}; }

const ArgSpec kKeys{"keys", ArgKind::KeyList, false, "keys to try first (12 hex digits each)"};
const ArgSpec kBlock{"block", ArgKind::BlockNumber, true, "block 0-63"};

std::vector<Operation> makeOperations() {
  std::vector<Operation> ops;
  ops.push_back({"mifare.read",
                 "read one block",
                 {kBlock, kKeys},
                 true,
                 [](orvix_reader* r, const Args& a, const Control&) {
                   const int block = parseBlock(text(a, "block"));
                   Card card(r);
                   return blockResult(block, readBlock(card, block, keysOf(a)));
                 }});
  ops.push_back({"mifare.write",
                 "write one block and read it back",
                 {kBlock,
                  {"data", ArgKind::BlockData, true, "16 bytes, 32 hex digits"},
                  {"force", ArgKind::Flag, false, "write a trailer that fixes the keys for ever"},
                  kKeys},
                 true,
                 [](orvix_reader* r, const Args& a, const Control&) {
                   const int block = parseBlock(text(a, "block"));
                   const Block data = parseBlockData(text(a, "data"));
                   Card card(r);
                   const auto w = writeBlock(card, block, data, keysOf(a), flag(a, "force"));
                   if (!w.verified)
                     return Result{
                         {{"block", std::int64_t{block}}, {"verified", false}, {"note", w.note}},
                         "block " + std::to_string(block) + ": " + w.note + "\n"};
                   auto res = blockResult(block, w.readBack);
                   res.fields.emplace_back("verified", true);
                   return res;
                 }});
  const char* steps[] = {"get", "set", "add", "sub"};
  for (int i = 0; i < 4; ++i) {
    std::vector<ArgSpec> args{kBlock};
    if (i == 1) args.push_back({"amount", ArgKind::SignedAmount, true, "the amount"});
    if (i > 1) args.push_back({"amount", ArgKind::Amount, true, "the amount"});
    if (i == 3)
      args.push_back({"allow_negative", ArgKind::Flag, false, "let the value go below zero"});
    args.push_back(kKeys);
    ops.push_back({std::string("mifare.value.") + steps[i],
                   std::string(steps[i]) + " a value block's amount", args, true,
                   [i](orvix_reader* r, const Args& a, const Control&) {
                     return valueOp(r, a, static_cast<ValueStep>(i));
                   }});
  }
  ops.push_back({"mifare.acl.decode",
                 "trailer access bytes to conditions",
                 {{"bytes", ArgKind::Text, true, "bytes 6-8 (or 6-9) of a trailer"}},
                 false,
                 [](orvix_reader*, const Args& a, const Control&) { return aclDecode(a); }});
  ops.push_back({"mifare.acl.encode",
                 "conditions to trailer access bytes",
                 {{"bits", ArgKind::Text, true, "C1C2C3 of blocks 0, 1, 2 and the trailer"}},
                 false,
                 [](orvix_reader*, const Args& a, const Control&) { return aclEncode(a); }});
  ops.push_back(
      {"mifare.dump",
       "read the whole card; the file's bytes in the format asked for",
       {{"format", ArgKind::FormatName, false, "mfd|bin|eml|json|mct (default json)"},
        {"partial", ArgKind::Flag, false, "keep a dump with blocks not read (json, mct)"},
        kKeys},
       true,
       [](orvix_reader* r, const Args& a, const Control& c) {
         const Format f = formatArg(a);
         const bool partial = flag(a, "partial");
         if (partial)
           if (auto why = partialRefusal(f); !why.empty()) badArgument("partial", why);
         Card card(r);
         DumpOptions o{keysOf(a), partial};
         const auto d = dumpCard(card, o, c);
         const std::string bytes = writeDump(d.dump, f);
         return Result{
             {{"serial", d.serial},
              {"sectorsRead", std::int64_t{d.sectorsRead}},
              {"keysFound", std::int64_t{d.keysFound}},
              {"unreadBlocks", numbers(d.unread)},
              {"file", f == Format::Raw
                           ? hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())
                           : bytes}},
             "card " + d.serial + ": " + std::to_string(d.sectorsRead) + " of 16 sectors read, " +
                 std::to_string(d.keysFound) + " of 32 keys found\n"};
       }});
  ops.push_back({"attendance.records",
                 "the attendance terminal's records dated from … to, as CSV",
                 {{"from", ArgKind::Date, false, "first date, YYYY-MM-DD"},
                  {"to", ArgKind::Date, false, "last date, YYYY-MM-DD"}},
                 true,
                 [](orvix_reader* r, const Args& a, const Control& c) {
                   const int from = dateKey(text(a, "from"), "from", 0);
                   const auto got = readRecords(r, from, dateKey(text(a, "to"), "to", 99999999), c);
                   const auto kept = static_cast<std::int64_t>(got.kept.size());
                   return Result{{{"csv", recordsCsv(got.kept)},
                                  {"records", kept},
                                  {"onTerminal", std::int64_t{got.onTerminal}}},
                                 std::to_string(kept) + " of " + std::to_string(got.onTerminal) +
                                     " records\n"};
                 }});
  ops.push_back({"attendance.clock",
                 "the attendance terminal's clock, set first when asked",
                 {{"set", ArgKind::Clock, false, "now, or \"YYYY-MM-DD HH:MM[:SS]\""}},
                 true,
                 [](orvix_reader* r, const Args& a, const Control&) {
                   if (a.count("set")) setClock(r, clockSetting(text(a, "set"), "set"));
                   const auto c = readClock(r);
                   return Result{{{"clock", c.text}, {"weekday", c.weekday}},
                                 c.text + " " + c.weekday + "\n"};
                 }});
  ops.push_back({"apdu.script",
                 "run a script of APDUs: hex lines, 'expect SW' after one, 'reset', '# comments'",
                 {{"script", ArgKind::Text, true, "the script's text"},
                  {"sam", ArgKind::Text, false, "a SAM slot 1-4 instead of the CPU card"}},
                 true,
                 [](orvix_reader* r, const Args& a, const Control&) {
                   const auto sam =
                       parseNumber(text(a, "sam").empty() ? "0" : text(a, "sam"), 0, 4);
                   if (!sam) badArgument("sam", "1-4 (0 = the CPU card)");
                   const auto lines = parseApduScript(text(a, "script"), "script");
                   std::vector<ApduExchange> log;
                   std::string said;
                   runApduScript(r, static_cast<int>(*sam), lines, "script", log,
                                 [&](const std::string& line) { said += line + "\n"; });
                   return Result{{{"exchanges", std::int64_t(log.size())}}, said};
                 }});
  for (const bool write : {false, true}) {
    std::vector<ArgSpec> args = {{"type", ArgKind::Text, true, "the card type code (e.g. 21)"},
                                 {"area", ArgKind::Text, false, "an area; default: block transfer"},
                                 {"page", ArgKind::Text, false, "the first page (default 0)"},
                                 {"address", ArgKind::Text, false, "the address within the page"}};
    args.push_back(write ? ArgSpec{"data", ArgKind::Text, true, "the bytes, in hex"}
                         : ArgSpec{"length", ArgKind::Text, true, "the number of bytes"});
    ops.push_back(
        {write ? "memcard.write" : "memcard.read",
         write ? "write a run of bytes onto a memory card" : "read a run of bytes of a memory card",
         args, true, [write](orvix_reader* r, const Args& a, const Control& c) {
           auto number = [&](const char* name, long long fallback, long long max) {
             const std::string t = text(a, name);
             const auto n = t.empty() ? std::optional<long long>(fallback) : parseNumber(t, 0, max);
             if (!n) badArgument(name, "0-" + std::to_string(max) + ", not " + t.substr(0, 16));
             return static_cast<int>(*n);
           };
           const MemoryRun run{number("type", -1, 255), number("area", -1, 255),
                               number("page", 0, 65535), number("address", 0, 65535)};
           Bytes data;
           if (write) {
             const auto b = parseHex(text(a, "data"));
             if (!b || b->empty()) badArgument("data", "hexadecimal bytes");
             data = *b;
           } else {
             data.resize(static_cast<std::size_t>(number("length", 0, 65536LL * 264)));
           }
           const long long start = memoryRunStart(run, static_cast<long long>(data.size()));
           memoryTransfer(r, run, write, data, c);
           const std::string n =
               std::to_string(data.size()) + " bytes at position " + std::to_string(start) + "\n";
           if (write) return Result{{{"written", std::int64_t(data.size())}}, "wrote " + n};
           return Result{{{"data", hex(data)}}, "read " + n};
         }});
  }
  return ops;
}

}  // namespace

const std::vector<Operation>& operations() {
  static const std::vector<Operation> all = makeOperations();
  return all;
}

void checkArgs(const Operation& op, const Args& args) {
  for (const auto& given : args)
    if (std::none_of(op.args.begin(), op.args.end(),
                     [&](auto& a) { return a.name == given.first; }))
      badArgument(given.first, "not an argument of " + op.name);
  for (const auto& spec : op.args) {
    const auto it = args.find(spec.name);
    if (it == args.end()) {
      if (spec.required) badArgument(spec.name, "missing");
      continue;
    }
    const std::string& v = it->second;
    switch (spec.kind) {
      case ArgKind::BlockNumber:
        parseBlock(v, spec.name);
        break;
      case ArgKind::SectorList:
        parseSectors(v, spec.name);
        break;
      case ArgKind::KeyText:
        parseKey(v, spec.name);
        break;
      case ArgKind::KeyList:
        keysOf(args);
        break;
      case ArgKind::BlockData:
        parseBlockData(v, spec.name);
        break;
      case ArgKind::Amount:
        parseAmount(v, 0, INT32_MAX, spec.name);
        break;
      case ArgKind::SignedAmount:
        parseAmount(v, INT32_MIN, INT32_MAX, spec.name);
        break;
      case ArgKind::FormatName:
        formatArg(args);
        break;
      case ArgKind::Date:
        parseDate(v, spec.name);
        break;
      case ArgKind::Clock:
        clockSetting(v, spec.name);
        break;
      case ArgKind::Flag:
      case ArgKind::Text:
        break;
    }
  }
}

const Operation* findOperation(const std::string& name) {
  for (const auto& op : operations())
    if (op.name == name) return &op;
  return nullptr;
}

}  // namespace orvix::ops
