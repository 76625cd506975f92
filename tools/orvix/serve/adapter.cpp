// The operations of the library of card work as messages: JSON arguments to
// the operations' text arguments, their results and errors back to JSON.
// The rules themselves are the operations'; nothing here decides about a
// card.
#include <boost/beast/core/detail/base64.hpp>

#include "orvix/ops/args.h"
#include "orvix/ops/dump.h"
#include "orvix/ops/registry.h"
#include "orvix/ops/text.h"
#include "serve.h"

namespace orvix::serve {

namespace {

namespace b64 = boost::beast::detail::base64;

[[noreturn]] void bad(const std::string& arg, const char* reason, const std::string& text) {
  throw Refusal{kBadArgs, arg + ": " + text, "", {{"arg", arg}, {"reason", reason}}};
}

// Why an operation refused an argument's text, from the kind of argument it is.
const char* reasonFor(ops::ArgKind kind, const std::string& given) {
  switch (kind) {
    case ops::ArgKind::BlockNumber:
    case ops::ArgKind::Amount:
    case ops::ArgKind::SignedAmount:
      return "range";
    case ops::ArgKind::KeyText:
    case ops::ArgKind::KeyList:
    case ops::ArgKind::BlockData: {
      std::string digits = given;
      for (auto& c : digits)
        if (c == ',') c = ' ';
      return ops::parseHex(digits) ? "length" : "hex";
    }
    case ops::ArgKind::FormatName:
    case ops::ArgKind::Flag:
      return "choice";
    default:
      return "format";
  }
}

bool numeric(ops::ArgKind k) {
  return k == ops::ArgKind::BlockNumber || k == ops::ArgKind::Amount ||
         k == ops::ArgKind::SignedAmount;
}

// One argument's JSON value as the operation's text: numbers in decimal,
// a flag present as "1", a key list as keys separated by blanks.
std::optional<std::string> argText(const ops::ArgSpec& spec, const json& v) {
  if (spec.kind == ops::ArgKind::Flag) {
    if (!v.is_boolean()) bad(spec.name, "type", "true or false");
    return v.get<bool>() ? std::optional<std::string>("1") : std::nullopt;
  }
  if (numeric(spec.kind)) {
    if (!v.is_number_integer()) bad(spec.name, "type", "a whole number");
    return std::to_string(v.get<long long>());
  }
  if (spec.kind == ops::ArgKind::KeyList && v.is_array()) {
    std::string list;
    for (const auto& k : v) {
      if (!k.is_string() || k.get<std::string>().find_first_of(" ,") != std::string::npos)
        bad(spec.name, "type", "a list of 12-digit keys");
      list += (list.empty() ? "" : " ") + k.get<std::string>();
    }
    return list;
  }
  if (!v.is_string()) bad(spec.name, "type", "a string");
  return v.get<std::string>();
}

// The error an operation threw, as the service answers it: the library's
// code with the operation's own text where a reader or link result caused
// it, else the service's code; for an argument, which one and why.
Refusal refusalOf(const ops::Error& e, const std::vector<ops::ArgSpec>& specs, const json& args) {
  if (e.fault == ops::Fault::Argument) {
    json fields = {{"arg", e.argument}, {"reason", "format"}};
    for (const auto& s : specs)
      if (s.name == e.argument)
        fields["reason"] =
            reasonFor(s.kind, args.contains(s.name) ? argText(s, args[s.name]).value_or("") : "");
    return {kBadArgs, e.what(), "", fields};
  }
  if (e.code) return {e.code, e.what(), e.step};
  if (e.fault == ops::Fault::Cancelled) return {ORVIX_CANCELLED, e.what(), ""};
  return {kRefused, e.what(), ""};
}

json fieldsOf(const ops::Result& r) {
  json out = json::object();
  for (const auto& [name, value] : r.fields)
    std::visit([&, n = name](const auto& v) { out[n] = v; }, value);
  out["text"] = r.text;
  return out;
}

std::string base64(const std::string& bytes) {
  std::string out(b64::encoded_size(bytes.size()), '\0');
  out.resize(b64::encode(out.data(), bytes.data(), bytes.size()));
  return out;
}

std::string unbase64(const std::string& name, const std::string& text) {
  std::string out(b64::decoded_size(text.size()), '\0');
  const auto [written, read] = b64::decode(out.data(), text.data(), text.size());
  // The decoder stops at the padding: at most two "=" may follow.
  const auto pad = text.find_last_not_of('=') + 1;
  if (read != pad || text.size() - pad > 2 || text.size() % 4)
    bad(name, "format", "the file's bytes in base64");
  out.resize(written);
  return out;
}

std::string textArg(const json& args, const char* name, const std::string& fallback) {
  if (!args.contains(name)) return fallback;
  if (!args[name].is_string()) bad(name, "type", "a string");
  return args[name];
}

bool flagArg(const json& args, const char* name) {
  if (!args.contains(name)) return false;
  if (!args[name].is_boolean()) bad(name, "type", "true or false");
  return args[name];
}

ops::Format formatOf(const json& args, const char* name) {
  const std::string given = textArg(args, name, "json");
  const auto f = ops::formatNamed(given);
  if (!f) bad(name, "choice", "mfd, bin, eml, json or mct, not " + given.substr(0, 64));
  return *f;
}

// A dump file sent by the page: base64 of its bytes in the format named.
ops::Dump dumpOf(const json& args) {
  if (!args.contains("file")) bad("file", "missing", "a dump file");
  const auto f = formatOf(args, "format");
  return ops::readDump(unbase64("file", textArg(args, "file", "")), f, "file");
}

json listOf(const auto& items) {
  json out = json::array();
  for (const auto& i : items) out.push_back(i ? json(ops::hex(i->data(), i->size())) : json());
  return out;
}

ops::KeyFile keysOf(const json& args) {
  ops::KeyFile kf;
  if (!args.contains("keys")) return kf;
  const ops::ArgSpec spec{"keys", ops::ArgKind::KeyList, false, ""};
  const std::string list = argText(spec, args["keys"]).value_or("");
  for (std::size_t at = 0; at < list.size();) {
    const auto end = std::min(list.find(' ', at), list.size());
    if (end > at) kf.any.push_back(ops::parseKey(list.substr(at, end - at), "keys"));
    at = end + 1;
  }
  return kf;
}

// The dump files as messages, beside the registry's operations: the page
// holds no dump format of its own.
json fileOperation(const std::string& op, orvix_reader* reader, const json& args,
                   const ops::Control& control) {
  if (op == "mifare.parse") {
    const ops::Dump d = dumpOf(args);
    return {{"blocks", listOf(d.blocks)}, {"key_a", listOf(d.keyA)}, {"key_b", listOf(d.keyB)}};
  }
  if (op == "mifare.convert") {
    const ops::Dump d = dumpOf(args);
    const auto to = formatOf(args, "to");
    const bool whole = std::all_of(d.blocks.begin(), d.blocks.end(), [](auto& b) { return !!b; });
    if (!whole)
      if (auto why = ops::partialRefusal(to); !why.empty()) bad("to", "choice", why);
    return {{"file", base64(ops::writeDump(d, to))}};
  }
  ops::RestoreOptions o;
  o.sectors = ops::parseSectors(textArg(args, "sectors", ""));
  o.withTrailers = flagArg(args, "with_trailers");
  o.force = flagArg(args, "force");
  o.keys = keysOf(args);
  ops::Card card(reader);
  const auto r = ops::restoreCard(card, dumpOf(args), o, control);
  return {{"written", r.written}, {"skipped", r.skipped}};
}

const std::vector<ops::ArgSpec> kFileArgs = {
    {"file", ops::ArgKind::Text, true, "the file's bytes, base64"},
    {"format", ops::ArgKind::FormatName, false, "mfd|bin|eml|json|mct (default json)"},
    {"to", ops::ArgKind::FormatName, true, "mifare.convert: the format wanted"},
    {"sectors", ops::ArgKind::SectorList, false, "mifare.restore: e.g. 1,3-5 (default all)"},
    {"with_trailers", ops::ArgKind::Flag, false, "mifare.restore: write the trailers too"},
    {"force", ops::ArgKind::Flag, false, "mifare.restore: trailers that fix keys for ever"},
    {"keys", ops::ArgKind::KeyList, false, "mifare.restore: keys to try first"}};

}  // namespace

bool isOperation(const std::string& op) {
  return ops::findOperation(op) || op == "mifare.restore" || op == "mifare.parse" ||
         op == "mifare.convert";
}

bool needsReader(const std::string& op) {
  const auto* o = ops::findOperation(op);
  return o ? o->needsReader : op == "mifare.restore";
}

json runOperation(const std::string& op, orvix_reader* reader, const json& args,
                  const ops::Control& control) {
  const auto* o = ops::findOperation(op);
  const auto& specs = o ? o->args : kFileArgs;
  try {
    if (!o) return fileOperation(op, reader, args, control);
    ops::Args text;
    for (const auto& item : args.items()) {
      const std::string& name = item.key();
      const auto& value = item.value();
      const auto s =
          std::find_if(specs.begin(), specs.end(), [&](auto& a) { return a.name == name; });
      if (s == specs.end()) {
        if (name == "port") continue;  // the reader's, taken by the session
        bad(name, "unknown", "not an argument of " + op);
      }
      if (auto t = argText(*s, value)) text[name] = *t;
    }
    for (const auto& s : specs)
      if (s.required && !args.contains(s.name)) bad(s.name, "missing", "missing");
    json out = fieldsOf(o->run(reader, text, control));
    // The dump file's bytes whatever the format (the registry gives a raw
    // file as hexadecimal digits).
    if (op == "mifare.dump") {
      const auto f = formatOf(args, "format");
      std::string file = out["file"];
      if (f == ops::Format::Raw) {
        const auto b = ops::parseHex(file);
        file.assign(b->begin(), b->end());
      }
      out["file"] = base64(file);
    }
    return out;
  } catch (const ops::Error& e) {
    throw refusalOf(e, specs, args);
  }
}

std::string operationsText() {
  std::string t =
      "\n## Operations of the library of card work\n\n"
      "Made from the operations' own list when the service starts: each name means the\n"
      "same here as in the `orvix` command line. Arguments are JSON numbers (block,\n"
      "amount), strings (hex, names), `true`/`false` (flags) or, for `keys`, a list of\n"
      "12-digit keys. Results carry the operation's fields and `text`, the result in\n"
      "the words `orvix` prints.\n";
  auto section = [&](const std::string& name, const std::string& help, bool reader,
                     const std::vector<ops::ArgSpec>& args) {
    t += "\n### " + name + "\n" + help + (reader ? " (on the session's reader)" : "") + ".\n\n";
    for (const auto& a : args)
      t += "* `" + a.name + "`" + (a.required ? "" : " (optional)") + ": " + a.help + "\n";
  };
  for (const auto& o : ops::operations()) section(o.name, o.help, o.needsReader, o.args);
  section("mifare.restore", "write a dump file back to the card", true, kFileArgs);
  section("mifare.parse",
          "a dump file's blocks and keys (`blocks`, `key_a`, `key_b`, null: not read)", false,
          {kFileArgs[0], kFileArgs[1]});
  section("mifare.convert", "a dump file in another format", false,
          {kFileArgs[0], kFileArgs[1], kFileArgs[2]});
  return t;
}

}  // namespace orvix::serve
