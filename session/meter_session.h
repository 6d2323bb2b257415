// meter_session.h: one meter on one serial port, as the Linux front ends keep it (the
// window, monitor, and any later one): the meter's state and its lock, the link that is
// opened again when its port comes back (serial/reopening_link.h), the watchdog's tick and
// the retry once a second (both driven by Tick), the words said about the port (it cannot
// be opened, with the system's reason and what the user can do; it was lost; it is open
// again), and what a station counts. It tells its front end through a SessionFrontEnd,
// which carries each call over to the front end's own loop as that needs.
//
// Threads: the link's reader thread decodes each byte where it arrives (under the lock)
// and reports the port's failure; everything else on the front end's loop thread, but
// state() and counters(), which any thread may read without the lock (every field is an
// atomic: a scrape never waits for a byte).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "receiver/meter_event.h"
#include "receiver/meter_state.h"
#include "serial/reopening_link.h"

namespace tovmir {

class SessionFrontEnd {
 public:
  // The meter shows something else: what happened (a byte or a tick, with the redraws the
  // logic asked for) and the state after it. With the session's lock held: on the reader's
  // thread for a byte (hand it on, never call the session back), on the loop's for a tick.
  virtual void RedrawNeeded(const MeterEvent& e, const MeterState& s) = 0;
  // Reader thread, the lock held: the port failed; the loop is to call TakeFailure soon.
  // Never call the session back.
  virtual void PortFailed() = 0;
  // Loop thread: words about the port for the user, each once: trouble (it cannot be
  // opened, it was lost: the reason, and what to do), or not (it is open, or open again).
  virtual void Say(const std::string& words, bool trouble) = 0;
  // Loop thread, the lock held, the state as it is then: the port opened (again: after a
  // loss; no byte of it has come yet), or was lost (why: the system's reason).
  virtual void Opened(const MeterState& s, bool again) = 0;
  virtual void Lost(const MeterState& s, const std::string& why) = 0;

 protected:
  ~SessionFrontEnd() = default;
};

// What a station counts of its session.
struct SessionCounters {
  bool up = false;         // the port is open
  long long bytes = 0;     // received
  long long silences = 0;  // times the handset fell silent
  long long reopens = 0;   // opens after a loss
  double last_byte = 0;    // when the last byte came, in seconds since 1970 (0: none yet)
};

class MeterSession final : private LinkOwner {
 public:
  // port: as the user named it (COMn, a path); retrying: whether a port that cannot be
  // opened, or was lost, is tried again (the words say so); dev: the devices' folder, where
  // the port's other names are looked for.
  MeterSession(std::string port, SessionFrontEnd& front_end, bool retrying = true,
               std::string dev = "/dev");
  ~MeterSession() { Close(); }
  MeterSession(const MeterSession&) = delete;
  MeterSession& operator=(const MeterSession&) = delete;

  // The first attempt to open the port; true when it is open.
  bool Start();
  // Every kWatchdogMs: the watchdog's tick (from the first open on, as the Windows program's
  // timer), and once every kReopenSeconds, when retrying, an attempt at a port not open.
  void Tick();
  // After PortFailed: the reader reaped, the loss said; Tick tries the port again.
  void TakeFailure();
  // Stops the reader and closes the port, its settings put back; false, with *error, when
  // they could not be. Safe when not open.
  bool Close(std::string* error = nullptr);

  // f(state) with the lock held, for a consistent view (the painter's).
  template <class F>
  decltype(auto) WithState(F&& f) const {
    std::lock_guard<std::mutex> lock(mu_);
    return f(static_cast<const MeterState&>(state_));
  }
  const MeterState& state() const { return state_; }
  SessionCounters counters() const;

  bool is_open() const { return link_.is_open(); }
  const std::string& port() const { return port_; }
  const std::string& device() const { return link_.device(); }

 private:
  void LinkByte(std::uint8_t b) override;
  void LinkOpenFailed(const std::string& text, const std::string& caption,
                      const OsError& why) override;
  void LinkEnded(const OsError& why) override;
  bool TryOpen();
  void Say(const std::string& words, bool trouble);

  const std::string port_;
  SessionFrontEnd& front_end_;
  const bool retrying_;
  ReopeningLink link_;
  int ticks_to_attempt_ = 0;  // loop thread
  std::string said_;          // the trouble said last (loop thread)
  std::string why_not_;       // why the last attempt failed, as the link reported it

  mutable std::mutex mu_;
  MeterState state_;        // under mu_, and read whole without it
  bool ticking_ = false;    // under mu_: the watchdog runs
  bool failed_ = false;     // under mu_: the reader ended, not taken yet
  std::string why_failed_;  // under mu_
  std::atomic<bool> up_{false};
  std::atomic<long long> bytes_{0}, silences_{0}, reopens_{0};
  std::atomic<double> last_byte_{0};
};

}  // namespace tovmir
