// The command families; each adds its subcommands to the application.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "common.h"

namespace orvix {

void addPorts(CLI::App& app, Context& ctx);
void addInfo(CLI::App& app, Context& ctx);
void addMifare(CLI::App& app, Context& ctx);
void addApdu(CLI::App& app, Context& ctx);
void addMemcard(CLI::App& app, Context& ctx);
void addAttendance(CLI::App& app, Context& ctx);

// A whole file's bytes, or a Failure (exit 4) naming it; "-" is standard input.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Runs the tool: parses the command line and carries the command out.
// Returns the exit code.
int run(int argc, const char* const* argv);

}  // namespace orvix
