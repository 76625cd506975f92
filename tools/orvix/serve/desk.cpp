// The operations of orvix serve on one session's readers.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "commands.h"
#include "mifare_card.h"
#include "orvix/ops/apdu.h"
#include "orvix/ops/args.h"
#include "orvix/ops/attendance.h"
#include "serve.h"

namespace orvix::serve {

using namespace mifare;

namespace {

// An argument refused: its name and why ("missing", "type", "range",
// "length", "hex", "choice", "format") for the page, and the text.
[[noreturn]] void bad(const std::string& arg, const char* reason, const std::string& text) {
  throw Refusal{kBadArgs, arg + ": " + text, "", {{"arg", arg}, {"reason", reason}}};
}
[[noreturn]] void refuse(const std::string& text) { throw Refusal{kRefused, text, ""}; }

void library(int result, const std::string& what) {
  if (result != 0) throw Refusal{result, orvix_strerror(result), what};
}

long long number(const json& args, const char* name, long long min, long long max,
                 std::optional<long long> fallback = std::nullopt) {
  const auto it = args.find(name);
  if (it == args.end()) {
    if (fallback) return *fallback;
    bad(name, "missing", "missing");
  }
  const std::string want = "a whole number " + std::to_string(min) + "-" + std::to_string(max);
  if (!it->is_number_integer()) bad(name, "type", want);
  if (*it < min || *it > max) bad(name, "range", want);
  return it->get<long long>();
}

std::string text(const json& args, const char* name, std::optional<std::string> fallback = {}) {
  const auto it = args.find(name);
  if (it == args.end()) {
    if (fallback) return *fallback;
    bad(name, "missing", "missing");
  }
  if (!it->is_string()) bad(name, "type", "a string");
  return it->get<std::string>();
}

bool flag(const json& args, const char* name) {
  const auto it = args.find(name);
  if (it == args.end()) return false;
  if (!it->is_boolean()) bad(name, "type", "true or false");
  return it->get<bool>();
}

Bytes hexArg(const json& args, const char* name, std::size_t min, std::size_t max) {
  const std::string t = text(args, name);
  auto b = parseHex(t);
  const std::string want = (min == max ? std::to_string(min * 2)
                                       : std::to_string(min * 2) + "-" + std::to_string(max * 2)) +
                           " hexadecimal digits";
  if (!b || t.find(' ') != std::string::npos) bad(name, "hex", want);
  if (b->size() < min || b->size() > max) bad(name, "length", want);
  return *b;
}

struct KeyArg {
  int type;
  Key key;
};
KeyArg keyArg(const json& args) {
  const std::string kt = text(args, "key_type", "A");
  if (kt != "A" && kt != "B") bad("key_type", "choice", "\"A\" or \"B\"");
  KeyArg k{kt == "B", {}};
  if (args.contains("key")) {
    const Bytes b = hexArg(args, "key", 6, 6);
    std::copy(b.begin(), b.end(), k.key.begin());
  } else {
    k.key.fill(0xFF);
  }
  return k;
}

// Runs a card step, turning the tool's failures into answers.
template <class F>
auto guarded(F f) {
  try {
    return f();
  } catch (const Failure& e) {
    if (e.result) throw Refusal{e.result, orvix_strerror(e.result), e.what()};
    throw Refusal{kRefused, e.what(), ""};
  }
}

void open(Card& card, int block, const KeyArg& k) {
  if (!card.authenticate(block / 4, k.type, k.key))
    refuse(std::string(k.type ? "key B" : "key A") + " refused by sector " +
           std::to_string(block / 4));
}

Block readOne(Card& card, int block) {
  Block b{};
  library(card.read(block, b), "read block " + std::to_string(block));
  return b;
}

std::string bits(std::uint8_t c) {
  return {char('0' + (c >> 2 & 1)), char('0' + (c >> 1 & 1)), char('0' + (c & 1))};
}

json sectorView(Card& card, int sector, const KeyArg& k) {
  open(card, sector * 4, k);
  std::array<Block, 4> b;
  for (int i = 0; i < 4; ++i) b[i] = readOne(card, sector * 4 + i);
  const auto c = decodeAccess(b[3].data() + 6);
  json blocks = json::array();
  for (int i = 0; i < 4; ++i) {
    const auto v = i < 3 ? decodeValue(b[i]) : std::nullopt;
    blocks.push_back(
        {{"block", sector * 4 + i},
         {"data", hex(b[i].data(), 16)},
         {"value", v ? json{{"amount", v->amount}, {"address", v->address}} : json(nullptr)},
         {"access", c ? json(bits((*c)[i])) : json(nullptr)},
         {"rights",
          c ? json(i < 3 ? dataRights((*c)[i]) : trailerRights((*c)[3])) : json(nullptr)}});
  }
  return {{"sector", sector},
          {"blocks", blocks},
          {"access_bytes", hex(b[3].data() + 6, 3)},
          {"access_valid", c.has_value()},
          {"locks_keys_forever", c && locksKeysForever((*c)[3])}};
}

KeyFile keyList(const json& args) {
  KeyFile kf;
  if (!args.contains("keys")) return kf;
  if (!args["keys"].is_array() || args["keys"].size() > 1000)
    bad("keys", "type", "a list of 12-digit keys");
  for (const auto& k : args["keys"]) {
    const Bytes b = hexArg({{"keys", k}}, "keys", 6, 6);
    Key key;
    std::copy(b.begin(), b.end(), key.begin());
    kf.any.push_back(key);
  }
  return kf;
}

std::set<int> sectorList(const json& args) {
  std::set<int> out;
  const std::string t = text(args, "sectors", "0-15");
  for (std::size_t at = 0; at <= t.size();) {
    const std::size_t end = std::min(t.find(',', at), t.size());
    const std::string part = t.substr(at, end - at);
    const auto dash = part.find('-');
    const auto first = parseNumber(part.substr(0, dash), 0, kSectors - 1);
    const auto last =
        dash == std::string::npos ? first : parseNumber(part.substr(dash + 1), 0, kSectors - 1);
    if (!first || !last || *last < *first)
      bad("sectors", "format", "a list like 1,3-5 of sectors 0-15");
    for (auto s = *first; s <= *last; ++s) out.insert(static_cast<int>(s));
    at = end + 1;
  }
  return out;
}

// Runs work of the operations library, its errors answered as the
// service's own: an argument by name, a library result with its step.
template <class Work>
auto opsWork(Work work) {
  try {
    return work();
  } catch (const ops::Error& e) {
    if (e.fault == ops::Fault::Argument)
      bad(e.argument, "format", e.what() + e.argument.size() + 2);
    if (e.code) throw Refusal{e.code, orvix_strerror(e.code), e.step};
    refuse(e.what());
  }
}

}  // namespace

std::string Holder::text() const {
  char clock[16];
  std::tm tm{};
  localtime_r(&since, &tm);
  std::strftime(clock, sizeof clock, "%H:%M:%S", &tm);
  return session + (desk.empty() ? "" : " (" + desk + ")") + " from " + from + " since " + clock;
}

json Holder::fields(const void* viewer) const {
  char iso[32];
  std::tm tm{};
  gmtime_r(&since, &tm);
  std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return {{"desk", desk.empty() ? json(nullptr) : json(desk)},
          {"since", iso},
          {"session", session},
          {"own", owner == viewer}};
}

std::optional<Holder> Registry::claim(const std::string& device, const Holder& holder) {
  std::lock_guard lock(mutex_);
  const auto [it, added] = held_.emplace(device, holder);
  if (added) return std::nullopt;
  return it->second;
}

void Registry::release(const std::string& device) {
  std::lock_guard lock(mutex_);
  held_.erase(device);
}

std::optional<Holder> Registry::holder(const std::string& device) const {
  std::lock_guard lock(mutex_);
  const auto it = held_.find(device);
  if (it == held_.end()) return std::nullopt;
  return it->second;
}

std::string deviceOf(const std::string& port) {
  // The device the library opens for the name (COMn as mapped); the name
  // itself when it names none, so that the open fails with its own reason.
  char path[PATH_MAX];
  if (orvix_port_device(port.c_str(), path, sizeof path) != 0) return port;
  char real[PATH_MAX];
  return realpath(path, real) ? real : path;
}

Desk::Desk(Registry& registry, std::string session, std::string from, bool networkPorts)
    : registry_(registry),
      session_(std::move(session)),
      from_(std::move(from)),
      networkPorts_(networkPorts) {}

Desk::~Desk() { closeAll(); }

void Desk::cancel() {
  stop_ = true;
  std::lock_guard lock(mutex_);
  for (auto& h : readers_) orvix_cancel(h->reader);
}

void Desk::closeAll() {
  std::vector<std::unique_ptr<Held>> gone;
  {
    std::lock_guard lock(mutex_);
    gone.swap(readers_);
  }
  for (auto& h : gone) {
    while (h->begun-- > 0) orvix_end(h->reader);
    orvix_close(h->reader);
    registry_.release(h->device);
  }
  watching_ = false;
}

Desk::Held& Desk::pick(const json& args) {
  if (readers_.empty()) throw Refusal{kNoReader, "no reader is open in this session", ""};
  if (!args.contains("port")) return *readers_.back();
  const std::string port = text(args, "port");
  for (auto& h : readers_)
    if (h->port == port || h->device == deviceOf(port)) return *h;
  throw Refusal{kNoReader, "this session has not opened " + port, ""};
}

json Desk::call(const std::string& op, const json& args) {
  if (!args.is_object()) bad("args", "type", "an object");
  try {
    return guarded([&] { return dispatch(op, args); });
  } catch (Refusal& r) {
    // A reader status means something only within its family of commands:
    // the page words it by family and code.
    static const std::map<std::string, const char*> kFamily = {{"mifare.read", "mifare"},
                                                               {"mifare.write", "mifare"},
                                                               {"mifare.value.get", "mifare"},
                                                               {"mifare.value.set", "mifare"},
                                                               {"mifare.value.add", "mifare"},
                                                               {"mifare.value.sub", "mifare"},
                                                               {"mifare.dump", "mifare"},
                                                               {"mifare.restore", "mifare"},
                                                               {"card", "mifare"},
                                                               {"read_block", "mifare"},
                                                               {"write_block", "mifare"},
                                                               {"sector", "mifare"},
                                                               {"value", "mifare"},
                                                               {"dump", "mifare"},
                                                               {"restore", "mifare"},
                                                               {"apdu", "cpu"},
                                                               {"memcard_read", "memory"},
                                                               {"memcard_write", "memory"},
                                                               {"clock", "attendance"},
                                                               {"records", "attendance"}};
    const bool status = r.code > 0 && r.code != ORVIX_BAD_ARGUMENT && !isLinkError(r.code) &&
                        r.code < ORVIX_NO_STATUS_WORD;
    if (status && !r.fields.contains("family")) {
      const auto f = kFamily.find(op);
      const std::string family = f == kFamily.end() ? "reader" : f->second;
      r.fields["family"] = family;
      // The status in words for its family, where the text said no more.
      static const std::map<std::string, int> kCodes = {{"reader", ORVIX_FAMILY_READER},
                                                        {"mifare", ORVIX_FAMILY_MIFARE},
                                                        {"memory", ORVIX_FAMILY_MEMORY},
                                                        {"cpu", ORVIX_FAMILY_CPU},
                                                        {"attendance", ORVIX_FAMILY_ATTENDANCE}};
      if (r.text == orvix_strerror(r.code)) r.text = orvix_status_text(kCodes.at(family), r.code);
    }
    throw;
  }
}

json Desk::dispatch(const std::string& op, const json& args) {
  static const std::set<std::string> kOps = {
      "readers", "open", "close",        "info",          "card",        "read_block", "sector",
      "dump",    "apdu", "memcard_read", "memcard_write", "write_block", "clock",      "value",
      "begin",   "end",  "watch",        "restore",       "records"};
  if (isOperation(op)) {
    const ops::Control control{[this] { return stop_.load(); }, {}};
    return runOperation(op, needsReader(op) ? pick(args).reader : nullptr, args, control);
  }
  // The older names of three operations, for pages written before: the
  // same work, their arguments translated.
  if (op == "read_block" || op == "write_block" || op == "value") {
    static const std::map<std::string, std::string> kSteps = {
        {"read", "get"}, {"topup", "add"}, {"charge", "sub"}, {"set", "set"}};
    json a = json::object();
    for (const char* name : {"block", "data", "force", "amount", "allow_negative", "port"})
      if (args.contains(name)) a[name] = args[name];
    if (args.contains("key")) a["keys"] = json::array({args["key"]});
    keyArg(args);  // key_type and key as they were checked
    std::string name = op == "read_block" ? "mifare.read" : "mifare.write";
    if (op == "value") {
      const auto step = kSteps.find(text(args, "action"));
      if (step == kSteps.end()) bad("action", "choice", "read, topup, charge or set");
      name = "mifare.value." + step->second;
    }
    return dispatch(name, a);
  }
  if (!kOps.count(op)) throw Refusal{kUnknownOp, "no such operation: " + op.substr(0, 64), ""};
  if (op == "readers") {
    // Ports this service holds are not probed: their holder is the verdict.
    std::map<std::string, Holder> holders;
    auto known = [&](PortReport& p) {
      if (auto who = registry_.holder(deviceOf(p.path))) {
        p.verdict = "held", p.detail = who->text();
        holders.emplace(p.path, *who);
      }
    };
    json list = json::array();
    for (const auto& p : examinePorts(ops::probeReader, known)) {
      const auto who = holders.find(p.path);
      const bool held = who != holders.end();
      list.push_back({{"name", p.name},
                      {"path", p.path},
                      {"verdict", p.verdict},
                      {"detail", p.detail},
                      {"held", held ? json(p.detail) : json(nullptr)},
                      {"holder", held ? who->second.fields(this) : json(nullptr)}});
    }
    return {{"ports", list}};
  }
  if (op == "open") {
    const std::string port = text(args, "port");
    if (port.empty()) bad("port", "missing", "a port name");
    if (port.size() > 4096 || port.find('\0') != std::string::npos)
      bad("port", "format", "a port name");
    // The desk's name shown to other sessions ("client" is its older name).
    const char* const deskArg = args.contains("desk") ? "desk" : "client";
    const std::string desk = text(args, deskArg, "");
    if (desk.size() > 200) bad(deskArg, "length", "at most 200 characters");
    if (std::any_of(desk.begin(), desk.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
      bad(deskArg, "format", "no control characters");
    const std::string device = deviceOf(port);
    // Nothing but this computer's own ports unless the service was started
    // to reach network ports: a page may not probe the network through it.
    if (!networkPorts_ && ops::isNetworkPort(device))
      refuse(port +
             " is a network port; this service opens them only when started with "
             "--allow-network-ports");
    for (auto& h : readers_)
      if (h->device == device) return {{"port", h->port}, {"baud", orvix_baud_rate(h->reader)}};
    if (auto holder = registry_.claim(device, {session_, from_, desk, std::time(nullptr), this}))
      throw Refusal{ORVIX_PORT_BUSY,
                    "busy: held by " + holder->text(),
                    "",
                    {{"holder", holder->fields(this)}}};
    orvix_reader* reader = nullptr;
    if (const int ec = orvix_open(port.c_str(), nullptr, &reader)) {
      registry_.release(device);
      library(ec, "open " + port);
    }
    auto h = std::make_unique<Held>();
    h->port = port;
    h->device = device;
    h->reader = reader;
    const int baud = orvix_baud_rate(reader);
    std::lock_guard lock(mutex_);
    readers_.push_back(std::move(h));
    return {{"port", port}, {"baud", baud}};
  }
  Held& h = pick(args);
  orvix_reader* const r = h.reader;
  Card card(r);
  if (op == "close") {
    std::unique_ptr<Held> gone;
    {
      std::lock_guard lock(mutex_);
      auto it =
          std::find_if(readers_.begin(), readers_.end(), [&](auto& p) { return p.get() == &h; });
      gone = std::move(*it);
      readers_.erase(it);
    }
    while (gone->begun-- > 0) orvix_end(gone->reader);
    orvix_close(gone->reader);
    registry_.release(gone->device);
    watching_ = std::any_of(readers_.begin(), readers_.end(), [](auto& p) { return p->watch; });
    return {{"port", gone->port}};
  }
  if (op == "info") {
    std::array<unsigned char, 8> number{}, version{};
    std::array<unsigned char, 4> module{};
    library(orvix_device_number(r, number.data(), number.size()), "device number");
    library(orvix_device_version(r, version.data(), version.size()), "device version");
    const int m = orvix_mifare_module(r, module.data(), module.size());
    std::string fw;
    for (unsigned char c : version) fw += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : ' ';
    return {{"port", h.port},
            {"baud", orvix_baud_rate(r)},
            {"device_number", hex(number.data(), number.size())},
            {"version", fw.substr(0, fw.find_last_not_of(' ') + 1)},
            {"module", m ? json(nullptr) : json(module[0] | module[1] << 8)}};
  }
  if (op == "card") {
    std::array<unsigned char, 4> type{}, serial{};
    library(orvix_mifare_request(r, 1, type.data(), 4), "request");
    library(orvix_mifare_anticoll(r, serial.data(), 4), "anticollision");
    return {{"type", hex(type.data(), 2)}, {"serial", hex(serial.data(), 4)}};
  }
  if (op == "sector")
    return sectorView(card, static_cast<int>(number(args, "sector", 0, 15)), keyArg(args));
  if (op == "dump") {
    const KeyFile kf = keyList(args);
    Progress progress("", 0);
    DumpReport report;
    const Dump d = dumpCard(card, kf, progress, report);
    return {{"document", writeDump(d, Format::Json)},
            {"sectors_read", report.sectorsRead},
            {"keys_found", report.keysFound},
            {"unread", report.unread}};
  }
  if (op == "restore") {
    const std::string format = text(args, "format", "json");
    const auto f = formatNamed(format);
    if (!f) bad("format", "choice", "json, eml, mct or mfd");
    std::string doc = text(args, "document");
    if (*f == Format::Raw) {
      auto b = parseHex(doc);
      if (!b) bad("document", "hex", "the 1024 bytes as hexadecimal digits");
      doc.assign(b->begin(), b->end());
    }
    const Dump d = readDump(doc, *f, "document");
    RestoreOptions o{sectorList(args), flag(args, "with_trailers"), flag(args, "force")};
    Progress progress("", 0);
    return {{"written", restoreCard(card, d, keyList(args), o, progress)}};
  }
  if (op == "apdu") {
    const int slot = static_cast<int>(number(args, "slot", 0, 4, 0));
    const Bytes a = hexArg(args, "apdu", 4, 89);
    if (const auto why = ops::apduProblem(a); !why.empty()) bad("apdu", "format", why);
    json out = json::object();
    if (flag(args, "reset")) out["atr"] = opsWork([&] { return ops::resetSlot(r, slot); });
    Bytes response;
    const int sw = ops::sendApdu(r, slot, a, response);
    if (ops::apduFailed(sw)) library(sw, "APDU");
    char swText[5];
    std::snprintf(swText, sizeof swText, "%04X", sw);
    out["response"] = hex(response);
    out["sw"] = swText;
    return out;
  }
  if (op == "memcard_read" || op == "memcard_write") {
    const bool write = op == "memcard_write";
    const int type = static_cast<int>(number(args, "type", 0, 255));
    const int area = static_cast<int>(number(args, "area", -1, 255, -1));
    const int page = static_cast<int>(number(args, "page", 0, 255, 0));
    const int address = static_cast<int>(number(args, "address", 0, 65535, 0));
    Bytes data = write ? hexArg(args, "data", 1, 4096) : Bytes(number(args, "length", 1, 4096));
    library(orvix_select_card(r, type), "select card type " + std::to_string(type));
    library(orvix_power_on(r), "power on the card");
    // Runs of at most 32 bytes, as the reader's frames carry them.
    for (std::size_t at = 0; at < data.size(); at += 32) {
      const int n = static_cast<int>(std::min<std::size_t>(32, data.size() - at));
      unsigned char* part = data.data() + at;
      const auto size = static_cast<std::size_t>(n);
      const int where = address + static_cast<int>(at);
      const int ec = area < 0 ? (write ? orvix_write_mem_card(r, where, n, part, size)
                                       : orvix_read_mem_card(r, where, n, part, size))
                              : (write ? orvix_write_card(r, area, page, where, n, part, size)
                                       : orvix_read_card(r, area, page, where, n, part, size));
      library(ec, (write ? "write at " : "read at ") + std::to_string(where));
    }
    if (write) return {{"written", data.size()}};
    return {{"data", hex(data)}};
  }
  if (op == "clock") {
    return opsWork([&] {
      if (args.contains("set")) ops::setClock(r, ops::clockSetting(text(args, "set"), "set"));
      return json{{"clock", ops::readClock(r).text}};
    });
  }
  if (op == "records") {
    return opsWork([&] {
      const auto dates = [&](const char* name, int fallback) {
        return args.contains(name) ? ops::dateKey(text(args, name), name, fallback) : fallback;
      };
      const auto got = ops::readRecords(r, dates("from", 0), dates("to", 99999999));
      json list = json::array();
      for (const auto& x : got.kept)
        list.push_back({{"card", x.card}, {"date", x.date}, {"time", x.time}});
      return json{{"records", list}};
    });
  }
  if (op == "begin") {
    library(orvix_begin(r), "begin");
    ++h.begun;
    return json::object();
  }
  if (op == "end") {
    if (h.begun == 0) throw Refusal{kNotBegun, "no transaction to end", ""};
    library(orvix_end(r), "end");
    --h.begun;
    return json::object();
  }
  if (op == "watch") {
    h.watch = flag(args, "on");
    h.seen = false;
    watching_ = std::any_of(readers_.begin(), readers_.end(), [](auto& p) { return p->watch; });
    return {{"on", h.watch}};
  }
  throw Refusal{kUnknownOp, "no such operation: " + op.substr(0, 64), ""};
}

std::vector<json> Desk::poll() {
  std::vector<json> events;
  for (auto& h : readers_) {
    if (!h->watch) continue;
    std::array<unsigned char, 4> type{}, serial{};
    const bool present = !orvix_mifare_request(h->reader, 1, type.data(), 4) &&
                         !orvix_mifare_anticoll(h->reader, serial.data(), 4);
    const std::optional<std::string> now =
        present ? std::optional(hex(serial.data(), 4)) : std::nullopt;
    if (h->seen && now == h->card) continue;
    h->seen = true;
    h->card = now;
    json e = {{"event", "card"}, {"port", h->port}, {"present", present}};
    if (present) e["type"] = hex(type.data(), 2), e["serial"] = *now;
    events.push_back(e);
  }
  return events;
}

}  // namespace orvix::serve
