// The handset's byte protocol: level, antenna, start and network-number bytes.
#include "receiver/receiver.h"

namespace tovmir {
namespace {

// Bytes of value 0x10 and above that may arrive inside a digit group before it is given up.
constexpr std::int32_t kGroupCodeLimit = 8;

void ResetGroup(MeterState& s) {
  s.m_nMode = 0;
  s.m_nDigitBytes = 0;
  s.m_nCodeBytes = 0;
}

}  // namespace

void DecodeByte(MeterState& s, RedrawSink& sink) {
  const std::uint8_t b = s.m_byRx;

  if (b < 0x10)
    s.m_nDigitBytes.FetchAdd(1);
  else
    s.m_nCodeBytes.FetchAdd(1);

  if (s.m_nCodeBytes > kGroupCodeLimit) ResetGroup(s);

  if (b == kStartByte) {
    // The code-byte count is left alone: a start byte counts towards the group limit.
    s.m_nMode = 0;
    s.m_nDigitBytes = 0;
    s.m_nLevelShown = 0;
    s.m_nLevel = 0;
    s.m_bHollowShown = 1;
    s.m_bHollow = 1;
    s.m_nNetAccum = 0;
    s.m_nNetNo = kNetUnknown;
    s.m_bStartSeen = 1;
    sink.RequestRedraw();
    return;  // none of the cases below matches 0xA3
  }

  if ((b & 0xF0) == 0xC0) {
    s.m_nLevel = b & 0x0F;
    // The shown copy follows the redraw, so the repaint already sees the new level.
    if (s.m_nLevel != s.m_nLevelShown) {
      sink.RequestRedraw();
      s.m_nLevelShown = s.m_nLevel;
    }
    return;
  }

  if ((b & 0xFE) == 0x80) {
    s.m_bHollow = b & 1;
    if (s.m_bHollow != s.m_bHollowShown) {
      sink.RequestRedraw();
      s.m_bHollowShown = s.m_bHollow;
    }
    return;
  }

  if (b == kNetLeadIn) {
    ResetGroup(s);
    s.m_nMode = kNetLeadIn;
    s.m_nNetAccum = 0;
    return;
  }

  if (s.m_nMode == kNetLeadIn && b < 0x10) {
    s.m_nNetAccum = s.m_nNetAccum * 16 + b;
    if (s.m_nDigitBytes < 4) return;
    s.m_nNetNo = s.m_nNetAccum;
    ResetGroup(s);
    sink.RequestRedraw();
  }
}

void ResetDecoder(MeterState& s) {
  ResetGroup(s);
  s.m_nNetAccum = 0;
}

void ReceiveByte(MeterState& s, std::uint8_t b, RedrawSink& sink) {
  s.m_byRx = b;
  s.m_nSilentTicks = 0;
  s.m_bReceiving = 1;
  DecodeByte(s, sink);
}

}  // namespace tovmir
