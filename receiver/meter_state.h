// meter_state.h: what the meter knows about the handset, and the protocol's byte values.
//
// One MeterState per meter window. The reader thread writes it through the decoder, the
// window's thread through the watchdog, and the painter reads it; no lock is needed. Every
// field is therefore a relaxed atomic of its stated width: each is read and written whole,
// and no combination of fields is promised to be consistent across threads (the next
// redraw corrects a stale paint). A front end that wants a consistent view takes a lock of
// its own around all three (the Linux window's MeterFeed, monitor).
#pragma once

#include <atomic>
#include <cstdint>

namespace tovmir {

// A field shared between threads. Relaxed ordering is enough: nothing is published
// through these fields, each only has to be torn-free.
template <class T>
class Shared {
 public:
  constexpr Shared(T v) noexcept : v_(v) {}
  Shared(const Shared&) = delete;
  // Copies the value: one load, then one store.
  Shared& operator=(const Shared& o) noexcept { return *this = T(o); }

  operator T() const noexcept { return v_.load(std::memory_order_relaxed); }
  Shared& operator=(T v) noexcept {
    v_.store(v, std::memory_order_relaxed);
    return *this;
  }
  // Returns the value before the addition.
  T FetchAdd(T d) noexcept { return v_.fetch_add(d, std::memory_order_relaxed); }
  // Stores desired only if the field still holds expected.
  bool CompareExchange(T expected, T desired) noexcept {
    return v_.compare_exchange_strong(expected, desired, std::memory_order_relaxed);
  }

 private:
  std::atomic<T> v_;
};

inline constexpr std::uint8_t kStartByte = 0xA3;  // the handset announces a fresh start
inline constexpr std::uint8_t kNetLeadIn = 0xAD;  // four network-number digits follow
inline constexpr std::int32_t kNetUnknown = -1;
inline constexpr std::int32_t kSilentParked = 255;  // counter value after a silence timeout

// The fields, their order, widths and first values are the protocol's record of the meter.
struct MeterState {
  Shared<std::int32_t> m_nMode{0};        // 0 idle, kNetLeadIn while collecting digits
  Shared<std::uint8_t> m_byRx{0};         // the byte most recently read
  Shared<std::int32_t> m_nCodeBytes{0};   // bytes 0x10-0xFF since the last counter reset
  Shared<std::int32_t> m_nDigitBytes{0};  // bytes 0x00-0x0F since the last counter reset
  Shared<std::int32_t> m_nLevel{13};      // the level, 0-15: how many bars are filled
  // The level when a redraw was last asked for on its account: what decides whether a
  // level byte asks for another. Not what the painter reads (it reads m_nLevel).
  Shared<std::int32_t> m_nLevelShown{13};
  Shared<std::uint8_t> m_bHollow{0};  // 1: the antenna is drawn hollow, 0: filled black
  // The antenna flag when a redraw was last asked for on its account, as m_nLevelShown.
  Shared<std::uint8_t> m_bHollowShown{0};
  Shared<std::int32_t> m_nNetNo{kNetUnknown};  // the network number, 0-0xFFFF, or kNetUnknown
  Shared<std::int32_t> m_nNetAccum{0};         // digits of the network number gathered so far
  Shared<std::uint8_t> m_bReceiving{0};  // set by every byte, cleared after a silence
  Shared<std::uint8_t> m_bStartSeen{0};  // set by the start byte, cleared after a silence
  // Watchdog ticks since the last byte; kSilentParked after a silence timeout.
  Shared<std::int32_t> m_nSilentTicks{0};
};

}  // namespace tovmir
