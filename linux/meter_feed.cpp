#include "linux/meter_feed.h"

namespace tovmir {
namespace {

// Counts the redraws a watchdog tick asks for.
class TickSink final : public RedrawSink {
 public:
  void RequestRedraw() override { asked = true; }
  bool asked = false;
};

}  // namespace

void MeterFeed::Wake() {
  if (woken_ || !wake_) return;
  woken_ = true;
  wake_();
}

void MeterFeed::Put(std::uint8_t b) {
  std::lock_guard<std::mutex> lock(mu_);
  ReceiveByte(state_, b, *this);
  if (redraw_) Wake();
}

void MeterFeed::Ended(std::string why) {
  std::lock_guard<std::mutex> lock(mu_);
  ended_ = std::move(why);
  Wake();
}

MeterFeed::Woken MeterFeed::Take() {
  std::lock_guard<std::mutex> lock(mu_);
  Woken w{redraw_, std::move(ended_)};
  redraw_ = woken_ = false;
  ended_.reset();
  return w;
}

bool MeterFeed::Tick() {
  std::lock_guard<std::mutex> lock(mu_);
  TickSink sink;
  WatchdogTick(state_, sink);
  return sink.asked;
}

MeterView MeterFeed::View() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {state_.m_nLevel, state_.m_bHollow != 0, StatusLineText(state_)};
}

void MeterFeed::Detach() {
  std::lock_guard<std::mutex> lock(mu_);
  wake_ = nullptr;
}

}  // namespace tovmir
