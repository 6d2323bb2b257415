#include "tools/cli/state_line.h"

#include <cstdio>

#include "platform/text.h"

namespace tovmir {

std::string StateLine(const std::string& what, const MeterState& s, int redraws) {
  char buf[320];
  std::snprintf(buf, sizeof buf,
                " level=%d shown=%d hollow=%d hollow_shown=%d net=%d accum=%d mode=%d codes=%d"
                " digits=%d receiving=%d start=%d silent=%d redraws=%d status=",
                int{s.m_nLevel}, int{s.m_nLevelShown}, int{s.m_bHollow}, int{s.m_bHollowShown},
                int{s.m_nNetNo}, int{s.m_nNetAccum}, int{s.m_nMode}, int{s.m_nCodeBytes},
                int{s.m_nDigitBytes}, int{s.m_bReceiving}, int{s.m_bStartSeen},
                int{s.m_nSilentTicks}, redraws);
  return what + buf + Utf8FromCp932(StatusLineText(s));
}

std::string ByteLabel(std::uint8_t b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "byte %02X", b);
  return buf;
}

}  // namespace tovmir
