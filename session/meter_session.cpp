#include "session/meter_session.h"

#include <chrono>

#include "platform/text.h"
#include "receiver/receiver.h"

namespace tovmir {
namespace {

constexpr int kTicksPerAttempt = kReopenSeconds * 1000 / kWatchdogMs;

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

MeterSession::MeterSession(std::string port, SessionFrontEnd& front_end, bool retrying,
                           std::string dev)
    : port_(std::move(port)),
      front_end_(front_end),
      retrying_(retrying),
      link_(PortDevice(port_), std::move(dev)) {}

bool MeterSession::Start() { return TryOpen(); }

bool MeterSession::TryOpen() {
  ticks_to_attempt_ = kTicksPerAttempt;
  why_not_.clear();
  const bool again = link_.lost();
  {
    // The new reader's first byte waits for the lock until the decoder has started afresh
    // and the open has been told.
    std::lock_guard<std::mutex> lock(mu_);
    if (link_.TryOpen(*this, state_)) {
      up_ = true;
      ticking_ = true;
      reopens_ = link_.reopens();
      front_end_.Opened(state_, again);
    }
  }
  if (link_.is_open()) {
    said_.clear();
    front_end_.Say(port_ + (again ? ": open again" : ": open"), false);
    return true;
  }
  const std::string hint = link_.hint().empty() ? "" : "\n" + link_.hint();
  const std::string retry = retrying_ ? " (trying again every second)" : "";
  if (again)
    Say(port_ + ": the port was lost; waiting for it to come back (" + why_not_ + ")" + hint, true);
  else
    Say(Utf8FromCp932(port_ + kTextCannotOpen) + "\n" + device() + ": " + why_not_ + retry + hint,
        true);
  return false;
}

void MeterSession::Tick() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ticking_) {
      const bool was_receiving = state_.m_bReceiving;
      CountingSink sink;
      WatchdogTick(state_, sink);
      if (was_receiving && !state_.m_bReceiving) ++silences_;
      if (sink.count) front_end_.RedrawNeeded({MeterEvent::kTick, 0, sink.count}, state_);
    }
  }
  if (retrying_ && !link_.is_open() && --ticks_to_attempt_ <= 0) TryOpen();
}

void MeterSession::TakeFailure() {
  std::string why;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!failed_) return;
    failed_ = false;
    why = why_failed_;
  }
  link_.Lost();  // the reader has ended, its last bytes decoded: this reaps it
  up_ = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    front_end_.Lost(state_, why);
  }
  ticks_to_attempt_ = kTicksPerAttempt;
  Say(port_ + ": the port was lost (" + why + "); waiting for it to come back" +
          (retrying_ ? ", trying again every second" : ""),
      true);
}

bool MeterSession::Close(std::string* error) {
  up_ = false;
  if (link_.Close()) return true;
  if (error) *error = "cannot restore the settings of " + device() + ": " + link_.error().text;
  return false;
}

SessionCounters MeterSession::counters() const {
  return {up_, bytes_, silences_, reopens_, last_byte_};
}

void MeterSession::Say(const std::string& words, bool trouble) {
  if (trouble && words == said_) return;
  said_ = trouble ? words : "";
  front_end_.Say(words, trouble);
}

void MeterSession::LinkByte(std::uint8_t b) {
  std::lock_guard<std::mutex> lock(mu_);
  CountingSink sink;
  ReceiveByte(state_, b, sink);
  bytes_.fetch_add(1, std::memory_order_relaxed);
  last_byte_ = WallSeconds();
  if (sink.count) front_end_.RedrawNeeded({MeterEvent::kByte, b, sink.count}, state_);
}

// During TryOpen, once for each name that failed: the first name's reason is the one said
// (the program's own message is made with the name the user gave).
void MeterSession::LinkOpenFailed(const std::string&, const std::string&, const OsError& why) {
  if (why_not_.empty()) why_not_ = why.text;
}

void MeterSession::LinkEnded(const OsError& why) {
  std::lock_guard<std::mutex> lock(mu_);
  failed_ = true;
  why_failed_ = why.text;
  front_end_.PortFailed();
}

}  // namespace tovmir
