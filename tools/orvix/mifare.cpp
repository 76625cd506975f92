// orvix mifare: dump, restore, read, write, value and acl.
#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

#include "commands.h"
#include "orvix/ops/args.h"
#include "orvix/ops/dump.h"
#include "orvix/ops/registry.h"

namespace orvix {

using namespace ops;

namespace {

struct MifareArgs {
  std::string file, keys, keysOut, format, sectors, hex, acl, amount;
  std::vector<std::string> key;
  int block = -1;
  bool withTrailers = false, force = false, partial = false, allowNegative = false;
};

KeyFile loadKeys(const MifareArgs& a) {
  KeyFile kf;
  if (!a.keys.empty()) kf = readKeys(readFile(a.keys, kTextLimit), a.keys);
  for (const auto& text : a.key) kf.any.insert(kf.any.begin(), parseKey(text, "--key"));
  return kf;
}

Format formatOf(const std::string& path, const std::string& named) {
  if (!named.empty()) {
    if (auto f = formatNamed(named)) return *f;
    badArgument("--format", "mfd, bin, eml, json or mct, not " + named);
  }
  if (auto f = formatFor(path)) return *f;
  throw Failure(kExitUsage, path + ": the extension does not name a format; give --format");
}

// Ctrl-C asks the operation to stop between two blocks.
Control interruptible(Progress& progress) {
  Control c;
  c.cancelled = [] { return interrupted(); };
  c.progress = [&progress](std::size_t done, std::size_t) { progress.update(done); };
  return c;
}

void dump(Context& ctx, const MifareArgs& a) {
  const Format f = formatOf(a.file, a.format);
  if (a.partial)
    if (auto why = partialRefusal(f); !why.empty()) badArgument("--partial", why);
  const KeyFile kf = loadKeys(a);
  claimOutput(ctx, a.file);
  if (!a.keysOut.empty()) claimOutput(ctx, a.keysOut);
  if (!a.keysOut.empty() && files::sameTarget(a.file, a.keysOut))
    throw Failure(kExitUsage, "--keys-out: not the dump file " + a.file);
  ctx.link();
  const StopOnInterrupt stopBetweenBlocks;
  Card card(reader());
  DumpResult r;
  try {
    Progress progress("dumping sectors", kSectors);
    r = dumpCard(card, {kf, a.partial}, interruptible(progress));
  } catch (const Error& e) {  // the old file stays as it was
    throw Error(e.fault, e.what() + ("; " + a.file + " not written"), e.code, e.step);
  }
  // Dumps hold the keys in their trailers: both files are the owner's only.
  std::vector<files::Output> outs{{a.file, writeDump(r.dump, f), true}};
  if (!a.keysOut.empty()) {
    const auto kfmt = formatFor(a.keysOut);
    outs.push_back({a.keysOut, writeKeys(r.dump, kfmt && *kfmt == Format::Raw), true});
  }
  writeFiles(outs);
  std::string text;
  json unread = json::array();
  for (int b : r.unread) unread.push_back(b);
  for (const auto& e : r.errors) text += "not read: " + e + "\n";
  if (!r.unread.empty()) {
    text += "blocks not read:";
    for (int b : r.unread) text += " " + std::to_string(b);
    text += "\n";
  }
  text += "card " + r.serial + ": " + std::to_string(r.sectorsRead) + " of 16 sectors read, " +
          std::to_string(r.keysFound) + " of 32 keys found, written to " + a.file + "\n";
  emit(ctx,
       {{"file", a.file},
        {"serial", r.serial},
        {"sectorsRead", r.sectorsRead},
        {"keysFound", r.keysFound},
        {"unreadBlocks", unread},
        {"errors", r.errors}},
       text);
}

void restore(Context& ctx, const MifareArgs& a) {
  RestoreOptions o{parseSectors(a.sectors, "--sectors"), a.withTrailers, a.force, {}};
  const Dump d = readDump(readFile(a.file, kTextLimit), formatOf(a.file, a.format), a.file);
  o.keys = loadKeys(a);
  ctx.link();
  const StopOnInterrupt stopBetweenBlocks;
  Card card(reader());
  RestoreResult r;
  {
    Progress progress("restoring sectors", o.sectors.size());
    r = restoreCard(card, d, o, interruptible(progress));
  }
  // Blocks the file does not hold (not read when it was dumped) are left out.
  std::string text;
  for (int b : r.skipped)
    text += (text.empty() ? "blocks not in the file, left as they were:" : "") +
            (" " + std::to_string(b));
  if (!text.empty()) text += "\n";
  emit(ctx, {{"file", a.file}, {"blocksWritten", r.written}, {"skippedBlocks", r.skipped}},
       text + std::to_string(r.written) + " blocks written and read back from " + a.file + "\n");
}

// The operation of the registry with these arguments; its result printed.
void runOperation(Context& ctx, const std::string& name, const Args& args, const MifareArgs& a) {
  const Operation& op = *findOperation(name);
  Args all = args;
  const KeyFile kf = loadKeys(a);
  std::string keys;
  for (const auto& k : kf.any) keys += hex(k.data(), 6) + " ";
  if (!keys.empty()) all["keys"] = keys;
  if (op.needsReader) ctx.link();
  const Result r = op.run(op.needsReader ? reader() : nullptr, all, {});
  json doc = json::object();
  for (const auto& [field, value] : r.fields)
    std::visit(
        [&, &field = field](const auto& v) {
          std::string path = "/" + field;  // "block0.rights" nests
          std::replace(path.begin(), path.end(), '.', '/');
          doc[json::json_pointer(path)] = v;
        },
        value);
  emit(ctx, doc, r.text);
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
  d->add_flag("--partial", a->partial,
              "write the dump even when blocks could not be read (json or mct only)");
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
  rd->callback([&ctx, a] {
    runOperation(ctx, "mifare.read", {{"block", std::to_string(a->block)}}, *a);
  });

  auto* w = m->add_subcommand("write", "write one block and read it back");
  w->add_option("block", a->block, "block 1-63")->check(decimal())->required();
  w->add_option("data", a->hex, "16 bytes, 32 hex digits")->required();
  w->add_flag("--force", a->force, "write a trailer that would fix the keys for ever");
  keyOptions(w);
  w->callback([&ctx, a] {
    Args args{{"block", std::to_string(a->block)}, {"data", a->hex}};
    if (a->force) args["force"] = "1";
    runOperation(ctx, "mifare.write", args, *a);
  });

  auto* v = m->add_subcommand("value", "value blocks: get, set, add, sub");
  v->require_subcommand(1);
  for (const char* op : {"get", "set", "add", "sub"}) {
    auto* c = v->add_subcommand(op, std::string(op) + " a value block's amount");
    c->add_option("block", a->block, "the value block")->check(decimal())->required();
    if (std::string(op) != "get")
      c->add_option("amount", a->amount, "the amount")->check(decimal())->required();
    if (std::string(op) == "sub")
      c->add_flag("--allow-negative", a->allowNegative, "let the value go below zero");
    keyOptions(c);
    c->callback([&ctx, a, op] {
      Args args{{"block", std::to_string(a->block)}, {"amount", a->amount}};
      if (a->allowNegative) args["allow_negative"] = "1";
      runOperation(ctx, std::string("mifare.value.") + op, args, *a);
    });
  }

  auto* acl = m->add_subcommand("acl", "access bits in words, and back");
  acl->require_subcommand(1);
  auto* dec = acl->add_subcommand("decode", "trailer access bytes to conditions");
  dec->add_option("hex", a->acl, "bytes 6-8 (or 6-9) of a trailer, e.g. FF0780")->required();
  dec->callback([&ctx, a] { runOperation(ctx, "mifare.acl.decode", {{"bytes", a->acl}}, *a); });
  auto* enc = acl->add_subcommand("encode", "conditions to trailer access bytes");
  enc->add_option("bits", a->acl,
                  "C1C2C3 of blocks 0, 1, 2 and the trailer, e.g. '000 000 000 001'")
      ->required();
  enc->callback([&ctx, a] { runOperation(ctx, "mifare.acl.encode", {{"bits", a->acl}}, *a); });
}

}  // namespace orvix
