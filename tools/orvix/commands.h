// The command families; each adds its subcommands to the application.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "common.h"
#include "files.h"
#include "orvix/ops/ports.h"

namespace orvix {

void addPorts(CLI::App& app, Context& ctx);
void addInfo(CLI::App& app, Context& ctx);
void addMifare(CLI::App& app, Context& ctx);
void addApdu(CLI::App& app, Context& ctx);
void addMemcard(CLI::App& app, Context& ctx);
void addAttendance(CLI::App& app, Context& ctx);
void addServe(CLI::App& app);

// A whole regular file's bytes (at most limit of them), or a Failure (exit
// 4) naming it and the reason; "-" is standard input. Empty files are refused.
std::string readFile(const std::string& path, std::size_t limit);
// Writes every output whole, each through a temporary file renamed over its
// target once all are complete; a Failure (exit 4) leaves them as they were.
void writeFiles(const std::vector<files::Output>& outputs);
// Checks an output's target before the work starts. "-" (standard output)
// sends the text result to standard error.
void claimOutput(const Context& ctx, const std::string& path);

// The largest text input read (scripts, key lists, dumps).
constexpr std::size_t kTextLimit = 1 << 20;

// The port doctor lives in the operations library.
using ops::examinePorts;
using ops::PortReport;
using ops::portTrouble;

// Number options take decimal digits only (no 0x, no leading 0 read as
// octal, no blanks or plus sign).
CLI::Validator decimal();

// Runs the tool: parses the command line and carries the command out.
// Returns the exit code.
int run(int argc, const char* const* argv);

}  // namespace orvix
