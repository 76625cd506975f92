// The command line: global options, the command families, exit codes.
#include <iostream>

#include "commands.h"
#include "files.h"

namespace orvix {

std::string readFile(const std::string& path, std::size_t limit) {
  std::string bytes, error;
  if (!files::readAll(path, limit, bytes, error)) failData(error);
  if (bytes.empty()) failData((path == "-" ? "standard input" : path) + ": empty");
  return bytes;
}

void writeFiles(const std::vector<files::Output>& outputs) {
  std::string error;
  if (!files::writeAll(outputs, error)) failData(error);
}

void claimOutput(const Context& ctx, const std::string& path) {
  std::string error;
  if (!files::checkTarget(path, error)) failData(error);
  if (path != "-") return;
  if (ctx.json || ctx.stdoutTaken)
    throw Failure(kExitUsage, "standard output (-) can take one file, without --json");
  ctx.stdoutTaken = true;
}

CLI::Validator decimal() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const auto n = parseNumber(text, -999'999'999'999, 999'999'999'999);
        if (n && std::to_string(*n) == text) return {};
        return "a whole number in decimal digits, not " + text;
      },
      "NUMBER");
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
  app.add_option("--port", ctx.port,
                 "COM1-COM10 or 0-9 (0 = COM1), auto (COM1, then COM2), a device path, or a "
                 "network port (tcp://HOST:PORT, rfc2217://HOST:PORT)")
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
  addServe(app);
  files::cleanUpOnSignals();
  // One JSON document per run: the result, with the error in it when the
  // command failed.
  auto finish = [&](int code, const std::string& error) {
    closeReader();  // the port is released at once, before anything is printed
    if (!error.empty()) std::cerr << "orvix: " << error << '\n';
    if (ctx.json) {
      json doc = ctx.document.is_object() ? ctx.document : json::object();
      if (!error.empty()) doc.update({{"error", error}, {"exit", code}});
      std::cout << doc.dump(2, ' ', false, json::error_handler_t::replace) << std::endl;
    }
    return code;
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    closeReader();
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  } catch (const Failure& f) {
    return finish(f.exit, f.what());
  } catch (const ops::Error& e) {
    return finish(exitOf(e), e.what());
  } catch (const std::exception& e) {
    return finish(kExitData, std::string("unexpected failure: ") + e.what());
  }
  return finish(kExitOk, "");
}

}  // namespace orvix
