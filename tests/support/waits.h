// waits.h: how long the C++ tests wait, set in one place (tests/support/waits.py is the same
// for the Python tests). A wait for a condition ends as soon as the condition holds, so its
// deadline can be long enough for a sanitizer build, Wine and a machine whose cores are all
// busy; a time that is itself the behaviour under test ("ends within 100 ms of SIGTERM") is
// measured from the event it follows and held to a bound the program meets under load. Both
// are scaled by TOVMIR_TEST_TIME_FACTOR, which the slow presets (the sanitizers) set.
// Header-only, so that the tests under Wine have it too. Any thread.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

namespace tovmir::test {

// 1, or what TOVMIR_TEST_TIME_FACTOR says (a number of at least 1).
inline double TimeFactor() {
  static const double factor = [] {
    const char* s = std::getenv("TOVMIR_TEST_TIME_FACTOR");
    const double f = s ? std::atof(s) : 1;
    return f >= 1 ? f : 1;
  }();
  return factor;
}

// A bound on the behaviour under test, in milliseconds, scaled.
inline int Bound(int ms) { return static_cast<int>(ms * TimeFactor()); }

// How long a condition may take to come true: 20 s, scaled.
inline int WaitMs() { return Bound(20000); }

// Polls done() each millisecond until it holds or timeout_ms passed; whether it held.
inline bool Eventually(const std::function<bool()>& done, int timeout_ms = WaitMs()) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace tovmir::test
