// The command line: global options, the command families, exit codes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "commands.h"

namespace orvix {

std::string readFile(const std::string& path) {
  if (path == "-") {
    std::ostringstream all;
    all << std::cin.rdbuf();
    return all.str();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) failData("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) {
  // Written beside the target and renamed over it: a failed run never leaves
  // half a file where a good one was.
  const std::string temp = path + ".orvix-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
      std::remove(temp.c_str());
      failData("cannot write " + path);
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    failData("cannot write " + path);
  }
}

int run(int argc, const char* const* argv) {
  Context ctx;
  CLI::App app{
      "orvix: card reader tool on the ORVIX32 library. Finds the reader, dumps and restores "
      "Mifare cards, runs APDU scripts, reads and writes memory cards, exports attendance "
      "records.\n\nExit codes: 0 success, 1 usage, 2 no link or a link error, 3 the reader or "
      "card refused, 4 a file or data problem.",
      "orvix"};
  app.set_version_flag("--version", "orvix " ORVIX_VERSION);
  app.set_help_all_flag("--help-all", "help on every command");
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("orvix: ") + e.what() + " (--help for usage)\n";
  });
  app.add_option("--port", ctx.port, "port 0-9 (0 = COM1), or auto (COM1, then COM2)")
      ->capture_default_str();
  // Set as soon as it is parsed: before any command makes its first call.
  app.add_option("--trace", ctx.trace, "append the library's exchange trace to FILE (- = stderr)")
      ->each([](const std::string& file) { setenv("ORVIX32_TRACE", file.c_str(), 1); });
  app.add_flag("--json", ctx.json, "print one JSON document instead of text");
  addPorts(app, ctx);
  addInfo(app, ctx);
  addMifare(app, ctx);
  addApdu(app, ctx);
  addMemcard(app, ctx);
  addAttendance(app, ctx);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  } catch (const Failure& f) {
    std::cerr << "orvix: " << f.what() << '\n';
    if (ctx.json) std::cout << json{{"error", f.what()}, {"exit", f.exit}}.dump() << '\n';
    return f.exit;
  }
  return kExitOk;
}

}  // namespace orvix
