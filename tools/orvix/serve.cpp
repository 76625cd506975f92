// orvix serve: the readers of this computer for web applications.
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <regex>

#include "commands.h"
#include "serve/server.h"

namespace orvix {

namespace {

struct ServeArgs {
  std::string listen = "127.0.0.1:8027", tokenFile, web;
  std::vector<std::string> origins, names;
  int rate = 200;
  bool networkPorts = false;
};

// An origin as browsers send it: scheme://host[:port], lower case, without
// the scheme's default port. "null", "*", a bare host or anything with a
// path is refused: each would let pages in that were never meant.
std::string origin(const std::string& given) {
  static const std::regex kOrigin(
      R"(([a-z][a-z0-9+.-]*)://([a-z0-9]([a-z0-9-]*[a-z0-9])?(\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)*)"
      R"(|\[[0-9a-f:.]+\])(:([0-9]{1,5}))?/?)");
  std::string o = given;
  for (auto& c : o) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::smatch m;
  const bool matched = std::regex_match(o, m, kOrigin);
  const auto port =
      matched && m[6].matched ? parseNumber(m[7].str(), 1, 65535) : std::optional<long long>(0);
  if (!matched || !port)
    throw Failure(kExitUsage, "--allow-origin " + given +
                                  ": an origin is scheme://host[:port], e.g. "
                                  "https://desk.example:8443 (never null or *)");
  const bool standard = (m[1] == "http" && *port == 80) || (m[1] == "https" && *port == 443);
  return m[1].str() + "://" + m[2].str() + (*port && !standard ? ":" + m[7].str() : "");
}

// The page's folder: --web, else web/ beside the program (its build tree),
// else share/orvix32/web of the program's own prefix, else the one it was
// built for.
std::string webFolder(const std::string& given) {
  if (!given.empty()) return given;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string exe = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
  const std::string dir = exe.substr(0, exe.rfind('/') + 1);
  struct stat st {};
  for (const std::string& candidate : {dir + "web", dir + "../share/orvix32/web"})
    if (!dir.empty() && stat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return candidate;
  return ORVIX_WEB_INSTALLED;
}

void startService(const ServeArgs& a) {
  serve::Config cfg;
  const auto colon = a.listen.rfind(':');
  const auto port =
      colon == std::string::npos ? std::nullopt : parseNumber(a.listen.substr(colon + 1), 0, 65535);
  if (!port) throw Failure(kExitUsage, "--listen: ADDRESS:PORT, not " + a.listen);
  cfg.address = a.listen.substr(0, colon);
  if (cfg.address.size() > 2 && cfg.address.front() == '[' && cfg.address.back() == ']')
    cfg.address = cfg.address.substr(1, cfg.address.size() - 2);
  cfg.port = static_cast<unsigned short>(*port);
  // Only the loopback address itself goes without a token: any other
  // address may be reached by other users or machines.
  const bool loopback = cfg.address == "127.0.0.1" || cfg.address == "::1";
  if (!a.tokenFile.empty()) {
    // Whoever reads the token holds the readers: the file is its owner's alone.
    struct stat st {};
    if (stat(a.tokenFile.c_str(), &st) == 0 && (st.st_mode & 077)) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      throw Failure(kExitUsage, "--token-file " + a.tokenFile + ": mode " + mode +
                                    ", others may read it; chmod 600 " + a.tokenFile);
    }
    cfg.token = readFile(a.tokenFile, 4096);
    cfg.token.erase(cfg.token.find_last_not_of(" \t\r\n") + 1);
    if (cfg.token.size() < 16 || cfg.token.find_first_of(" \t\r\n;&=") != std::string::npos)
      throw Failure(kExitUsage,
                    "--token-file: one line of at least 16 characters, without "
                    "blanks, ';', '&' or '='");
  } else if (!loopback) {
    throw Failure(kExitUsage, "--listen " + a.listen +
                                  ": an address other than 127.0.0.1 or ::1 needs --token-file");
  }
  for (const auto& o : a.origins) cfg.origins.push_back(origin(o));
  static const std::regex kName(
      R"([A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*)");
  for (const auto& n : a.names) {
    if (!std::regex_match(n, kName))
      throw Failure(kExitUsage, "--host " + n + ": a host name, e.g. desk.example (no port)");
    cfg.names.push_back(n);
  }
  cfg.networkPorts = a.networkPorts;
  cfg.web = webFolder(a.web);
  cfg.rateLimit = a.rate;
  serve::runServer(cfg, [](const std::string& url) {
    std::cout << "orvix serve: listening on " << url << std::endl;
  });
}

}  // namespace

void addServe(CLI::App& app) {
  auto a = std::make_shared<ServeArgs>();
  auto* c = app.add_subcommand(
      "serve", "the readers for web pages: the operator's page and a WebSocket (see /api)");
  c->add_option("--listen", a->listen, "ADDRESS:PORT (default 127.0.0.1:8027)");
  c->add_option("--token-file", a->tokenFile,
                "a file holding the token every request must carry (needed off loopback)");
  c->add_option("--allow-origin", a->origins,
                "a web origin besides the service's own allowed to connect (repeatable)");
  c->add_option("--host", a->names,
                "a name the service is reached by, besides its address (repeatable)");
  c->add_flag("--allow-network-ports", a->networkPorts,
              "let pages open network ports (tcp://, rfc2217://), not only this computer's");
  c->add_option("--max-rate", a->rate, "messages a second one session may send (default 200)")
      ->check(CLI::Range(1, 1000000));
  c->add_option("--web", a->web, "the page's folder (default: the installed page)");
  c->callback([a] { startService(*a); });
}

}  // namespace orvix
