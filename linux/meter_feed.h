// meter_feed.h: the meter's state as the Linux window shares it between the serial link's
// reader thread, which decodes every byte where it arrives, and the main loop, which runs
// the watchdog and paints. One lock guards the state, so that the painter reads a
// consistent view and a byte's counter reset never falls between the two steps of a
// watchdog tick. The main loop is woken only for what may change the screen or the link:
// a redraw the decoder asks for, or the port's failure; and once, until it takes what woke
// it. A byte that changes nothing on the screen (a level byte that repeats the level shown,
// a byte that is only counted) costs the main loop nothing.
//
// Threads: Put and Ended on the reader thread; everything else on the main loop's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "receiver/receiver.h"

namespace tovmir {

// What the painter draws, read together.
struct MeterView {
  int level = 0;
  bool hollow = false;
  std::string status_cp932;
  bool operator==(const MeterView&) const = default;
};

class MeterFeed final : private RedrawSink {
 public:
  // wake: asks the main loop to call Take soon. It is called on the reader thread with the
  // lock held (so that Detach can stop it for good), and must not call back.
  explicit MeterFeed(std::function<void()> wake) : wake_(std::move(wake)) {}
  MeterFeed(const MeterFeed&) = delete;
  MeterFeed& operator=(const MeterFeed&) = delete;

  // One byte, decoded at once.
  void Put(std::uint8_t b);
  // The port failed; why, in the system's words.
  void Ended(std::string why);

  // What the main loop was woken for, and what came since: whether the meter is to be
  // redrawn, and why the port failed if it did. The next byte that asks for a redraw wakes
  // it again.
  struct Woken {
    bool redraw = false;
    std::optional<std::string> ended;
  };
  Woken Take();
  // One tick of the watchdog; true when it changed what the meter shows.
  bool Tick();
  MeterView View() const;
  // Runs f(state) with the lock held. Opening a link starts its reader at once: under the
  // lock, its first byte waits until the opening has reset the decoder.
  template <class F>
  decltype(auto) WithState(F&& f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(state_);
  }
  // Nothing wakes the main loop any more: the window is going.
  void Detach();

 private:
  void RequestRedraw() override { redraw_ = true; }
  void Wake();  // with the lock held

  mutable std::mutex mu_;
  MeterState state_;                  // under mu_, as everything below
  bool redraw_ = false;               // the decoder asked for a redraw not taken yet
  bool woken_ = false;                // a wake is on its way
  std::optional<std::string> ended_;  // why the port failed, not taken yet
  std::function<void()> wake_;        // empty once detached
};

}  // namespace tovmir
