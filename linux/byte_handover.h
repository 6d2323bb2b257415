// byte_handover.h: the bytes the serial link's reader thread receives, handed to the main
// loop, which alone decodes them. Put runs on the reader thread; the first byte that may
// change what the meter shows (MayRedraw) after the main loop last took them wakes it (once,
// through the function given); bytes that cannot only wait for the next wake or the next
// watchdog tick, which takes them before it counts, so each costs the main loop nothing.
// Take hands over everything that came since. Take and Clear run on the main loop's
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace tovmir {

class ByteHandover {
 public:
  explicit ByteHandover(std::function<void()> wake) : wake_(std::move(wake)) {}

  void Put(std::uint8_t b);
  std::vector<std::uint8_t> Take();
  // Drops what is waiting: a connection that has ended leaves nothing for the next one.
  void Clear() { Take(); }

 private:
  std::mutex mu_;
  std::vector<std::uint8_t> bytes_;
  bool woken_ = false;  // a wake is on its way and has not taken the bytes yet
  std::function<void()> wake_;
};

}  // namespace tovmir
