// The operations library for the page: one entry that runs an operation of
// the registry by name on a reader, its arguments and its outcome as JSON
// texts, so the page's operations are the command line's and the service's.
#include <emscripten.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "orvix.h"
#include "orvix/ops/error.h"
#include "orvix/ops/registry.h"

namespace {

using nlohmann::json;

const char* faultName(orvix::ops::Fault f) {
  switch (f) {
    case orvix::ops::Fault::Argument:
      return "argument";
    case orvix::ops::Fault::Link:
      return "link";
    case orvix::ops::Fault::Refused:
      return "refused";
    case orvix::ops::Fault::Data:
      return "data";
    case orvix::ops::Fault::Cancelled:
      return "cancelled";
  }
  return "refused";
}

json fieldsOf(const orvix::ops::Result& r) {
  json fields = json::object();
  for (const auto& field : r.fields)
    std::visit([&](const auto& v) { fields[field.first] = v; }, field.second);
  return fields;
}

// A copy of the text the caller frees with free().
char* copyOut(const std::string& text) {
  char* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

}  // namespace

// orvix_ops_run: runs the operation `name` ("mifare.dump") on the reader
// with the arguments of argsJson (an object of texts, as the service takes
// them). *outcome receives a JSON text the caller frees: on success
// {"fields": {...}, "text": "..."}, else {"fault", "code", "text", "step",
// "argument"}. Returns 0, 1 when the operation failed, 4 for a null pointer
// or an unknown operation, 65543 when memory ran out.
extern "C" EMSCRIPTEN_KEEPALIVE int orvix_ops_run(orvix_reader* reader, const char* name,
                                                  const char* argsJson, char** outcome) {
  if (!name || !argsJson || !outcome) return ORVIX_BAD_ARGUMENT;
  *outcome = nullptr;
  const orvix::ops::Operation* op = orvix::ops::findOperation(name);
  if (!op || (op->needsReader && !reader)) return ORVIX_BAD_ARGUMENT;
  json out;
  int result = 0;
  try {
    orvix::ops::Args args;
    const json in = json::parse(argsJson);
    if (!in.is_object()) return ORVIX_BAD_ARGUMENT;
    for (const auto& [key, value] : in.items())
      args[key] = value.is_string() ? value.get<std::string>() : value.dump();
    const orvix::ops::Result r = op->run(reader, args, orvix::ops::Control{});
    out = {{"fields", fieldsOf(r)}, {"text", r.text}};
  } catch (const orvix::ops::Error& e) {
    result = 1;
    out = {{"fault", faultName(e.fault)},
           {"code", e.code},
           {"text", e.what()},
           {"step", e.step},
           {"argument", e.argument}};
  } catch (const json::exception&) {
    return ORVIX_BAD_ARGUMENT;
  } catch (...) {
    return ORVIX_INTERNAL_ERROR;
  }
  *outcome = copyOut(out.dump(-1, ' ', false, json::error_handler_t::replace));
  return *outcome ? result : ORVIX_INTERNAL_ERROR;
}
