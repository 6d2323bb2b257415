// meter_state.h: what the meter knows about the handset, and the protocol's byte values.
//
// One MeterState per meter window. The reader thread writes it through the decoder, the
// window's thread through the watchdog, and the painter reads it; no lock is taken. Every
// field is therefore a relaxed atomic of its stated width: each is read and written whole,
// and no combination of fields is promised to be consistent across threads (the next
// redraw corrects a stale paint).
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

struct MeterState {
  Shared<std::int32_t> m_nMode{0};  // 0 idle, kNetLeadIn while collecting digits
  Shared<std::uint8_t> m_byRx{0};   // the byte most recently read
  Shared<std::int32_t> m_nCodeBytes{0};
  Shared<std::int32_t> m_nDigitBytes{0};
  Shared<std::int32_t> m_nLevel{13};
  Shared<std::int32_t> m_nLevelShown{13};
  Shared<std::uint8_t> m_bHollow{0};
  Shared<std::uint8_t> m_bHollowShown{0};
  Shared<std::int32_t> m_nNetNo{kNetUnknown};
  Shared<std::int32_t> m_nNetAccum{0};
  Shared<std::uint8_t> m_bReceiving{0};
  Shared<std::uint8_t> m_bStartSeen{0};
  Shared<std::int32_t> m_nSilentTicks{0};
};

}  // namespace tovmir
