#include "station/metrics_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "cli/tool.h"
#include "platform/wake_pipe.h"
#include "station/clock.h"

namespace tovmir {
namespace {

// Where a connection that has sent its answer waits for the client to close, taking what
// it still sends, so that the answer is not lost to a reset.
constexpr int kLingerMs = 1000;
// How long to wait before accepting again when the process is out of descriptors.
constexpr int kOutOfDescriptorsMs = 100;
constexpr int kJoinMs = 5000;

// The socket to listen on: bound and listening, or -1 with *error.
int Listen(const std::string& host, int port, std::string* where, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) {
    *error = "cannot listen on " + host + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1, why = 0;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    const int on = 1;
    if (fd >= 0 && (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
                    bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0)) {
      why = errno;
      close(fd);
      fd = -1;
    } else if (fd < 0) {
      why = errno;
    }
  }
  freeaddrinfo(found);
  const std::string asked =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  if (fd < 0) {
    *error = "cannot listen on " + asked + ": " + std::strerror(why);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  char text[INET6_ADDRSTRLEN] = "";
  const bool v6 = bound.ss_family == AF_INET6;
  const void* addr =
      v6 ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&bound)->sin6_addr)
         : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&bound)->sin_addr);
  inet_ntop(bound.ss_family, addr, text, sizeof text);
  const int bound_port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  *where =
      (v6 ? "[" + std::string(text) + "]" : std::string(text)) + ":" + std::to_string(bound_port);
  return fd;
}

// The client's address, without its port: what the limit per client counts.
std::string ClientOf(const sockaddr_storage& peer) {
  if (peer.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    return std::string(reinterpret_cast<const char*>(&a), sizeof a);
  }
  const auto& a = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
  return std::string(reinterpret_cast<const char*>(&a), sizeof a);
}

// A token character (RFC 9110): what a method and a header's name are made of.
bool IsTokenChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar);
}

// "METHOD TARGET HTTP/1.x", with nothing else in it: no NUL, no control byte, nothing
// beyond ASCII.
bool ParseRequestLine(const std::string& line, std::string* method, std::string* target) {
  const size_t sp1 = line.find(' '), sp2 = line.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
  *method = line.substr(0, sp1);
  *target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string version = line.substr(sp2 + 1);
  return IsToken(*method) && !target->empty() && (*target)[0] == '/' &&
         std::all_of(target->begin(), target->end(), [](char c) { return c > ' ' && c < 127; }) &&
         (version == "HTTP/1.0" || version == "HTTP/1.1");
}

// "Name: value" lines, values of visible characters, spaces and tabs.
bool HeadersAreWellFormed(const std::string& headers) {
  for (size_t at = 0; at < headers.size();) {
    size_t end = headers.find("\r\n", at);
    if (end == std::string::npos) end = headers.size();
    const std::string line = headers.substr(at, end - at);
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !IsToken(line.substr(0, colon))) return false;
    for (size_t i = colon + 1; i < line.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if ((c < ' ' && c != '\t') || c == 127) return false;
    }
    at = end + 2;
  }
  return true;
}

std::string Response(int status, const char* reason, const std::string& body,
                     const char* content_type, bool with_body, const char* allow = nullptr) {
  std::string r = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                  "\r\nContent-Type: " + content_type +
                  "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  if (allow) r += std::string("Allow: ") + allow + "\r\n";
  r += "Connection: close\r\n\r\n";
  if (with_body) r += body;
  return r;
}

const char kText[] = "text/plain; charset=utf-8";

std::string BadRequest() {
  return Response(400, "Bad Request", "Not a request for /metrics\n", kText, true);
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string* host, int* port) {
  std::string h = "127.0.0.1", p = text;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos) return false;
    h = text.substr(1, close - 1);
    p = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
    if (h.find(':') != std::string::npos) return false;  // an IPv6 address wants brackets
  }
  int n = 0;
  if (h.empty() || !ParseInt(p, n) || n < 0 || n > 65535 || p[0] == '-') return false;
  *host = h;
  *port = n;
  return true;
}

bool MetricsServer::Start(const std::string& address, Render render, std::string* where,
                          std::string* error) {
  std::string host;
  int port = 0;
  if (!ParseListenAddress(address, &host, &port)) {
    *error = "cannot listen on '" + address + "': not [ADDRESS:]PORT";
    return false;
  }
  listen_ = Listen(host, port, where, error);
  if (listen_ < 0) return false;
  render_ = std::move(render);
  std::uint32_t id;
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      fcntl(listen_, F_SETFL, fcntl(listen_, F_GETFL) | O_NONBLOCK) != 0 ||
      !StartThread(&MetricsServer::Serve, this, &thread_, &id)) {
    *error = "cannot serve on " + *where + ": " + std::strerror(errno);
    Stop();
    return false;
  }
  return true;
}

void MetricsServer::Stop() {
  if (thread_) {
    WakePipe(wake_[1]);
    // The thread only waits in poll(), where the wake reaches it.
    if (JoinThread(thread_, kJoinMs) || KillThread(thread_)) CloseThread(thread_);
    thread_ = nullptr;
  }
  for (Connection& c : connections_) close(c.fd);
  connections_.clear();
  for (int* fd : {&listen_, &wake_[0], &wake_[1]})
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
}

void MetricsServer::Serve(void* p) {
  auto* self = static_cast<MetricsServer*>(p);
  std::vector<Connection>& connections = self->connections_;
  std::vector<pollfd> fds;
  for (;;) {
    const long long now = MonotonicMs();
    // Past its time: closed, whatever it was doing.
    std::erase_if(connections, [now](const Connection& c) {
      if (now < c.deadline_ms) return false;
      close(c.fd);
      return true;
    });
    long long wait = self->accept_again_ > now ? self->accept_again_ - now : -1;
    for (const Connection& c : connections)
      wait = wait < 0 ? c.deadline_ms - now : std::min(wait, c.deadline_ms - now);
    fds.assign({{self->wake_[0], POLLIN, 0},
                {now >= self->accept_again_ ? self->listen_ : -1, POLLIN, 0}});
    for (const Connection& c : connections)
      fds.push_back(
          {c.fd, static_cast<short>(c.state == Connection::kAnswering ? POLLOUT : POLLIN), 0});
    if (poll(fds.data(), fds.size(), static_cast<int>(wait)) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;  // Stop
    for (size_t i = 0; i < connections.size(); ++i) {
      if (!fds[i + 2].revents) continue;
      Connection& c = connections[i];
      if (c.state == Connection::kAnswering)
        self->Write(c);
      else
        self->Read(c);
    }
    std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
    if (fds[1].revents) self->Accept();
  }
}

void MetricsServer::Accept() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd =
        accept4(listen_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        accept_again_ = MonotonicMs() + kOutOfDescriptorsMs;
      return;
    }
    Connection c;
    c.fd = fd;
    c.client = ClientOf(peer);
    c.deadline_ms = MonotonicMs() + kRequestSeconds * 1000;
    const auto of_client = std::count_if(connections_.begin(), connections_.end(),
                                         [&](const Connection& o) { return o.client == c.client; });
    const bool room = of_client >= kConnectionsPerClient ? MakeRoom(&c.client)
                      : connections_.size() >= static_cast<size_t>(kMaxConnections)
                          ? MakeRoom(nullptr)
                          : true;
    if (!room) {
      close(fd);
      continue;
    }
    connections_.push_back(std::move(c));
  }
}

bool MetricsServer::MakeRoom(const std::string* client) {
  // Of the client given, else of the client that holds the most connections: one of them
  // gives way, never one of a client that holds few.
  std::string whose;
  if (client) {
    whose = *client;
  } else {
    std::map<std::string, int> held;
    int most = 0;
    for (const Connection& c : connections_)
      if (c.state == Connection::kReading && ++held[c.client] > most) {
        most = held[c.client];
        whose = c.client;
      }
  }
  std::vector<size_t> waiting;
  for (size_t i = 0; i < connections_.size(); ++i)
    if (connections_[i].state == Connection::kReading && connections_[i].client == whose)
      waiting.push_back(i);
  std::sort(waiting.begin(), waiting.end(), [this](size_t a, size_t b) {
    return connections_[a].deadline_ms < connections_[b].deadline_ms;
  });
  // The oldest first; but one whose request has come whole meanwhile is answered instead.
  for (size_t i : waiting) {
    Connection& c = connections_[i];
    Read(c);
    if (c.fd >= 0 && c.state != Connection::kReading) continue;
    if (c.fd >= 0) close(c.fd);
    connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

void MetricsServer::Read(Connection& c) {
  char buf[4096];
  const ssize_t n = read(c.fd, buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0 || c.state == Connection::kClosing) {
    if (n > 0) return;  // what the client still sends after its answer: taken, not read
    close(c.fd);
    c.fd = -1;
    return;
  }
  c.in.append(buf, static_cast<size_t>(n));
  // The request line is judged as soon as it is there; the answer once the head is whole.
  const size_t line_end = c.in.find('\n');
  std::string method, target;
  if (line_end != std::string::npos &&
      (line_end == 0 || c.in[line_end - 1] != '\r' ||
       !ParseRequestLine(c.in.substr(0, line_end - 1), &method, &target) ||
       c.in.find('\0') != std::string::npos)) {
    c.out = BadRequest();
  } else if (const size_t end = c.in.find("\r\n\r\n"); end != std::string::npos) {
    c.out = Answer(c.in.substr(0, end + 2));
  } else if (c.in.size() >= static_cast<size_t>(kMaxRequestBytes)) {
    c.out =
        Response(431, "Request Header Fields Too Large", "The request is too long\n", kText, true);
  } else {
    return;
  }
  c.in.clear();
  c.state = Connection::kAnswering;
  c.deadline_ms += (kAnswerSeconds - kRequestSeconds) * 1000;
  Write(c);
}

void MetricsServer::Write(Connection& c) {
  const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n < 0) {
    close(c.fd);
    c.fd = -1;
    return;
  }
  c.sent += static_cast<size_t>(n);
  if (c.sent < c.out.size()) return;
  shutdown(c.fd, SHUT_WR);
  c.state = Connection::kClosing;
  c.deadline_ms = std::min(c.deadline_ms, MonotonicMs() + kLingerMs);
}

std::string MetricsServer::Answer(const std::string& head) {
  const size_t line_end = head.find("\r\n");
  std::string method, target;
  if (!ParseRequestLine(head.substr(0, line_end), &method, &target) ||
      !HeadersAreWellFormed(head.substr(line_end + 2)))
    return BadRequest();
  const bool with_body = method != "HEAD";
  if (target.substr(0, target.find('?')) != "/metrics")
    return Response(404, "Not Found", "Not found: the metrics are at /metrics\n", kText, with_body);
  if (method != "GET" && method != "HEAD")
    return Response(405, "Method Not Allowed", "Only GET and HEAD: it only reads\n", kText,
                    with_body, "GET, HEAD");
  return Response(200, "OK", render_(), "text/plain; version=0.0.4; charset=utf-8", with_body);
}

}  // namespace tovmir
