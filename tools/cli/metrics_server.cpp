#include "tools/cli/metrics_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/cli/tool.h"

namespace tovmir {
namespace {

constexpr unsigned kConnectionLimit = 64;
constexpr unsigned kConnectionTimeoutSeconds = 10;

enum MHD_Result Respond(MHD_Connection* connection, unsigned status, const std::string& body,
                        const char* content_type, const char* allow = nullptr) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
  if (allow) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
  const enum MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

enum MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                          const char* method, const char*, const char*, size_t*, void**) {
  return static_cast<MetricsServer*>(self)->Answer(connection, url, method) ? MHD_YES : MHD_NO;
}

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
                    bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 32) != 0)) {
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
  const int fd = Listen(host, port, where, error);
  if (fd < 0) return false;
  render_ = std::move(render);
  daemon_ = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO, 0, nullptr, nullptr, &OnRequest, this,
      MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
      MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
  if (!daemon_) {
    close(fd);
    *error = "cannot serve on " + *where + ": the HTTP server did not start";
    return false;
  }
  return true;
}

void MetricsServer::Stop() {
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

bool MetricsServer::Answer(void* c, const char* url, const char* method) {
  auto* connection = static_cast<MHD_Connection*>(c);
  if (std::strcmp(url, "/metrics") != 0)
    return Respond(connection, MHD_HTTP_NOT_FOUND, "Not found: the metrics are at /metrics\n",
                   "text/plain; charset=utf-8") == MHD_YES;
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
    return Respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD: it only reads\n",
                   "text/plain; charset=utf-8", "GET, HEAD") == MHD_YES;
  return Respond(connection, MHD_HTTP_OK, render_(), "text/plain; version=0.0.4; charset=utf-8") ==
         MHD_YES;
}

}  // namespace tovmir
