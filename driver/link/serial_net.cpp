// Network backend of the serial port layer: a reader behind a serial device
// server, named by a URL instead of a device.
//
//   tcp://HOST:PORT      a raw byte stream; the line speed and framing are
//                        the server's settings (applyLine changes nothing).
//   rfc2217://HOST:PORT  Telnet with the COM Port Control option: the line
//                        speed, 8N1 and no flow control are set through the
//                        option where a local port sets them, and a purge
//                        empties the server's queues too.
//
// The connection is made within 3 s, with TCP_NODELAY (every byte of the
// link goes out at once). Reads and writes keep the serial time-outs: a read
// of k bytes gives up after readConstant + k * readMultiplier ms in all or
// readInterval ms of silence between two data bytes; a write of k bytes must
// be handed to the connection within writeConstant + k * writeMultiplier ms.
// A connection refused, reset or closed reads and writes short, as a local
// port whose device went away does; closing and opening again reconnects.
// Every wait also watches the reader's cancel signal: a cancel ends the read,
// write or port-control exchange in progress at once.
// One source for POSIX sockets and Winsock.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/serial_port.h"
#include "link/telnet.h"

namespace orvix {

namespace {

#if defined(_WIN32)
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
using PollFd = WSAPOLLFD;
int pollOne(PollFd* p, int ms) { return WSAPoll(p, 1, ms); }
void closeSocket(Socket s) { closesocket(s); }
bool wouldBlock() {
  const int e = WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINTR || e == WSAEINPROGRESS;
}
bool setNonBlocking(Socket s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}
int sendSome(Socket s, const std::uint8_t* p, std::size_t n) {
  return ::send(s, reinterpret_cast<const char*>(p), static_cast<int>(n), 0);
}
int recvSome(Socket s, std::uint8_t* p, std::size_t n) {
  return ::recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
}
// Winsock is started for every open port and stopped at its close (counted).
bool startSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void stopSockets() { WSACleanup(); }
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
using PollFd = pollfd;
void closeSocket(Socket s) { ::close(s); }
bool wouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == EINPROGRESS;
}
bool setNonBlocking(Socket s) {
  const int flags = fcntl(s, F_GETFL);
  return flags != -1 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
// MSG_NOSIGNAL: a connection the server closed fails the send (EPIPE)
// instead of raising SIGPIPE in the host.
int sendSome(Socket s, const std::uint8_t* p, std::size_t n) {
  return static_cast<int>(::send(s, p, n, MSG_NOSIGNAL));
}
int recvSome(Socket s, std::uint8_t* p, std::size_t n) {
  return static_cast<int>(::recv(s, p, n, 0));
}
bool startSockets() { return true; }
void stopSockets() {}
#endif

long long nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr int kConnectMs = 3000;
#if defined(_WIN32)
constexpr int kConnectionReset = WSAECONNRESET;
#else
constexpr int kConnectionReset = ECONNRESET;
#endif
#if defined(_WIN32)
// Winsock cannot wait on the cancel flag: a cancellable wait polls in slices.
constexpr int kCancelSliceMs = 2;
#endif
// How long the server has to answer a COM Port Control command.
constexpr int kAnswerMs = 1000;
constexpr std::size_t kMaxUrl = 255;

struct Address {
  bool telnet = false;
  std::string host;
  std::string port;
};

// "tcp://HOST:PORT" or "rfc2217://HOST:PORT"; HOST may be "[v6 address]".
// Whether text begins with the scheme (lower case), in any case.
bool hasScheme(const char* text, const char* scheme) {
  for (; *scheme; ++text, ++scheme)
    if (!*text || (*text | 0x20) != *scheme) return false;
  return true;
}

bool parseUrl(const char* url, Address& a) {
  if (!url || std::strlen(url) > kMaxUrl) return false;
  std::string rest;
  if (hasScheme(url, "tcp://")) {
    rest = url + 6;
  } else if (hasScheme(url, "rfc2217://")) {
    rest = url + 10;
    a.telnet = true;
  } else {
    return false;
  }
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  a.host = rest.substr(0, colon);
  a.port = rest.substr(colon + 1);
  if (a.host.front() == '[') {
    if (a.host.size() < 3 || a.host.back() != ']') return false;
    a.host = a.host.substr(1, a.host.size() - 2);
  } else if (a.host.find_first_of(":/[]") != std::string::npos) {
    return false;
  }
  if (a.port.empty() || a.port.size() > 5 ||
      a.port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long number = std::strtol(a.port.c_str(), nullptr, 10);
  return number >= 1 && number <= 65535;
}

// Waits up to ms for p's events; false when they did not come, or the cancel
// was raised meanwhile. watch turns false on a byte left in the cancel pipe
// from a cancel already cleared: the pipe is then left out of the waits.
bool waitReady(PollFd p, int ms, const CancelSignal* cancel, bool& watch) {
  const auto raised = [cancel] { return cancel && cancel->raised(); };
#if defined(_WIN32)
  (void)watch;
  for (;;) {
    if (raised()) return false;
    const int slice = cancel ? std::min(ms, kCancelSliceMs) : ms;
    const int r = pollOne(&p, slice);
    ms -= slice;
    if (r != 0 || ms <= 0) return r > 0 && !raised();
  }
#else
  if (raised()) return false;
  pollfd both[2] = {p, {cancel && watch ? cancel->waitHandle() : -1, POLLIN, 0}};
  const int r = ::poll(both, 2, ms);
  if (r > 0 && both[1].revents && !raised()) watch = false;
  return r > 0 && both[0].revents != 0 && !raised();
#endif
}

// Connects to the first address of host that answers within the limit (a
// cancel gives up at once). On failure *why tells a name not found, a
// refusal (by every address) or a time-out.
Socket connectTo(const Address& a, const CancelSignal* cancel, OpenError* why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &list) != 0) {
    *why = OpenError::NotResolved;
    return kNoSocket;
  }
  *why = OpenError::Refused;
  const long long deadline = nowMs() + kConnectMs;
  Socket found = kNoSocket;
  for (addrinfo* ai = list; ai && found == kNoSocket; ai = ai->ai_next) {
    Socket s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (s == kNoSocket) continue;
#if !defined(_WIN32)
    fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
    if (!setNonBlocking(s)) {
      closeSocket(s);
      continue;
    }
    bool up = ::connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0;
    if (!up && wouldBlock()) {
      PollFd p{};
      p.fd = s;
      p.events = POLLOUT;
      bool watch = true;
      for (long long left = deadline - nowMs(); left > 0 && !(cancel && cancel->raised());
           left = deadline - nowMs()) {
        if (!waitReady(p, static_cast<int>(left), cancel, watch)) continue;
        int error = 0;
        socklen_t len = sizeof error;
        up = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) == 0 &&
             error == 0;
        // Accepted and reset at once: a server still letting an earlier
        // connection's device go, not a refusal.
        if (error == kConnectionReset) *why = OpenError::Dropped;
        break;
      }
      if (!up && deadline - nowMs() <= 0) *why = OpenError::TimedOut;
    }
    if (up) {
      int one = 1;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      found = s;
    } else {
      closeSocket(s);
    }
  }
  freeaddrinfo(list);
  return found;
}

class NetPort final : public SerialPort {
 public:
  NetPort(Socket s, bool telnet, const char* url) : sock_(s), telnet_(telnet), url_(url) {}
  ~NetPort() override {
    if (sock_ != kNoSocket) close();
  }
  NetPort(const NetPort&) = delete;
  NetPort& operator=(const NetPort&) = delete;

  bool start() {
    if (!telnet_) return true;
    std::uint8_t offers[15];
    decoder_.offered(true);
    return sendAll(offers, telnet::greeting(true, offers), nowMs() + kAnswerMs);
  }

  const char* url() const override { return url_.c_str(); }
  bool setsSpeed() const override { return telnet_; }
  bool relinksInPlace() const override { return telnet_ && alive(); }
  OpenError lostBecause() const override {
    // ser2net answers a connection to a port another client holds with
    // "Port already in use" and closes it (the first bytes of the
    // connection: no reader's reply reads so).
    if (std::string(heard_, heardLen_).find("in use") != std::string::npos)
      return OpenError::ServerBusy;
    if (telnet_ && !lost_ && sock_ != kNoSocket && (decoder_.comPortRefused() || unanswered_))
      return OpenError::NotRfc2217;
    // Closed or reset by the server before it sent a single byte: ser2net
    // letting the device of an earlier connection go does so when its text
    // is lost to the reset.
    if (lost_ && !heardAny_) return OpenError::Dropped;
    return OpenError::None;
  }

  bool buildLine(const char* modeText) override { return alive() && modeText != nullptr; }

  bool applyLine(int rateValue) override {
    if (!alive()) return false;
    if (!telnet_) return true;  // the server's speed
    // The fast rate value runs at 57600, as on a POSIX port.
    const std::uint32_t baud = rateValue == 56000 ? 57600u : static_cast<std::uint32_t>(rateValue);
    const std::uint8_t rate[4] = {
        static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    const std::uint8_t eight = 8, noParity = 1, oneStop = 1, noFlow = 1;
    decoder_.clearAnswers();
    if (!command(telnet::kSetBaudRate, rate, 4) || !command(telnet::kSetDataSize, &eight, 1) ||
        !command(telnet::kSetParity, &noParity, 1) || !command(telnet::kSetStopSize, &oneStop, 1) ||
        !command(telnet::kSetControl, &noFlow, 1))
      return false;
    // Bytes sent from here on must meet the new speed: wait for the server's
    // answer to every setting.
    const std::uint32_t all = 1u << telnet::kSetBaudRate | 1u << telnet::kSetDataSize |
                              1u << telnet::kSetParity | 1u << telnet::kSetStopSize |
                              1u << telnet::kSetControl;
    const bool answered = awaitAnswers(all);
    unanswered_ = !answered && !cancelled();
    return answered && decoder_.answeredBaud() == baud;
  }

  bool setTimeouts(const Timeouts& t) override {
    t_ = t;
    return sock_ != kNoSocket;
  }
  bool setQueues(int inBytes, int outBytes) override {
    return sock_ != kNoSocket && inBytes > 0 && outBytes > 0;
  }

  bool purge() override {
    // What has already come in is dropped, as a local port's input queue
    // (without waiting, and whether or not a cancel is raised).
    for (int i = 0; i < 64 && alive() && take(); ++i) {
    }
    rxHead_ = rxTail_ = 0;
    if (!alive()) return false;
    // A cancelled call purges at once: the server's purge waits for the
    // next call, which purges again.
    if (!telnet_ || cancelled()) return true;
    const std::uint8_t both = 3;
    decoder_.clearAnswers();
    if (!command(telnet::kPurgeData, &both, 1)) return false;
    // Line data that arrives before the server's answer is from before the
    // purge and is dropped; a server that does not answer leaves it at that.
    awaitAnswers(1u << telnet::kPurgeData);
    rxHead_ = rxTail_ = 0;
    return alive();
  }

  // As on a local port whose device went away, these succeed on an open
  // port; the reads and writes tell a lost connection.
  bool clearErrors() override { return sock_ != kNoSocket; }
  bool setEventMaskNone() override { return sock_ != kNoSocket; }

  std::size_t write(const std::uint8_t* data, std::size_t count) override {
    if (!alive() || count == 0) return 0;
    watchCancel_ = true;
    const long long deadline =
        nowMs() + t_.writeConstant + static_cast<long long>(count) * t_.writeMultiplier;
    std::size_t done = 0;
    while (done < count) {
      std::uint8_t wire[telnet::escapedSize(128)];
      const std::size_t n = std::min<std::size_t>(count - done, 128);
      const std::size_t len = telnet_ ? telnet::escape(data + done, n, wire) : n;
      if (!sendAll(telnet_ ? wire : data + done, len, deadline)) break;
      done += n;
    }
    return done;
  }

  std::size_t read(std::uint8_t* buffer, std::size_t count) override {
    if (count == 0) return 0;
    std::size_t got = takeQueued(buffer, count);
    if (got == count || sock_ == kNoSocket) return got;
    watchCancel_ = true;
    const long long deadline =
        nowMs() + t_.readConstant + static_cast<long long>(count) * t_.readMultiplier;
    long long lastByte = got ? nowMs() : 0;
    while (got < count && alive() && !cancelled()) {
      const long long now = nowMs();
      long long wait = deadline - now;
      if (got > 0 && t_.readInterval > 0) wait = std::min(wait, lastByte + t_.readInterval - now);
      if (wait <= 0) break;
      if (!pump(static_cast<int>(wait))) continue;
      const std::size_t more = takeQueued(buffer + got, count - got);
      if (more) {
        got += more;
        lastByte = nowMs();
      }
    }
    return got;
  }

  bool close() override {
    if (sock_ == kNoSocket) return false;
    closeSocket(sock_);
    stopSockets();
    sock_ = kNoSocket;
    return true;
  }

 private:
  bool alive() const { return sock_ != kNoSocket && !lost_; }

  bool command(std::uint8_t cmd, const std::uint8_t* value, std::size_t n) {
    std::uint8_t wire[14];
    return sendAll(wire, telnet::comPortCommand(cmd, value, n, wire), nowMs() + kAnswerMs);
  }

  // Waits until the server has answered every command in mask; line data
  // meanwhile is dropped. False when it refused port control, the connection
  // went away or the answers did not come in time.
  bool awaitAnswers(std::uint32_t mask) {
    const long long deadline = nowMs() + kAnswerMs;
    watchCancel_ = true;
    while ((decoder_.answers() & mask) != mask) {
      const long long left = deadline - nowMs();
      if (decoder_.comPortRefused() || !alive() || left <= 0 || cancelled()) return false;
      pump(static_cast<int>(left));
      rxHead_ = rxTail_ = 0;
    }
    return true;
  }

  // Sends everything by the deadline; false when it could not.
  bool sendAll(const std::uint8_t* p, std::size_t n, long long deadline) {
    while (n > 0 && alive() && !cancelled()) {
      const int k = sendSome(sock_, p, n);
      if (k > 0) {
        p += k;
        n -= static_cast<std::size_t>(k);
        continue;
      }
      if (k < 0 && !wouldBlock()) {
        // A server that refused the connection may have said why before it
        // closed; the send fails on its reset before any read took the text.
        lost_ = true;
        hearLeftovers();
        break;
      }
      const long long left = deadline - nowMs();
      if (left <= 0) break;
      waitFor(POLLOUT, static_cast<int>(left));
    }
    return n == 0;
  }

  bool waitFor(short events, int ms) {
    PollFd p{};
    p.fd = sock_;
    p.events = events;
    return waitReady(p, ms, cancel_, watchCancel_);
  }

  // Waits up to ms for bytes from the server (only with the receive queue
  // empty) and takes them in: line data into the queue, Telnet answers sent
  // back at once. True when line data arrived.
  bool pump(int ms) { return waitFor(POLLIN, ms) && take(); }

  // Takes in what the server has sent, without waiting. True when line data
  // arrived.
  bool take() {
    std::uint8_t raw[sizeof rx_];
    const int n = recvSome(sock_, raw, sizeof raw);
    if (n <= 0) {
      if (n == 0 || !wouldBlock()) lost_ = true;  // closed or reset
      return false;
    }
    heardAny_ = true;
    rxHead_ = 0;
    if (!telnet_) {
      std::memcpy(rx_, raw, static_cast<std::size_t>(n));
      rxTail_ = static_cast<std::size_t>(n);
      hear();
      return true;
    }
    rxTail_ = decoder_.feed(raw, static_cast<std::size_t>(n), rx_);
    if (decoder_.replyLength()) {
      // A few bytes at most; a server that takes none of them loses them.
      sendSome(sock_, decoder_.reply(), decoder_.replyLength());
      decoder_.clearReply();
    }
    hear();
    return rxTail_ > 0;
  }

  // Keeps the first line bytes of the connection: a server's refusal text.
  void hear() {
    const std::size_t n = std::min(rxTail_, sizeof heard_ - heardLen_);
    std::memcpy(heard_ + heardLen_, rx_, n);
    heardLen_ += n;
  }

  // Reads what is still readable on a connection found lost, for its
  // refusal text only (a server's text carries no Telnet commands).
  void hearLeftovers() {
    std::uint8_t raw[sizeof heard_];
    const int n = recvSome(sock_, raw, sizeof raw);
    if (n <= 0) return;
    heardAny_ = true;
    const std::size_t k = std::min(static_cast<std::size_t>(n), sizeof heard_ - heardLen_);
    std::memcpy(heard_ + heardLen_, raw, k);
    heardLen_ += k;
  }

  std::size_t takeQueued(std::uint8_t* out, std::size_t want) {
    const std::size_t n = std::min(want, rxTail_ - rxHead_);
    std::memcpy(out, rx_ + rxHead_, n);
    rxHead_ += n;
    return n;
  }

  Socket sock_;
  bool telnet_;
  bool lost_ = false;
  bool heardAny_ = false;    // the server has sent at least one byte
  bool unanswered_ = false;  // the server did not answer port control in time
  char heard_[64] = {};
  std::size_t heardLen_ = 0;
  bool watchCancel_ = true;  // false once a stale cancel byte was seen in this transfer
  std::string url_;
  Timeouts t_{};
  telnet::Decoder decoder_{};
  std::uint8_t rx_[512];
  std::size_t rxHead_ = 0;
  std::size_t rxTail_ = 0;
};

}  // namespace

bool isNetworkPortName(const char* name) {
  return name && (hasScheme(name, "tcp://") || hasScheme(name, "rfc2217://"));
}

bool isNetworkPortUrl(const char* name) {
  Address a;
  return parseUrl(name, a);
}

SerialPort* openNetworkPort(const char* url, const CancelSignal* cancel, OpenError* why) {
  OpenError ignored = OpenError::None;
  OpenError& error = why ? *why : ignored;
  error = OpenError::NoPort;
  Address a;
  if (!parseUrl(url, a) || !startSockets()) return nullptr;
  const Socket s = connectTo(a, cancel, &error);
  if (s == kNoSocket) {
    stopSockets();
    return nullptr;
  }
  auto* port = new NetPort(s, a.telnet, url);
  port->setCancel(cancel);
  if (!port->start()) {
    error = port->lostBecause();
    delete port;
    return nullptr;
  }
  error = OpenError::None;
  return port;
}

}  // namespace orvix
