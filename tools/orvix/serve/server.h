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
  std::vector<std::string> hosts;    // Host values naming the listener (filled in)
  std::string web;                   // the page's folder
  std::size_t messageLimit = 1 << 20;
  std::size_t frameLimit = 256u << 20;  // past this the connection is dropped
  int rateLimit = 200;                  // messages a second per session
  int sessionLimit = 8;
};

// Listens and serves until SIGINT or SIGTERM; ready gets the page's URL once
// the listener is up. A Failure when it cannot listen.
int runServer(Config cfg, const std::function<void(const std::string&)>& ready);

}  // namespace orvix::serve
