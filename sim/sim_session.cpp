#include "sim/sim_session.h"

#include "receiver/meter_state.h"

namespace tovmir {
namespace {

constexpr int kSlotsPerSecond = 60;

std::uint8_t LevelByte(int level) { return static_cast<std::uint8_t>(0xC0 | level); }

}  // namespace

SimSession::SimSession(std::uint32_t seed) : rng_(seed) {
  net_ = Uniform(0, 0xFFFF);
  QueueStart();
}

void SimSession::QueueStart() {
  queued_ = next_ = 0;
  hollow_ = Uniform(0, 9) == 0;
  queue_[queued_++] = kStartByte;
  queue_[queued_++] = static_cast<std::uint8_t>(0x80 | hollow_);
  QueueNetNumber();
  level_ = Uniform(4, 15);
  slots_to_switch_off_ = Uniform(50, 70) * long{kSlotsPerSecond};
  slots_to_level_change_ = Uniform(kSlotsPerSecond / 2, 3 * kSlotsPerSecond);
}

void SimSession::QueueNetNumber() {
  queue_[queued_++] = kNetLeadIn;
  for (int shift = 12; shift >= 0; shift -= 4)
    queue_[queued_++] = static_cast<std::uint8_t>((net_ >> shift) & 0x0F);
}

SimStep SimSession::Next() {
  if (next_ < queued_) return {SimStep::kByte, queue_[next_++], 0};
  queued_ = next_ = 0;

  if (--slots_to_switch_off_ <= 0) {
    const double off = 3.0 + Uniform(0, 2000) / 1000.0;
    if (Uniform(0, 2) == 0) net_ = Uniform(0, 0xFFFF);  // back on, perhaps elsewhere
    QueueStart();
    return {SimStep::kSilence, 0, off};
  }

  // Mostly the current level, as the handset repeats it; now and then something else.
  const int roll = Uniform(0, 999);
  if (roll < 2) {
    QueueNetNumber();
    return Next();
  }
  if (roll < 3) {
    hollow_ = !hollow_;
    return {SimStep::kByte, static_cast<std::uint8_t>(0x80 | hollow_), 0};
  }
  if (roll < 13) {
    static const std::uint8_t kOther[] = {0x90, 0xB0, 0xD1, 0x10, 0xFF};
    return {SimStep::kByte, kOther[Uniform(0, 4)], 0};
  }
  if (--slots_to_level_change_ <= 0) {
    // A random walk that leans towards good reception.
    const int step = Uniform(-2, 2) + (level_ < 9 ? 1 : 0);
    level_ = level_ + step < 0 ? 0 : level_ + step > 15 ? 15 : level_ + step;
    slots_to_level_change_ = Uniform(kSlotsPerSecond / 2, 3 * kSlotsPerSecond);
  }
  return {SimStep::kByte, LevelByte(level_), 0};
}

}  // namespace tovmir
