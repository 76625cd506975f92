// orvix ports: the port doctor's adapter. The verdicts come from the
// operations library; this prints them, one line per port, or as JSON.
#include "orvix/ops/ports.h"

#include <cstdio>
#include <memory>

#include "commands.h"

namespace orvix {

void addPorts(CLI::App& app, Context& ctx) {
  auto* c = app.add_subcommand(
      "ports", "the port doctor: every reader port and serial device with a verdict");
  auto extra = std::make_shared<std::vector<std::string>>();
  c->add_option("PORT", *extra,
                "also these ports: device paths, or network ports (tcp://HOST:PORT, "
                "rfc2217://HOST:PORT)");
  c->callback([&ctx, extra] {
    const auto ports = ops::examinePorts(ops::probeReader, {}, *extra);
    std::size_t width = 0;
    for (const auto& p : ports) width = std::max(width, p.path.size());
    std::string text;
    json list = json::array();
    bool any = false;
    for (const auto& p : ports) {
      any = any || p.verdict == "ok";
      char line[1024];
      std::snprintf(line, sizeof line, "%-6s %-*s %s%s%s\n", p.name.c_str(),
                    static_cast<int>(width), p.path.c_str(), p.verdict.c_str(),
                    p.detail.empty() ? "" : ": ", p.detail.c_str());
      text += line;
      list.push_back(
          {{"name", p.name}, {"path", p.path}, {"verdict", p.verdict}, {"detail", p.detail}});
    }
    emit(ctx, {{"ports", list}}, text);
    if (!any) throw Failure(kExitLink, "no reader answered on any port");
  });
}

}  // namespace orvix
