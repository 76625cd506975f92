// orvix serve's network side: HTTP for the page and the message set,
// WebSocket sessions for the readers, and the checks in front of both.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Boost 1.74's coroutine support uses std::exchange without including it.
#include <utility>
// clang-format off
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <iostream>
#include <list>
#include <thread>
// clang-format on

#include "server.h"

namespace orvix::serve {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

extern const char* const kApiText;

namespace {

std::atomic<int> gSessions{0};
constexpr std::size_t kQueueLimit = 1000;  // answers and events waiting to be sent
// Left to the end of the process: detached workers may still release ports.
Registry& gRegistry = *new Registry;

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool sameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// One query parameter's value (no percent escapes are decoded: a token is
// plain text).
std::optional<std::string> queryValue(std::string_view target, std::string_view name) {
  const auto q = target.find('?');
  if (q == std::string_view::npos) return std::nullopt;
  std::string_view rest = target.substr(q + 1);
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const auto eq = pair.find('=');
    if (pair.substr(0, eq) == name)
      return std::string(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return std::nullopt;
}

std::optional<std::string> cookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const auto semi = header.find(';');
    std::string_view part = header.substr(0, semi);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    if (part.size() > name.size() && part.substr(0, name.size()) == name &&
        part[name.size()] == '=')
      return std::string(part.substr(name.size() + 1));
    if (semi == std::string_view::npos) break;
    header = header.substr(semi + 1);
  }
  return std::nullopt;
}

// The page's icon when its folder has none: a card, 16 × 16.
constexpr char kIcon[] =
    "\x00\x00\x01\x00\x01\x00\x10\x10\x00\x00\x01\x00\x20\x00\x62\x00\x00\x00\x16\x00\x00\x00"
    "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x10\x00\x00"
    "\x00\x10\x08\x06\x00\x00\x00\x1F\xF3\xFF\x61\x00\x00\x00\x29\x49\x44\x41\x54\x78\xDA\x63"
    "\x60\x18\x3E\x40\x3E\x7E\xC5\x7F\x52\x30\x45\x9A\x31\x0C\xA1\x9A\x01\x2F\xB6\x68\xA1\xE0"
    "\x91\x68\xC0\xC0\xC5\x02\xC5\x09\x69\x68\x03\x00\xB0\xB8\x2D\xB8\x1F\x05\x70\x1F\x00\x00"
    "\x00\x00\x49\x45\x4E\x44\xAE\x42\x60\x82";

// The host part and port of a Host header value ("[::1]:8027" gives "::1"
// and "8027"); an empty port when there is none.
std::pair<std::string, std::string> splitHost(const std::string& host) {
  const auto close = host.rfind(']');
  const auto colon = host.rfind(':');
  if (colon == std::string::npos || (close != std::string::npos && colon < close))
    return {host.front() == '[' ? host.substr(1, close - 1) : host, ""};
  std::string name = host.substr(0, colon);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  return {name, host.substr(colon + 1)};
}

// Whether address is one of this machine's own at this moment (interfaces
// come and go, so they are read at each request).
bool ownAddress(const std::string& address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const ifaddrs* i = list; i && !found; i = i->ifa_next) {
    if (!i->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = "";
    if (i->ifa_addr->sa_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text,
                sizeof text);
    else if (i->ifa_addr->sa_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, text,
                sizeof text);
    found = *text && address == text;
  }
  freeifaddrs(list);
  return found;
}

// Whether a Host value (lower case) names this listener: its address or a
// name given for it, or, on 0.0.0.0 and ::, any address of the machine,
// each with the listener's port.
bool ownHost(const Config& cfg, const std::string& host) {
  if (std::find(cfg.hosts.begin(), cfg.hosts.end(), host) != cfg.hosts.end()) return true;
  if (!cfg.anyAddress || host.empty()) return false;
  const auto [name, port] = splitHost(host);
  return port == std::to_string(cfg.port) && ownAddress(name);
}

// The page's own origins are the listener's Host values over http; others
// only as given with --allow-origin. The whole origin is compared.
bool allowedOrigin(const Config& cfg, const std::string& origin) {
  if (std::find(cfg.origins.begin(), cfg.origins.end(), origin) != cfg.origins.end()) return true;
  return origin.rfind("http://", 0) == 0 && ownHost(cfg, origin.substr(7));
}

// The request target without its token parameter, as a path of this
// service (never "//elsewhere", which a browser would take for a host).
std::string withoutToken(const std::string& target) {
  const auto q = target.find('?');
  std::string path = target.substr(0, q), query;
  path.erase(0, path.find_first_not_of("/\\"));
  if (q != std::string::npos)
    for (std::size_t at = q + 1; at <= target.size();) {
      const auto end = std::min(target.find('&', at), target.size());
      const std::string pair = target.substr(at, end - at);
      if (!pair.empty() && pair.substr(0, pair.find('=')) != "token")
        query += (query.empty() ? "?" : "&") + pair;
      at = end + 1;
    }
  return "/" + path + query;
}

const char* contentType(const std::string& path) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".woff2", "font/woff2"},
      {".md", "text/markdown; charset=utf-8"},
      {".txt", "text/plain; charset=utf-8"},
      {".map", "application/json"}};
  for (const auto& [ext, type] : kTypes) {
    const std::string e = ext;
    if (path.size() >= e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0)
      return type;
  }
  return "application/octet-stream";
}

// Reads a regular file of the page's folder; nullopt when the path leaves
// the folder, names something else, or cannot be read.
std::optional<std::string> webFile(const std::string& root, const std::string& path) {
  constexpr std::size_t kLimit = 32 << 20;
  if (path.empty() || path[0] != '/') return std::nullopt;
  for (char c : path)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '-' ||
          c == '_'))
      return std::nullopt;
  std::size_t at = 1;
  while (at <= path.size()) {
    const auto end = std::min(path.find('/', at), path.size());
    const std::string seg = path.substr(at, end - at);
    if (seg.empty() || seg[0] == '.') return std::nullopt;  // no "..", no hidden files
    at = end + 1;
  }
  char realRoot[PATH_MAX], realFile[PATH_MAX];
  const std::string full = root + path;
  if (!realpath(root.c_str(), realRoot) || !realpath(full.c_str(), realFile)) return std::nullopt;
  const std::string r = realRoot, f = realFile;
  if (f.compare(0, r.size(), r) != 0 || f.size() <= r.size() || f[r.size()] != '/')
    return std::nullopt;
  const int fd = ::open(f.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> out;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::size_t>(st.st_size) <= kLimit) {
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < data.size()) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got == data.size()) out = std::move(data);
  }
  ::close(fd);
  return out;
}

// Runs a session's reader work in order on its own thread, so the network
// never waits on a reader. The thread ends after the last job and then
// closes the session's readers.
class Worker {
 public:
  explicit Worker(std::shared_ptr<Desk> desk) : state_(std::make_shared<State>()) {
    std::thread([s = state_, desk] {
      for (;;) {
        std::function<void()> job;
        {
          std::unique_lock lock(s->mutex);
          s->wake.wait(lock, [&] { return s->stopping || !s->jobs.empty(); });
          if (s->jobs.empty()) break;
          job = std::move(s->jobs.front());
          s->jobs.pop_front();
        }
        job();
      }
      desk->closeAll();
      --gSessions;
    }).detach();
  }
  void post(std::function<void()> job) {
    std::lock_guard lock(state_->mutex);
    state_->jobs.push_back(std::move(job));
    state_->wake.notify_one();
  }
  // The jobs not started are dropped; the running one finishes (cancelled).
  void stop() {
    std::lock_guard lock(state_->mutex);
    state_->jobs.clear();
    state_->stopping = true;
    state_->wake.notify_one();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
  };
  std::shared_ptr<State> state_;
};

json errorAnswer(const json& id, int code, const std::string& text, const std::string& detail = "",
                 const json& fields = json::object()) {
  json e = fields;
  e["code"] = code;
  e["text"] = text;
  if (!detail.empty()) e["detail"] = detail;
  return {{"id", id}, {"error", e}};
}

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(websocket::stream<beast::tcp_stream> ws, const Config& cfg, std::string session,
          std::string from)
      : ws_(std::move(ws)),
        cfg_(cfg),
        desk_(std::make_shared<Desk>(gRegistry, std::move(session), std::move(from),
                                     cfg.networkPorts)),
        worker_(desk_),
        timer_(ws_.get_executor()) {}

  void start(http::request<http::string_body> req) {
    ws_.read_message_max(cfg_.frameLimit);
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.async_accept(req, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return self->shut();
      self->read();
      self->tick();
    });
  }

 private:
  void read() {
    ws_.async_read_some(
        frame_, 64 * 1024,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
  }

  void onRead(beast::error_code ec) {
    if (ec) return shut();
    // A message past the limit is taken in and dropped frame by frame, so
    // it never costs more than the limit.
    if (!oversize_ && message_.size() + frame_.size() <= cfg_.messageLimit)
      message_ += beast::buffers_to_string(frame_.data());
    else
      oversize_ = true, message_.clear();
    frame_.consume(frame_.size());
    if (ws_.is_message_done()) {
      std::string text;
      text.swap(message_);
      const bool over = std::exchange(oversize_, false);
      handle(text, over);
    }
    read();
  }

  void handle(const std::string& text, bool over) {
    const auto now = std::chrono::steady_clock::now();
    if (now - window_ > std::chrono::seconds(1)) window_ = now, count_ = 0;
    if (over)
      return answer(errorAnswer(
          nullptr, kTooLarge,
          "the message is larger than " + std::to_string(cfg_.messageLimit >> 20) + " MiB"));
    json req = json::parse(text, nullptr, false);
    json id = nullptr;
    if (req.is_object() && req.contains("id") && (req["id"].is_number() || req["id"].is_string()))
      id = req["id"];
    if (++count_ > cfg_.rateLimit)
      return answer(errorAnswer(
          id, kTooFast, "more than " + std::to_string(cfg_.rateLimit) + " messages a second"));
    if (!req.is_object() || id.is_null() || !req.contains("op") || !req["op"].is_string())
      return answer(errorAnswer(id, kMalformed,
                                "a request is a JSON object with an id (number or string), an op "
                                "and args"));
    if (pending_)
      return answer(errorAnswer(id, kPending, "another call of this session is running"));
    pending_ = true;
    const std::string op = req["op"];
    json args = req.contains("args") ? req["args"] : json::object();
    worker_.post([self = shared_from_this(), id, op, args = std::move(args)] {
      json answer;
      try {
        answer = {{"id", id}, {"result", self->desk_->call(op, args)}};
      } catch (const Refusal& r) {
        answer = errorAnswer(id, r.code, r.text, r.detail, r.fields);
      } catch (const std::exception& e) {
        answer =
            errorAnswer(id, ORVIX_INTERNAL_ERROR, orvix_strerror(ORVIX_INTERNAL_ERROR), e.what());
      }
      net::post(self->ws_.get_executor(), [self, answer = std::move(answer)] {
        self->pending_ = false;
        self->send(answer);
        for (const auto& later : std::exchange(self->held_, {})) self->send(later);
      });
    });
  }

  // Polls the watched readers between calls, about every 300 ms.
  void tick() {
    timer_.expires_after(std::chrono::milliseconds(300));
    timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (ec || self->closed_) return;
      if (self->desk_->watching() && !self->pending_ && !self->polling_) {
        self->polling_ = true;
        self->worker_.post([self] {
          auto events = self->desk_->poll();
          net::post(self->ws_.get_executor(), [self, events = std::move(events)] {
            self->polling_ = false;
            for (const auto& e : events) self->send(e);
          });
        });
      }
      self->tick();
    });
  }

  // Answers go out in the order of the requests: one refused at once while
  // a call runs waits for that call's answer.
  void answer(json message) {
    if (!pending_) return send(message);
    if (held_.size() >= kQueueLimit) return shut();
    held_.push_back(std::move(message));
  }

  void send(const json& message) {
    if (closed_) return;
    // A client that does not read its answers is not given the memory.
    if (out_.size() >= kQueueLimit) return shut();
    out_.push_back(message.dump(-1, ' ', false, json::error_handler_t::replace));
    if (out_.size() == 1) write();
  }

  void write() {
    ws_.text(true);
    ws_.async_write(net::buffer(out_.front()),
                    [self = shared_from_this()](beast::error_code ec, std::size_t) {
                      if (ec) return self->shut();
                      self->out_.pop_front();
                      if (!self->out_.empty()) self->write();
                    });
  }

  // The socket is gone: stop the reader's call and release the readers.
  void shut() {
    if (closed_) return;
    closed_ = true;
    out_.clear();
    held_.clear();
    timer_.cancel();
    desk_->cancel();
    worker_.stop();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  websocket::stream<beast::tcp_stream> ws_;
  const Config& cfg_;
  std::shared_ptr<Desk> desk_;
  Worker worker_;
  net::steady_timer timer_;
  beast::flat_buffer frame_;
  std::string message_;
  bool oversize_ = false, pending_ = false, polling_ = false, closed_ = false;
  std::deque<std::string> out_;
  std::vector<json> held_;  // answers waiting for the running call's
  std::chrono::steady_clock::time_point window_{};
  int count_ = 0;
};

class HttpSession;

// The listener and its HTTP connections, at most cfg.connectionLimit at
// once. Those waiting for a request are kept in the order they began to
// wait: a new connection past the limit takes the place of the one idle
// longest, so a flood of idle connections never keeps a page out.
struct Listener {
  Listener(net::io_context& io, const Config& c) : acceptor(io), retry(io), cfg(c) {}
  tcp::acceptor acceptor;
  net::steady_timer retry;
  const Config& cfg;
  std::size_t open = 0;
  std::list<HttpSession*> waiting;
  int number = 0;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, Listener& listener, int number)
      : stream_(std::move(socket)), listener_(listener), cfg_(listener.cfg), number_(number) {
    ++listener_.open;
  }
  ~HttpSession() {
    unwait();
    --listener_.open;
  }

  void read() {
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(16 * 1024);
    stream_.expires_after(std::chrono::seconds(cfg_.idleSeconds));
    waiting_ = listener_.waiting.insert(listener_.waiting.end(), this);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       self->unwait();
                       if (ec) return self->close();
                       self->handle(self->parser_->release());
                     });
  }

  // Makes room for a newer connection.
  void evict() {
    unwait();
    stream_.close();
  }

 private:
  using Response = http::response<http::string_body>;

  void respond(const http::request<http::string_body>& req, http::status status, std::string body,
               const char* type = "text/plain; charset=utf-8", std::string cookie = "") {
    auto res = std::make_shared<Response>(status, req.version());
    res->set(http::field::server, "orvix serve");
    res->set(http::field::content_type, type);
    res->set(http::field::cache_control, "no-store");
    res->set("X-Content-Type-Options", "nosniff");
    res->set("X-Frame-Options", "DENY");
    res->set("Referrer-Policy", "no-referrer");
    if (!cookie.empty()) res->set(http::field::set_cookie, cookie);
    res->keep_alive(req.keep_alive() && status == http::status::ok);
    res->content_length(body.size());
    if (req.method() != http::verb::head) res->body() = std::move(body);
    http::async_write(stream_, *res,
                      [self = shared_from_this(), res](beast::error_code ec, std::size_t) {
                        if (ec || !res->keep_alive()) return self->close();
                        self->read();
                      });
  }

  void unwait() {
    if (waiting_) listener_.waiting.erase(*std::exchange(waiting_, std::nullopt));
  }

  void handle(http::request<http::string_body> req) {
    const std::string host = lower(std::string(req[http::field::host]));
    if (!ownHost(cfg_, host))
      return respond(req, http::status::misdirected_request, "this service is not " + host + "\n");
    const std::string target(req.target());
    std::string cookie;
    if (!cfg_.token.empty()) {
      std::optional<std::string> given = queryValue(target, "token");
      const bool fromQuery = given.has_value();
      // The scheme's name in any case, as HTTP has it.
      const std::string auth(req[http::field::authorization]);
      if (!given && lower(auth.substr(0, 7)) == "bearer ")
        given = auth.substr(auth.find_first_not_of(' ', 7) == std::string::npos
                                ? auth.size()
                                : auth.find_first_not_of(' ', 7));
      if (!given) given = cookieValue(std::string(req[http::field::cookie]), "orvix_token");
      if (!given || !sameSecret(*given, cfg_.token))
        return respond(req, http::status::unauthorized, "a token is needed\n");
      if (fromQuery) cookie = "orvix_token=" + cfg_.token + "; HttpOnly; SameSite=Strict; Path=/";
    }
    const std::string path = target.substr(0, target.find('?'));
    if (path == "/ws") return upgrade(std::move(req));
    if (req.method() != http::verb::get && req.method() != http::verb::head)
      return respond(req, http::status::method_not_allowed, "GET only\n");
    // The token leaves the address at once: the cookie carries it from now
    // on, and the address bar, history and links copied from it go without.
    if (!cookie.empty()) return redirect(req, withoutToken(target), cookie);
    if (path == "/api")
      return respond(req, http::status::ok, std::string(kApiText) + operationsText(),
                     "text/markdown; charset=utf-8", cookie);
    const std::string file = path == "/" ? "/index.html" : path;
    if (auto data = webFile(cfg_.web, file))
      return respond(req, http::status::ok, std::move(*data), contentType(file), cookie);
    if (file == "/favicon.ico")
      return respond(req, http::status::ok, std::string(kIcon, sizeof kIcon - 1), "image/x-icon");
    respond(req, http::status::not_found, "not found\n");
  }

  void redirect(const http::request<http::string_body>& req, const std::string& to,
                const std::string& cookie) {
    auto res = std::make_shared<Response>(http::status::see_other, req.version());
    res->set(http::field::server, "orvix serve");
    res->set(http::field::location, to);
    res->set(http::field::set_cookie, cookie);
    res->set(http::field::cache_control, "no-store");
    res->set("Referrer-Policy", "no-referrer");
    res->keep_alive(req.keep_alive());
    res->content_length(0);
    http::async_write(stream_, *res,
                      [self = shared_from_this(), res](beast::error_code ec, std::size_t) {
                        if (ec || !res->keep_alive()) return self->close();
                        self->read();
                      });
  }

  void upgrade(http::request<http::string_body> req) {
    if (!websocket::is_upgrade(req))
      return respond(req, http::status::upgrade_required, "a WebSocket\n");
    const std::string origin = lower(std::string(req[http::field::origin]));
    if (!allowedOrigin(cfg_, origin))
      return respond(req, http::status::forbidden, "origin refused\n");
    if (++gSessions > cfg_.sessionLimit) {
      --gSessions;
      return respond(req, http::status::service_unavailable, "too many sessions\n");
    }
    beast::error_code ec;
    const auto peer = stream_.socket().remote_endpoint(ec);
    stream_.expires_never();
    std::make_shared<Session>(websocket::stream<beast::tcp_stream>(std::move(stream_)), cfg_,
                              "session " + std::to_string(number_),
                              ec ? std::string("?") : peer.address().to_string())
        ->start(std::move(req));
  }

  void close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
  }

  beast::tcp_stream stream_;
  Listener& listener_;
  const Config& cfg_;
  int number_;
  std::optional<std::list<HttpSession*>::iterator> waiting_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

void accept(Listener& l) {
  l.acceptor.async_accept([&l](beast::error_code ec, tcp::socket socket) {
    if (ec) {
      // Out of files, or another passing failure: try again shortly rather
      // than spin on the same error.
      l.retry.expires_after(std::chrono::milliseconds(100));
      return l.retry.async_wait([&l](beast::error_code) { accept(l); });
    }
    if (l.open >= l.cfg.connectionLimit) {
      if (l.waiting.empty()) {
        beast::error_code ignored;
        socket.close(ignored);
        return accept(l);
      }
      l.waiting.front()->evict();
    }
    std::make_shared<HttpSession>(std::move(socket), l, ++l.number)->read();
    accept(l);
  });
}

}  // namespace

int runServer(Config cfg, const std::function<void(const std::string&)>& ready) {
  net::io_context io;
  beast::error_code ec;
  const auto address = net::ip::make_address(cfg.address, ec);
  if (ec) throw Failure(kExitUsage, "--listen: not an address: " + cfg.address);
  if (!cfg.connectionLimit) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    cfg.connectionLimit =
        files.rlim_cur == RLIM_INFINITY ? 256 : std::clamp<std::size_t>(files.rlim_cur / 4, 8, 256);
  }
  Listener listener(io, cfg);
  tcp::acceptor& acceptor = listener.acceptor;
  const tcp::endpoint at(address, cfg.port);
  acceptor.open(at.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(at, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec)
    throw Failure(kExitLink, "listen on " + cfg.address + ":" + std::to_string(cfg.port) + ": " +
                                 ec.message());
  cfg.port = acceptor.local_endpoint().port();
  const std::string port = std::to_string(cfg.port);
  const std::string name =
      (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" + port;
  cfg.anyAddress = address.is_unspecified();
  cfg.hosts = {lower(name)};
  if (address.is_loopback() || cfg.anyAddress) cfg.hosts.push_back("localhost:" + port);
  for (const auto& n : cfg.names) {
    cfg.hosts.push_back(lower(n) + ":" + port);
    if (cfg.port == 80) cfg.hosts.push_back(lower(n));
  }
  accept(listener);
  net::signal_set stop(io, SIGINT, SIGTERM);
  stop.async_wait([&](beast::error_code, int) { io.stop(); });
  ready("http://" + name + "/");
  io.run();
  return kExitOk;
}

}  // namespace orvix::serve
