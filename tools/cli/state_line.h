// state_line.h: the one-line key=value picture of a MeterState that replay and monitor
// print, and a RedrawSink that counts requests. Single-threaded helpers.
#pragma once

#include <string>

#include "receiver/receiver.h"

namespace tovmir {

// "WHAT level=.. shown=.. ... redraws=N status=TEXT", status in UTF-8, no newline.
std::string StateLine(const std::string& what, const MeterState& s, int redraws);

// "byte C7": how a received byte is named in these lines.
std::string ByteLabel(std::uint8_t b);

class CountingSink : public RedrawSink {
 public:
  void RequestRedraw() override { ++count; }
  int count = 0;
};

}  // namespace tovmir
