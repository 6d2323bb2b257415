// The wording of the status line: the one line of Japanese text under the meter.
#include <cstdio>

#include "receiver/receiver.h"

namespace tovmir {

const char kTextPowerOff[] =
    "\x8c\x67\x91\xd1\x82\xcc\x93\x64\x8c\xb9\x82\xaa\x93\xfc\x82\xc1\x82\xc4\x82\xdc\x82\xb9"
    "\x82\xf1";
const char kTextRestart[] =
    "\x8c\x67\x91\xd1\x82\xcc\x93\x64\x8c\xb9\x82\xf0\x93\xfc\x82\xea\x82\xc8\x82\xa8\x82\xb5"
    "\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";
const char kTextNetLabel[] = "\x96\xd4\x94\xd4\x8d\x86:";
const char kTextNetUnknown[] = "\x95\x73\x96\xbe";

std::string StatusLineText(const MeterState& s) {
  if (!s.m_bReceiving) return kTextPowerOff;
  if (!s.m_bStartSeen) return kTextRestart;
  const std::int32_t net = s.m_nNetNo;
  if (net < 0 || net > 0xFFFF) return std::string(kTextNetLabel) + kTextNetUnknown;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(net));
  return std::string(kTextNetLabel) + digits;
}

}  // namespace tovmir
