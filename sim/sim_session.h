// sim_session.h: what a handset sends over a session, for the simulator: a fresh start,
// the antenna, the network number, then a reception level that wanders, with now and then
// another byte, a repeated network number or an antenna change, and about once a minute a
// switch-off of 3 to 5 seconds followed by a fresh start. Repeatable from a seed.
// Single-threaded.
#pragma once

#include <cstdint>
#include <random>

namespace tovmir {

struct SimStep {
  enum Kind { kByte, kSilence } kind;
  std::uint8_t byte = 0;  // kByte
  double seconds = 0;     // kSilence
};

class SimSession {
 public:
  explicit SimSession(std::uint32_t seed);
  // The next thing on the line. A byte takes one byte slot (1/60 s at 600 baud).
  SimStep Next();

 private:
  void QueueStart();
  void QueueNetNumber();
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::mt19937 rng_;
  std::uint8_t queue_[16];
  int queued_ = 0, next_ = 0;
  int level_ = 8;
  bool hollow_ = false;
  int net_ = 0;
  long slots_to_switch_off_ = 0;
  long slots_to_level_change_ = 0;
};

}  // namespace tovmir
