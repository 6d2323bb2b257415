// gps.h: positions from a running gpsd, through its client library (libgps), for monitor
// --gps. A thread of its own reads gpsd's reports and keeps the latest position; a fix older
// than kMaxFixAgeSeconds is none. gpsd absent, stopped or restarted is said once, each
// time, and tried again every kGpsRetrySeconds: monitoring never waits for it.
//
// Threads: Start and Stop on the owner's; Latest from any thread; the listener is called on
// the source's own thread.
#pragma once

#include <mutex>
#include <string>

#include "events/position.h"
#include "platform/thread.h"

struct gps_data_t;  // libgps's, kept out of the users of this header

namespace tovmir {

inline constexpr int kGpsRetrySeconds = 3;
inline constexpr double kMaxFixAgeSeconds = 3;
inline constexpr const char* kGpsdHost = "localhost";
inline constexpr const char* kGpsdPort = "2947";

// "HOST:PORT", "HOST", ":PORT", "[IPV6]:PORT" or "" (gpsd's own: localhost:2947). False when
// the text is none of these.
bool ParseGpsAddress(const std::string& text, std::string* host, std::string* port);

class GpsSource final {
 public:
  class Listener {
   public:
    // A new position came from the receiver (with a fix, or the fix was lost).
    virtual void NewPosition() = 0;
    // What became of gpsd: connected, or not there (with the reason; tried again).
    virtual void GpsSaid(const std::string& what) = 0;

   protected:
    ~Listener() = default;
  };

  GpsSource(std::string host, std::string port, Listener& listener);
  ~GpsSource() { Stop(); }
  GpsSource(const GpsSource&) = delete;
  GpsSource& operator=(const GpsSource&) = delete;

  // Starts the source's thread; false, with *error, when it cannot.
  bool Start(std::string* error);
  void Stop();

  // Where the meter is, as far as a fresh fix says; a position without a fix else.
  Position Latest() const;
  // "localhost:2947"
  const std::string& address() const { return address_; }

 private:
  // What was said of gpsd last: each change once, not every attempt.
  enum class State { kNotYet, kConnected, kDown };
  static void Run(void* self);
  // Waits up to ms for Stop; true when it came.
  bool Stopped(int ms) const;
  void Read();  // one connection to gpsd, until it ends or Stop
  // Every whole report that has come; false, with *why, when the connection failed.
  bool TakeReports(gps_data_t& data, std::string* why);

  // Tells the listener that gpsd is now in state, with what, unless it was so already.
  void Say(State state, const std::string& what);

  const std::string host_, port_, address_;
  Listener& listener_;
  State state_ = State::kNotYet;  // the source's thread
  int wake_[2] = {-1, -1};
  ThreadHandle thread_ = nullptr;

  mutable std::mutex mu_;
  Position latest_;            // under mu_
  long long received_ms_ = 0;  // under mu_: when latest_ came, on the monotonic clock
};

}  // namespace tovmir
