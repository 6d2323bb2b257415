// metrics_server.h: the HTTP endpoint of monitor --listen, served by libmicrohttpd on a
// thread of its own. GET or HEAD /metrics answers with what the given function renders
// (metrics.h); any other path is 404 Not Found, any other method at /metrics 405 Method
// Not Allowed; what is not HTTP at all libmicrohttpd answers itself. It only reads.
//
// Start and Stop on the main thread; the render function is called on the server's thread,
// so it must read only what may be read from there without waiting on a reader's lock.
#pragma once

#include <functional>
#include <string>

struct MHD_Daemon;

namespace tovmir {

// "[ADDRESS:]PORT": PORT alone, HOST:PORT, or [IPV6]:PORT. Without an address, the loopback
// address: the endpoint has no access control of its own, so it is put on a network only
// when asked. False when the text is none of these (*host and *port unchanged).
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

class MetricsServer final {
 public:
  using Render = std::function<std::string()>;

  MetricsServer() = default;
  ~MetricsServer() { Stop(); }
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens at `address` ([ADDRESS:]PORT; port 0 picks a free one). False, with *error (the
  // system's reason), when it cannot; else *where says where it listens ("127.0.0.1:9873").
  bool Start(const std::string& address, Render render, std::string* where, std::string* error);
  void Stop();

  // The server's thread: one request (connection is libmicrohttpd's); false when the answer
  // could not be queued.
  bool Answer(void* connection, const char* url, const char* method);

 private:
  Render render_;
  MHD_Daemon* daemon_ = nullptr;
};

}  // namespace tovmir
