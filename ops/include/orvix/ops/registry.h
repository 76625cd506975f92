// Every operation a door offers: its name, its arguments and the function
// that carries it out. The command line's subcommands and the service's
// messages are made from this list, so each name means one thing
// everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "orvix/ops/control.h"

struct orvix_reader;

namespace orvix::ops {

// How an argument's text is read (each kind has one parser in args.h).
enum class ArgKind {
  BlockNumber,
  SectorList,
  KeyText,
  KeyList,
  BlockData,
  Amount,
  SignedAmount,
  Flag,
  Text,
  FormatName,
  Date,
  Clock
};

struct ArgSpec {
  std::string name;  // as the service spells it; the command line adds "--" to options
  ArgKind kind;
  bool required;
  std::string help;
};

// Arguments as text, by name. A flag is present ("1") or absent.
using Args = std::map<std::string, std::string>;

// One result field: a number, a text, a truth or a list of numbers.
using FieldValue = std::variant<std::int64_t, std::string, bool, std::vector<std::int64_t>>;
struct Result {
  std::vector<std::pair<std::string, FieldValue>> fields;
  std::string text;  // the same result in words, one or more lines
};

struct Operation {
  std::string name;  // "mifare.read"
  std::string help;
  std::vector<ArgSpec> args;
  bool needsReader;
  // Throws Error; the reader is null when needsReader is false.
  std::function<Result(orvix_reader*, const Args&, const Control&)> run;
};

const std::vector<Operation>& operations();
// The operation of that name, or null.
const Operation* findOperation(const std::string& name);

}  // namespace orvix::ops
