// orvix mifare: dump, restore, read, write, value and acl.
#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

#include "commands.h"
#include "mifare_card.h"

namespace orvix {

using namespace mifare;

namespace {

struct MifareArgs {
  std::string file, keys, keysOut, format, sectors, hex, acl;
  std::vector<std::string> key;
  int block = -1;
  std::int64_t amount = 0;
  bool withTrailers = false, force = false;
};

KeyFile loadKeys(const MifareArgs& a) {
  KeyFile kf;
  if (!a.keys.empty()) kf = readKeys(readFile(a.keys, kTextLimit), a.keys);
  for (const auto& text : a.key) {
    auto b = parseHex(text);
    if (!b || b->size() != 6 || text.size() != 12)
      throw Failure(kExitUsage, "--key: 12 hexadecimal digits, not " + text);
    Key k;
    std::copy(b->begin(), b->end(), k.begin());
    kf.any.insert(kf.any.begin(), k);
  }
  return kf;
}

Format formatOf(const std::string& path, const std::string& named) {
  if (!named.empty()) {
    if (auto f = formatNamed(named)) return *f;
    throw Failure(kExitUsage, "--format: mfd, bin, eml, json or mct, not " + named);
  }
  if (auto f = formatFor(path)) return *f;
  throw Failure(kExitUsage, path + ": the extension does not name a format; give --format");
}

std::set<int> parseSectors(const std::string& text) {
  std::set<int> out;
  if (text.empty()) {
    for (int s = 0; s < kSectors; ++s) out.insert(s);
    return out;
  }
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, end - at);
    const auto dash = part.find('-');
    const auto first = parseNumber(part.substr(0, dash), 0, kSectors - 1);
    const auto last =
        dash == std::string::npos ? first : parseNumber(part.substr(dash + 1), 0, kSectors - 1);
    if (!first || !last || *last < *first)
      throw Failure(kExitUsage, "--sectors: a list like 1,3-5 of sectors 0-15, not " + text);
    for (auto s = *first; s <= *last; ++s) out.insert(static_cast<int>(s));
    at = end + 1;
  }
  return out;
}

// Opens the block's sector with the first key that lets it do what it must:
// key A, then key B.
template <class Op>
void withSector(Card& card, int block, const KeyFile& kf, const std::string& what, Op op) {
  const int s = block / 4;
  Dump none;
  int last = 0;
  bool opened = false;
  for (int kt = 0; kt < 2; ++kt) {
    auto key = card.findKey(s, kt, candidates(s, kt, kf, none, defaultKeys()));
    if (!key) continue;
    opened = true;
    if ((last = op(kt, *key)) == 0) return;
  }
  if (!opened)
    throw Failure(kExitRefused, what + ": no key opened sector " + std::to_string(s) +
                                    " (tried as key A and key B)");
  check(last, what);
}

Block readBlock(Card& card, int block, const KeyFile& kf) {
  Block b{};
  withSector(card, block, kf, "read block " + std::to_string(block),
             [&](int, const Key&) { return card.read(block, b); });
  return b;
}

void checkBlock(int block) {
  if (block < 0 || block >= kBlocks)
    throw Failure(kExitUsage, "block: 0-63, not " + std::to_string(block));
}

Value valueOf(const Block& b, int block) {
  auto v = decodeValue(b);
  if (!v)
    failData("block " + std::to_string(block) + " is not a value block (" + hex(b.data(), 16) +
             "); nothing changed");
  return *v;
}

json blockJson(int block, const Block& b) {
  return {{"block", block}, {"data", hex(b.data(), 16)}};
}

void dump(Context& ctx, const MifareArgs& a) {
  const Format f = formatOf(a.file, a.format);
  const KeyFile kf = loadKeys(a);
  claimOutput(ctx, a.file);
  if (!a.keysOut.empty()) claimOutput(ctx, a.keysOut);
  if (!a.keysOut.empty() && files::sameTarget(a.file, a.keysOut))
    throw Failure(kExitUsage, "--keys-out: not the dump file " + a.file);
  ctx.link();
  const StopOnInterrupt stopBetweenBlocks;
  Card card;
  DumpReport report;
  Dump d;
  {
    Progress progress("dumping sectors", kSectors);
    d = dumpCard(card, kf, progress, report);
  }
  // Nothing read: the old file stays as it was.
  if (report.unread.size() == kBlocks)
    throw Failure(kExitRefused, "no sector could be read; " + a.file + " not written");
  // Dumps hold the keys in their trailers: both files are the owner's only.
  std::vector<files::Output> outs{{a.file, writeDump(d, f), true}};
  if (!a.keysOut.empty()) {
    const auto kfmt = formatFor(a.keysOut);
    outs.push_back({a.keysOut, writeKeys(d, kfmt && *kfmt == Format::Raw), true});
  }
  writeFiles(outs);
  std::string text;
  json unread = json::array();
  for (int b : report.unread) unread.push_back(b);
  for (const auto& e : report.errors) text += "not read: " + e + "\n";
  if (!report.unread.empty()) {
    text += "blocks not read:";
    for (int b : report.unread) text += " " + std::to_string(b);
    text += "\n";
  }
  std::uint8_t serial[4];
  const std::uint32_t sn = card.serial();
  std::memcpy(serial, &sn, 4);
  text += "card " + hex(serial, 4) + ": " + std::to_string(report.sectorsRead) +
          " of 16 sectors read, " + std::to_string(report.keysFound) +
          " of 32 keys found, written to " + a.file + "\n";
  emit(ctx,
       {{"file", a.file},
        {"serial", hex(serial, 4)},
        {"sectorsRead", report.sectorsRead},
        {"keysFound", report.keysFound},
        {"unreadBlocks", unread},
        {"errors", report.errors}},
       text);
}

void restore(Context& ctx, const MifareArgs& a) {
  RestoreOptions o{parseSectors(a.sectors), a.withTrailers, a.force};
  const Dump d = readDump(readFile(a.file, kTextLimit), formatOf(a.file, a.format), a.file);
  const KeyFile kf = loadKeys(a);
  ctx.link();
  const StopOnInterrupt stopBetweenBlocks;
  Card card;
  int written = 0;
  {
    Progress progress("restoring sectors", o.sectors.size());
    written = restoreCard(card, d, kf, o, progress);
  }
  // Blocks the file does not hold (not read when it was dumped) are left out.
  std::string text;
  json skipped = json::array();
  for (int s : o.sectors)
    for (int b = std::max(1, s * 4); b < s * 4 + (a.withTrailers ? 4 : 3); ++b)
      if (!d.blocks[b]) {
        text += (skipped.empty() ? "blocks not in the file, left as they were:" : "") +
                (" " + std::to_string(b));
        skipped.push_back(b);
      }
  if (!text.empty()) text += "\n";
  emit(ctx, {{"file", a.file}, {"blocksWritten", written}, {"skippedBlocks", skipped}},
       text + std::to_string(written) + " blocks written and read back from " + a.file + "\n");
}

void readCmd(Context& ctx, const MifareArgs& a) {
  checkBlock(a.block);
  const KeyFile kf = loadKeys(a);
  ctx.link();
  Card card;
  const Block b = readBlock(card, a.block, kf);
  emit(ctx, blockJson(a.block, b),
       "block " + std::to_string(a.block) + ": " + hex(b.data(), 16, true) + "\n");
}

void writeCmd(Context& ctx, const MifareArgs& a) {
  checkBlock(a.block);
  auto bytes = parseHex(a.hex);
  if (!bytes || bytes->size() != 16) throw Failure(kExitUsage, "data: 32 hexadecimal digits");
  Block data;
  std::copy(bytes->begin(), bytes->end(), data.begin());
  if (auto why = ops::writeRefusal(a.block, data, a.force); !why.empty()) failData(why);
  const KeyFile kf = loadKeys(a);
  ctx.link();
  Card card;
  withSector(card, a.block, kf, "write block " + std::to_string(a.block),
             [&](int, const Key&) { return card.write(a.block, data); });
  // A trailer is read back with the keys it has just set.
  KeyFile now = kf;
  if (isTrailer(a.block)) {
    Key k;
    now.keyA[a.block / 4] = (std::copy_n(data.begin(), 6, k.begin()), k);
    now.keyB[a.block / 4] = (std::copy_n(data.begin() + 10, 6, k.begin()), k);
  }
  const Block back = readBlock(card, a.block, now);
  if (!isTrailer(a.block) && back != data)
    throw Failure(kExitRefused, "block " + std::to_string(a.block) + " reads back " +
                                    hex(back.data(), 16) + " after the write");
  emit(ctx, blockJson(a.block, back),
       "block " + std::to_string(a.block) + ": " + hex(back.data(), 16, true) + "\n");
}

void valueCmd(Context& ctx, const MifareArgs& a, const std::string& op) {
  checkBlock(a.block);
  if (isTrailer(a.block) || a.block == 0)
    failData("block " + std::to_string(a.block) + " cannot hold a value (" +
             (a.block ? "sector trailer" : "block 0") + ")");
  if (op != "get" && (a.amount < 0 || a.amount > INT32_MAX) && op != "set")
    throw Failure(kExitUsage, "AMOUNT: 0-2147483647");
  if (op == "set" && (a.amount < INT32_MIN || a.amount > INT32_MAX))
    throw Failure(kExitUsage, "AMOUNT: a signed 32-bit number");
  const KeyFile kf = loadKeys(a);
  ctx.link();
  Card card;
  const auto amount = static_cast<std::int32_t>(a.amount);
  std::int64_t expect = amount;
  const std::string what = "value " + op + " on block " + std::to_string(a.block);
  if (op == "set") {
    const Block data = encodeValue(amount, static_cast<std::uint8_t>(a.block));
    withSector(card, a.block, kf, what, [&](int, const Key&) { return card.write(a.block, data); });
  } else {
    const Value before = valueOf(readBlock(card, a.block, kf), a.block);
    expect = before.amount;
    if (op != "get") {
      expect += op == "add" ? a.amount : -a.amount;
      if (expect < INT32_MIN || expect > INT32_MAX)
        failData(what + ": the value would leave its range; nothing changed");
      withSector(card, a.block, kf, what,
                 [&](int, const Key&) { return card.step(a.block, amount, op == "add"); });
    }
  }
  const Value now = valueOf(readBlock(card, a.block, kf), a.block);
  if (now.amount != expect)
    throw Failure(kExitRefused, what + ": the block reads back " + std::to_string(now.amount) +
                                    ", not " + std::to_string(expect));
  emit(ctx, {{"block", a.block}, {"value", now.amount}, {"address", now.address}},
       "block " + std::to_string(a.block) + ": value " + std::to_string(now.amount) + "\n");
}

void aclDecode(Context& ctx, const std::string& text) {
  auto b = parseHex(text);
  if (!b || (b->size() != 3 && b->size() != 4))
    throw Failure(kExitUsage, "HEX: the access bytes 6-8 (or 6-9) of a trailer, 6 or 8 digits");
  const auto c = decodeAccess(b->data());
  if (!c)
    failData("access bytes " + hex(b->data(), 3, true) +
             ": an inverted copy does not match; the card would lock the sector");
  std::string out;
  json doc = {{"bytes", hex(*b)}};
  for (int i = 0; i < 4; ++i) {
    const std::string bits = {char('0' + ((*c)[i] >> 2 & 1)), char('0' + ((*c)[i] >> 1 & 1)),
                              char('0' + ((*c)[i] & 1))};
    const std::string words = i < 3 ? dataRights((*c)[i]) : trailerRights((*c)[3]);
    const std::string name = i < 3 ? "block " + std::to_string(i) : "trailer";
    out += name + ": " + bits + "  " + words + "\n";
    doc[i < 3 ? "block" + std::to_string(i) : "block3"] = {{"C1C2C3", bits}, {"rights", words}};
  }
  if (locksKeysForever((*c)[3])) {
    out += "warning: the keys and access bits of this sector can never be changed again\n";
    doc["locksKeysForever"] = true;
  }
  emit(ctx, doc, out);
}

void aclEncode(Context& ctx, const std::string& text) {
  std::string bits;
  for (char ch : text)
    if (ch == '0' || ch == '1')
      bits += ch;
    else if (ch != ' ' && ch != ',' && ch != '-' && ch != '/')
      bits = "x";
  if (bits.size() != 12)
    throw Failure(kExitUsage,
                  "C1C2C3 x4: twelve bits, blocks 0, 1, 2 and the trailer (e.g. "
                  "000 000 000 001)");
  Conditions c{};
  for (int i = 0; i < 4; ++i)
    c[i] = static_cast<std::uint8_t>((bits[i * 3] - '0') << 2 | (bits[i * 3 + 1] - '0') << 1 |
                                     (bits[i * 3 + 2] - '0'));
  const auto bytes = encodeAccess(c);
  const std::string h = hex(bytes.data(), 3);
  std::string out = h + "\n";
  if (locksKeysForever(c[3]))
    out += "warning: the keys and access bits of this sector could never be changed again\n";
  emit(ctx, {{"bytes", h}, {"locksKeysForever", locksKeysForever(c[3])}}, out);
}

}  // namespace

void addMifare(CLI::App& app, Context& ctx) {
  auto a = std::make_shared<MifareArgs>();
  auto* m =
      app.add_subcommand("mifare", "Mifare 1 cards: dump, restore, blocks, values, access bits");
  m->require_subcommand(1);
  auto keyOptions = [a](CLI::App* c) {
    c->add_option("--keys", a->keys, "key list (.dic/.keys) or 192-byte binary key file");
    c->add_option("--key", a->key, "a key to try first (12 hex digits; repeatable)");
  };

  auto* d = m->add_subcommand("dump", "read the whole card into a file");
  d->add_option("-o,--output", a->file, "the dump file")->required();
  d->add_option("--format", a->format, "mfd|bin|eml|json|mct (default: from the extension)");
  d->add_option("--keys-out", a->keysOut, "write the keys found (.bin: binary, else a key list)");
  keyOptions(d);
  d->callback([&ctx, a] { dump(ctx, *a); });

  auto* r = m->add_subcommand("restore", "write a dump back onto a card (never block 0)");
  r->add_option("file", a->file, "the dump file (any format dump writes)")->required();
  r->add_option("--format", a->format, "mfd|bin|eml|json|mct (default: from the extension)");
  r->add_option("--sectors", a->sectors, "sectors to write, e.g. 1,3-5 (default: all)");
  r->add_flag("--with-trailers", a->withTrailers, "also write the sector trailers");
  r->add_flag("--force", a->force, "write trailers that would fix the keys for ever");
  keyOptions(r);
  r->callback([&ctx, a] { restore(ctx, *a); });

  auto* rd = m->add_subcommand("read", "read one block");
  rd->add_option("block", a->block, "block 0-63")->check(decimal())->required();
  keyOptions(rd);
  rd->callback([&ctx, a] { readCmd(ctx, *a); });

  auto* w = m->add_subcommand("write", "write one block and read it back");
  w->add_option("block", a->block, "block 1-63")->check(decimal())->required();
  w->add_option("data", a->hex, "16 bytes, 32 hex digits")->required();
  w->add_flag("--force", a->force, "write a trailer that would fix the keys for ever");
  keyOptions(w);
  w->callback([&ctx, a] { writeCmd(ctx, *a); });

  auto* v = m->add_subcommand("value", "value blocks: get, set, add, sub");
  v->require_subcommand(1);
  for (const char* op : {"get", "set", "add", "sub"}) {
    auto* c = v->add_subcommand(op, std::string(op) + " a value block's amount");
    c->add_option("block", a->block, "the value block")->check(decimal())->required();
    if (std::string(op) != "get")
      c->add_option("amount", a->amount, "the amount")->check(decimal())->required();
    keyOptions(c);
    c->callback([&ctx, a, op] { valueCmd(ctx, *a, op); });
  }

  auto* acl = m->add_subcommand("acl", "access bits in words, and back");
  acl->require_subcommand(1);
  auto* dec = acl->add_subcommand("decode", "trailer access bytes to conditions");
  dec->add_option("hex", a->acl, "bytes 6-8 (or 6-9) of a trailer, e.g. FF0780")->required();
  dec->callback([&ctx, a] { aclDecode(ctx, a->acl); });
  auto* enc = acl->add_subcommand("encode", "conditions to trailer access bytes");
  enc->add_option("bits", a->acl,
                  "C1C2C3 of blocks 0, 1, 2 and the trailer, e.g. '000 000 000 001'")
      ->required();
  enc->callback([&ctx, a] { aclEncode(ctx, a->acl); });
}

}  // namespace orvix
