// orvix serve's listener: HTTP (the page, /api) and the WebSocket sessions.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "serve.h"

namespace orvix::serve {

struct Config {
  std::string address = "127.0.0.1";
  unsigned short port = 8027;
  std::string token;                 // empty: none asked for (loopback only)
  std::vector<std::string> origins;  // allowed besides the service's own
  std::vector<std::string> names;    // --host: names the listener is reached by
  std::vector<std::string> hosts;    // Host values naming the listener (filled in)
  bool anyAddress = false;           // listening on 0.0.0.0 or :: (filled in)
  bool networkPorts = false;         // open may reach tcp:// and rfc2217:// ports
  std::string web;                   // the page's folder
  std::size_t messageLimit = 1 << 20;
  std::size_t frameLimit = 256u << 20;  // past this the connection is dropped
  int rateLimit = 200;                  // messages a second per session
  int sessionLimit = 8;
  // HTTP connections at once (before the WebSocket upgrade); 0: a quarter
  // of the files the process may open, at most 256.
  std::size_t connectionLimit = 0;
  int idleSeconds = 15;  // a connection waiting this long for a request is closed
};

// Listens and serves until SIGINT or SIGTERM; ready gets the page's URL once
// the listener is up. A Failure when it cannot listen.
int runServer(Config cfg, const std::function<void(const std::string&)>& ready);

}  // namespace orvix::serve
