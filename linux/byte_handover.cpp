#include "linux/byte_handover.h"

#include "receiver/receiver.h"

namespace tovmir {

void ByteHandover::Put(std::uint8_t b) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    bytes_.push_back(b);
    wake = !woken_ && MayRedraw(b);
    woken_ = woken_ || wake;
  }
  if (wake) wake_();  // outside the lock: the main loop may take at once
}

std::vector<std::uint8_t> ByteHandover::Take() {
  std::vector<std::uint8_t> taken;
  std::lock_guard<std::mutex> lock(mu_);
  taken.swap(bytes_);
  woken_ = false;
  return taken;
}

}  // namespace tovmir
