// metrics_server.h: the HTTP endpoint of monitor --listen, on a thread of its own. GET or
// HEAD /metrics answers with what the given function renders (metrics.h); any other path is
// 404 Not Found, any other method at /metrics 405 Method Not Allowed, what is not such a
// request (a NUL or any control byte in it, a line that is not HTTP/1.x) 400 Bad Request.
// Every answer closes its connection. It only reads.
//
// Slow or many clients cannot keep a scrape out: a request must arrive whole within a few
// seconds of its connection (a deadline, not an idle timeout that each byte renews) and
// within a few kilobytes; one client address holds a few connections at most, and all of
// them a few dozen. A new connection that finds no room takes the place of the one that
// has waited longest for its request, of its own client's, or when all are taken, of the
// client that holds the most (README, "An unattended station").
//
// Start and Stop on the main thread; the render function is called on the server's thread,
// so it must read only what may be read from there without waiting on a reader's lock.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/thread.h"

namespace tovmir {

// "[ADDRESS:]PORT": PORT alone, HOST:PORT, or [IPV6]:PORT. Without an address, the loopback
// address: the endpoint has no access control of its own, so it is put on a network only
// when asked. False when the text is none of these (*host and *port unchanged).
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

// The limits the endpoint keeps.
inline constexpr int kMaxConnections = 64;
inline constexpr int kConnectionsPerClient = 8;
inline constexpr int kRequestSeconds = 5;  // from the connection to the request's end
inline constexpr int kAnswerSeconds = 10;  // from the connection to the answer taken
inline constexpr int kMaxRequestBytes = 8192;

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

 private:
  struct Connection {
    int fd = -1;
    std::string client;  // its address, without the port
    long long deadline_ms = 0;
    enum State { kReading, kAnswering, kClosing } state = kReading;
    std::string in, out;
    size_t sent = 0;
  };
  static void Serve(void* self);  // the server's thread
  void Accept();
  // Makes room for one more connection: closes the one that has waited longest for its
  // request, of client (when it has its share) or of the client that holds the most. False
  // if none of theirs waits for one.
  bool MakeRoom(const std::string* client);
  // What came on c, and the answer once its request is whole.
  void Read(Connection& c);
  void Write(Connection& c);
  std::string Answer(const std::string& head);

  Render render_;
  int listen_ = -1, wake_[2] = {-1, -1};
  ThreadHandle thread_ = nullptr;
  std::vector<Connection> connections_;  // the server's thread only
  long long accept_again_ = 0;           // out of descriptors: when to try accepting again
};

}  // namespace tovmir
